// Keeping the production index: thousands of appends and edits, in new tables and in copies of
// files from an independent writer, checked by the engine's own check and by Perl XBase.
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "engine/mdx_index.h"
#include "engine/table.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

std::string RandomName(std::mt19937& rng, std::size_t maxLength)
{
    static const std::string letters =
        "ABCDEFGHIJKLMNOPRSTUWZ abcdefghijklmnoprstuwz0123456789/"
        "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
    std::string out;
    const std::size_t length = 1 + rng() % maxLength;
    for (std::size_t i = 0; i < length; ++i)
        out.push_back(letters[rng() % letters.size()]);
    return out;
}

// Perl XBase walks the tag with one entry per record, in the engine's order.
void ExpectPerlAgrees(const std::string& mdx, const std::string& tag, std::size_t records)
{
    const Walk engineWalk = EngineWalk(mdx, tag);
    EXPECT_EQ(engineWalk.size(), records) << tag;
#ifndef _WIN32 // no Perl beside the Windows build: there the engine's own checks stand alone
    EXPECT_EQ(PerlWalk(mdx, tag), Records(engineWalk)) << tag;
#endif
}

TEST(IndexMaintenance, ThousandsOfAppendsAndEditsKeepEveryTagValid)
{
    TempDir dir;
    engine::CreateTable(
        dir.Path(), "OSOBY.DBF",
        {{"ID_OSOBY", 'C', 8, 0}, {"KLUCZ", 'C', 60, 0}, {"NR", 'N', 8, 0}, {"DATA", 'D', 8, 0}},
        {{"UPP_KLUCZ", "UPPER(KLUCZ)", false, false},
         {"NR", "NR", false, false},
         {"DATA_NR", "DTOS(DATA)+STR(NR,8)", true, false},
         {"ID", "ID_OSOBY", false, true}},
        0x23);
    std::mt19937 rng(20241123);
    const int rows = 6000;
    {
        engine::Table t(dir.Path(), "osoby.dbf");
        t.SetIndexName("UPP_KLUCZ");
        t.Open();
        for (int i = 0; i < rows; ++i) {
            t.Append();
            t.FieldByName("ID_OSOBY").SetString(std::to_string(rng() % 3000)); // repeats: unique tag
            t.FieldByName("KLUCZ").SetString(i % 7 == 0 ? "KOWALSKI JAN" : RandomName(rng, 60));
            t.FieldByName("NR").SetInteger(static_cast<std::int64_t>(rng() % 200000) - 100000);
            if (i % 5 != 0)
                t.FieldByName("DATA").SetString(std::to_string(1900 + rng() % 200) + "0" +
                                                std::to_string(1 + rng() % 9) + "1" +
                                                std::to_string(rng() % 10));
            t.Post();
        }
        // Edits of every fifth row in physical order (the order edits do not disturb); some keys
        // join the long run of equal keys.
        t.SetIndexName("");
        int n = 0;
        for (t.First(); !t.Eof(); t.Next()) {
            if (++n % 5 != 0)
                continue;
            const std::uint32_t at = t.RecNo();
            t.Edit();
            t.FieldByName("KLUCZ").SetString(n % 3 == 0 ? "kowalski jan" : RandomName(rng, 60));
            t.FieldByName("NR").SetInteger(n);
            t.FieldByName("ID_OSOBY").SetString(std::to_string(rng() % 3000));
            t.Post();
            EXPECT_EQ(t.RecNo(), at);
        }
        EXPECT_EQ(t.RecordCount(), rows);
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    for (const char* tag : {"UPP_KLUCZ", "NR", "DATA_NR"})
        ExpectPerlAgrees(dir.File("OSOBY.MDX"), tag, rows);
    // The unique tag: one entry per distinct id, each the first record having it.
    engine::Table t(dir.Path(), "osoby.dbf");
    t.Open();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
#ifndef _WIN32
    EXPECT_EQ(PerlWalk(dir.File("OSOBY.MDX"), "ID"), Records(EngineWalk(dir.File("OSOBY.MDX"), "ID")));
#endif
}

// A tag header's bytes 248-255, as the file holds them: the first and the last leaf of the tree.
struct EdgeLeaves
{
    std::uint32_t first = 0, last = 0;
    std::uint32_t firstRecord = 0, lastRecord = 0; // the first entry of the one, the last of the other
    bool bothLeaves = false;
};

EdgeLeaves ReadEdgeLeaves(const std::string& mdx, const std::string& tag)
{
    const std::string bytes = ReadFileBytes(mdx);
    EdgeLeaves leaves;
    for (std::size_t entry = 544; entry + 32 <= 1024 + 512; entry += 32) {
        if (std::string(bytes.c_str() + entry + 4) != tag)
            continue;
        const std::size_t header = GetLe(bytes, entry) * 512;
        const std::size_t item = GetLe(bytes, header + 18, 2);
        leaves.first = GetLe(bytes, header + 248);
        leaves.last = GetLe(bytes, header + 252);
        const std::size_t first = leaves.first * 512, last = leaves.last * 512;
        // Bytes past the file read as 0 (a leaf of nothing); a page of 0 is the file header.
        const auto get = [&](std::size_t at) { return at + 4 <= bytes.size() ? GetLe(bytes, at) : 0u; };
        const std::uint32_t n1 = get(first), n2 = get(last);
        if (leaves.first == 0 || leaves.last == 0 || n1 == 0 || n2 == 0 || n1 > 1024 || n2 > 1024)
            return leaves;
        leaves.bothLeaves = get(first + 8 + n1 * item) == 0 && get(last + 8 + n2 * item) == 0;
        leaves.firstRecord = get(first + 8);
        leaves.lastRecord = get(last + 8 + (n2 - 1) * item);
        return leaves;
    }
    ADD_FAILURE() << "no tag " << tag << " in " << mdx;
    return leaves;
}

// The independent writer keeps each tag's first and last leaf in its header; a reader may start a
// walk there. After appends that split those leaves, they name the leaves that hold the tag's
// first and last entries. (A file whose writer left them 0 keeps them 0.)
TEST(IndexMaintenance, TheFirstAndLastLeavesFollowTheSplitsWhereTheWriterKeptThem)
{
    TempDir dir;
    CopyTable("mdx", "MIXED", dir.Path());
    const std::string mdx = dir.File("MIXED.MDX");
    const char* tags[] = {"KWOTA", "ILOSC", "DATA", "MIASTO_D", "KOD_U"};
    std::map<std::string, EdgeLeaves> before;
    for (const char* tag : tags) {
        before[tag] = ReadEdgeLeaves(mdx, tag);
        ASSERT_TRUE(before[tag].bothLeaves) << tag;
    }
    std::mt19937 rng(11);
    {
        engine::Table t(dir.Path(), "MIXED.DBF");
        t.Open();
        for (int i = 0; i < 1500; ++i) {
            t.Append();
            t.FieldByName("ID").SetString("Y" + std::to_string(i));
            // Keys below and above all others, so that both edge leaves split.
            const bool low = i % 2 == 0;
            t.FieldByName("KWOTA").SetString((low ? "-9" : "9") + std::to_string(10000 + rng() % 80000) +
                                             ".5");
            t.FieldByName("ILOSC").SetInteger(low ? -900000 - i : 900000 + i);
            t.FieldByName("DATA").SetString(low ? "1900010" + std::to_string(1 + i % 9)
                                                : "2099123" + std::to_string(i % 2));
            t.FieldByName("MIASTO").SetString((low ? "AAA" : "ZZZ") + RandomName(rng, 10));
            t.FieldByName("KOD").SetString(low ? "00" + std::to_string(i) : "99" + std::to_string(i));
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    int moved = 0;
    for (const char* tag : tags) {
        SCOPED_TRACE(tag);
        const EdgeLeaves after = ReadEdgeLeaves(mdx, tag);
        const Walk walk = EngineWalk(mdx, tag);
        ASSERT_FALSE(walk.empty());
        EXPECT_TRUE(after.bothLeaves);
        EXPECT_EQ(after.firstRecord, walk.front().first);
        EXPECT_EQ(after.lastRecord, walk.back().first);
        moved += (after.first != before[tag].first) + (after.last != before[tag].last);
    }
    EXPECT_GT(moved, 0) << "no edge leaf moved: the check proves nothing";

    // The engine's own files leave them 0, as before.
    engine::CreateTable(dir.Path(), "own.dbf", {{"NAZWA", 'C', 10, 0}},
                        {{"NAZWA", "NAZWA", false, false, ""}});
    {
        engine::Table t(dir.Path(), "own.dbf");
        t.Open();
        for (int i = 0; i < 500; ++i) {
            t.Append();
            t.FieldByName("NAZWA").SetString(RandomName(rng, 10));
            t.Post();
        }
    }
    const EdgeLeaves own = ReadEdgeLeaves(dir.File("own.mdx"), "NAZWA");
    EXPECT_EQ(own.first, 0u);
    EXPECT_EQ(own.last, 0u);
}

// Appends and edits in copies of the independent writer's files: every tag stays valid, and
// records appended read back through Perl XBase's DBF reader with their values.
TEST(IndexMaintenance, AppendsAndEditsInFilesFromAnIndependentWriter)
{
    TempDir dir;
    for (const char* table : {"EDITED", "DZ", "MIXED"})
        CopyTable("mdx", table, dir.Path());
    std::mt19937 rng(7);
    {
        engine::Table t(dir.Path(), "EDITED.DBF");
        t.Open();
        for (int i = 0; i < 1500; ++i) {
            t.Append();
            t.FieldByName("ID_OSOBY").SetString("N" + std::to_string(i));
            t.FieldByName("KLUCZ").SetString(i % 4 == 0 ? "Kowalski Jan" : RandomName(rng, 30));
            t.Post();
        }
        t.SetIndexName("UPP_KLUCZ");
        int n = 0;
        for (t.First(); !t.Eof() && n < 200; t.Next(), ++n) {
            if (n % 2 == 0)
                continue;
            t.Edit();
            t.FieldByName("KLUCZ").SetString("zz " + std::to_string(n));
            t.Post(); // moves to the end of the tag: go back to the front
            t.First();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    ExpectPerlAgrees(dir.File("EDITED.MDX"), "UPP_KLUCZ", 7500);
    {
        engine::Table t(dir.Path(), "DZ.DBF");
        t.Open();
        for (int i = 0; i < 2000; ++i) {
            t.Append();
            t.FieldByName("ID_DZIALKI").SetString(std::to_string(100000 + i));
            t.FieldByName("ID_OBR").SetString(std::to_string(rng() % 20));
            t.FieldByName("DZIALKA").SetString(std::to_string(rng() % 300) + "/" + std::to_string(rng() % 9));
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    ExpectPerlAgrees(dir.File("DZ.MDX"), "OBR_DZ_ARK", 5000);
    {
        engine::Table t(dir.Path(), "MIXED.DBF");
        t.Open();
        for (int i = 0; i < 1000; ++i) {
            t.Append();
            t.FieldByName("ID").SetString("X" + std::to_string(i));
            t.FieldByName("KWOTA").SetString(std::to_string(static_cast<int>(rng() % 200000) - 100000) +
                                             ".25");
            t.FieldByName("ILOSC").SetInteger(static_cast<int>(rng() % 2000) - 1000);
            if (i % 3 != 0)
                t.FieldByName("DATA").SetString("2001" + std::to_string(10 + rng() % 3) + "1" +
                                                std::to_string(rng() % 9));
            t.FieldByName("MIASTO").SetString(RandomName(rng, 20));
            t.FieldByName("KOD").SetString(std::to_string(rng() % 3000));
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    for (const char* tag : {"KWOTA", "ILOSC", "DATA", "MIASTO_D"})
        ExpectPerlAgrees(dir.File("MIXED.MDX"), tag, 3000);

#ifndef _WIN32
    // Perl XBase's table reader sees the appended rows with their values.
    const std::string command =
        "perl -MXBase -e '$t = XBase->new($ARGV[0]) or die XBase->errstr;"
        " print $t->last_record + 1, \"\\n\"; my @r = $t->get_record(2999, \"ID\", \"ILOSC\");"
        " print \"$r[1]|$r[2]\\n\"' '" +
        dir.File("MIXED.DBF") + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128];
    std::string out;
    while (std::fgets(line, sizeof line, pipe))
        out += line;
    EXPECT_EQ(pclose(pipe), 0);
    engine::Table t(dir.Path(), "MIXED.DBF");
    t.Open();
    for (int i = 1; i < 3000; ++i)
        t.Next();
    EXPECT_EQ(out,
              "3000\n" + t.FieldByName("ID").AsString() + "|" + t.FieldByName("ILOSC").AsString() + "\n");
#endif
}

TEST(IndexMaintenance, ReindexRebuildsEqualWalks)
{
    TempDir dir;
    CopyTable("mdx", "OSOBY", dir.Path());
    const Walk before = EngineWalk(dir.File("OSOBY.MDX"), "UPP_KLUCZ");
    engine::Table t(dir.Path(), "OSOBY.DBF");
    t.Open();
    t.Reindex();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Close();
    EXPECT_EQ(EngineWalk(dir.File("OSOBY.MDX"), "UPP_KLUCZ"), before);
#ifndef _WIN32
    EXPECT_EQ(PerlWalk(dir.File("OSOBY.MDX"), "UPP_KLUCZ"), Records(before));
#endif
}

// A rebuild leaves room in its nodes: keys added afterwards go into the leaves they belong to
// without splitting them at once (a tree packed full splits on nearly every first insert into a
// leaf and grows by half again after a tenth more rows). The rebuilt tree, with its partly filled
// leaves and inner nodes, walks the same for Perl XBase.
TEST(IndexMaintenance, RebuildLeavesRoomForLaterKeys)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KLUCZ", 'C', 100, 0}}, {{"KLUCZ", "KLUCZ", false, false}},
                        0x1B); // 9 keys a block
    engine::Table t(dir.Path(), "T.DBF");
    t.SetExclusive(true);
    t.Open();
    char text[16];
    for (int i = 0; i < 1000; ++i) {
        std::snprintf(text, sizeof text, "K%05d", 10 * i);
        t.Append();
        t.FieldByName("KLUCZ").SetString(text);
        t.Post();
    }
    t.Reindex();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    const auto size = std::filesystem::file_size(dir.File("T.MDX"));
    // Two more keys in each of a few places: every leaf has room for them.
    for (const int at : {0, 2500, 5000, 7500, 9990}) {
        for (const int more : {1, 2}) {
            std::snprintf(text, sizeof text, "K%05d", at + more);
            t.Append();
            t.FieldByName("KLUCZ").SetString(text);
            t.Post();
        }
    }
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Close();
    EXPECT_EQ(std::filesystem::file_size(dir.File("T.MDX")), size) << "no block was added";
    ExpectPerlAgrees(dir.File("T.MDX"), "KLUCZ", 1010);
}

TEST(IndexMaintenance, VerifyDirectoryReportsATagThatLostAnEntry)
{
    TempDir dir;
    CopyTable("mdx", "ASORTYM", dir.Path());
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
    // Lower the key count of the first leaf reached: one entry goes missing from the tag.
    std::string bytes = ReadFileBytes(dir.File("ASORTYM.MDX"));
    const std::size_t header = 4 * 512; // the first tag's header block
    std::size_t page =
        static_cast<unsigned char>(bytes[header]) | static_cast<unsigned char>(bytes[header + 1]) << 8;
    for (;;) {
        const std::size_t at = page * 512;
        const std::size_t n = static_cast<unsigned char>(bytes[at]);
        const std::size_t item = 8;
        const std::size_t trailing = static_cast<unsigned char>(bytes[at + 8 + n * item]) |
                                     static_cast<unsigned char>(bytes[at + 9 + n * item]) << 8;
        if (trailing == 0) {
            bytes[at] = static_cast<char>(n - 1);
            std::fill(bytes.begin() + static_cast<long>(at + 8 + (n - 1) * item),
                      bytes.begin() + static_cast<long>(at + 8 + n * item), '\0');
            break;
        }
        page = static_cast<unsigned char>(bytes[at + 8]) | static_cast<unsigned char>(bytes[at + 9]) << 8;
    }
    WriteFileBytes(dir.File("ASORTYM.MDX"), bytes);
    const auto problems = engine::VerifyDirectory(dir.Path());
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("UPP_ASORT"), std::string::npos) << problems.front();
}

} // namespace

namespace {

// Keys of 100 bytes leave room for 9 entries a block, so a few hundred rows make a deep tree;
// moving every key of a range to the end empties whole leaves and inner nodes, which must leave
// the parents' entries, the largest keys above and the walks right.
TEST(IndexMaintenance, EditsThatEmptyWholeNodesKeepTheTreeValid)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KLUCZ", 'C', 100, 0}}, {{"KLUCZ", "KLUCZ", false, false}},
                        0x1B);
    engine::Table t(dir.Path(), "T.DBF");
    t.SetIndexName("KLUCZ");
    t.Open();
    char text[16];
    for (int i = 0; i < 400; ++i) {
        std::snprintf(text, sizeof text, "K%04d", i);
        t.Append();
        t.FieldByName("KLUCZ").SetString(text);
        t.Post();
    }
    // Move the first 150 keys behind all others, one after another, then the last 100 in front.
    for (int round = 0; round < 150; ++round) {
        t.First();
        t.Edit();
        std::snprintf(text, sizeof text, "Z%04d", round);
        t.FieldByName("KLUCZ").SetString(text);
        t.Post();
    }
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    for (int round = 0; round < 100; ++round) {
        t.EditKey();
        std::snprintf(text, sizeof text, "Z%04d", 149 - round);
        t.FieldByName("KLUCZ").SetString(text);
        ASSERT_TRUE(t.GotoKey());
        t.Edit();
        std::snprintf(text, sizeof text, "A%04d", round);
        t.FieldByName("KLUCZ").SetString(text);
        t.Post();
    }
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    std::vector<std::string> keys;
    for (t.First(); !t.Eof(); t.Next())
        keys.push_back(t.FieldByName("KLUCZ").AsString());
    ASSERT_EQ(keys.size(), 400u);
    EXPECT_EQ(keys.front(), "A0000");
    EXPECT_EQ(keys[100], "K0150");
    EXPECT_EQ(keys.back(), "Z0049");
    t.Close();
    ExpectPerlAgrees(dir.File("T.MDX"), "KLUCZ", 400);
}

// A file whose writer keeps each tag's page count: splits grow it by the pages they take, and
// every post bumps the update counter, whether the open is shared (written with each post) or
// exclusive (written on close); the rest of the header stays as it was.
TEST(IndexMaintenance, PageCountsAndCountersOfAWriterThatKeepsThem)
{
    for (const bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "shared");
        TempDir dir;
        CopyTable("mdx", "DZ", dir.Path());
        const std::string before = ReadFileBytes(dir.File("DZ.MDX"));
        const std::size_t header = GetLe(before, 544) * 512; // the only tag's header block
        constexpr int kPosts = 600;
        {
            engine::Table t(dir.Path(), "DZ.DBF");
            t.SetExclusive(exclusive);
            t.Open();
            for (int i = 0; i < kPosts; ++i) {
                t.Append();
                t.FieldByName("ID_DZIALKI").SetString(std::to_string(200000 + i));
                t.FieldByName("ID_OBR").SetString(std::to_string(i % 7));
                t.FieldByName("DZIALKA").SetString(std::to_string(i) + "/" + std::to_string(i % 5));
                t.Post();
            }
            if (!exclusive) { // written with each post already
                EXPECT_EQ(static_cast<unsigned char>(ReadFileBytes(dir.File("DZ.MDX"))[header + 20]),
                          static_cast<unsigned char>(before[header + 20] + kPosts));
            }
        }
        const std::string after = ReadFileBytes(dir.File("DZ.MDX"));
        const std::size_t newBlocks = (after.size() - before.size()) / 1024;
        EXPECT_GT(newBlocks, 10u) << "the appends split nodes";
        EXPECT_EQ(GetLe(after, header + 4), GetLe(before, header + 4) + 2 * newBlocks);
        EXPECT_EQ(static_cast<unsigned char>(after[header + 20]),
                  static_cast<unsigned char>(before[header + 20] + kPosts));
        EXPECT_EQ(after.substr(header + 24, 200), before.substr(header + 24, 200)) << "expression kept";
        EXPECT_EQ(GetLe(after, 32), after.size() / 512) << "next free page";
        ExpectPerlAgrees(dir.File("DZ.MDX"), "OBR_DZ_ARK", 3000 + kPosts);
    }
}

// Some writers leave bytes in the unused end of a node. A node the engine changes is written with
// that end zeroed, as the format prescribes, and its entries stay as they were.
TEST(IndexMaintenance, AChangedNodeIsWrittenWithItsUnusedEndZeroed)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KLUCZ", 'C', 10, 0}}, {{"KLUCZ", "KLUCZ", false, false}},
                        0x1B);
    {
        engine::Table t(dir.Path(), "T.DBF");
        t.Open();
        for (const char* key : {"B", "D", "F"}) {
            t.Append();
            t.FieldByName("KLUCZ").SetString(key);
            t.Post();
        }
    }
    std::string bytes = ReadFileBytes(dir.File("T.MDX"));
    const std::size_t header = GetLe(bytes, 544) * 512;
    const std::size_t root = GetLe(bytes, header) * 512, item = GetLe(bytes, header + 18, 2);
    ASSERT_EQ(GetLe(bytes, root), 3u) << "one leaf, the root";
    for (std::size_t at = root + 12 + 3 * item; at < root + 1024; ++at)
        bytes[at] = '\x5A'; // another writer's leftovers
    WriteFileBytes(dir.File("T.MDX"), bytes);
    for (const bool exclusive : {false, true}) {
        engine::Table t(dir.Path(), "T.DBF");
        t.SetExclusive(exclusive);
        t.Open();
        t.Append();
        t.FieldByName("KLUCZ").SetString(exclusive ? "A" : "E");
        t.Post();
    }
    bytes = ReadFileBytes(dir.File("T.MDX"));
    ASSERT_EQ(GetLe(bytes, root), 5u);
    EXPECT_EQ(bytes.substr(root + 12 + 5 * item, 1024 - 12 - 5 * item),
              std::string(1024 - 12 - 5 * item, '\0'));
    ExpectPerlAgrees(dir.File("T.MDX"), "KLUCZ", 5);
    EXPECT_EQ(Records(EngineWalk(dir.File("T.MDX"), "KLUCZ")), (std::vector<std::uint32_t>{5, 1, 2, 4, 3}));
}

