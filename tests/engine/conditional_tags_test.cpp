// Conditional tags (FOR clauses) and expression tags kept by every post: rows enter, stay in,
// move within and leave a tag as their values say; thousands of random posts end in sound tags
// that Perl XBase reads alike. Also the tables of dBase level 5 with binary and OLE fields, the
// levels and encrypted tables the engine refuses, and the date an edit leaves in the header.
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "engine/mdx_index.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/system.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

// The fields of the persons tables, which random posts fill in.
std::vector<engine::FieldDefinition> PersonFields()
{
    return {{"NR", 'N', 6, 0},   {"NAZWA", 'C', 20, 0}, {"KOD", 'C', 1, 0},
            {"DATA", 'D', 8, 0}, {"KWOTA", 'N', 10, 2}, {"AKTYWNY", 'L', 1, 0}};
}

// A table of persons with a tag of each kind: plain, conditional, expression, descending,
// unique and RECNO(), its index in blocks of `pagesPerBlock` pages.
void CreatePersons(const std::string& directory, std::size_t pagesPerBlock = 2)
{
    engine::CreateTable(directory, "osoby.dbf", PersonFields(),
                        {{"NAZWA", "NAZWA", false, false, ""},
                         {"ZYWE", "UPPER(NAZWA)", false, false, ".NOT. DELETED()"},
                         {"KOD_A", "NR", false, false, "KOD = \"A\""},
                         {"WYRAZ", "DTOS(DATA)+STR(NR,6)+IIF(AKTYWNY,\"T\",\"N\")", false, false, ""},
                         {"KW_DESC", "KWOTA", true, false, "KWOTA < 0 .AND. AKTYWNY"},
                         {"NR_UNIK", "NR", false, true, "KOD # \"X\""},
                         {"NUMER", "RECNO()", false, false, ""}},
                        0x23, pagesPerBlock);
}

const char* const kPersonTags[] = {"NAZWA", "ZYWE", "KOD_A", "WYRAZ", "KW_DESC", "NR_UNIK", "NUMER"};

void AddPerson(engine::Table& t, int nr, const std::string& name, const std::string& code,
               const std::string& date, const std::string& amount, bool active)
{
    t.Append();
    t.FieldByName("NR").SetInteger(nr);
    t.FieldByName("NAZWA").SetString(name);
    t.FieldByName("KOD").SetString(code);
    t.FieldByName("DATA").SetString(date);
    t.FieldByName("KWOTA").SetString(amount);
    t.FieldByName("AKTYWNY").SetString(active ? "T" : "F");
    t.Post();
}

// Random appends (half the steps), edits, deletions and recalls of the persons table, the same
// for the same seed. Returns the rows left deleted.
std::set<std::uint32_t> RandomPosts(engine::Table& t, unsigned seed, int steps)
{
    std::mt19937 random(seed);
    auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    static const char* const kCodes[] = {"A", "B", "X", " "};
    static const char* const kNames[] = {"Nowak", "nowak", "Żółw", "Kowal", "", "Ąbc"};
    std::set<std::uint32_t> deleted;
    for (int step = 0; step < steps; ++step) {
        const int what = pick(0, 9);
        const std::uint32_t count = static_cast<std::uint32_t>(t.RecordCount());
        if (what < 5 || count == 0) {
            AddPerson(t, pick(-50, 50), kNames[pick(0, 5)], kCodes[pick(0, 3)],
                      pick(0, 3) ? "20" + std::to_string(10 + pick(0, 14)) + ".0" +
                                       std::to_string(pick(1, 9)) + ".1" + std::to_string(pick(0, 9))
                                 : "",
                      std::to_string(pick(-99, 99)) + ".5", pick(0, 1) == 1);
            continue;
        }
        const auto r = static_cast<std::uint32_t>(pick(1, static_cast<int>(count)));
        t.MoveTo(r);
        if (what == 8) {
            t.Delete();
            deleted.insert(r);
        } else if (what == 9) {
            t.Recall();
            deleted.erase(r);
        } else {
            t.Edit();
            if (pick(0, 1))
                t.FieldByName("KOD").SetString(kCodes[pick(0, 3)]);
            if (pick(0, 1))
                t.FieldByName("NR").SetInteger(pick(-50, 50));
            if (pick(0, 1))
                t.FieldByName("AKTYWNY").SetString(pick(0, 1) ? "T" : "F");
            if (pick(0, 1))
                t.FieldByName("KWOTA").SetString(std::to_string(pick(-99, 99)));
            t.Post();
        }
    }
    return deleted;
}

class ConditionalTags : public ::testing::Test
{
protected:
    void SetUp() override { CreatePersons(dir.Path()); }

    // The record numbers of a tag, in its order.
    std::vector<std::uint32_t> Walked(const std::string& tag)
    {
        return Records(EngineWalk(dir.File("osoby.mdx"), tag));
    }

