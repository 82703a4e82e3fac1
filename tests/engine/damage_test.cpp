// Damaged tables and indexes: a clear error at Open or at the operation, never a crash, a hang
// or a write into the damaged file.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "engine/mdx_index.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/locked_file.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

struct Damage
{
    const char* name;
    const char* file; // "DBF" or "MDX"
    std::function<void(std::string&)> apply;
};

std::ostream& operator<<(std::ostream& out, const Damage& d)
{
    return out << d.name;
}

void Put32(std::string& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// ASORTYM: tag UPP_ASORT's header block is at page 4, its root below.
constexpr std::size_t kTagHeader = 4 * 512;

class DamagedFile : public ::testing::TestWithParam<Damage>
{};

TEST_P(DamagedFile, GivesAClearErrorAndWritesNothing)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    const std::string target = dir.File(std::string("ASORTYM.") + GetParam().file);
    std::string bytes = ReadFileBytes(target);
    GetParam().apply(bytes);
    WriteFileBytes(target, bytes);
    const std::string dbfBefore = ReadFileBytes(dir.File("ASORTYM.DBF"));
    const std::string mdxBefore = ReadFileBytes(dir.File("ASORTYM.MDX"));

    bool failed = false;
    try {
        engine::Table t(dir.Path(), "ASORTYM.DBF");
        t.SetIndexName("UPP_ASORT");
        t.Open();
        for (t.First(); !t.Eof(); t.Next())
            t.FieldByName("ASORT").AsString();
        t.Append();
        t.FieldByName("ASORT").SetString("QQ");
        t.Post();
    } catch (const engine::Error& e) {
        failed = true;
        EXPECT_NE(std::string(e.what()).find("ASORTYM"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(ReadFileBytes(dir.File("ASORTYM.DBF")), dbfBefore);
    EXPECT_EQ(ReadFileBytes(dir.File("ASORTYM.MDX")), mdxBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFile,
    ::testing::Values(Damage{"TruncatedHeader", "DBF", [](std::string& b) { b.resize(20); }},
                      Damage{"RecordCountBeyondFile", "DBF", [](std::string& b) { Put32(b, 4, 1000000); }},
                      Damage{"HeaderLengthBeyondFile", "DBF",
                             [](std::string& b) {
                                 b[8] = '\xFF';
                                 b[9] = '\x7F';
                             }},
                      Damage{"RecordLengthNotSumOfFields", "DBF", [](std::string& b) { b[10] = 3; }},
                      Damage{"FieldOfUnknownType", "DBF", [](std::string& b) { b[32 + 11] = 'X'; }},
                      Damage{"NoVersion", "DBF", [](std::string& b) { b[0] = 0; }},
                      Damage{"TruncatedIndex", "MDX", [](std::string& b) { b.resize(1000); }},
                      Damage{"BlockOfOnePage", "MDX",
                             [](std::string& b) {
                                 b[20] = 1;
                                 b[22] = 0;
                                 b[23] = 2;
                             }},
                      Damage{"BlockSizeDisagreesWithPages", "MDX", [](std::string& b) { b[23] = 8; }},
                      Damage{"RootOutsideFile", "MDX", [](std::string& b) { Put32(b, kTagHeader, 999999); }},
                      Damage{"RootInHeader", "MDX", [](std::string& b) { Put32(b, kTagHeader, 1); }},
                      Damage{"TagHeaderOutsideFile", "MDX", [](std::string& b) { Put32(b, 544, 70000); }},
                      // A node over a tag header block would be written over that header.
                      Damage{"RootIsItsOwnTagHeader", "MDX",
                             [](std::string& b) { Put32(b, kTagHeader, kTagHeader / 512); }},
                      Damage{"ChildIsAnotherTagsHeader", "MDX",
                             [](std::string& b) {
                                 const std::uint32_t root = GetLe(b, kTagHeader);
                                 Put32(b, root * 512 + 8, GetLe(b, 544 + 32)); // the second tag's header
                             }},
                      Damage{"ChildOverlapsATagHeader", "MDX",
                             [](std::string& b) {
                                 const std::uint32_t root = GetLe(b, kTagHeader);
                                 Put32(b, root * 512 + 8, GetLe(b, 544 + 32) + 1);
                             }},
                      Damage{"TooManyKeysInRoot", "MDX",
                             [](std::string& b) { Put32(b, GetLe(b, kTagHeader) * 512, 5000); }},
                      Damage{"ChildPointsBackAtRoot", "MDX",
                             [](std::string& b) {
                                 const std::uint32_t root = GetLe(b, kTagHeader);
                                 Put32(b, root * 512 + 8,
                                       root); // the first child is the root itself: a cycle
                             }},
                      Damage{"LeafPointsOutsideTable", "MDX",
                             [](std::string& b) {
                                 const std::uint32_t root = GetLe(b, kTagHeader);
                                 const std::uint32_t leaf = GetLe(b, root * 512 + 8);
                                 Put32(b, leaf * 512 + 8, 7777);
                             }},
                      Damage{"ItemLengthTooLarge", "MDX",
                             [](std::string& b) {
                                 b[kTagHeader + 18] = '\x00';
                                 b[kTagHeader + 19] = 2;
                             }},
                      Damage{"UnknownKeyType", "MDX", [](std::string& b) { b[kTagHeader + 9] = 'Q'; }},
                      // A character key longer than dBase makes (120 bytes, items of 124).
                      Damage{"CharacterKeyOverTheLimit", "MDX",
                             [](std::string& b) {
                                 b[kTagHeader + 12] = 120;
                                 b[kTagHeader + 18] = 124;
                             }},
                      Damage{"StrWidthStrCannotGive", "MDX",
                             [](std::string& b) { std::memcpy(&b[kTagHeader + 24], "STR(1,300)\0", 11); }},
                      Damage{
                          "ExpressionNotUnderstood", "MDX",
                          [](std::string& b) { std::memcpy(&b[kTagHeader + 24], "SOUNDEX(ASORT)\0", 15); }}),
    [](const ::testing::TestParamInfo<Damage>& p) { return std::string(p.param.name); });

// A first unallocated page past the end of the file (a program stopped between counting a new block
// and writing it leaves one) names pages nobody wrote: the index opens, new blocks go at the end of
// the file and the header is written so. Far out, a block would make the file grow by a terabyte,
// or wrap round to page 0 and over the header.
TEST(DamagedFile, AFirstFreePagePastTheEndOfTheFileIsTakenAsTheEnd)
{
    for (const std::uint32_t past : {1u, 2u, 8u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
        SCOPED_TRACE(past);
        TempDir dir;
        CopyTable("mdx", "ASORTYM", dir.Path());
        const std::string index = dir.File("ASORTYM.MDX");
        std::string bytes = ReadFileBytes(index);
        const std::uint32_t pagesPerBlock = GetLe(bytes, 20, 2);
        const std::uint32_t endPage = static_cast<std::uint32_t>(bytes.size() / 512);
        ASSERT_EQ(GetLe(bytes, 32), endPage) << "the sample index ends at its first free page";
        const std::uint32_t stated = past <= 8 ? endPage + past * pagesPerBlock : past;
        Put32(bytes, 32, stated);
        WriteFileBytes(index, bytes);

        engine::Table t(dir.Path(), "ASORTYM.DBF");
        t.SetIndexName("UPP_ASORT");
        t.Open();
        EXPECT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
        for (int i = 0; i < 200; ++i) { // enough for new blocks in both tags
            t.Append();
            t.FieldByName("ASORT").SetString("N" + std::to_string(i));
            t.FieldByName("NAZWA_A").SetString("nowy asortyment " + std::to_string(i));
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
        t.Close();
        const std::string after = ReadFileBytes(index);
        EXPECT_GT(after.size(), bytes.size());
        EXPECT_LT(after.size(), bytes.size() + 200 * 512 * std::size_t{pagesPerBlock}) << "no block far out";
        EXPECT_EQ(GetLe(after, 32), after.size() / 512) << "the first free page is the end again";
    }
}

// An index that lost its end (a copy cut short) has the same first free page past the end, but its
// trees still name the lost blocks: a block put at the end would be taken for one of them, and
// entries lost. The first post that needs a new block is refused, and the file does not grow.
TEST(DamagedFile, AnIndexThatLostItsEndIsNotGivenBlocksOverTheLostOnes)
{
    for (const std::size_t lost : {1u, 3u}) {
        SCOPED_TRACE(lost);
        TempDir dir;
        CopyTable("mdx", "ASORTYM", dir.Path());
        {
            engine::Table t(dir.Path(), "ASORTYM.DBF");
            t.Open();
            for (int i = 0; i < 1500; ++i) {
                t.Append();
                t.FieldByName("ASORT").SetString("R" + std::to_string(i));
                t.FieldByName("NAZWA_A").SetString("asortyment " + std::to_string(i));
                t.Post();
            }
        }
        const std::string index = dir.File("ASORTYM.MDX");
        std::string bytes = ReadFileBytes(index);
        bytes.resize(bytes.size() - lost * GetLe(bytes, 22, 2));
        WriteFileBytes(index, bytes);

        engine::Table t(dir.Path(), "ASORTYM.DBF");
        t.Open(); // still readable, for a check or for taking the rows out
        bool refused = false;
        for (int i = 0; i < 2000 && !refused; ++i) {
            try {
                t.Append();
                t.FieldByName("ASORT").SetString("Q" + std::to_string(i));
                t.FieldByName("NAZWA_A").SetString("nowy " + std::to_string(i));
                t.Post();
            } catch (const engine::Error& e) {
                refused = true;
                EXPECT_EQ(e.Kind(), engine::ErrorKind::BadIndex);
                EXPECT_NE(std::string(e.what()).find("koniec pliku został utracony"), std::string::npos)
                    << e.what();
            }
        }
        EXPECT_TRUE(refused) << "an index that lost its end was given new blocks";
        EXPECT_EQ(ReadFileBytes(index).size(), bytes.size()) << "no block put over a lost one";
    }
}

TEST(DamagedFile, ErrorsAreNotRaisedForSoundFiles)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    engine::Table t(dir.Path(), "ASORTYM.DBF");
    t.SetIndexName("UPP_ASORT");
    EXPECT_NO_THROW(t.Open());
}

// The quick check before writing: record numbers an index holds that the table does not, or twice,
// or a record a plain tag lacks.
TEST(DamagedFile, TheCheckBeforeWritingFindsRecordNumbersTheTableDoesNotHave)
{
    auto check = [](const std::function<void(std::string & dbf, std::string & mdx)>& damage) {
        TempDir dir;
        CopyTable("mdx", "ASORTYM", dir.Path());
        std::string dbf = ReadFileBytes(dir.File("ASORTYM.DBF"));
        std::string mdx = ReadFileBytes(dir.File("ASORTYM.MDX"));
        damage(dbf, mdx);
        WriteFileBytes(dir.File("ASORTYM.DBF"), dbf);
        WriteFileBytes(dir.File("ASORTYM.MDX"), mdx);
        engine::Table t(dir.Path(), "ASORTYM.DBF");
        t.Open();
        std::string all;
        for (const std::string& p : t.CheckIndexEntries())
            all += p + "\n";
        return all;
    };
    EXPECT_EQ(check([](std::string&, std::string&) {}), "");
    const std::string cut = check([](std::string& dbf, std::string&) { Put32(dbf, 4, GetLe(dbf, 4) - 1); });
    EXPECT_NE(cut.find("znacznik UPP_ASORT: wpis rekordu 300 spoza tabeli (rekordów: 299)"),
              std::string::npos)
        << cut;
    EXPECT_NE(cut.find("znacznik UPP_NAZ_A: wpis rekordu 300 spoza tabeli"), std::string::npos) << cut;
    // The first leaf's first entry made to name the record of its second.
    const std::string twice = check([](std::string&, std::string& mdx) {
        const std::size_t item = GetLe(mdx, kTagHeader + 18, 2);
        std::size_t page = GetLe(mdx, kTagHeader);
        for (int depth = 0; depth < 10; ++depth) {
            const std::size_t n = GetLe(mdx, page * 512);
            if (GetLe(mdx, page * 512 + 8 + n * item) == 0)
                break; // a leaf: no trailing child
            page = GetLe(mdx, page * 512 + 8);
        }
        Put32(mdx, page * 512 + 8, GetLe(mdx, page * 512 + 8 + item));
    });
    EXPECT_NE(twice.find("występuje więcej niż raz"), std::string::npos) << twice;
    EXPECT_NE(twice.find("brak wpisu rekordu"), std::string::npos) << twice;
}

} // namespace

namespace {

// An index whose tag table is empty: the table opens and takes rows (found by fuzzing: the
// change check once read past the header it had read).
TEST(DamagedFile, IndexWithoutTagsStillTakesRows)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    std::string bytes = ReadFileBytes(dir.File("ASORTYM.MDX"));
    bytes[28] = 0;
    bytes[29] = 0;
    WriteFileBytes(dir.File("ASORTYM.MDX"), bytes);
    engine::Table t(dir.Path(), "ASORTYM.DBF");
    t.Open();
    t.Append();
    t.FieldByName("ASORT").SetString("QQ");
    t.Post();
    EXPECT_EQ(t.RecordCount(), 301);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

} // namespace

namespace {

// The message ASORTYM's open fails with once `patch` changed its index; "" when it opened. The
// index is left as it was.
std::string OpenRefusal(const std::function<void(std::string&)>& patch)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    std::string bytes = ReadFileBytes(dir.File("ASORTYM.MDX"));
    patch(bytes);
    WriteFileBytes(dir.File("ASORTYM.MDX"), bytes);
    std::string message;
    try {
        engine::Table t(dir.Path(), "ASORTYM.DBF");
        t.Open();
    } catch (const engine::Error& e) {
        message = e.what();
    }
    EXPECT_EQ(ReadFileBytes(dir.File("ASORTYM.MDX")), bytes);
    return message;
}

TEST(DamagedFile, TagThatCannotBeEvaluatedIsNamedWithItsExpression)
{
    const std::string message =
        OpenRefusal([](std::string& b) { std::memcpy(&b[kTagHeader + 24], "SOUNDEX(ASORT)\0", 15); });
    EXPECT_NE(message.find("UPP_ASORT"), std::string::npos) << message;
    EXPECT_NE(message.find("SOUNDEX(ASORT)"), std::string::npos) << message;
    EXPECT_NE(message.find("SOUNDEX"), message.rfind("SOUNDEX")) << "the reason names the function";
}

// A character key longer than the 100 bytes dBase makes: refused at the open, with the reason.
TEST(DamagedFile, ACharacterKeyLongerThanDBaseMakesIsRefusedAtOpen)
{
    const std::string message = OpenRefusal([](std::string& b) {
        b[kTagHeader + 12] = 120;
        b[kTagHeader + 18] = 124;
    });
    EXPECT_NE(message.find("UPP_ASORT"), std::string::npos) << message;
    EXPECT_NE(message.find("klucz ma 120 bajtów, a dBase dopuszcza najwyżej 100"), std::string::npos)
        << message;
}

// Two tags whose trees share a block: each tree on its own is sound, but a post to one tag would
// change the other's. Here the second tag's root is made the first's (their keys are alike, so
// every entry of each still fits its rows): both checks name the shared block, and the check
// before writing keeps the run from posting into it.
TEST(DamagedFile, BlocksThatTwoTreesShareAreFound)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "k.dbf", {{"KOD", 'C', 8, 0}},
                        {{"KOD", "KOD", false, false}, {"KOD_UP", "UPPER(KOD)", false, false}}, 0x23);
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.Open();
        for (int i = 0; i < 300; ++i) { // more than one leaf: a root with children
            t.Append();
            t.FieldByName("KOD").SetString("K" + std::to_string(i));
            t.Post();
        }
        ASSERT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
        ASSERT_EQ(t.Verify(), std::vector<std::string>{});
    }
    const std::string index = dir.File("k.mdx");
    std::string bytes = ReadFileBytes(index);
    std::size_t header[2] = {}; // of KOD and KOD_UP
    for (std::size_t i = 0; i < GetLe(bytes, 28, 2); ++i) {
        const std::string name(bytes.c_str() + 544 + 32 * i + 4);
        if (name == "KOD" || name == "KOD_UP")
            header[name == "KOD" ? 0 : 1] = GetLe(bytes, 544 + 32 * i) * std::size_t{512};
    }
    ASSERT_TRUE(header[0] != 0 && header[1] != 0);
    const std::uint32_t root = GetLe(bytes, header[0]);
    Put32(bytes, header[1], root);
    WriteFileBytes(index, bytes);

    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    const std::string shared = t.Path() + ": znaczniki KOD i KOD_UP: blok na stronie " +
                               std::to_string(root) + " należy do dwóch drzew";
    for (const auto& found : {t.CheckIndexEntries(), t.Verify()}) {
        EXPECT_NE(std::find(found.begin(), found.end(), shared), found.end())
            << (found.empty() ? std::string("nothing found") : found.front());
    }
}

// Blocks that lie over each other in part: a block starting on the second page of another.
TEST(DamagedFile, BlocksThatLieOverEachOtherInPartAreFound)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    const std::string path = dir.File("ASORTYM.MDX");
    platform::OpenFailure failure{};
    auto file = platform::OpenLocked(path, platform::ShareMode::ReadOnly, &failure);
    ASSERT_TRUE(file);
    engine::MdxIndex index(*file, path);
    index.Load();
    ASSERT_EQ(index.PagesPerBlock(), 2u);
    ASSERT_EQ(index.Tags().size(), 2u);
    const auto overlaps = [&](const std::vector<std::vector<std::uint32_t>>& blocks) {
        std::vector<std::string> problems;
        index.CheckOverlaps(blocks, &problems);
        return problems;
    };
    EXPECT_EQ(overlaps({{8, 10, 12}, {14, 16}}), std::vector<std::string>{});
    EXPECT_EQ(
        overlaps({{8, 10, 11}, {}}),
        std::vector<std::string>{"znacznik UPP_ASORT: blok na stronie 11 zachodzi na blok na stronie 10"});
    EXPECT_EQ(overlaps({{8, 10}, {11}}),
              std::vector<std::string>{"znaczniki UPP_ASORT i UPP_NAZ_A: blok na "
                                       "stronie 11 zachodzi na blok na stronie 10"});
    EXPECT_EQ(overlaps({{8}, {9}}), std::vector<std::string>{"znaczniki UPP_ASORT i UPP_NAZ_A: blok na "
                                                             "stronie 9 zachodzi na blok na stronie 8"});
    EXPECT_EQ(
        overlaps({{8}, {8}}),
        std::vector<std::string>{"znaczniki UPP_ASORT i UPP_NAZ_A: blok na stronie 8 należy do dwóch drzew"});
}

