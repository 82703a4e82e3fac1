// Speed of the table engine: appends with three tags kept (one over three fields), keyed
// searches and a rebuild of the three tags, at 10,000 and 1,000,000 rows.
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/table.h"
#include "engine/transaction.h"

namespace {

const std::string kDir = (std::filesystem::temp_directory_path() / "kerg-engine-bench").string();

std::string TableName(std::int64_t rows)
{
    return "dz" + std::to_string(rows) + ".dbf";
}

std::string Parcel(std::int64_t i)
{
    return std::to_string(i % 997) + "/" + std::to_string(i % 13);
}

std::string Precinct(std::int64_t i)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04d", static_cast<int>((i * 7919) % 1000));
    return text;
}

// Reads a file through, so that it lies in the system's file cache as the raw floors' files do
// (a file left alone for minutes may have been dropped from it).
void Warm(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    std::vector<char> chunk(1 << 20);
    for (off_t at = 0;; at += static_cast<off_t>(chunk.size()))
        if (::pread(fd, chunk.data(), chunk.size(), at) <= 0)
            break;
    ::close(fd);
}

std::string IndexName(const std::string& table)
{
    return table.substr(0, table.size() - 4) + ".mdx";
}

// A working copy `name` (.dbf and .mdx) of the prepared table of `rows` rows; returns the path
// of its .dbf.
std::string CopyPrepared(std::int64_t rows, const std::string& name)
{
    const std::string table = kDir + "/" + name;
    std::filesystem::copy_file(kDir + "/" + TableName(rows), table,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(kDir + "/" + IndexName(TableName(rows)), IndexName(table),
                               std::filesystem::copy_options::overwrite_existing);
    return table;
}

// Both sizes, each with second argument 0 and 1 (a shared or an exclusive open; for the raw
// floors, without or with the work a shared open adds).
void SizesAndOpens(benchmark::internal::Benchmark* b)
{
    b->Args({10000, 0})->Args({1000000, 0})->Args({10000, 1})->Args({1000000, 1});
}

// A parcel table of `rows` rows whose tags are then rebuilt: the records are written directly,
// the way a bulk load would, so that large tables are quick to prepare.
void Prepare(std::int64_t rows)
{
    std::filesystem::create_directories(kDir);
    const std::string name = TableName(rows);
    if (std::filesystem::exists(kDir + "/" + name)) {
        Warm(kDir + "/" + name);
        Warm(kDir + "/" + IndexName(name));
        return;
    }
    engine::CreateTable(kDir, name,
                        {{"ID_DZIALKI", 'C', 8, 0},
                         {"ID_OBR", 'C', 4, 0},
                         {"DZIALKA", 'C', 15, 0},
                         {"NR_ARKUSZA", 'C', 5, 0},
                         {"ID_TWORZ", 'C', 8, 0}},
                        {{"OBR_DZ_ARK", "ID_OBR+DZIALKA+NR_ARKUSZA", false, false},
                         {"ID_DZ", "ID_DZIALKI", false, false},
                         {"UPP_DZ", "UPPER(DZIALKA)", false, false}});
    const std::string path = kDir + "/" + name;
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes.pop_back(); // the end marker
    for (std::int64_t i = 0; i < rows; ++i) {
        char record[48];
        std::snprintf(record, sizeof record, " %08X%-4s%-15s%-5s%-8s", static_cast<unsigned>(i),
                      Precinct(i).c_str(), Parcel(i).c_str(), i % 3 ? "" : "1", "00015D86");
        bytes.append(record, 41);
    }
    bytes.push_back('\x1A');
    for (int b = 0; b < 4; ++b)
        bytes[4 + static_cast<std::size_t>(b)] =
            static_cast<char>(static_cast<std::uint64_t>(rows) >> (8 * b));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    engine::Table t(kDir, name);
    t.Open();
    t.Reindex();
}

void BM_AppendWithThreeTags(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    Prepare(rows);
    const std::string copy = "append" + std::to_string(rows) + ".dbf";
    CopyPrepared(rows, copy);
    engine::Table t(kDir, copy);
    t.SetExclusive(state.range(1) != 0);
    t.Open();
    std::mt19937 rng(1);
    std::int64_t i = rows;
    for (auto _ : state) {
        t.Append();
        t.FieldByName("ID_DZIALKI").SetString(std::to_string(rng()));
        t.FieldByName("ID_OBR").SetString(Precinct(rng()));
        t.FieldByName("DZIALKA").SetString(Parcel(rng()));
        t.FieldByName("NR_ARKUSZA").SetString(i % 3 ? "" : "2");
        t.Post();
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
// Second argument: 0 a shared open (the import's data tables), 1 an exclusive open.
BENCHMARK(BM_AppendWithThreeTags)->Apply(SizesAndOpens)->Iterations(100000)->Unit(benchmark::kMicrosecond);

void BM_GotoKeyOverThreeFields(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    Prepare(rows);
    engine::Table t(kDir, TableName(rows));
    t.SetIndexName("OBR_DZ_ARK");
    t.SetExclusive(state.range(1) != 0);
    t.Open();
    std::int64_t found = 0;
    auto search = [&](std::mt19937& rng) {
        const std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(rows));
        t.EditKey();
        t.FieldByName("ID_OBR").SetString(Precinct(i));
        t.FieldByName("DZIALKA").SetString(Parcel(i));
        t.FieldByName("NR_ARKUSZA").SetString(i % 3 ? "" : "1");
        return t.GotoKey();
    };
    if (state.range(2) != 0) { // after 300,000 other searches: the open's steady state
        std::mt19937 before(9);
        for (int k = 0; k < 300000; ++k)
            search(before);
    }
    std::mt19937 rng(2);
    for (auto _ : state)
        found += search(rng) ? 1 : 0;
    if (found != state.iterations())
        state.SkipWithError("a key was not found");
    state.SetItemsProcessed(state.iterations());
}
// Second argument: 0 a shared open (a search checks the index for others' posts, and takes the
// update lock unless the blocks it needs are in memory), 1 an exclusive open. Third argument 1:
// measured after 300,000 other searches of the same open, when the table and index it reads have
// been brought into memory (the first searches of an open also pay for that).
BENCHMARK(BM_GotoKeyOverThreeFields)
    ->Args({10000, 0, 0})
    ->Args({1000000, 0, 0})
    ->Args({10000, 1, 0})
    ->Args({1000000, 1, 0})
    ->Args({1000000, 0, 1})
    ->Args({1000000, 1, 1})
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);

// The physical limits on this machine, measured in the same run with the same files. A search
// of a shared open must at least read the record it found (another open may have changed it)
// and the index's update counters (to know whether the blocks in memory still hold): second
// argument 1 makes both reads, 0 the record read alone.
void BM_RawRecordRead(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    const bool shared = state.range(1) != 0;
    Prepare(rows);
    const int fd = ::open((kDir + "/" + TableName(rows)).c_str(), O_RDONLY);
    const int mdx = ::open((kDir + "/" + IndexName(TableName(rows))).c_str(), O_RDONLY);
    std::mt19937 rng(2);
    char record[41];
    std::vector<char> front(6168);
    for (auto _ : state) {
        const std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(rows));
        if (shared && ::pread(mdx, front.data(), front.size(), 0) != static_cast<ssize_t>(front.size()))
            state.SkipWithError("read failed");
        if (::pread(fd, record, sizeof record, static_cast<off_t>(193 + i * 41)) != sizeof record)
            state.SkipWithError("read failed");
    }
    ::close(fd);
    ::close(mdx);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRecordRead)->Apply(SizesAndOpens)->Iterations(100000)->Unit(benchmark::kMicrosecond);

