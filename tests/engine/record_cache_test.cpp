// The exclusive open's record cache: each run read once, writes seen at once, appends extending
// their run, the budget respected, and a run that cannot be read whole served record by record.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/record_cache.h"
#include "engine/table.h"
#include "platform/file_operations.h"
#include "tests/engine/refused_allocations.h"
#include "tests/engine/support.h"

namespace {

constexpr std::size_t kLength = 100; // 81 records to a run

// A file of records "R<n>" padded to kLength, with the reads asked of it.
struct FakeFile
{
    std::vector<std::string> records; // records[n - 1]
    std::vector<std::pair<std::uint32_t, std::size_t>> reads;
    std::uint32_t readable = 0xFFFFFFFF; // records past this cannot be read

    engine::RecordCache::ReadRun Reader()
    {
        return [this](std::uint32_t first, std::size_t count, unsigned char* out) {
            reads.emplace_back(first, count);
            if (first + count - 1 > readable || first + count - 1 > records.size())
                return false;
            for (std::size_t i = 0; i < count; ++i)
                std::memcpy(out + i * kLength, records[first - 1 + i].data(), kLength);
            return true;
        };
    }
    void Add(std::uint32_t n)
    {
        std::string r = "R" + std::to_string(n);
        r.resize(kLength, ' ');
        records.push_back(r);
    }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(records.size()); }
};

std::string Get(engine::RecordCache& cache, FakeFile& file, std::uint32_t record)
{
    std::string out(kLength, '\0');
    if (!cache.Read(record, file.Count(), reinterpret_cast<unsigned char*>(out.data()), file.Reader()))
        return "failed";
    return out.substr(0, out.find(' '));
}

TEST(RecordCache, ReadsEachRunOnceAndSeesWrites)
{
    FakeFile file;
    for (std::uint32_t n = 1; n <= 200; ++n)
        file.Add(n);
    engine::RecordCache cache;
    cache.Reset(kLength);
    EXPECT_EQ(Get(cache, file, 5), "R5");
    EXPECT_EQ(Get(cache, file, 81), "R81");
    EXPECT_EQ(Get(cache, file, 1), "R1");
    EXPECT_EQ(Get(cache, file, 82), "R82");
    EXPECT_EQ(Get(cache, file, 200), "R200");
    EXPECT_EQ(Get(cache, file, 190), "R190");
    using Reads = std::vector<std::pair<std::uint32_t, std::size_t>>;
    // Run 1 right after run 0 continues a walk in order: it is read with the run after it, which
    // holds what there is.
    EXPECT_EQ(file.reads, (Reads{{1, 81}, {82, 119}}));

    // An edit is seen at once; an append extends the last run without a read.
    std::string edited = "E81";
    edited.resize(kLength, ' ');
    cache.Written(81, reinterpret_cast<const unsigned char*>(edited.data()));
    file.Add(201);
    cache.Written(201, reinterpret_cast<const unsigned char*>(file.records[200].data()));
    EXPECT_EQ(Get(cache, file, 81), "E81");
    EXPECT_EQ(Get(cache, file, 201), "R201");
    EXPECT_EQ(file.reads.size(), 2u);

    // A write into a run not kept, past its first record, keeps nothing: reading it reads the file.
    cache.Reset(kLength);
    cache.Written(100, reinterpret_cast<const unsigned char*>(edited.data()));
    EXPECT_EQ(Get(cache, file, 100), "R100");
    EXPECT_EQ(file.reads.size(), 3u);

    // Appends that begin a run are kept from its first record on: the rows written are not read
    // back, and the run is read whole only when a record past them is asked for.
    while (file.Count() < 250)
        file.Add(file.Count() + 1);
    for (std::uint32_t n = 244; n <= 250; ++n)
        cache.Written(n, reinterpret_cast<const unsigned char*>(file.records[n - 1].data()));
    for (std::uint32_t n = 244; n <= 250; ++n)
        EXPECT_EQ(Get(cache, file, n), "R" + std::to_string(n));
    EXPECT_EQ(file.reads.size(), 3u);
    file.Add(251);
    EXPECT_EQ(Get(cache, file, 251), "R251");
    EXPECT_EQ(file.reads.back(), (std::pair<std::uint32_t, std::size_t>{244, 8}));
}