// A row changed by a program that left the index as it was: the tag holds the row under its old
// key. The check before writing reads no keys and lets the table through; an edit that would take
// the row's entry out of such a tag finds no entry for the row's key and writes nothing, in an
// exclusive open and in a transaction alike, rather than add a second entry for the row. An edit
// that leaves that tag's key alone goes through.
TEST(DamagedFile, AnEditOfARowTheIndexHoldsUnderAnotherKeyWritesNothing)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "k.dbf", {{"KOD", 'C', 8, 0}, {"NR", 'N', 4, 0}, {"UWAGI", 'C', 10, 0}},
                        {{"KOD", "KOD"}, {"NR_UNIK", "NR", false, true}, {"KOD_NR", "KOD+STR(NR,4)", true}},
                        0x23);
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.Open();
        for (int i = 1; i <= 300; ++i) { // trees of more than one level
            t.Append();
            t.FieldByName("KOD").SetString("K" + std::to_string(i % 50));
            t.FieldByName("NR").SetInteger(i);
            t.Post();
        }
    }
    // Row 120's code and row 200's number changed in the table file alone.
    std::string table = ReadFileBytes(dir.File("k.dbf"));
    const std::size_t headerLength = GetLe(table, 8, 2), recordLength = GetLe(table, 10, 2);
    table.replace(headerLength + 119 * recordLength + 1, 8, "OBCY    ");
    table.replace(headerLength + 199 * recordLength + 9, 4, "9999");
    WriteFileBytes(dir.File("k.dbf"), table);
    const std::string index = ReadFileBytes(dir.File("k.mdx"));

    const auto refused = [&](engine::Table& t, std::uint32_t record, const char* field,
                             const std::string& value, const std::string& tag) {
        t.MoveTo(record);
        t.Edit();
        t.FieldByName(field).SetString(value);
        try {
            t.Post();
            ADD_FAILURE() << "row " << record << " posted";
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadIndex);
            EXPECT_NE(std::string(e.what()).find("znacznik " + tag + " nie zawiera klucza rekordu " +
                                                 std::to_string(record)),
                      std::string::npos)
                << e.what();
        }
        t.Cancel();
    };
    // Read once the table is closed: Windows lets nobody read a file open exclusively.
    const auto unchanged = [&](const char* when) {
        EXPECT_EQ(ReadFileBytes(dir.File("k.dbf")), table) << when;
        EXPECT_EQ(ReadFileBytes(dir.File("k.mdx")), index) << when;
    };
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.SetExclusive(true);
        t.Open();
        EXPECT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
        EXPECT_FALSE(t.Verify().empty());
        refused(t, 120, "KOD", "NOWY", "KOD");
        refused(t, 200, "NR", "5000", "NR_UNIK"); // no entry at all has the unique key 9999
    }
    unchanged("after the exclusive open");
    {
        engine::Transaction transaction(dir.Path());
        engine::Table t(dir.Path(), "k.dbf");
        t.SetTransaction(&transaction);
        t.Open();
        refused(t, 120, "KOD", "NOWY", "KOD");
        transaction.Commit();
    }
    unchanged("after the transaction");
    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    t.MoveTo(121);
    t.Edit();
    t.FieldByName("UWAGI").SetString("bez klucza");
    t.Post();
    t.MoveTo(5);
    t.Edit();
    t.FieldByName("KOD").SetString("NOWY");
    t.Post();
    const auto stale = [&](const char* tag, int record) {
        return t.Path() + ", znacznik " + tag + ": klucz rekordu " + std::to_string(record) +
               " nie zgadza się z wartościami w tabeli";
    };
    // Rows 120 and 200 alone disagree with their tags, each still once in each.
    EXPECT_EQ(t.Verify(), (std::vector<std::string>{stale("KOD", 120), stale("NR_UNIK", 200),
                                                    stale("KOD_NR", 120), stale("KOD_NR", 200)}));
}

