// The reader against indexes and tables written by other programs: every walk and every seek
// must match the writer's own walk exactly.
#include <map>

#include <gtest/gtest.h>

#include "archive/reader.h"
#include "tests/support/test_files.h"

namespace {

using archive::IndexHandle;
using archive::Reader;
using test_support::BytesToHex;

const std::string kData = KERG_TEST_DATA;

struct Entry
{
    std::string key;     // bytes
    std::int32_t record; // 1-based
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e)
{
    return out << BytesToHex(e.key) << '/' << e.record;
}

// Reads a walk file; `recordFirst` for the column order of the real files.
std::vector<Entry> ReadWalk(const std::string& path, bool recordFirst)
{
    std::vector<Entry> walk;
    for (const auto& row : test_support::ReadTsv(path)) {
        if (row.size() < 2)
            continue;
        const std::string& hex = recordFirst ? row[1] : row[0];
        const std::string& record = recordFirst ? row[0] : row[1];
        walk.push_back({test_support::HexToBytes(hex), std::stoi(record)});
    }
    return walk;
}

struct FixtureSet
{
    const char* name;
    std::string index;
    std::string walk;
    bool recordFirst;
};

class NtxFixtureTest : public ::testing::TestWithParam<FixtureSet>
{
protected:
    void SetUp() override
    {
        reader_.OpenIndex(handle_, GetParam().index);
        ASSERT_EQ(reader_.IndexResult(), 0);
        expected_ = ReadWalk(GetParam().walk, GetParam().recordFirst);
        ASSERT_FALSE(expected_.empty());
    }

    Reader reader_;
    IndexHandle handle_;
    std::vector<Entry> expected_;
};

TEST_P(NtxFixtureTest, WalkMatchesTheWriters)
{
    std::vector<Entry> walk;
    std::int32_t recno = 0;
    // Start below every key (binary keys may begin with NUL bytes).
    if (reader_.SeekKey(handle_, std::string(handle_.KeySize(), '\0'), recno))
        walk.push_back({handle_.currentKey.Str(), recno + 1});
    while (reader_.NextKey(handle_, recno))
        walk.push_back({handle_.currentKey.Str(), recno + 1});
    EXPECT_EQ(reader_.IndexResult(), 0);
    ASSERT_EQ(walk.size(), expected_.size());
    for (std::size_t i = 0; i < walk.size(); ++i)
        ASSERT_EQ(walk[i], expected_[i]) << "entry " << i;
}

TEST_P(NtxFixtureTest, EverySeekFindsTheFirstEntryAndContinuesTheWalk)
{
    std::map<std::string, std::size_t> first; // key -> position of its first entry in the walk
    for (std::size_t i = 0; i < expected_.size(); ++i)
        first.emplace(expected_[i].key, i);
    for (const auto& [key, at] : first) {
        std::int32_t recno = -1;
        ASSERT_TRUE(reader_.SeekKey(handle_, key, recno)) << BytesToHex(key);
        ASSERT_EQ(recno + 1, expected_[at].record) << BytesToHex(key);
        // The next entries follow in walk order, across every duplicate.
        for (std::size_t next = at + 1; next < std::min(at + 4, expected_.size()); ++next) {
            ASSERT_TRUE(reader_.NextKey(handle_, recno));
            ASSERT_EQ(recno + 1, expected_[next].record) << BytesToHex(key) << " then entry " << next;
        }
    }
}

TEST_P(NtxFixtureTest, MissesStandOnTheNextGreaterKey)
{
    // A key just above each distinct key (its last byte raised) that the index does not hold.
    std::map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < expected_.size(); ++i)
        first.emplace(expected_[i].key, i);
    int tried = 0;
    for (const auto& [key, at] : first) {
        std::string probe = key;
        if (static_cast<unsigned char>(probe.back()) == 0xFF)
            continue;
        probe.back() = static_cast<char>(probe.back() + 1);
        if (first.count(probe) != 0)
            continue;
        const auto greater = first.upper_bound(probe);
        std::int32_t recno = -1;
        ASSERT_FALSE(reader_.SeekKey(handle_, probe, recno)) << BytesToHex(probe);
        const bool more = reader_.NextKey(handle_, recno);
        if (greater == first.end()) {
            EXPECT_FALSE(more);
        } else {
            ASSERT_TRUE(more) << BytesToHex(probe);
            EXPECT_EQ(recno + 1, expected_[greater->second].record) << BytesToHex(probe);
        }
        if (++tried == 400)
            break;
    }
    EXPECT_GT(tried, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, NtxFixtureTest,
    ::testing::Values(
        FixtureSet{"names", kData + "/ntx/NAMES.NTX", kData + "/ntx/names.expected.tsv", false},
        FixtureSet{"small", kData + "/ntx/SMALL.NTX", kData + "/ntx/small.expected.tsv", false},
        FixtureSet{"binkey", kData + "/ntx/BINKEY.NTX", kData + "/ntx/binkey.expected.tsv", false},
        FixtureSet{"cp852", kData + "/ntx/CP852.NTX", kData + "/ntx/cp852.expected.tsv", false},
        FixtureSet{"deleted", kData + "/ntx/DELETED.NTX", kData + "/ntx/deleted.expected.tsv", false},
        FixtureSet{"updates", kData + "/ntx/UPDATES.NTX", kData + "/ntx/updates.expected.tsv", false},
        FixtureSet{"clipper", kData + "/real/ntx-char.ntx", kData + "/real/ntx-char.walk.tsv", true}),
    [](const auto& p) { return std::string(p.param.name); });

// The tables behind the indexes read byte for byte as the writer recorded them.
class TableFixtureTest : public ::testing::TestWithParam<const char*>
{};

TEST_P(TableFixtureTest, RecordsMatchTheWriters)
{
    const std::string set = GetParam();
    std::string upper = set;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto rows = test_support::ReadTsv(kData + "/ntx/" + set + ".records.tsv");
    Reader reader;
    reader.ResetWorkAreas();
    std::uint8_t area = 0;
    reader.OpenTable(kData + "/ntx/" + upper + ".DBF", area);
    ASSERT_EQ(reader.TableResult(), 0);
    const archive::WorkArea& a = *reader.Area(area);
    ASSERT_EQ(a.RecordCount(), static_cast<std::int32_t>(rows.size()));
    ASSERT_EQ(a.fieldCount, 2);
    archive::ShortString first, second;
    reader.BindRawString(a.descriptors[0].name, first, 255);
    reader.BindRawString(a.descriptors[1].name, second, 255);
    reader.SetReadBuffer(area, 32000);
    std::size_t i = 0;
    while (!reader.IsEof(area)) {
        reader.ReadRecord(area, 0);
        ASSERT_EQ(reader.TableResult(), 0);
        ASSERT_LT(i, rows.size());
        const auto& row = rows[i];
        EXPECT_EQ(BytesToHex(reader.CurrentRecordBytes(area).substr(0, 1)), row[1]) << "record " << row[0];
        EXPECT_EQ(BytesToHex(first.View()), row[2]) << "record " << row[0];
        EXPECT_EQ(BytesToHex(second.View()), row[3]) << "record " << row[0];
        reader.NextRecord(area);
        ++i;
    }
    EXPECT_EQ(i, rows.size());
}

INSTANTIATE_TEST_SUITE_P(Writers, TableFixtureTest,
                         ::testing::Values("names", "small", "binkey", "cp852", "deleted", "updates"));

} // namespace