// A walk through the file in order reads two runs at once, then four, and so on up to the limit;
// any other order reads a run at a time. The budget and a file cut short hold the reads back.
TEST(RecordCache, AWalkInOrderReadsEverMoreRunsAtOnce)
{
    constexpr std::uint32_t kRuns = 300;
    FakeFile file;
    for (std::uint32_t n = 1; n <= kRuns * 81 + 10; ++n)
        file.Add(n);
    using Reads = std::vector<std::pair<std::uint32_t, std::size_t>>;
    const auto walk = [&](engine::RecordCache& cache, auto&& order) {
        file.reads.clear();
        for (const std::uint32_t n : order)
            if (Get(cache, file, n) != "R" + std::to_string(n))
                ADD_FAILURE() << "record " << n;
        return file.reads;
    };
    std::vector<std::uint32_t> forward;
    for (std::uint32_t n = 1; n <= file.Count(); ++n)
        forward.push_back(n);
    engine::RecordCache cache;
    cache.Reset(kLength);
    const Reads inOrder = walk(cache, forward);
    // 1, 2, 4, ..., 64 runs, then 64 at a time: 1 + 2 + ... + 64 = 127 runs in 7 reads, the other 174
    // (the last holding 10 records) in 3 reads.
    ASSERT_EQ(inOrder.size(), 10u);
    std::uint32_t next = 1;
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
        EXPECT_EQ(inOrder[i].first, next) << i;
        const std::size_t runs = std::min<std::size_t>(std::size_t{1} << std::min<std::size_t>(i, 6), 64);
        EXPECT_EQ(inOrder[i].second, std::min<std::size_t>(runs * 81, file.Count() - next + 1)) << i;
        next += static_cast<std::uint32_t>(inOrder[i].second);
    }
    EXPECT_EQ(next, file.Count() + 1);
    EXPECT_EQ(cache.BytesKept(), std::size_t{file.Count()} * kLength);
    EXPECT_TRUE(walk(cache, forward).empty()) << "all kept";

    // Backwards, or a run now and then: a run at a time.
    engine::RecordCache other;
    other.Reset(kLength);
    std::vector<std::uint32_t> backward(forward.rbegin(), forward.rend());
    EXPECT_EQ(walk(other, backward).size(), kRuns + 1);
    other.Reset(kLength);
    std::vector<std::uint32_t> everyOther;
    for (std::uint32_t run = 0; run < kRuns; run += 2)
        everyOther.push_back(run * 81 + 1);
    for (const auto& [first, count] : walk(other, everyOther))
        EXPECT_EQ(count, 81u) << first;

    // A budget of ten runs: the reads stop growing where it ends, then go record by record.
    engine::RecordCache small;
    small.Reset(kLength, 10 * 81 * kLength);
    const Reads held = walk(small, std::vector<std::uint32_t>(forward.begin(), forward.begin() + 15 * 81));
    EXPECT_EQ(held[0], (std::pair<std::uint32_t, std::size_t>{1, 81}));
    EXPECT_EQ(held[1], (std::pair<std::uint32_t, std::size_t>{82, 162}));
    EXPECT_EQ(held[2], (std::pair<std::uint32_t, std::size_t>{244, 324}));
    EXPECT_EQ(held[3], (std::pair<std::uint32_t, std::size_t>{568, 243}))
        << "the three runs left in the budget";
    EXPECT_EQ(held[4], (std::pair<std::uint32_t, std::size_t>{811, 1}));
    EXPECT_EQ(held[5], (std::pair<std::uint32_t, std::size_t>{812, 1}));
    EXPECT_LE(small.BytesKept(), 10 * 81 * kLength);

    // A file shorter than its record count says: the long read fails, and the walk goes on a run,
    // then a record, at a time, as far as the file reaches.
    FakeFile cut;
    for (std::uint32_t n = 1; n <= 10 * 81; ++n)
        cut.Add(n);
    cut.readable = 3 * 81 + 5;
    engine::RecordCache damaged;
    damaged.Reset(kLength);
    for (std::uint32_t n = 1; n <= cut.readable; ++n)
        ASSERT_EQ(Get(damaged, cut, n), "R" + std::to_string(n));
    EXPECT_EQ(Get(damaged, cut, cut.readable + 1), "failed");
}

// With no memory for a long read, a walk in order goes on a run at a time, as a walk out of order
// does: memory the system refuses ends no read.
TEST(RecordCache, AWalkWithoutMemoryForLongReadsReadsARunAtATime)
{
    FakeFile file;
    for (std::uint32_t n = 1; n <= 20 * 81; ++n)
        file.Add(n);
    engine::RecordCache cache;
    cache.Reset(kLength);
    {
        const enginetest::RefusedAllocations refused(2 * 81 * kLength); // two runs or more at once
        for (std::uint32_t n = 1; n <= file.Count(); ++n)
            ASSERT_EQ(Get(cache, file, n), "R" + std::to_string(n));
    }
    ASSERT_EQ(file.reads.size(), 20u);
    for (const auto& [first, count] : file.reads)
        EXPECT_EQ(count, 81u) << first;
    EXPECT_EQ(cache.BytesKept(), std::size_t{file.Count()} * kLength);
    EXPECT_EQ(cache.MemoryUsed(), std::size_t{file.Count()} * kLength) << "no buffer of long reads";

    // With memory again, the next walk in order reads long stretches, and its buffer is counted.
    cache.Reset(kLength);
    file.reads.clear();
    for (std::uint32_t n = 1; n <= file.Count(); ++n)
        ASSERT_EQ(Get(cache, file, n), "R" + std::to_string(n));
    EXPECT_LT(file.reads.size(), 20u);
    EXPECT_GT(cache.MemoryUsed(), std::size_t{file.Count()} * kLength);
}