// The other way round: a row marked deleted by a program that left the index as it was stays in a
// tag of the rows not deleted. Recalling it would enter it a second time; the engine writes
// nothing and says why. Rows the tag rightly leaves out are recalled as before.
TEST(DamagedFile, ARowATagStillHoldsIsNotEnteredTwice)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "k.dbf", {{"KOD", 'C', 8, 0}},
                        {{"ZYWE", "KOD", false, false, ".NOT. DELETED()"}}, 0x23);
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.Open();
        for (int i = 1; i <= 200; ++i) {
            t.Append();
            t.FieldByName("KOD").SetString("K" + std::to_string(i % 30));
            t.Post();
        }
        t.MoveTo(7);
        t.Delete();
    }
    std::string table = ReadFileBytes(dir.File("k.dbf"));
    const std::size_t headerLength = GetLe(table, 8, 2), recordLength = GetLe(table, 10, 2);
    table[headerLength + 99 * recordLength] = '*'; // row 100
    WriteFileBytes(dir.File("k.dbf"), table);
    const std::string index = ReadFileBytes(dir.File("k.mdx"));

    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    EXPECT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
    t.MoveTo(100);
    try {
        t.Recall();
        ADD_FAILURE() << "row 100 recalled";
    } catch (const engine::Error& e) {
        EXPECT_EQ(e.Kind(), engine::ErrorKind::BadIndex);
        EXPECT_NE(std::string(e.what()).find("znacznik ZYWE już zawiera rekord 100"), std::string::npos)
            << e.what();
    }
    t.Cancel();
    EXPECT_EQ(ReadFileBytes(dir.File("k.dbf")), table);
    EXPECT_EQ(ReadFileBytes(dir.File("k.mdx")), index);
    t.MoveTo(7);
    t.Recall();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{t.Path() + ", znacznik ZYWE: zbędny wpis rekordu 100"});
}