// How many index blocks an open keeps in memory changes nothing it writes: with room for only a
// few, the blocks an insert, a removal or a search has just read are dropped and read again under
// it all the time, and the files come out byte for byte as with the whole index in memory.
TEST(IndexMaintenance, ASmallBlockCacheWritesTheSameFiles)
{
    std::vector<std::string> tables, indexes;
    for (const std::size_t blocks : {std::size_t{0}, std::size_t{2}, std::size_t{5}}) {
        for (const bool exclusive : {false, true}) {
            SCOPED_TRACE(std::to_string(blocks) + (exclusive ? " exclusive" : " shared"));
            TempDir dir;
            engine::CreateTable(dir.Path(), "T.DBF", {{"KLUCZ", 'C', 100, 0}, {"NR", 'N', 8, 0}},
                                {{"KLUCZ", "UPPER(KLUCZ)", false, false}, {"NR", "NR", false, false}},
                                0x23); // 9 keys a block: deep trees
            engine::Table t(dir.Path(), "T.DBF");
            t.SetExclusive(exclusive);
            t.SetIndexMemory(blocks);
            t.SetIndexName("KLUCZ");
            t.Open();
            std::mt19937 rng(33);
            for (int i = 0; i < 800; ++i) {
                t.Append();
                t.FieldByName("KLUCZ").SetString(i % 5 == 0 ? "Kowalski" : RandomName(rng, 12));
                t.FieldByName("NR").SetInteger(static_cast<std::int64_t>(rng() % 50));
                t.Post();
            }
            for (int i = 0; i < 200; ++i) { // keys moved: removals and inserts, equal keys among them
                t.EditKey();
                t.FieldByName("KLUCZ").SetString("Kowalski");
                ASSERT_TRUE(t.GotoKey());
                t.Edit();
                t.FieldByName("KLUCZ").SetString(RandomName(rng, 12));
                t.FieldByName("NR").SetInteger(i % 3 ? 7 : 49);
                t.Post();
                if (i == 150) {
                    for (int k = 0; k < 60; ++k) {
                        t.Append();
                        t.FieldByName("KLUCZ").SetString("Kowalski");
                        t.Post();
                    }
                }
            }
            EXPECT_EQ(t.Verify(), std::vector<std::string>{});
            std::size_t walked = 0;
            for (t.First(); !t.Eof(); t.Next())
                ++walked;
            EXPECT_EQ(walked, 860u);
            t.Close();
            tables.push_back(ReadFileBytes(dir.File("T.DBF")));
            indexes.push_back(ReadFileBytes(dir.File("T.MDX")));
            if (blocks == 2 && exclusive)
                ExpectPerlAgrees(dir.File("T.MDX"), "KLUCZ", 860);
        }
    }
    for (std::size_t i = 1; i < tables.size(); ++i) {
        EXPECT_EQ(tables[i], tables[0]) << i;
        EXPECT_TRUE(indexes[i] == indexes[0]) << i << ": the index differs";
    }
}