// What a post of one row to the same table must do at least, with the same files: write the
// record at the end of the table, the header's count, and one block of each of the three tags
// (at random places in the index). Second argument 1: a shared open's post, which also takes and
// releases the update lock and re-reads the record count and the index's counters under it.
void BM_RawPostWrites(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    const bool shared = state.range(1) != 0;
    Prepare(rows);
    const std::string table = CopyPrepared(rows, "raw" + std::to_string(rows) + ".dbf");
    const std::string index = IndexName(table);
    const int dbf = ::open(table.c_str(), O_RDWR);
    const int mdx = ::open(index.c_str(), O_RDWR);
    const off_t blocks = static_cast<off_t>(std::filesystem::file_size(index) / 1024);
    std::mt19937 rng(3);
    char block[6168] = {};
    std::int64_t i = rows;
    for (auto _ : state) {
        struct flock lock = {};
        lock.l_whence = SEEK_SET;
        lock.l_start = 0xEFFFFFFE;
        lock.l_len = 1;
        bool ok = true;
        if (shared) {
            lock.l_type = F_WRLCK;
            ok = ::fcntl(dbf, F_OFD_SETLKW, &lock) == 0 && ::pread(dbf, block, 4, 4) == 4 &&
                 ::pread(mdx, block, sizeof block, 0) == sizeof block;
        }
        ok = ok && ::pwrite(dbf, block, 42, static_cast<off_t>(193 + i * 41)) == 42;
        ok = ok && ::pwrite(dbf, block, 7, 1) == 7;
        for (int tag = 0; tag < 3; ++tag)
            ok = ok && ::pwrite(mdx, block, 1024, static_cast<off_t>(rng() % blocks) * 1024) == 1024;
        if (shared) {
            ok = ok && ::pwrite(mdx, block, 4097, 2068) == 4097; // the three tags' counters
            lock.l_type = F_UNLCK;
            ok = ok && ::fcntl(dbf, F_OFD_SETLK, &lock) == 0;
        }
        if (!ok)
            state.SkipWithError("write failed");
        ++i;
    }
    ::close(dbf);
    ::close(mdx);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawPostWrites)->Apply(SizesAndOpens)->Iterations(100000)->Unit(benchmark::kMicrosecond);