// k.dbf: codes K1, K2, ... of `width` characters in `rows` rows, each with NR 1 but row `outside`
// (NR 0), and a tag CZYNNE of the codes of the rows whose NR is above 0.
void CreateActiveCodes(const TempDir& dir, std::size_t width, int rows, int outside = 0)
{
    engine::CreateTable(dir.Path(), "k.dbf", {{"KOD", 'C', width, 0}, {"NR", 'N', 3, 0}},
                        {{"CZYNNE", "KOD", false, false, "NR > 0"}}, 0x23);
    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    for (int i = 1; i <= rows; ++i) {
        t.Append();
        t.FieldByName("KOD").SetString("K" + std::to_string(i));
        t.FieldByName("NR").SetInteger(i == outside ? 0 : 1);
        t.Post();
    }
}

// A row a program took out of a conditional tag's condition, changing its key too, without
// touching the index: the tag still holds it under the old key. An edit that brings the row back
// into the condition under its new key would enter it a second time; the engine writes nothing
// and says why. Rows this engine itself takes out and brings back in, in this open or in
// another, are entered as before.
TEST(DamagedFile, ARowATagStillHoldsUnderAnotherKeyIsNotEnteredTwice)
{
    TempDir dir;
    CreateActiveCodes(dir, 8, 300);
    // Row 100 out of the condition, and under another key, in the table alone.
    std::string table = ReadFileBytes(dir.File("k.dbf"));
    const std::size_t headerLength = GetLe(table, 8, 2), recordLength = GetLe(table, 10, 2);
    const std::size_t row100 = headerLength + 99 * recordLength;
    table.replace(row100 + 1, 11, "Z100      0");
    WriteFileBytes(dir.File("k.dbf"), table);
    const std::string index = ReadFileBytes(dir.File("k.mdx"));

    const auto setNr = [](engine::Table& t, std::uint32_t row, int nr) {
        t.MoveTo(row);
        t.Edit();
        t.FieldByName("NR").SetInteger(nr);
        t.Post();
    };
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.Open();
        EXPECT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
        try {
            setNr(t, 100, 5);
            ADD_FAILURE() << "row 100 entered the tag again";
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadIndex);
            EXPECT_NE(std::string(e.what()).find("znacznik CZYNNE już zawiera rekord 100"), std::string::npos)
                << e.what();
        }
        t.Cancel();
    }
    EXPECT_EQ(ReadFileBytes(dir.File("k.dbf")), table);
    EXPECT_EQ(ReadFileBytes(dir.File("k.mdx")), index);

    // Rows this engine moves out and back in. Two opens: what one of them does to the tag, the
    // other learns before its own edit.
    engine::Table a(dir.Path(), "k.dbf"), b(dir.Path(), "k.dbf");
    a.Open();
    b.Open();
    setNr(a, 6, 0);
    setNr(a, 6, 1); // from here on `a` knows which rows the tag holds
    setNr(a, 7, 0);
    setNr(a, 7, 2); // back in, in the open that took it out
    setNr(b, 8, 0);
    setNr(a, 8, 3); // back in, in the other open
    setNr(a, 9, 0);
    setNr(b, 9, 4);
    b.Append(); // a row that never was in the tag
    b.FieldByName("KOD").SetString("NOWY");
    b.FieldByName("NR").SetInteger(0);
    b.Post();
    setNr(a, 301, 1);
    // A row `a` moved within the tag, then taken out of the condition behind the index's back
    // while `a` stays open: `a` still knows the tag holds it.
    a.MoveTo(10);
    a.Edit();
    a.FieldByName("KOD").SetString("K10B");
    a.Post();
    {
        std::fstream file(dir.File("k.dbf"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(headerLength + 9 * recordLength + 9));
        file.write("  0", 3);
    }
    EXPECT_THROW(setNr(a, 10, 1), engine::Error);
    a.Cancel();
    EXPECT_EQ(a.Verify(),
              (std::vector<std::string>{a.Path() + ", znacznik CZYNNE: zbędny wpis rekordu 10",
                                        a.Path() + ", znacznik CZYNNE: zbędny wpis rekordu 100"}));
}

