// NTX search on trees of exact shapes, on balanced trees of many sizes, and on damaged files.
#include <algorithm>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "archive/reader.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"
#include "tools/ntx_writer.h"

namespace {

using archive::IndexHandle;
using archive::Reader;
using test_support::MemoryFiles;
using writers::NtxEntry;
using writers::NtxItem;
using writers::NtxOptions;
using writers::NtxPage;
using writers::NtxPageOffset;

struct Hit
{
    std::string key;
    std::int32_t recno;
    bool operator==(const Hit&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Hit& h)
{
    return out << '(' << h.key << ", " << h.recno << ')';
}

class NtxTest : public ::testing::Test
{
protected:
    std::shared_ptr<test_support::MemoryFileState> File(const std::string& bytes)
    {
        return files_.Add("I.NTX", bytes);
    }

    // Opens I.NTX and expects success.
    void Open()
    {
        reader_.OpenIndex(handle_, "I.NTX");
        ASSERT_EQ(reader_.IndexResult(), 0);
    }

    // Seeks `key`, then steps to the end: the entries met, the seek's own hit first when it found.
    std::vector<Hit> SeekAndWalk(const std::string& key, bool* found = nullptr, std::size_t limit = 1000000)
    {
        std::vector<Hit> hits;
        std::int32_t recno = -5;
        const bool f = reader_.SeekKey(handle_, key, recno);
        if (found != nullptr)
            *found = f;
        if (f)
            hits.push_back({handle_.currentKey.Str(), recno});
        while (hits.size() < limit && reader_.NextKey(handle_, recno))
            hits.push_back({handle_.currentKey.Str(), recno});
        return hits;
    }

    std::vector<Hit> WalkAll() { return SeekAndWalk(std::string(handle_.KeySize(), '\0')); }

    MemoryFiles files_;
    Reader reader_{files_.Opener()};
    IndexHandle handle_;
};

NtxOptions Options(std::uint16_t keySize)
{
    NtxOptions o;
    o.keySize = keySize;
    o.keyExpression = "KLUCZ";
    return o;
}

std::string Pad(const std::string& key, std::size_t size)
{
    std::string k = key;
    k.resize(size, ' ');
    return k;
}

TEST_F(NtxTest, RootLeafIsSearchedWithoutReading)
{
    NtxPage leaf;
    leaf.items = {{"ABCD", 3, 0}, {"ABD", 1, 0}, {"B", 2, 0}};
    File(writers::BuildNtxPages({leaf}, NtxPageOffset(0), Options(6)));
    Open();
    const std::int64_t reads = handle_.pageReads;
    std::int32_t recno = -1;
    // ABC is searched as "ABC   ": not equal to "ABCD  ".
    EXPECT_FALSE(reader_.SeekKey(handle_, "ABC", recno));
    EXPECT_EQ(handle_.pageReads, reads);
    EXPECT_TRUE(reader_.NextKey(handle_, recno));
    EXPECT_EQ(recno, 2);
    EXPECT_EQ(handle_.currentKey.View(), "ABCD  ");
    EXPECT_TRUE(reader_.SeekKey(handle_, "ABD", recno));
    EXPECT_EQ(recno, 0) << "record number 1 gives 0";
    EXPECT_EQ(handle_.pageReads, reads);
    // Greater than everything: a miss, then the end.
    EXPECT_FALSE(reader_.SeekKey(handle_, "ZZ", recno));
    EXPECT_FALSE(reader_.NextKey(handle_, recno));
    EXPECT_EQ(recno, 0);
    EXPECT_EQ(reader_.IndexResult(), 0);
    EXPECT_FALSE(reader_.NextKey(handle_, recno));
}

// A page whose keys are out of order (a damaged file) is searched slot by slot, read whole into
// memory or page by page alike; a page in order is searched by halves with the same answers.
TEST_F(NtxTest, PagesOutOfOrderAreSearchedSlotBySlot)
{
    NtxPage leaf;
    leaf.items = {{"D", 1, 0}, {"B", 2, 0}, {"F", 3, 0}, {"C", 4, 0}, {"H", 5, 0}};
    File(writers::BuildNtxPages({leaf}, NtxPageOffset(0), Options(2)));
    auto seekAll = [&] {
        std::vector<std::pair<bool, std::int32_t>> answers;
        for (const char* key : {"A", "B", "C", "D", "E", "F", "G", "H", "Z"}) {
            std::int32_t recno = -1;
            const bool found = reader_.SeekKey(handle_, key, recno);
            answers.emplace_back(found, recno);
        }
        return answers;
    };
    Open();
    const auto fromMemory = seekAll();
    reader_.IndexImageLimit = 0;
    reader_.CloseIndex(handle_);
    Open();
    ASSERT_TRUE(handle_.image.empty());
    EXPECT_EQ(seekAll(), fromMemory);
    // Slot by slot: "C" stops at D (slot 1, greater), a miss that stands on record 1 - 1 = 0;
    // halving would have found C in slot 4.
    std::int32_t recno = -1;
    EXPECT_FALSE(reader_.SeekKey(handle_, "C", recno));
    EXPECT_EQ(recno, 0);
    EXPECT_TRUE(reader_.SeekKey(handle_, "D", recno));
    EXPECT_EQ(recno, 0);
}

// A two-level tree: root [M] over the leaves [C, F] and [R, T].
std::string TwoLevels(const NtxOptions& options)
{
    NtxPage left, right, root;
    left.items = {{"C", 1, 0}, {"F", 2, 0}};
    right.items = {{"R", 4, 0}, {"T", 5, 0}};
    root.items = {{"M", 3, NtxPageOffset(0)}};
    root.rightChild = NtxPageOffset(1);
    return writers::BuildNtxPages({left, right, root}, NtxPageOffset(2), options);
}

TEST_F(NtxTest, KeyInAnInnerPage)
{
    File(TwoLevels(Options(2)));
    Open();
    bool found = false;
    const std::int64_t reads = handle_.pageReads;
    const auto hits = SeekAndWalk("M", &found);
    EXPECT_TRUE(found);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].recno, 2);
    EXPECT_EQ(hits[1], (Hit{"R ", 3}));
    EXPECT_EQ(hits[2], (Hit{"T ", 4}));
    // The seek read one page (the leaf below the root), the walk one more (the right leaf).
    EXPECT_EQ(handle_.pageReads, reads + 2);
}

