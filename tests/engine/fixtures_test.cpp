// The engine against MDX files nobody here wrote: every tag walks exactly as Perl XBase walked it,
// the keys recomputed from the records match, and every key is found by GotoKey.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "engine/table.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

struct TagCase
{
    const char* folder;
    const char* table;
    const char* tag;
    std::vector<std::string> keyFields; // the fields of the tag's expression, in order
};

std::ostream& operator<<(std::ostream& out, const TagCase& c)
{
    return out << c.table << "." << c.tag;
}

class FixtureTag : public ::testing::TestWithParam<TagCase>
{
protected:
    std::string Dir() const { return DataPath(GetParam().folder); }
    std::string WalkFile() const
    {
        return Dir() + "/" + GetParam().table + "." + GetParam().tag + ".walk.tsv";
    }
};

TEST_P(FixtureTag, WalksEntriesAndKeysLikeTheIndependentReader)
{
    const Walk expected = ReadWalkFile(WalkFile());
    const Walk walked = EngineWalk(Dir() + "/" + GetParam().table + ".MDX", GetParam().tag);
    ASSERT_EQ(walked.size(), expected.size());
    for (std::size_t i = 0; i < walked.size(); ++i) {
        ASSERT_EQ(walked[i].first, expected[i].first) << "entry " << i;
        ASSERT_EQ(walked[i].second, expected[i].second) << "entry " << i;
    }
}

TEST_P(FixtureTag, TableWalkFollowsTheTagAndEveryKeyRecomputes)
{
    TempDir dir;
    CopyTable(GetParam().folder, GetParam().table, dir.Path());
    engine::Table table(dir.Path(), std::string(GetParam().table) + ".dbf"); // name case differs on purpose
    table.SetIndexName(GetParam().tag);
    table.Open();
    std::vector<std::uint32_t> order;
    for (table.First(); !table.Eof(); table.Next())
        order.push_back(table.RecNo());
    EXPECT_EQ(order, Records(ReadWalkFile(WalkFile())));
    EXPECT_EQ(table.Verify(), std::vector<std::string>{});
}

TEST_P(FixtureTag, GotoKeyFindsTheFirstRecordOfEveryKey)
{
    TempDir dir;
    CopyTable(GetParam().folder, GetParam().table, dir.Path());
    const Walk walk = ReadWalkFile(WalkFile());
    std::map<std::string, std::uint32_t> firstOfKey;
    std::vector<std::string> keysInOrder;
    for (const auto& [record, key] : walk)
        if (firstOfKey.emplace(key, record).second)
            keysInOrder.push_back(key);

    engine::Table table(dir.Path(), GetParam().table + std::string(".DBF"));
    table.SetIndexName(GetParam().tag);
    table.Open();
    // The values of each key's first record, read through the physical order.
    table.SetIndexName("");
    std::map<std::uint32_t, std::vector<std::string>> values;
    for (table.First(); !table.Eof(); table.Next()) {
        std::vector<std::string> v;
        for (const auto& f : GetParam().keyFields)
            v.push_back(table.FieldByName(f).AsString());
        values[table.RecNo()] = v;
    }
    table.SetIndexName(GetParam().tag);
    std::size_t searched = 0;
    for (const std::string& key : keysInOrder) {
        const std::uint32_t record = firstOfKey[key];
        table.EditKey();
        for (std::size_t i = 0; i < GetParam().keyFields.size(); ++i)
            table.FieldByName(GetParam().keyFields[i]).SetString(values[record][i]);
        // Bytes a 437 table cannot show in code page 1250 come back as '?': such a key cannot be
        // typed by the program, so it is not searched.
        bool roundTrips = true;
        for (const auto& v : values[record])
            roundTrips = roundTrips && v.find('?') == std::string::npos;
        if (!roundTrips)
            continue;
        ASSERT_TRUE(table.GotoKey()) << "key " << key;
        EXPECT_EQ(table.RecNo(), record) << "key " << key;
        ++searched;
    }
    EXPECT_GT(searched, keysInOrder.size() * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    IndependentWriter, FixtureTag,
    ::testing::Values(
        TagCase{"mdx", "OSOBY", "UPP_KLUCZ", {"KLUCZ"}}, TagCase{"mdx", "EDITED", "UPP_KLUCZ", {"KLUCZ"}},
        TagCase{"mdx", "DZ", "OBR_DZ_ARK", {"ID_OBR", "DZIALKA", "NR_ARKUSZA"}},
        TagCase{"mdx", "ASORTYM", "UPP_ASORT", {"ASORT"}},
        TagCase{"mdx", "ASORTYM", "UPP_NAZ_A", {"NAZWA_A"}}, TagCase{"mdx", "MIXED", "KWOTA", {"KWOTA"}},
        TagCase{"mdx", "MIXED", "ILOSC", {"ILOSC"}}, TagCase{"mdx", "MIXED", "DATA", {"DATA"}},
        TagCase{"mdx", "MIXED", "MIASTO_D", {"MIASTO"}}, TagCase{"mdx", "MIXED", "KOD_U", {"KOD"}},
        TagCase{"real", "TEST", "TEST1", {"TEST1"}}, TagCase{"real", "TEST", "TEST2", {"TEST2"}}),
    [](const ::testing::TestParamInfo<TagCase>& p) {
        return std::string(p.param.table) + "_" + p.param.tag;
    });

// The quick check the import makes before it writes finds nothing to mend in files that dBASE and
// independent libraries wrote: it must never stop an office whose indexes are sound.
TEST(FixtureTables, TheCheckBeforeWritingFindsNothingInFilesOthersWrote)
{
    const std::pair<const char*, const char*> tables[] = {{"real", "TEST"},
                                                          {"mdx", "OSOBY"},
                                                          {"mdx", "EDITED"},
                                                          {"mdx", "DZ"},
                                                          {"mdx", "ASORTYM"},
                                                          {"mdx", "MIXED"},
                                                          {"mdx-expr", "LICZBY"},
                                                          {"mdx-expr", "WARUNKI"},
                                                          {"mdx-expr", "WYRAZY"},
                                                          {"mdx-expr/after", "LICZBY"},
                                                          {"mdx-expr/after", "WARUNKI"},
                                                          {"mdx-expr/after", "WYRAZY"}};
    for (const auto& [folder, name] : tables) {
        TempDir dir;
        CopyTable(folder, name, dir.Path());
        engine::Table table(dir.Path(), std::string(name) + ".DBF");
        table.Open();
        EXPECT_EQ(table.CheckIndexEntries(), std::vector<std::string>{}) << folder << "/" << name;
    }
}

} // namespace