// Rows a program changed in the table alone: row 5 under another code, row 7 out of the condition,
// row 9 into it. The quick check, which reads no record, finds nothing; asked to check the keys of
// the tags a program searches, it names each row of those tags, and of no other.
TEST(DamagedFile, TheTagsAProgramSearchesAreCheckedAgainstTheRowsKeys)
{
    TempDir dir;
    CreateActiveCodes(dir, 8, 12, 9);
    {
        engine::Table t(dir.Path(), "k.dbf");
        t.Open();
        ASSERT_EQ(t.CheckIndexEntries({"czynne"}), std::vector<std::string>{}) << "sound as written";
    }
    std::string table = ReadFileBytes(dir.File("k.dbf"));
    const std::size_t headerLength = GetLe(table, 8, 2), recordLength = GetLe(table, 10, 2);
    const auto row = [&](std::size_t r) { return headerLength + (r - 1) * recordLength + 1; };
    table.replace(row(5), 8, "Z5      ");
    table.replace(row(7) + 8, 3, "  0");
    table.replace(row(9) + 8, 3, "  1");
    WriteFileBytes(dir.File("k.dbf"), table);

    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    EXPECT_EQ(t.CheckIndexEntries(), std::vector<std::string>{});
    EXPECT_EQ(t.CheckIndexEntries({"INNY"}), std::vector<std::string>{});
    const std::string label = t.Path() + ", znacznik CZYNNE: ";
    EXPECT_EQ(t.CheckIndexEntries({"czynne"}),
              (std::vector<std::string>{label + "klucz rekordu 5 nie zgadza się z wartościami w tabeli",
                                        label + "zbędny wpis rekordu 7", label + "brak wpisu rekordu 9"}));
    // Verify finds the same.
    const std::vector<std::string> verified = t.Verify();
    for (const char* found : {"klucz rekordu 5 nie", "zbędny wpis rekordu 7", "brak wpisu rekordu 9"})
        EXPECT_TRUE(std::any_of(verified.begin(), verified.end(), [found](const std::string& p) {
            return p.find(found) != std::string::npos;
        })) << found;
}