TEST_F(NtxTest, MissesStandOnTheFirstGreaterEntry)
{
    File(TwoLevels(Options(2)));
    Open();
    struct Case
    {
        std::string key;
        std::vector<std::int32_t> rest;
    };
    const Case cases[] = {{"A", {0, 1, 2, 3, 4}}, {"D", {1, 2, 3, 4}}, {"G", {2, 3, 4}},
                          {"N", {3, 4}},          {"S", {4}},          {"U", {}}};
    for (const Case& c : cases) {
        bool found = true;
        const auto hits = SeekAndWalk(c.key, &found);
        EXPECT_FALSE(found) << c.key;
        std::vector<std::int32_t> records;
        for (const Hit& h : hits)
            records.push_back(h.recno);
        EXPECT_EQ(records, c.rest) << c.key;
    }
}

TEST_F(NtxTest, StaleExtraSlotIsNeverReturned)
{
    NtxOptions options = Options(2);
    options.staleExtraSlot = true;
    options.permuteOffsets = true;
    File(TwoLevels(options));
    Open();
    const auto hits = WalkAll();
    std::vector<std::int32_t> records;
    for (const Hit& h : hits)
        records.push_back(h.recno);
    EXPECT_EQ(records, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
}

TEST_F(NtxTest, DuplicatesBelowAnEqualInnerKeyAreFoundFirst)
{
    // Root [K] whose left subtree holds more K's in its rightmost leaf:
    //   root:  [K#6]                        right -> leaf [M#7]
    //   inner: [B#2]            right -> leaf [K#4, K#5]
    //   leaf:  [A#1]
    NtxPage leafA, leafK, leafM, inner, root;
    leafA.items = {{"A", 1, 0}};
    leafK.items = {{"K", 4, 0}, {"K", 5, 0}};
    leafM.items = {{"M", 7, 0}};
    inner.items = {{"B", 2, NtxPageOffset(0)}};
    inner.rightChild = NtxPageOffset(1);
    root.items = {{"K", 6, NtxPageOffset(3)}};
    root.rightChild = NtxPageOffset(2);
    File(writers::BuildNtxPages({leafA, leafK, leafM, inner, root}, NtxPageOffset(4), Options(1)));
    Open();
    bool found = false;
    const auto hits = SeekAndWalk("K", &found);
    ASSERT_TRUE(found);
    std::vector<std::int32_t> records;
    for (const Hit& h : hits)
        records.push_back(h.recno);
    // Every K in key order, then M: none is skipped.
    EXPECT_EQ(records, (std::vector<std::int32_t>{3, 4, 5, 6}));
}

TEST_F(NtxTest, EmptyIndex)
{
    File(writers::BuildNtx({}, Options(4)));
    Open();
    bool found = true;
    EXPECT_TRUE(SeekAndWalk("", &found).empty());
    EXPECT_FALSE(found);
    EXPECT_EQ(reader_.IndexResult(), 0);
}

// Balanced trees of many sizes and key widths, with duplicates, walked and searched against the
// entries they were built from.
struct TreeCase
{
    std::size_t entries;
    std::uint16_t keySize;
    int alphabet; // distinct letters per key position: few letters give many duplicates
};

class BalancedTreeTest : public NtxTest, public ::testing::WithParamInterface<TreeCase>
{};

TEST_P(BalancedTreeTest, WalkAndSeekMatchTheEntries)
{
    const TreeCase c = GetParam();
    std::mt19937 random(static_cast<unsigned>(c.entries * 31 + c.keySize));
    std::vector<NtxEntry> entries;
    for (std::size_t i = 0; i < c.entries; ++i) {
        std::string key;
        const int length = 1 + static_cast<int>(random() % std::min<unsigned>(c.keySize, 3u));
        for (int j = 0; j < length; ++j)
            key.push_back(static_cast<char>('A' + random() % static_cast<unsigned>(c.alphabet)));
        entries.push_back({Pad(key, c.keySize), static_cast<std::uint32_t>(i + 1)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const NtxEntry& a, const NtxEntry& b) { return a.key < b.key; });
    NtxOptions options = Options(c.keySize);
    options.permuteOffsets = c.entries % 2 == 1;
    options.staleExtraSlot = true;
    File(writers::BuildNtx(entries, options));
    Open();

    std::vector<Hit> expected;
    for (const NtxEntry& e : entries)
        expected.push_back({e.key, static_cast<std::int32_t>(e.record - 1)});
    EXPECT_EQ(WalkAll(), expected);

    // Every distinct key is found at its first entry, and the walk goes on from there.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].key == entries[i - 1].key)
            continue;
        std::string trimmed = entries[i].key;
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.pop_back();
        bool found = false;
        const auto hits = SeekAndWalk(trimmed, &found, 3);
        ASSERT_TRUE(found) << trimmed;
        const std::vector<Hit> want(expected.begin() + static_cast<long>(i),
                                    expected.begin() + static_cast<long>(std::min(i + 3, expected.size())));
        ASSERT_EQ(hits, want) << trimmed;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BalancedTreeTest,
                         ::testing::Values(TreeCase{1, 4, 3}, TreeCase{72, 4, 5}, TreeCase{73, 4, 5},
                                           TreeCase{5000, 4, 4}, TreeCase{3000, 12, 6}, TreeCase{400, 255, 3},
                                           TreeCase{2000, 1, 26}));

TEST_F(NtxTest, SeekReadsOnePagePerLevelBelowTheRoot)
{
    std::vector<NtxEntry> entries;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        char key[9];
        std::snprintf(key, sizeof key, "%08u", i * 7);
        entries.push_back({key, i + 1});
    }
    File(writers::BuildNtx(entries, Options(8)));
    Open();
    // 20000 keys of 8 bytes, 56 to a page: three levels.
    for (std::uint32_t i : {0u, 1u, 777u, 19999u}) {
        const std::int64_t reads = handle_.pageReads;
        std::int32_t recno = -1;
        ASSERT_TRUE(reader_.SeekKey(handle_, entries[i].key, recno));
        EXPECT_EQ(recno, static_cast<std::int32_t>(i));
        EXPECT_LE(handle_.pageReads - reads, 2);
    }
    // The same with the file read page by page.
    reader_.IndexImageLimit = 0;
    reader_.OpenIndex(handle_, "I.NTX");
    ASSERT_TRUE(handle_.image.empty());
    for (std::uint32_t i : {5u, 12345u}) {
        const std::int64_t reads = handle_.pageReads;
        std::int32_t recno = -1;
        ASSERT_TRUE(reader_.SeekKey(handle_, entries[i].key, recno));
        EXPECT_EQ(recno, static_cast<std::int32_t>(i));
        EXPECT_EQ(handle_.pageReads - reads, 2);
    }
}

TEST_F(NtxTest, OpenFailures)
{
    reader_.OpenIndex(handle_, "NONE.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexCannotOpen);
    EXPECT_FALSE(handle_.IsOpen());

    files_.Add("SHORT.NTX", std::string(1023, '\0'));
    reader_.OpenIndex(handle_, "SHORT.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexShort);
    EXPECT_FALSE(handle_.IsOpen());

    std::string header = writers::BuildNtx({{"A", 1}}, Options(4));
    std::string big = header;
    big[14] = 0;
    big[15] = 1; // key size 256
    files_.Add("BIG.NTX", big);
    reader_.OpenIndex(handle_, "BIG.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexKeyTooLong);
    EXPECT_FALSE(handle_.IsOpen());

    std::string zero = header;
    zero[14] = 0;
    zero[15] = 0;
    files_.Add("ZERO.NTX", zero);
    reader_.OpenIndex(handle_, "ZERO.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
    EXPECT_FALSE(handle_.IsOpen());

    // An item size other than the key size and 8: the header is damaged.
    std::string itemSize = header;
    itemSize[12] = 13;
    itemSize[13] = 0;
    files_.Add("ITEM.NTX", itemSize);
    reader_.OpenIndex(handle_, "ITEM.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
    EXPECT_FALSE(handle_.IsOpen());

    std::string noRoot = header.substr(0, 1024);
    files_.Add("NOROOT.NTX", noRoot);
    reader_.OpenIndex(handle_, "NOROOT.NTX");
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
    EXPECT_FALSE(handle_.IsOpen());

    // Calls on a closed handle report and touch nothing.
    std::int32_t recno = 9;
    EXPECT_FALSE(reader_.SeekKey(handle_, "A", recno));
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
    EXPECT_FALSE(reader_.NextKey(handle_, recno));
    reader_.CloseIndex(handle_);
    EXPECT_EQ(reader_.IndexResult(), 0);
}

// Damaged trees: each search or walk ends with code 4, never a crash or a loop.
struct DamagedTree
{
    const char* name;
    std::string (*build)();
};

std::string WithU16(std::string file, std::size_t at, unsigned value)
{
    file[at] = static_cast<char>(value & 0xFF);
    file[at + 1] = static_cast<char>(value >> 8);
    return file;
}

const DamagedTree kDamagedTrees[] = {
    {"ItemOffsetOutsideThePage", [] { return WithU16(TwoLevels(Options(2)), NtxPageOffset(0) + 2, 1020); }},
    {"CountLargerThanThePage", [] { return WithU16(TwoLevels(Options(2)), NtxPageOffset(1), 600); }},
    {"ChildPastTheEndOfTheFile",
     [] {
         NtxPage root;
         root.items = {{"M", 3, NtxPageOffset(40)}};
         root.rightChild = NtxPageOffset(41);
         return writers::BuildNtxPages({root}, NtxPageOffset(0), Options(2));
     }},
    // The largest page offset there is: nothing is kept per page up to it (16 MB of marks).
    {"ChildAtTheLastPageOffset",
     [] {
         NtxPage root;
         root.items = {{"M", 3, 0xFFFFFC00u}};
         root.rightChild = 0xFFFFFC00u;
         return writers::BuildNtxPages({root}, NtxPageOffset(0), Options(2));
     }},
    {"ChildNotOnAPageBoundary",
     [] {
         NtxPage leaf, root;
         leaf.items = {{"A", 1, 0}};
         root.items = {{"M", 3, NtxPageOffset(0) + 10}};
         root.rightChild = NtxPageOffset(0);
         return writers::BuildNtxPages({leaf, root}, NtxPageOffset(1), Options(2));
     }},
    {"ChildPointsBackToTheRoot",
     [] {
         NtxPage root;
         root.items = {{"M", 3, NtxPageOffset(0)}};
         root.rightChild = NtxPageOffset(0);
         return writers::BuildNtxPages({root}, NtxPageOffset(0), Options(2));
     }},
    {"CycleBelowTheRoot",
     [] {
         NtxPage root, a, b;
         root.items = {{"M", 3, NtxPageOffset(1)}};
         root.rightChild = NtxPageOffset(2);
         a.items = {{"C", 1, NtxPageOffset(2)}};
         b.items = {{"D", 2, NtxPageOffset(1)}};
         return writers::BuildNtxPages({root, a, b}, NtxPageOffset(0), Options(2));
     }},
    // Record numbers are 1-based and a table holds at most 2^31 - 1 records: an entry naming record
    // 0 or one beyond that (-2^31 read as a signed number) is damage, in a leaf or in an inner page.
    {"RecordNumberZero",
     [] {
         NtxPage leaf;
         leaf.items = {{"A", 1, 0}, {"B", 0, 0}, {"C", 3, 0}};
         return writers::BuildNtxPages({leaf}, NtxPageOffset(0), Options(2));
     }},
    {"RecordNumberBeyondTheSignedRange",
     [] {
         NtxPage left, right, root;
         left.items = {{"C", 1, 0}, {"F", 2, 0}};
         right.items = {{"R", 4, 0}, {"T", 5, 0}};
         root.items = {{"M", 0x80000000u, NtxPageOffset(0)}};
         root.rightChild = NtxPageOffset(1);
         return writers::BuildNtxPages({left, right, root}, NtxPageOffset(2), Options(2));
     }},
    {"RecordNumberAllOnes",
     [] {
         NtxPage left, right, root;
         left.items = {{"C", 1, 0}, {"F", 0xFFFFFFFFu, 0}};
         right.items = {{"R", 4, 0}, {"T", 5, 0}};
         root.items = {{"M", 3, NtxPageOffset(0)}};
         root.rightChild = NtxPageOffset(1);
         return writers::BuildNtxPages({left, right, root}, NtxPageOffset(2), Options(2));
     }},
    {"DeeperThanThirtyLevels",
     [] {
         std::vector<NtxPage> pages(40);
         for (std::size_t i = 0; i < pages.size(); ++i) {
             pages[i].items = {
                 {"M", static_cast<std::uint32_t>(i + 1), i + 1 < pages.size() ? NtxPageOffset(i + 1) : 0}};
             pages[i].rightChild = i + 1 < pages.size() ? NtxPageOffset(i + 1) : 0;
         }
         return writers::BuildNtxPages(pages, NtxPageOffset(0), Options(2));
     }},
};

class DamagedTreeTest : public NtxTest, public ::testing::WithParamInterface<DamagedTree>
{};

TEST_P(DamagedTreeTest, EndsWithCodeFour)
{
    const std::string file = GetParam().build();
    File(file);
    reader_.OpenIndex(handle_, "I.NTX");
    if (reader_.IndexResult() != 0) {
        EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
        return;
    }
    bool sawDamage = false;
    for (const char* key : {"", "A", "M", "Z"}) {
        std::int32_t recno = 0;
        // Whatever a search or a step hands out is a record a table can have.
        if (reader_.SeekKey(handle_, key, recno)) {
            EXPECT_GE(recno, 0) << key;
        }
        sawDamage |= reader_.IndexResult() == archive::kIndexBadPage;
        for (int steps = 0; steps < 100 && reader_.NextKey(handle_, recno); ++steps) {
            ASSERT_LT(steps, 99) << "the walk does not end";
            EXPECT_GE(recno, 0) << key;
            EXPECT_LT(recno, 2147483647) << key;
        }
        sawDamage |= reader_.IndexResult() == archive::kIndexBadPage;
    }
    EXPECT_TRUE(sawDamage);
    // What the walks keep per page is bounded by the file, not by what its pointers claim.
    EXPECT_LE(handle_.visitMark.size(), file.size() / 1024 + 1);
}

INSTANTIATE_TEST_SUITE_P(All, DamagedTreeTest, ::testing::ValuesIn(kDamagedTrees),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(NtxTest, SharedSubtreeIsNotWalkedTwice)
{
    // Two root items point at the same leaf: a walk that entered it once stops there.
    NtxPage leaf, root;
    leaf.items = {{"B", 1, 0}};
    root.items = {{"C", 2, NtxPageOffset(0)}, {"E", 3, NtxPageOffset(0)}};
    root.rightChild = NtxPageOffset(0);
    File(writers::BuildNtxPages({leaf, root}, NtxPageOffset(1), Options(1)));
    Open();
    const auto hits = WalkAll();
    EXPECT_LE(hits.size(), 3u);
    EXPECT_EQ(reader_.IndexResult(), archive::kIndexBadPage);
}

TEST_F(NtxTest, ChangedFileIsRefreshedAndTheWalkGoesOn)
{
    std::vector<NtxEntry> entries;
    for (std::uint32_t i = 0; i < 500; ++i) {
        char key[5];
        std::snprintf(key, sizeof key, "%04u", i);
        entries.push_back({key, i + 1});
    }
    auto state = File(writers::BuildNtx(entries, Options(4)));
    reader_.StampCheckInterval = std::chrono::milliseconds(0);
    Open();
    std::int32_t recno = 0;
    ASSERT_TRUE(reader_.SeekKey(handle_, "0100", recno));
    ASSERT_TRUE(reader_.NextKey(handle_, recno));
    EXPECT_EQ(recno, 101);
    const int reads = state->reads;
    state->stamp += 1;
    ASSERT_TRUE(reader_.NextKey(handle_, recno));
    EXPECT_EQ(recno, 102) << "continues after the last key returned";
    EXPECT_GT(state->reads, reads) << "header and root were read again";
    EXPECT_EQ(handle_.stamp, state->stamp);

    // A refresh that finds the file cut short closes the handle; later calls only report.
    state->bytes.resize(1000);
    state->stamp += 1;
    EXPECT_FALSE(reader_.NextKey(handle_, recno));
    EXPECT_NE(reader_.IndexResult(), 0);
    EXPECT_FALSE(handle_.IsOpen());
    EXPECT_FALSE(reader_.SeekKey(handle_, "0001", recno));
    EXPECT_FALSE(reader_.NextKey(handle_, recno));
}

TEST(NtxOnDisk, TouchingTheFileRefreshesTheHandle)
{
    test_support::TempDir dir;
    std::vector<NtxEntry> entries;
    for (std::uint32_t i = 0; i < 300; ++i) {
        char key[5];
        std::snprintf(key, sizeof key, "%04u", i);
        entries.push_back({key, i + 1});
    }
    const std::string path = dir.File("LOWER.NTX");
    ASSERT_TRUE(writers::WriteFile(path, writers::BuildNtx(entries, Options(4))));
    Reader reader;
    IndexHandle handle;
    reader.OpenIndex(handle, dir.File("lower.ntx")); // found without regard to case
    ASSERT_EQ(reader.IndexResult(), 0);
    std::int32_t recno = 0;
    ASSERT_TRUE(reader.SeekKey(handle, "0200", recno));
    const std::int64_t before = handle.stamp;
    test_support::ShiftLastWriteTime(path, 5);
    // Stamps are compared at most every StampCheckInterval.
    std::this_thread::sleep_for(reader.StampCheckInterval + std::chrono::milliseconds(20));
    ASSERT_TRUE(reader.NextKey(handle, recno));
    EXPECT_EQ(recno, 201);
    EXPECT_NE(handle.stamp, before);
    reader.CloseIndex(handle);
    EXPECT_FALSE(handle.IsOpen());
}

} // namespace