TEST(RecordCache, BudgetAndDamagedRuns)
{
    FakeFile file;
    for (std::uint32_t n = 1; n <= 400; ++n)
        file.Add(n);
    engine::RecordCache cache;
    cache.Reset(kLength, 2 * 81 * kLength); // two runs
    EXPECT_EQ(Get(cache, file, 1), "R1");
    EXPECT_EQ(Get(cache, file, 100), "R100");
    EXPECT_EQ(Get(cache, file, 300), "R300");
    EXPECT_EQ(Get(cache, file, 301), "R301");
    EXPECT_LE(cache.BytesKept(), 2 * 81 * kLength);
    using Reads = std::vector<std::pair<std::uint32_t, std::size_t>>;
    EXPECT_EQ(file.reads, (Reads{{1, 81}, {82, 81}, {300, 1}, {301, 1}})) << "over the budget: one by one";

    // A run cut short (a damaged file) is read record by record; a record that cannot be read fails.
    FakeFile cut;
    for (std::uint32_t n = 1; n <= 100; ++n)
        cut.Add(n);
    cut.readable = 90;
    engine::RecordCache second;
    second.Reset(kLength);
    EXPECT_EQ(Get(second, cut, 85), "R85");
    EXPECT_EQ(Get(second, cut, 95), "failed");
    // Asking again and again takes no more memory: the run that could not be read leaves its
    // memory for the next one.
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(Get(second, cut, 90 - i % 3), "R" + std::to_string(90 - i % 3));
    EXPECT_LE(second.MemoryUsed(), 81 * kLength);
    EXPECT_EQ(second.BytesKept(), 0u);
    // Once the file reads whole again, the run is read into that memory and kept.
    cut.readable = 0xFFFFFFFF;
    EXPECT_EQ(Get(second, cut, 95), "R95");
    EXPECT_EQ(Get(second, cut, 96), "R96");
    EXPECT_EQ(second.BytesKept(), 19 * kLength);
    EXPECT_EQ(second.MemoryUsed(), 81 * kLength);
}

// Switched off and on again (as a shared open's cache is at each commit), and on with another
// record length: nothing kept before is served again, though the memory is reused; writes while
// it is off are not kept.
TEST(RecordCache, SwitchedOffAndOnAgainForgetsWhatItKept)
{
    FakeFile file;
    for (std::uint32_t n = 1; n <= 300; ++n)
        file.Add(n);
    engine::RecordCache cache;
    cache.Reset(kLength);
    for (std::uint32_t n = 1; n <= 300; n += 40)
        ASSERT_EQ(Get(cache, file, n), "R" + std::to_string(n));
    const std::size_t reads = file.reads.size();

    // Another program changes the file while the cache is off.
    cache.Reset(0);
    EXPECT_FALSE(cache.Enabled());
    EXPECT_EQ(cache.BytesKept(), 0u);
    file.records[4] = "X5";
    file.records[4].resize(kLength, ' ');
    cache.Written(200, reinterpret_cast<const unsigned char*>(file.records[4].data()));
    cache.Reset(kLength);
    // What stays taken is the buffer of the read of runs 1 and 2 at once (record 121 followed run
    // 0 in order).
    const std::size_t longRead = 2 * 81 * kLength;
    EXPECT_EQ(cache.MemoryUsed(), longRead);
    EXPECT_EQ(Get(cache, file, 5), "X5");
    EXPECT_EQ(Get(cache, file, 200), "R200");
    EXPECT_EQ(file.reads.size(), reads + 2) << "each run read anew";
    EXPECT_EQ(cache.MemoryUsed(), longRead + 2 * 81 * kLength);

    // On again with another length: runs of the new length, read anew.
    cache.Reset(kLength / 2);
    const std::size_t before = file.reads.size();
    std::string half(kLength / 2, '\0');
    ASSERT_TRUE(cache.Read(7, 100, reinterpret_cast<unsigned char*>(half.data()),
                           [&](std::uint32_t first, std::size_t count, unsigned char* out) {
                               file.reads.emplace_back(first, count);
                               for (std::size_t i = 0; i < count; ++i)
                                   std::memset(out + i * (kLength / 2),
                                               'a' + static_cast<int>((first + i) % 26), kLength / 2);
                               return true;
                           }));
    EXPECT_EQ(half, std::string(kLength / 2, 'a' + 7));
    EXPECT_EQ(file.reads.size(), before + 1);
    EXPECT_EQ(file.reads.back().second, 100u) << "the run of the new length: the whole file of 100";
    EXPECT_EQ(cache.MemoryUsed(), 163 * (kLength / 2)) << "one run of 163 records of the new length";
}

