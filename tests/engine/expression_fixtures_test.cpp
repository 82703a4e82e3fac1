// Tables whose production indexes an independent xBase library wrote with key expressions, FOR
// clauses, numeric and date keys, descending and unique tags (tests/data/mdx-expr): the engine
// opens each, finds every key it would compute in the tag as stored, then applies the same edits
// the library applied and ends with the library's walks after them.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/keys.h"
#include "engine/table.h"
#include "tests/engine/support.h"
#include "tests/support/test_files.h"

namespace fs = std::filesystem;

namespace {

using namespace enginetest;

struct FixtureTable
{
    const char* name;
    std::vector<const char*> tags;
};

const FixtureTable kTables[] = {
    {"WARUNKI",
     {"NAZ_ROK", "NAZWA_ND", "NR_FLAG", "DTOS_KOD", "ANDOR", "KW_NEG", "DATA_DF", "NR_DEL", "IMIE_NF",
      "NAZWISKO"}},
    {"WYRAZY",
     {"DTOS_NRS", "STR_NAZ", "SUB_LEFT", "IIF_KOD", "UPNAZ_IM", "LOW_MIA", "NAZ_IM", "VAL_KOD", "NR_ARYT",
      "ROK_DATY", "DTOC_D", "CTOD_C", "DESC_NAZ", "STR_ILO"}},
    {"LICZBY",
     {"KWOTA", "KWOTA_D", "ILOSC", "ILOSC_U", "TEMP", "DATA", "DATA_D", "DATA_U", "KOD_U", "KOD_UD", "OPIS_D",
      "ID"}},
    {"NOTATKI", {"TYTUL_U", "ID", "DATA", "ID_AKT"}},
};

std::string Fixture(const std::string& name)
{
    return DataPath("mdx-expr/" + name);
}

// A copy of a table of the first state (with its index and memo file) in `dir`.
void CopyFirstState(const std::string& table, const std::string& dir)
{
    for (const char* ext : {".DBF", ".MDX", ".DBT"}) {
        const std::string from = Fixture(table + ext);
        if (fs::exists(from)) {
            fs::copy_file(from, dir + "/" + table + ext, fs::copy_options::overwrite_existing);
            fs::permissions(dir + "/" + table + ext, fs::perms::owner_write, fs::perm_options::add);
        }
    }
}

// Two walks are the same: the same records in the same order, with keys of the same value
// (numeric keys by value: writers count the digits of their BCD differently).
std::string WalkDifference(const Walk& got, const Walk& expected, char keyType)
{
    if (got.size() != expected.size())
        return std::to_string(got.size()) + " entries, expected " + std::to_string(expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (got[i].first != expected[i].first)
            return "entry " + std::to_string(i) + ": record " + std::to_string(got[i].first) + ", expected " +
                   std::to_string(expected[i].first);
        if (got[i].second == expected[i].second)
            continue;
        if (keyType == 'N' && engine::CompareNumericKeys(test_support::HexToBytes(got[i].second),
                                                         test_support::HexToBytes(expected[i].second)) == 0)
            continue;
        return "entry " + std::to_string(i) + " (record " + std::to_string(got[i].first) + "): key " +
               got[i].second + ", expected " + expected[i].second;
    }
    return std::string();
}

// Replays an edits file: updates, deletions, recalls and appends, each through the table's own
// calls. Memo fields are left as they are (the engine never writes the memo file).
void ApplyEdits(engine::Table& table, const std::string& path)
{
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream columns(line);
        std::string op, record, assignments;
        std::getline(columns, op, '\t');
        std::getline(columns, record, '\t');
        std::getline(columns, assignments, '\t');
        SCOPED_TRACE(line);
        auto set = [&] {
            std::istringstream each(assignments);
            std::string assignment;
            while (std::getline(each, assignment, ';')) {
                const auto equals = assignment.find('=');
                engine::Field field = table.FieldByName(assignment.substr(0, equals));
                if (field.Type() == 'M' || field.Type() == 'B' || field.Type() == 'G')
                    continue;
                field.SetBytes(test_support::HexToBytes(assignment.substr(equals + 1)));
            }
        };
        if (op == "append") {
            table.Append();
            set();
            table.Post();
            ASSERT_EQ(table.RecNo(), std::stoul(record));
            continue;
        }
        table.MoveTo(static_cast<std::uint32_t>(std::stoul(record)));
        if (op == "update") {
            table.Edit();
            set();
            table.Post();
        } else if (op == "delete") {
            table.Delete();
        } else if (op == "recall") {
            table.Recall();
        } else {
            FAIL() << "unknown edit " << op;
        }
    }
}