    void Add(engine::Table& t, int nr, const std::string& name, const std::string& code,
             const std::string& date, const std::string& amount, bool active)
    {
        AddPerson(t, nr, name, code, date, amount, active);
    }

    TempDir dir;
};

TEST_F(ConditionalTags, RowsEnterStayMoveAndLeaveAsTheirValuesSay)
{
    engine::Table t(dir.Path(), "osoby.dbf");
    t.Open();
    Add(t, 5, "Nowak", "A", "2024.01.10", "-10.00", true);
    Add(t, 3, "Kowal", "B", "2023.05.01", "20.00", true);
    Add(t, 9, "Zając", "A", "", "-5.50", false);
    EXPECT_EQ(Walked("KOD_A"), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(Walked("KW_DESC"), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(Walked("ZYWE"), (std::vector<std::uint32_t>{2, 1, 3}));
    EXPECT_EQ(Walked("NUMER"), (std::vector<std::uint32_t>{1, 2, 3})) << "RECNO() of an appended row";
    EXPECT_EQ(Walked("WYRAZ"), (std::vector<std::uint32_t>{3, 2, 1})) << "a blank date's DTOS sorts first";

    // Row 2 enters KOD_A; row 1 stays and moves (NR 5 -> 1); row 3 leaves.
    t.MoveTo(2);
    t.Edit();
    t.FieldByName("KOD").SetString("A");
    t.Post();
    t.MoveTo(1);
    t.Edit();
    t.FieldByName("NR").SetInteger(1);
    t.Post();
    t.MoveTo(3);
    t.Edit();
    t.FieldByName("KOD").SetString("C");
    t.Post();
    EXPECT_EQ(Walked("KOD_A"), (std::vector<std::uint32_t>{1, 2}));
    // The amount of row 3 goes below row 1's, and row 3 turns active: it enters KW_DESC after it.
    t.MoveTo(3);
    t.Edit();
    t.FieldByName("AKTYWNY").SetString("T");
    t.FieldByName("KWOTA").SetString("-50");
    t.Post();
    EXPECT_EQ(Walked("KW_DESC"), (std::vector<std::uint32_t>{1, 3})) << "descending: -10 before -50";
    // A deleted row leaves the tag whose FOR asks DELETED(), and comes back when recalled.
    t.MoveTo(1);
    t.Delete();
    EXPECT_EQ(Walked("ZYWE"), (std::vector<std::uint32_t>{2, 3}));
    EXPECT_EQ(Walked("NAZWA"), (std::vector<std::uint32_t>{2, 1, 3})) << "other tags keep deleted rows";
    t.Recall();
    EXPECT_EQ(Walked("ZYWE"), (std::vector<std::uint32_t>{2, 1, 3}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});

    // A unique conditional tag: the first row of each key among those in the clause.
    Add(t, 3, "Inny", "X", "2020.01.01", "0", false); // NR 3 again, outside the clause
    Add(t, 3, "Drugi", "B", "2020.01.01", "0", false);
    EXPECT_EQ(Walked("NR_UNIK"), (std::vector<std::uint32_t>{1, 2, 3}));
    t.MoveTo(2); // the row holding NR 3 leaves: the next one in the clause (5, not 4) takes its place
    t.Edit();
    t.FieldByName("NR").SetInteger(7);
    t.Post();
    EXPECT_EQ(Walked("NR_UNIK"), (std::vector<std::uint32_t>{1, 5, 2, 3}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

// What a rollback takes back, the table forgets: a row brought into a tag and taken out again by
// the rollback comes in again, and one taken out and given back by it leaves again.
TEST_F(ConditionalTags, ARowARollbackTookBackEntersAndLeavesAgain)
{
    {
        engine::Table t(dir.Path(), "osoby.dbf");
        t.Open();
        Add(t, 1, "Nowak", "B", "", "0", true);
        Add(t, 2, "Kowal", "A", "", "0", true);
    }
    const auto setCode = [](engine::Table& t, std::uint32_t row, const char* code) {
        t.MoveTo(row);
        t.Edit();
        t.FieldByName("KOD").SetString(code);
        t.Post();
    };
    engine::Transaction transaction(dir.Path());
    engine::Table t(dir.Path(), "osoby.dbf");
    t.SetTransaction(&transaction);
    t.Open();
    setCode(t, 1, "A"); // in
    setCode(t, 2, "B"); // out
    transaction.RollBack();
    EXPECT_EQ(Walked("KOD_A"), (std::vector<std::uint32_t>{2}));
    setCode(t, 1, "A");
    setCode(t, 2, "C");
    transaction.Commit();
    EXPECT_EQ(Walked("KOD_A"), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

TEST_F(ConditionalTags, ARebuildAndTheCheckKeepToTheClauses)
{
    {
        engine::Table t(dir.Path(), "osoby.dbf");
        t.Open();
        for (int i = 0; i < 60; ++i)
            Add(t, i % 17, "N" + std::to_string(i), i % 3 ? "A" : "B", i % 5 ? "2024.03.01" : "",
                std::to_string(i % 7 - 3), i % 2 == 0);
        t.MoveTo(4);
        t.Delete();
    }
    std::map<std::string, std::vector<std::uint32_t>> before;
    for (const char* tag : kPersonTags)
        before[tag] = Walked(tag);
    EXPECT_EQ(before["KOD_A"].size(), 40u);
    engine::Table t(dir.Path(), "osoby.dbf");
    t.SetExclusive(true);
    t.Open();
    t.Reindex();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Close(); // the walks below open the files again (Windows keeps others out of an exclusive open)
    for (const char* tag : kPersonTags) // the rebuilt trees hold what the posts had made, in order
        EXPECT_EQ(Walked(tag), before[tag]) << tag;
    EXPECT_EQ(Walked("ZYWE").size(), 59u) << "the deleted row stays out";
#ifndef _WIN32 // Perl XBase reads the rebuilt conditional trees alike
    for (const char* tag : {"ZYWE", "KOD_A", "KW_DESC", "NR_UNIK"})
        EXPECT_EQ(PerlWalk(dir.File("osoby.mdx"), tag), Walked(tag)) << tag;
#endif
}

// Thousands of random appends, edits, deletions and recalls: every tag holds exactly the rows its
// clause admits with the keys the engine computes (the engine's check), and Perl XBase, which
// knows nothing of the clauses, walks the same entries.
TEST_F(ConditionalTags, ThousandsOfRandomPostsLeaveEveryTagSound)
{
    engine::Table t(dir.Path(), "osoby.dbf");
    t.Open();
    const std::set<std::uint32_t> deleted = RandomPosts(t, 5, 3000);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    const auto all = static_cast<std::size_t>(t.RecordCount());
    t.Close();
    EXPECT_EQ(Walked("NAZWA").size(), all);
    EXPECT_EQ(Walked("ZYWE").size(), all - deleted.size());
#ifndef _WIN32
    for (const char* tag : kPersonTags)
        EXPECT_EQ(PerlWalk(dir.File("osoby.mdx"), tag), Walked(tag)) << tag;
#endif
}

// A unique tag holds the first row of each key; when that row leaves its key, the next row with
// the key takes its place. The engine remembers the rows by key while nobody else can change the
// table, so the same random posts must leave the same sound tags in an exclusive open, in a shared
// open in a transaction that commits and rolls back, and with two opens of the table in one
// transaction taking turns (each then changes rows the other has seen).
TEST_F(ConditionalTags, AUniqueTagHandsItsKeysOnInEveryKindOfOpen)
{
    const auto expectSound = [&](engine::Table& t, const std::string& when) {
        const std::vector<std::string> problems = t.Verify();
        EXPECT_EQ(problems, std::vector<std::string>{}) << when;
        return problems.empty();
    };
    {
        engine::Table t(dir.Path(), "osoby.dbf");
        t.SetExclusive(true);
        t.Open();
        RandomPosts(t, 11, 2500);
        expectSound(t, "an exclusive open");
    }
    {
        engine::Transaction transaction(dir.Path());
        transaction.SetSoleWriter(true);
        engine::Table t(dir.Path(), "osoby.dbf");
        t.SetTransaction(&transaction);
        t.Open();
        for (unsigned batch = 0; batch < 12; ++batch) {
            RandomPosts(t, 100 + batch, 150);
            if (!expectSound(t, "in a transaction, batch " + std::to_string(batch)))
                break;
            if (batch % 4 == 3)
                transaction.RollBack();
            else
                transaction.Commit();
        }
        expectSound(t, "in a transaction, at the end");
    }
    {
        engine::Transaction transaction(dir.Path());
        engine::Table first(dir.Path(), "osoby.dbf"), second(dir.Path(), "osoby.dbf");
        first.SetTransaction(&transaction);
        second.SetTransaction(&transaction);
        first.Open();
        second.Open();
        for (unsigned turn = 0; turn < 40; ++turn)
            RandomPosts(turn % 2 == 0 ? first : second, 200 + turn, 40);
        expectSound(first, "two opens taking turns");
        transaction.Commit();
    }
    engine::Table t(dir.Path(), "osoby.dbf");
    t.Open();
    expectSound(t, "after the last commit");
#ifndef _WIN32
    t.Close();
    EXPECT_EQ(PerlWalk(dir.File("osoby.mdx"), "NR_UNIK"), Walked("NR_UNIK"));
#endif
}

// The record numbers of a tag read straight from the file's bytes, as a reader that knows only
// the layout would: the tag table, the tag header, and the tree from its root, a block being as
// many pages as the file header says.
std::vector<std::uint32_t> LayoutWalk(const std::string& mdx, const std::string& tag)
{
    const std::size_t block = GetLe(mdx, 20, 2) * 512;
    std::uint32_t header = 0;
    for (std::size_t i = 0; i < GetLe(mdx, 28, 2); ++i)
        if (mdx.compare(544 + 32 * i + 4, tag.size() + 1, tag + '\0') == 0)
            header = GetLe(mdx, 544 + 32 * i);
    EXPECT_NE(header, 0u) << tag;
    const std::size_t item = GetLe(mdx, header * 512 + 18, 2);
    std::vector<std::uint32_t> records;
    std::function<void(std::uint32_t, int)> walk = [&](std::uint32_t page, int depth) {
        const std::size_t at = std::size_t{page} * 512;
        if (depth > 10 || at + block > mdx.size()) {
            ADD_FAILURE() << tag << ": block " << page << " outside the file or a tree too deep";
            return;
        }
        const std::size_t n = GetLe(mdx, at);
        if (8 + n * item + 4 > block) {
            ADD_FAILURE() << tag << ": block " << page << " claims " << n << " keys";
            return;
        }
        const bool leaf = GetLe(mdx, at + 8 + n * item) == 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t pointer = GetLe(mdx, at + 8 + i * item);
            if (leaf)
                records.push_back(pointer);
            else
                walk(pointer, depth + 1);
        }
        if (!leaf)
            walk(GetLe(mdx, at + 8 + n * item), depth + 1);
    };
    walk(GetLe(mdx, header * 512), 0);
    return records;
}

// dBase makes an index of blocks of 2 to 63 pages as its block size setting says. Whatever the
// block size, every post keeps every tag as it does with the usual 1,024-byte blocks: the trees
// read by their layout alone hold the same entries in the same order, and a rebuild keeps the
// file's block size.
class IndexBlockSize : public ::testing::TestWithParam<std::size_t>
{};

TEST_P(IndexBlockSize, TagsHoldWhatTheyHoldWithTheUsualBlocks)
{
    const std::size_t pages = GetParam();
    TempDir usual, other;
    CreatePersons(usual.Path());
    CreatePersons(other.Path(), pages);
    // Enough rows to split the leaves of the largest blocks and grow the smallest trees three deep.
    const int steps = pages > 8 ? 9000 : 3000;
    for (const TempDir* dir : {&usual, &other}) {
        engine::Table t(dir->Path(), "osoby.dbf");
        t.Open();
        RandomPosts(t, 11, steps);
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    std::string mdx = ReadFileBytes(other.File("osoby.mdx"));
    EXPECT_EQ(GetLe(mdx, 20, 2), pages);
    EXPECT_EQ(GetLe(mdx, 22, 2), pages * 512);
    EXPECT_EQ(GetLe(mdx, 32), mdx.size() / 512) << "the next free page is the file's end";
    const std::string usualMdx = ReadFileBytes(usual.File("osoby.mdx"));
    for (const char* tag : kPersonTags) {
        EXPECT_EQ(EngineWalk(other.File("osoby.mdx"), tag), EngineWalk(usual.File("osoby.mdx"), tag)) << tag;
        EXPECT_EQ(LayoutWalk(mdx, tag), Records(EngineWalk(other.File("osoby.mdx"), tag))) << tag;
        EXPECT_EQ(LayoutWalk(usualMdx, tag), Records(EngineWalk(usual.File("osoby.mdx"), tag))) << tag;
    }
    {
        engine::Table t(other.Path(), "osoby.dbf");
        t.SetExclusive(true);
        t.Open();
        t.Reindex();
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    mdx = ReadFileBytes(other.File("osoby.mdx"));
    EXPECT_EQ(GetLe(mdx, 20, 2), pages) << "a rebuild keeps the file's block size";
    for (const char* tag : kPersonTags)
        EXPECT_EQ(LayoutWalk(mdx, tag), Records(EngineWalk(usual.File("osoby.mdx"), tag))) << tag;
}

INSTANTIATE_TEST_SUITE_P(Pages, IndexBlockSize, ::testing::Values(3, 8, 63));

TEST(IndexBlockSizeLimits, BlockSizesDBaseNeverMakesAreRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    for (const std::size_t pages : {std::size_t{1}, std::size_t{64}}) {
        EXPECT_THROW(CreatePersons(dir.Path(), pages), engine::Error) << pages;
        EXPECT_FALSE(std::filesystem::exists(dir.File("osoby.dbf"))) << pages;
    }
}

TEST_F(ConditionalTags, AKeyThatCannotBeFormedStoresNothing)
{
    engine::CreateTable(dir.Path(), "dzielenie.dbf", {{"A", 'N', 5, 0}, {"B", 'N', 5, 0}},
                        {{"ILORAZ", "A/B", false, false, ""}}, 0x23);
    engine::Table t(dir.Path(), "dzielenie.dbf");
    t.Open();
    t.Append();
    t.FieldByName("A").SetInteger(6);
    t.FieldByName("B").SetInteger(0);
    try {
        t.Post();
        ADD_FAILURE() << "a division by zero was stored";
    } catch (const engine::Error& e) {
        EXPECT_NE(std::string(e.what()).find("znacznik ILORAZ"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("dzielenie przez zero"), std::string::npos) << e.what();
    }
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

// Clauses that ask whether a value is there: a numeric field holding 0 is in a tag "FOR .NOT.
// ISBLANK(...)" and out of one "FOR .NOT. EMPTY(...)"; a row moves in and out as its fields are
// filled and cleared.
TEST_F(ConditionalTags, ClausesOnBlankAndEmptyFieldsFollowTheirRows)
{
    engine::CreateTable(dir.Path(), "wplaty.dbf",
                        {{"NR", 'N', 4, 0}, {"KWOTA", 'N', 8, 2}, {"DATA", 'D', 8, 0}, {"OPIS", 'C', 6, 0}},
                        {{"PODANE", "NR", false, false, ".NOT. ISBLANK(KWOTA)"},
                         {"NIEZEROWE", "NR", false, false, ".NOT. EMPTY(KWOTA) .AND. .NOT. ISBLANK(DATA)"},
                         {"OPISANE", "IIF(EMPTY(OPIS), \"z\", OPIS)", false, false, ""}},
                        0x23);
    engine::Table t(dir.Path(), "wplaty.dbf");
    t.Open();
    auto add = [&](int nr, const std::string& amount, const std::string& date, const std::string& text) {
        t.Append();
        t.FieldByName("NR").SetInteger(nr);
        t.FieldByName("KWOTA").SetString(amount);
        t.FieldByName("DATA").SetString(date);
        t.FieldByName("OPIS").SetString(text);
        t.Post();
    };
    add(1, "", "2024.03.01", "");
    add(2, "0", "2024.03.02", "b");
    add(3, "12.50", "", "a");
    add(4, "7", "2024.03.04", "");
    auto walked = [&](const std::string& tag) { return Records(EngineWalk(dir.File("wplaty.mdx"), tag)); };
    EXPECT_EQ(walked("PODANE"), (std::vector<std::uint32_t>{2, 3, 4})) << "0 is a value, blank is not";
    EXPECT_EQ(walked("NIEZEROWE"), (std::vector<std::uint32_t>{4}));
    EXPECT_EQ(walked("OPISANE"), (std::vector<std::uint32_t>{3, 2, 1, 4})) << "a, b, then z for the empty";

    // Row 1 gets an amount and enters both; row 4 loses its amount and leaves both.
    t.MoveTo(1);
    t.Edit();
    t.FieldByName("KWOTA").SetString("3");
    t.Post();
    t.MoveTo(4);
    t.Edit();
    t.FieldByName("KWOTA").Clear();
    t.FieldByName("OPIS").SetString("c");
    t.Post();
    EXPECT_EQ(walked("PODANE"), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(walked("NIEZEROWE"), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(walked("OPISANE"), (std::vector<std::uint32_t>{3, 2, 4, 1}));
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Close();
    engine::Table sole(dir.Path(), "wplaty.dbf");
    sole.SetExclusive(true);
    sole.Open();
    sole.Reindex();
    EXPECT_EQ(sole.Verify(), std::vector<std::string>{});
    sole.Close();
    EXPECT_EQ(walked("PODANE"), (std::vector<std::uint32_t>{1, 2, 3})) << "a rebuild keeps to the clause";
    EXPECT_EQ(walked("NIEZEROWE"), (std::vector<std::uint32_t>{1}));
}

// A record another program left with a value no key can be formed of: the check names the record
// and the tag, and goes on with the table's other tags.
TEST_F(ConditionalTags, TheCheckNamesARecordWhoseKeyCannotBeFormedAndGoesOn)
{
    engine::CreateTable(dir.Path(), "dzielenie.dbf",
                        {{"A", 'N', 5, 0}, {"B", 'N', 5, 0}, {"OPIS", 'C', 4, 0}},
                        {{"ILORAZ", "A/B", false, false, ""},
                         {"OPISANE", "A", false, false, ".NOT. EMPTY(OPIS)"},
                         {"PROSTY", "A", false, false, ""}},
                        0x23);
    {
        engine::Table t(dir.Path(), "dzielenie.dbf");
        t.Open();
        for (const auto& [a, b] : {std::pair{6, 2}, std::pair{8, 4}}) {
            t.Append();
            t.FieldByName("A").SetInteger(a);
            t.FieldByName("B").SetInteger(b);
            t.FieldByName("OPIS").SetString("ab");
            t.Post();
        }
    }
    // Record 1's A becomes 7; record 2's B becomes 0 and its OPIS a tab.
    std::string bytes = ReadFileBytes(dir.File("dzielenie.dbf"));
    const std::size_t first = GetLe(bytes, 8, 2);
    bytes.replace(first + 1, 5, "    7");
    bytes.replace(first + 15 + 6, 5, "    0");
    bytes.replace(first + 15 + 11, 4, "\t   ");
    WriteFileBytes(dir.File("dzielenie.dbf"), bytes);

    engine::Table t(dir.Path(), "dzielenie.dbf");
    t.Open();
    const std::vector<std::string> problems = t.Verify();
    ASSERT_EQ(problems.size(), 3u) << ::testing::PrintToString(problems);
    EXPECT_NE(problems[0].find("znacznik ILORAZ"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("dzielenie przez zero (rekord 2)"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("znacznik OPISANE"), std::string::npos) << problems[1];
    EXPECT_NE(problems[1].find("EMPTY()"), std::string::npos) << problems[1];
    EXPECT_NE(problems[1].find("(rekord 2)"), std::string::npos) << problems[1];
    EXPECT_NE(problems[2].find("znacznik PROSTY: klucz rekordu 1 nie zgadza się"), std::string::npos)
        << problems[2];
}

// The check shows five mismatches of a tag and counts the rest, in the Polish plural form the count
// takes.
TEST_F(ConditionalTags, TheCheckCountsMismatchesPastTheFifthInPolish)
{
    const std::pair<int, const char*> cases[] = {{6, "oraz 1 dalsza niezgodność"},
                                                 {9, "oraz 4 dalsze niezgodności"},
                                                 {10, "oraz 5 dalszych niezgodności"},
                                                 {17, "oraz 12 dalszych niezgodności"},
                                                 {27, "oraz 22 dalsze niezgodności"}};
    for (const auto& [changed, told] : cases) {
        const std::string name = "liczby" + std::to_string(changed) + ".dbf";
        engine::CreateTable(dir.Path(), name, {{"A", 'N', 5, 0}}, {{"A", "A", false, false, ""}}, 0x23);
        {
            engine::Table t(dir.Path(), name);
            t.Open();
            for (int i = 0; i < changed; ++i) {
                t.Append();
                t.FieldByName("A").SetInteger(i);
                t.Post();
            }
        }
        // Every record's value changes behind the index's back.
        std::string bytes = ReadFileBytes(dir.File(name));
        const std::size_t first = GetLe(bytes, 8, 2);
        for (int i = 0; i < changed; ++i)
            bytes.replace(first + static_cast<std::size_t>(i) * 6 + 1, 5, "99999");
        WriteFileBytes(dir.File(name), bytes);

        engine::Table t(dir.Path(), name);
        t.Open();
        const std::vector<std::string> problems = t.Verify();
        ASSERT_EQ(problems.size(), 6u) << ::testing::PrintToString(problems);
        EXPECT_NE(problems[0].find("klucz rekordu 1 nie zgadza się"), std::string::npos) << problems[0];
        EXPECT_NE(problems[5].find("znacznik A: "), std::string::npos) << problems[5];
        EXPECT_EQ(problems[5].substr(problems[5].size() - std::string(told).size()), told) << problems[5];
    }
}

// dBase level 5 tables may carry binary (B) and OLE (G) fields beside memo fields: they open, their
// block numbers stay as they are through edits, and nothing writes them. Other levels and
// unknown types are refused before anything is written.
TEST(TableLevels, BinaryAndOleFieldsAreCarriedOtherLevelsRefused)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "mapy.dbf", {{"NR", 'N', 4, 0}, {"OPIS", 'C', 10, 0}}, {{"NR", "NR"}},
                        0x23);
    // Two more fields, as dBase 5 writes them: B and G, 10 bytes of block number each.
    std::string bytes = ReadFileBytes(dir.File("mapy.dbf"));
    auto field = [](const char* name, char type) {
        std::string d(32, '\0');
        std::copy(name, name + std::strlen(name), d.begin());
        d[11] = type;
        d[16] = 10;
        return d;
    };
    const std::size_t headerEnd = 32 + 2 * 32;
    bytes.insert(headerEnd, field("SKAN", 'B') + field("OBRAZ", 'G'));
    bytes[0] = static_cast<char>(0x8B);
    const std::size_t header = headerEnd + 64 + 1, length = 1 + 4 + 10 + 20;
    bytes[8] = static_cast<char>(header & 0xFF);
    bytes[9] = static_cast<char>(header >> 8);
    bytes[10] = static_cast<char>(length);
    bytes.resize(header);
    bytes += std::string(" ") + "   1" + "Mapa      " + "         7" + "        12" + "\x1A";
    bytes[4] = 1;
    WriteFileBytes(dir.File("mapy.dbf"), bytes);
    {
        engine::Table t(dir.Path(), "mapy.dbf");
        t.SetExclusive(true);
        t.Open();
        t.Reindex(); // the row was written beside the engine: its tag learns it
        EXPECT_EQ(t.FieldByName("SKAN").Type(), 'B');
        EXPECT_EQ(t.FieldByName("OBRAZ").AsString(), "12");
        t.Edit();
        EXPECT_THROW(t.FieldByName("SKAN").SetString("1"), engine::Error);
        t.FieldByName("OPIS").SetString("Plan");
        t.Post();
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    const std::string after = ReadFileBytes(dir.File("mapy.dbf"));
    EXPECT_EQ(after.substr(header + 15, 20), "         7        12") << "block numbers untouched";
    EXPECT_EQ(after.substr(header + 5, 10), "Plan      ");

    // dBase 7, an unknown field type and a table dBase encrypted (its records would read as noise
    // and rows written plain would be noise to dBase): refused with a plain reason, the file unchanged.
    for (const auto& [byte, offset, value, words] :
         {std::tuple<const char*, std::size_t, char, const char*>{"version", 0, '\x04', "dBase 7"},
          {"type", 32 + 64 + 11, 'Q', "nieobsługiwany typ 'Q'"},
          {"encryption", 15, '\x01', "zaszyfrowana"}}) {
        SCOPED_TRACE(byte);
        std::string changed = after;
        changed[offset] = value;
        WriteFileBytes(dir.File("mapy.dbf"), changed);
        engine::Table t(dir.Path(), "mapy.dbf");
        try {
            t.Open();
            ADD_FAILURE() << "opened";
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadTable);
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadFileBytes(dir.File("mapy.dbf")), changed);
    }
}

// dBase 5 allows 1,024 fields a table (dBase IV 255): such a table opens, takes rows and reads
// them back; one more field is refused.
TEST(TableLevels, ATableOfAThousandAndTwentyFourFieldsIsKept)
{
    TempDir dir;
    std::vector<engine::FieldDefinition> fields;
    for (int i = 0; i < 1024; ++i)
        fields.push_back({"P" + std::to_string(i), i % 2 ? 'N' : 'C', 3, 0});
    engine::CreateTable(dir.Path(), "szeroka.dbf", fields, {{"OSTATNIE", "P1022+STR(P1023,3)"}}, 0x23);
    {
        engine::Table t(dir.Path(), "szeroka.dbf");
        t.Open();
        for (int row = 0; row < 3; ++row) {
            t.Append();
            t.FieldByName("P1022").SetString("r" + std::to_string(row));
            t.FieldByName("P1023").SetInteger(100 - row);
            t.FieldByName("P0").SetString("a");
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    }
    engine::Table t(dir.Path(), "szeroka.dbf");
    t.SetIndexName("OSTATNIE");
    t.Open();
    std::vector<std::string> read;
    for (t.First(); !t.Eof(); t.Next())
        read.push_back(t.FieldByName("P0").AsString() + t.FieldByName("P1022").AsString() +
                       std::to_string(t.FieldByName("P1023").AsInteger()));
    EXPECT_EQ(read, (std::vector<std::string>{"ar0100", "ar199", "ar298"}));
    t.Close();

    fields.push_back({"ZA_DUZO", 'C', 1, 0});
    EXPECT_THROW(engine::CreateTable(dir.Path(), "szersza.dbf", fields, {}, 0x23), engine::Error);
}

TEST(TableLevels, AnEditStampsTheTablesDate)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "t.dbf", {{"A", 'C', 4, 0}}, {});
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.Open();
        t.Append();
        t.FieldByName("A").SetString("x");
        t.Post();
    }
    std::string bytes = ReadFileBytes(dir.File("t.dbf"));
    bytes[1] = 99; // 1999-01-01
    bytes[2] = 1;
    bytes[3] = 1;
    WriteFileBytes(dir.File("t.dbf"), bytes);
    const platform::LocalDate before = platform::Today();
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.Open();
        t.Edit();
        t.FieldByName("A").SetString("y");
        t.Post();
    }
    const platform::LocalDate after = platform::Today(); // the edit may fall either side of midnight
    bytes = ReadFileBytes(dir.File("t.dbf"));
    const auto stamped = [&](const platform::LocalDate& day) {
        return static_cast<unsigned char>(bytes[1]) == day.year - 1900 &&
               static_cast<unsigned char>(bytes[2]) == day.month &&
               static_cast<unsigned char>(bytes[3]) == day.day;
    };
    EXPECT_TRUE(stamped(before) || stamped(after))
        << int(static_cast<unsigned char>(bytes[1])) << "-" << int(static_cast<unsigned char>(bytes[2]))
        << "-" << int(static_cast<unsigned char>(bytes[3]));
}

// An index holds up to 47 tags, as many as its header has room for. A table with all 47, of every
// kind the language allows, keeps each one through random posts, and Perl XBase walks them alike.
TEST(TagLimits, FortySevenTagsOfEveryKindAreAllKept)
{
    TempDir dir;
    const char* const keys[] = {"NAZWA",
                                "UPPER(NAZWA)",
                                "NR",
                                "KWOTA",
                                "DATA",
                                "DTOS(DATA)+STR(NR,6)",
                                "KOD+NAZWA",
                                "STR(KWOTA,10,2)+KOD",
                                "IIF(AKTYWNY,\"T\",\"N\")+NAZWA",
                                "RECNO()",
                                "NR*2-KWOTA",
                                "SUBSTR(NAZWA,2,3)"};
    const char* const clauses[] = {"", ".NOT. DELETED()", "KOD = \"A\"", "KWOTA > 0"};
    std::vector<engine::TagDefinitionByExpression> tags;
    for (std::size_t i = 0; i < engine::kMdxMaxTags; ++i)
        tags.push_back(
            {"T" + std::to_string(i + 1), keys[i % 12], i % 5 == 3, i % 7 == 4, clauses[(i / 12) % 4]});
    engine::CreateTable(dir.Path(), "osoby.dbf", PersonFields(), tags, 0x23);
    engine::Table t(dir.Path(), "osoby.dbf");
    t.Open();
    RandomPosts(t, 9, 1200);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    const auto rows = static_cast<std::size_t>(t.RecordCount());
    t.Close();
    const std::vector<engine::TagDescription> described = engine::DescribeTags(dir.Path(), "osoby.dbf");
    ASSERT_EQ(described.size(), engine::kMdxMaxTags);
    for (std::size_t i = 0; i < engine::kMdxMaxTags; ++i) {
        SCOPED_TRACE(tags[i].name);
        EXPECT_EQ(described[i].name, tags[i].name);
        EXPECT_EQ(described[i].expression, tags[i].expression);
        EXPECT_EQ(described[i].forExpression, tags[i].forExpression);
        EXPECT_TRUE(described[i].maintained) << described[i].problem;
        const std::vector<std::uint32_t> walked = Records(EngineWalk(dir.File("osoby.mdx"), tags[i].name));
        if (tags[i].forExpression.empty() && !tags[i].unique) {
            EXPECT_EQ(walked.size(), rows);
        }
#ifndef _WIN32
        EXPECT_EQ(PerlWalk(dir.File("osoby.mdx"), tags[i].name), walked);
#endif
    }
}

// What an index cannot hold is refused before any file is made: a 48th tag, a tag name dBase does
// not allow or one given twice, an expression or FOR clause longer than the 220 characters a tag
// header keeps (it would be cut short into another expression). One of 220 characters is kept whole.
TEST(TagLimits, TagsTheIndexCannotHoldAreRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    const std::vector<engine::FieldDefinition> fields{{"A", 'C', 4, 0}};
    const auto refused = [&](const std::vector<engine::TagDefinitionByExpression>& tags,
                             const std::string& why) {
        try {
            engine::CreateTable(dir.Path(), "t.dbf", fields, tags, 0x23);
            ADD_FAILURE() << "accepted: " << why;
        } catch (const engine::Error& e) {
            EXPECT_NE(std::string(e.what()).find("t.dbf"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("t.dbf"))) << why;
        EXPECT_FALSE(std::filesystem::exists(dir.File("t.mdx"))) << why;
    };
    std::vector<engine::TagDefinitionByExpression> many;
    for (std::size_t i = 0; i <= engine::kMdxMaxTags; ++i)
        many.push_back({"T" + std::to_string(i), "A"});
    refused(many, "48 tags");
    refused({{"DLUGANAZWA1", "A"}}, "a name of 11 characters");
    refused({{"", "A"}}, "no name");
    refused({{"1A", "A"}}, "a name starting with a digit");
    refused({{"A-B", "A"}}, "a name with a hyphen");
    refused({{"\xAF\xF3\xB3w", "A"}}, "a name with Polish letters");
    refused({{"KLUCZ", "A"}, {"klucz", "UPPER(A)"}}, "a name given twice");
    refused({{"KLUCZ", "A" + std::string(220, ' ')}}, "an expression of 221 characters");
    refused({{"KLUCZ", "A", false, false, "A = \"x\"" + std::string(214, ' ')}},
            "a clause of 221 characters");

    const std::string longest = "A" + std::string(219, ' ');
    const std::string longestClause = "A # \"x\"" + std::string(213, ' ');
    many.pop_back();
    many.back() = {"KLUCZ_47", longest, false, false, longestClause};
    engine::CreateTable(dir.Path(), "t.dbf", fields, many, 0x23);
    const std::vector<engine::TagDescription> described = engine::DescribeTags(dir.Path(), "t.dbf");
    ASSERT_EQ(described.size(), engine::kMdxMaxTags);
    EXPECT_EQ(described.back().name, "KLUCZ_47");
    EXPECT_EQ(described.back().expression, longest);
    EXPECT_EQ(described.back().forExpression, longestClause);
    EXPECT_TRUE(described.back().maintained) << described.back().problem;
}

} // namespace