// Through the table: an exclusive open sees its own appends and edits in searches and walks, and
// after a reopen the file holds the same.
TEST(RecordCache, ExclusiveTableSeesItsOwnChanges)
{
    enginetest::TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"NR", 'C', 6, 0}, {"NAZWA", 'C', 60, 0}},
                        {{"NR", "NR", false, false}}, 0x23);
    auto contents = [&](engine::Table& t) {
        std::string all;
        for (t.First(); !t.Eof(); t.Next())
            all += t.FieldByName("NR").AsString() + "=" + t.FieldByName("NAZWA").AsString() + ";";
        return all;
    };
    std::string expected;
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.SetExclusive(true);
        t.SetIndexName("NR");
        t.Open();
        for (int i = 0; i < 500; ++i) {
            t.Append();
            t.FieldByName("NR").SetString(std::to_string(100000 + i));
            t.FieldByName("NAZWA").SetString("pierwsza " + std::to_string(i));
            t.Post();
        }
        for (int i = 0; i < 500; i += 7) {
            t.EditKey();
            t.FieldByName("NR").SetString(std::to_string(100000 + i));
            ASSERT_TRUE(t.GotoKey());
            t.Edit();
            t.FieldByName("NAZWA").SetString("zmieniona " + std::to_string(i));
            t.Post();
        }
        t.EditKey();
        t.FieldByName("NR").SetString("100497");
        ASSERT_TRUE(t.GotoKey());
        EXPECT_EQ(t.FieldByName("NAZWA").AsString(), "zmieniona 497");
        expected = contents(t);
    }
    engine::Table again(dir.Path(), "t.dbf");
    again.SetIndexName("NR");
    again.Open();
    EXPECT_EQ(contents(again), expected);
    EXPECT_NE(expected.find("100496=pierwsza 496;100497=zmieniona 497;"), std::string::npos);
    again.Close();

    // A walk on from a search of a freshly opened exclusive table climbs through the inner
    // blocks the search passed without copying them.
    engine::Table third(dir.Path(), "t.dbf");
    third.SetExclusive(true);
    third.SetIndexName("NR");
    third.Open();
    third.EditKey();
    third.FieldByName("NR").SetString("100100");
    ASSERT_TRUE(third.GotoKey());
    int next = 100100;
    for (; !third.Eof(); third.Next(), ++next)
        ASSERT_EQ(third.FieldByName("NR").AsString(), std::to_string(next));
    EXPECT_EQ(next, 100500);
}

// An edit whose row reached the file but whose header date could not be written fails; the row
// read back afterwards is the file's, not the one the cache held before the edit.
TEST(RecordCache, AnEditThatFailsAfterItsRowWasWrittenLeavesNoStaleRow)
{
    enginetest::TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"NR", 'C', 6, 0}, {"NAZWA", 'C', 60, 0}},
                        {{"NR", "NR", false, false}}, 0x23);
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.Open();
        for (int i = 1; i <= 10; ++i) {
            t.Append();
            t.FieldByName("NR").SetString(std::to_string(i));
            t.FieldByName("NAZWA").SetString("pierwsza " + std::to_string(i));
            t.Post();
        }
    }
    // Last updated long ago: the edit's post writes the row, then the header's date.
    const std::string path = dir.Path() + "/T.DBF";
    std::string bytes = enginetest::ReadFileBytes(path);
    bytes[1] = 99;
    bytes[2] = 1;
    bytes[3] = 1;
    enginetest::WriteFileBytes(path, bytes);

    std::string cached;
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.SetExclusive(true);
        t.Open();
        t.MoveTo(3);
        ASSERT_EQ(t.FieldByName("NAZWA").AsString(), "pierwsza 3");
        t.Edit();
        t.FieldByName("NAZWA").SetString("zmieniona");
        platform::InjectFault(2, platform::FaultAction::Fail);
        EXPECT_THROW(t.Post(), engine::Error);
        platform::ClearFault();
        t.Cancel();
        t.MoveTo(4);
        t.MoveTo(3);
        cached = t.FieldByName("NAZWA").AsString();
    }
    // (Read once the table is closed: an exclusive open keeps other readers out on Windows.)
    const std::size_t headerLength = static_cast<unsigned char>(bytes[8]) |
                                     static_cast<std::size_t>(static_cast<unsigned char>(bytes[9])) << 8;
    const std::string onDisk = enginetest::ReadFileBytes(path).substr(headerLength + 2 * 67 + 1 + 6, 9);
    EXPECT_EQ(onDisk, "zmieniona");
    EXPECT_EQ(cached, onDisk);
}

} // namespace