// A damaged index whose inner blocks all name the same child many times over, twenty levels
// deep: read as a tree it holds 43 to the 20th entries, in a file of a few dozen blocks. Learning
// which rows the conditional tag holds stops once it has read more blocks than the file has, and
// says why.
TEST(DamagedFile, ATreeThatNamesOneBlockOverAndOverIsNotWalkedWithoutEnd)
{
    TempDir dir;
    CreateActiveCodes(dir, 20, 1500, 1);
    std::string index = ReadFileBytes(dir.File("k.mdx"));
    constexpr std::size_t kBlock = 1024, kItem = 24, kKeys = (kBlock - 12) / kItem, kLevels = 20;
    const auto put32 = [&index](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            index[at + i] = static_cast<char>(value >> (8 * i));
    };
    // The last 21 blocks of the file become a chain: each inner block names the next one in all
    // its places; the last is a leaf of one entry.
    const std::size_t pages = index.size() / 512;
    const auto pageOf = [pages](std::size_t k) {
        return static_cast<std::uint32_t>(pages - 2 * (kLevels + 1 - k));
    };
    for (std::size_t k = 0; k <= kLevels; ++k) {
        const std::size_t at = std::size_t{pageOf(k)} * 512;
        std::fill(index.begin() + static_cast<std::ptrdiff_t>(at),
                  index.begin() + static_cast<std::ptrdiff_t>(at + kBlock), '\0');
        const std::size_t count = k < kLevels ? kKeys : 1;
        put32(at, static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < count; ++i) {
            put32(at + 8 + i * kItem, k < kLevels ? pageOf(k + 1) : 2);
            index.replace(at + 12 + i * kItem, 20, "K2                  ");
        }
        if (k < kLevels)
            put32(at + 8 + count * kItem, pageOf(k + 1));
    }
    put32(std::size_t{GetLe(index, 544)} * 512, pageOf(0)); // the tag's root
    WriteFileBytes(dir.File("k.mdx"), index);

    engine::Table t(dir.Path(), "k.dbf");
    t.Open();
    t.MoveTo(1);
    t.Edit();
    t.FieldByName("NR").SetInteger(1);
    try {
        t.Post();
        ADD_FAILURE() << "row 1 entered the tag";
    } catch (const engine::Error& e) {
        EXPECT_EQ(e.Kind(), engine::ErrorKind::BadIndex);
        EXPECT_NE(std::string(e.what()).find("znacznik CZYNNE: drzewo indeksu zapętla się"),
                  std::string::npos)
            << e.what();
    }
    t.Cancel();
    t.Close();
    EXPECT_EQ(ReadFileBytes(dir.File("k.mdx")), index);
}

} // namespace