void BM_RebuildThreeTags(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    Prepare(rows);
    engine::Table t(kDir, TableName(rows));
    t.Open();
    for (auto _ : state)
        t.Reindex();
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_RebuildThreeTags)->Arg(10000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

// A unique tag holds the first row of each key. An edit that takes that row away from its key hands
// the key on to the next row with it: here every row starts without a contractor, and each edit
// gives one its own, so each takes the first blank row away from the blank key. The edits of the
// first 2,000 rows of tables of 10,000 and 100,000 rows, with an exclusive open (0) and with a
// shared one in a transaction committed every 500 edits, as an import does (1).
void BM_UniqueTagKeyEdits(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    std::filesystem::create_directories(kDir);
    const std::string prepared = "unique" + std::to_string(rows) + ".dbf";
    if (!std::filesystem::exists(kDir + "/" + prepared)) {
        engine::CreateTable(kDir, prepared, {{"WYKON", 'C', 8, 0}, {"NR", 'N', 8, 0}},
                            {{"WYKON_U", "WYKON", false, true}, {"NR", "NR", false, false}});
        engine::Table t(kDir, prepared);
        t.SetExclusive(true);
        t.Open();
        for (std::int64_t i = 0; i < rows; ++i) {
            t.Append();
            t.FieldByName("NR").SetInteger(i);
            t.Post();
        }
    }
    const std::string copy = "unique_edits.dbf";
    std::filesystem::copy_file(kDir + "/" + prepared, kDir + "/" + copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(kDir + "/" + IndexName(prepared), kDir + "/" + IndexName(copy),
                               std::filesystem::copy_options::overwrite_existing);
    const bool inTransaction = state.range(1) != 0;
    engine::Transaction transaction(kDir);
    transaction.SetSoleWriter(true); // as the import, which holds its counters table exclusively
    engine::Table t(kDir, copy);
    t.SetExclusive(!inTransaction);
    if (inTransaction)
        t.SetTransaction(&transaction);
    t.Open();
    std::uint32_t record = 0;
    for (auto _ : state) {
        t.MoveTo(++record);
        t.Edit();
        char id[9];
        std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(record));
        t.FieldByName("WYKON").SetString(id);
        t.Post();
        if (inTransaction && record % 500 == 0)
            transaction.Commit();
    }
    if (inTransaction)
        transaction.Commit();
    state.SetItemsProcessed(state.iterations());
    if (t.Verify() != std::vector<std::string>{})
        state.SkipWithError("the tags do not agree with the table after the edits");
}
BENCHMARK(BM_UniqueTagKeyEdits)
    ->ArgNames({"rows", "transaction"})
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({10000, 1})
    ->Args({100000, 1})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