TEST(IndexMaintenance, ConfiguredDriverAppliesToNewTablesAndTablesNamingNone)
{
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"NAZWA", 'C', 4, 0}},
                        {{"NAZWA", "UPPER(NAZWA)", false, false}});
    std::string bytes = ReadFileBytes(dir.File("T.DBF"));
    EXPECT_EQ(bytes[29], '\x23');
    bytes[29] = 0; // no driver named: the configured one applies
    WriteFileBytes(dir.File("T.DBF"), bytes);
    {
        engine::Table t(dir.Path(), "T.DBF");
        t.SetIndexName("NAZWA");
        t.Open();
        for (const char* name : {"\xB3za", "Lza", "1/2", "10", "ma", "\xA3\xF3"}) { // łza, Lza, .., Łó
            t.Append();
            t.FieldByName("NAZWA").SetString(name);
            t.Post();
        }
        std::vector<std::string> order;
        for (t.First(); !t.Eof(); t.Next())
            order.push_back(t.FieldByName("NAZWA").AsString());
        // UPPER folds ł to Ł and ó to Ó in code page 852; Ł sorts after L and before M, Ó after O
        // and before Z; 10 before 1/2.
        EXPECT_EQ(order, (std::vector<std::string>{"10", "1/2", "Lza", "\xA3\xF3", "\xB3za", "ma"}));
    }
    EXPECT_THROW(engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=xx"}), engine::Error);
}

} // namespace