// The records of a table (flag and fields, memo fields blanked: their block numbers).
std::vector<std::string> RecordsOf(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    const std::size_t header = GetLe(bytes, 8, 2), length = GetLe(bytes, 10, 2), count = GetLe(bytes, 4, 4);
    std::vector<std::pair<std::size_t, std::size_t>> memos; // offset, width
    std::size_t offset = 1;
    for (std::size_t at = 32; at + 32 <= header && bytes[at] != 0x0D; at += 32) {
        const char type = bytes[at + 11];
        const std::size_t width = static_cast<unsigned char>(bytes[at + 16]);
        if (type == 'M' || type == 'B' || type == 'G')
            memos.emplace_back(offset, width);
        offset += width;
    }
    std::vector<std::string> records;
    for (std::size_t r = 0; r < count; ++r) {
        std::string record = bytes.substr(header + r * length, length);
        for (const auto& [at, width] : memos)
            record.replace(at, width, std::string(width, '-'));
        records.push_back(record);
    }
    return records;
}

class ExpressionFixture : public ::testing::TestWithParam<FixtureTable>
{
protected:
    TempDir dir;
};

TEST_P(ExpressionFixture, EveryTagWalksAsWrittenAndHoldsTheKeysTheEngineComputes)
{
    const FixtureTable& f = GetParam();
    CopyFirstState(f.name, dir.Path());
    const std::string mdx = dir.Path() + "/" + f.name + ".MDX";
    for (const char* tag : f.tags) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(WalkDifference(EngineWalk(mdx, tag),
                                 ReadWalkFile(Fixture(std::string(f.name) + "." + tag + ".walk.tsv")),
                                 TagKeyType(mdx, tag)),
                  "");
    }
    // The engine evaluates every expression and FOR clause itself: each tag holds exactly the keys
    // it computes from the records, FOR clauses and unique tags included.
    engine::Table table(dir.Path(), std::string(f.name) + ".DBF");
    table.Open();
    EXPECT_EQ(table.Verify(), std::vector<std::string>{});
}

TEST_P(ExpressionFixture, TheLibrarysEditsThroughTheEngineEndWithItsWalks)
{
    const FixtureTable& f = GetParam();
    CopyFirstState(f.name, dir.Path());
    {
        engine::Table table(dir.Path(), std::string(f.name) + ".DBF");
        table.Open();
        ApplyEdits(table, Fixture(std::string(f.name) + ".edits.tsv"));
        EXPECT_EQ(table.Verify(), std::vector<std::string>{});
    }
    // The same records as the library's after the edits, and every tag walks as its walk.
    EXPECT_EQ(RecordsOf(dir.Path() + "/" + f.name + ".DBF"),
              RecordsOf(Fixture(std::string("after/") + f.name + ".DBF")));
    const std::string mdx = dir.Path() + "/" + f.name + ".MDX";
    for (const char* tag : f.tags) {
        SCOPED_TRACE(tag);
        const Walk walk = EngineWalk(mdx, tag);
        EXPECT_EQ(WalkDifference(walk,
                                 ReadWalkFile(Fixture(std::string(f.name) + "." + tag + ".after.walk.tsv")),
                                 TagKeyType(mdx, tag)),
                  "");
#ifndef _WIN32 // Perl XBase reads the trees this engine grew
        EXPECT_EQ(PerlWalk(mdx, tag), Records(walk));
#endif
    }
}

INSTANTIATE_TEST_SUITE_P(IndependentWriter, ExpressionFixture, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<FixtureTable>& param) {
                             return std::string(param.param.name);
                         });

} // namespace