namespace {

// A writer that stores blank dates as 0 puts them first; the check accepts that, rows appended
// with the engine's blank-date key (which sorts last) keep the tag in order by value, and a row
// whose blank date was stored as 0 moves when it gets a date.
TEST(IndexMaintenance, BlankDatesStoredAsZeroAreAccepted)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "D.DBF", {{"DATA", 'D', 8, 0}}, {{"DATA", "DATA", false, false}}, 0x1B);
    {
        engine::Table t(dir.Path(), "D.DBF");
        t.Open();
        for (const char* date : {"", "2000.01.01", "2001.01.01"}) {
            t.Append();
            t.FieldByName("DATA").SetString(date);
            t.Post();
        }
    }
    // Rewrite the root leaf as that writer would: (record 1, 0.0), (2, 2000-01-01), (3, 2001-01-01).
    std::string bytes = ReadFileBytes(dir.File("D.MDX"));
    const std::size_t root = 6 * 512;
    const double keys[] = {0.0, 2451545.0, 2451911.0};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const std::size_t at = root + 8 + i * 12;
        bytes[at] = static_cast<char>(i + 1);
        std::memcpy(&bytes[at + 4], &keys[i], 8);
    }
    WriteFileBytes(dir.File("D.MDX"), bytes);
    engine::Table t(dir.Path(), "D.DBF");
    t.SetIndexName("DATA");
    t.Open();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Append();
    t.Post(); // another blank date, with the key that sorts last
    std::vector<std::uint32_t> order;
    for (t.First(); !t.Eof(); t.Next())
        order.push_back(t.RecNo());
    EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    // The row whose blank date that writer stored as 0 gets a date: its old entry goes, not stays
    // beside the new one.
    t.MoveTo(1);
    t.Edit();
    t.FieldByName("DATA").SetString("2002.01.01");
    t.Post();
    order.clear();
    for (t.First(); !t.Eof(); t.Next())
        order.push_back(t.RecNo());
    EXPECT_EQ(order, (std::vector<std::uint32_t>{2, 3, 1, 4}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    ExpectPerlAgrees(dir.File("D.MDX"), "DATA", 4);
}

} // namespace

// A post touches a tag only where the row's key or its place in the FOR clause changes: an edit of
// a field no key uses costs no tree update, a key that changes costs one removal and one insert,
// a row leaving a conditional tag one removal.
TEST(IndexMaintenance, PostsUpdateOnlyTheTagsWhoseKeysChange)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "ROBOTY.DBF",
                        {{"ID", 'C', 8, 0}, {"NAZWA", 'C', 20, 0}, {"UWAGI", 'C', 20, 0}, {"NR", 'N', 6, 0}},
                        {{"ID", "ID", false, false},
                         {"NAZWA_NR", "UPPER(NAZWA)+STR(NR,6)", false, false},
                         {"DODATNIE", "ID", false, false, "NR > 0"}},
                        0x23);
    engine::Table t(dir.Path(), "roboty.dbf");
    t.Open();
    engine::ResetIndexUpdates();
    for (int i = 1; i <= 10; ++i) {
        t.Append();
        t.FieldByName("ID").SetString(std::to_string(1000 + i));
        t.FieldByName("NAZWA").SetString("praca " + std::to_string(i));
        t.FieldByName("NR").SetInteger(i % 2 == 0 ? i : -i);
        t.Post();
    }
    engine::IndexUpdateCounts counts = engine::IndexUpdates();
    EXPECT_EQ(counts.inserts, 10u + 10u + 5u)
        << "every row in the two plain tags, the even ones in the third";
    EXPECT_EQ(counts.removals, 0u);

    const auto edit = [&](std::uint32_t record, const char* field, const std::string& value) {
        t.MoveTo(record);
        t.Edit();
        t.FieldByName(field).SetString(value);
        t.Post();
        const engine::IndexUpdateCounts now = engine::IndexUpdates();
        const std::pair<std::uint64_t, std::uint64_t> made{now.inserts - counts.inserts,
                                                           now.removals - counts.removals};
        counts = now;
        return made;
    };
    using Made = std::pair<std::uint64_t, std::uint64_t>; // inserts, removals
    EXPECT_EQ(edit(3, "UWAGI", "pilne"), Made(0, 0)) << "no key uses the field";
    EXPECT_EQ(edit(3, "NAZWA", "PRACA 3"), Made(0, 0)) << "the key is the same in upper case";
    EXPECT_EQ(edit(3, "NAZWA", "inna"), Made(1, 1)) << "one tag's key changed";
    EXPECT_EQ(edit(4, "NR", "-4"), Made(1, 2))
        << "a new key in one tag, and the row leaves the conditional one";
    EXPECT_EQ(edit(4, "NR", "8"), Made(2, 1)) << "and back in";
    EXPECT_EQ(edit(5, "ID", "2005"), Made(1, 1)) << "the conditional tag does not hold row 5";
    t.Close();
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
}
