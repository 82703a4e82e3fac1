// Speed of the table engine: appends with three tags kept (one over three fields), keyed
// searches and a rebuild of the three tags, at 10,000 and 1,000,000 rows.
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "engine/table.h"

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

// A parcel table of `rows` rows whose tags are then rebuilt: the records are written directly,
// the way a bulk load would, so that large tables are quick to prepare.
void Prepare(std::int64_t rows)
{
    std::filesystem::create_directories(kDir);
    const std::string name = TableName(rows);
    if (std::filesystem::exists(kDir + "/" + name))
        return;
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
    std::filesystem::copy_file(kDir + "/" + TableName(rows), kDir + "/" + copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(kDir + "/dz" + std::to_string(rows) + ".mdx",
                               kDir + "/append" + std::to_string(rows) + ".mdx",
                               std::filesystem::copy_options::overwrite_existing);
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
BENCHMARK(BM_AppendWithThreeTags)
    ->Args({10000, 0})
    ->Args({1000000, 0})
    ->Args({10000, 1})
    ->Args({1000000, 1})
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);

void BM_GotoKeyOverThreeFields(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    Prepare(rows);
    engine::Table t(kDir, TableName(rows));
    t.SetIndexName("OBR_DZ_ARK");
    t.SetExclusive(state.range(1) != 0);
    t.Open();
    std::mt19937 rng(2);
    std::int64_t found = 0;
    for (auto _ : state) {
        const std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(rows));
        t.EditKey();
        t.FieldByName("ID_OBR").SetString(Precinct(i));
        t.FieldByName("DZIALKA").SetString(Parcel(i));
        t.FieldByName("NR_ARKUSZA").SetString(i % 3 ? "" : "1");
        found += t.GotoKey() ? 1 : 0;
    }
    if (found != state.iterations())
        state.SkipWithError("a key was not found");
    state.SetItemsProcessed(state.iterations());
}
// Second argument: 0 a shared open (a search checks the index for others' posts, and takes the
// update lock unless the blocks it needs are in memory), 1 an exclusive open.
BENCHMARK(BM_GotoKeyOverThreeFields)
    ->Args({10000, 0})
    ->Args({1000000, 0})
    ->Args({10000, 1})
    ->Args({1000000, 1})
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);

// The physical limits on this machine, measured in the same run: one positioned read of a random
// record of the same table (what a search of a shared open must do at least, besides taking and
// releasing the update lock and checking the index for others' changes), and the five positioned
// writes a post with three tags must make at least (record, header, one block per tag).
void BM_RawRecordRead(benchmark::State& state)
{
    const std::int64_t rows = state.range(0);
    Prepare(rows);
    const int fd = ::open((kDir + "/" + TableName(rows)).c_str(), O_RDONLY);
    std::mt19937 rng(2);
    char record[41];
    for (auto _ : state) {
        const std::int64_t i = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(rows));
        if (::pread(fd, record, sizeof record, static_cast<off_t>(193 + i * 41)) != sizeof record)
            state.SkipWithError("read failed");
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawRecordRead)->Arg(10000)->Arg(1000000)->Iterations(100000)->Unit(benchmark::kMicrosecond);

void BM_RawPostWrites(benchmark::State& state)
{
    const std::string path = kDir + "/raw-writes.bin";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    char block[1024] = {};
    std::int64_t i = 0;
    for (auto _ : state) {
        bool ok = ::pwrite(fd, block, 42, static_cast<off_t>(1 << 20) + i * 41) == 42;
        ok = ok && ::pwrite(fd, block, 7, 1) == 7;
        for (int tag = 0; tag < 3; ++tag)
            ok = ok &&
                 ::pwrite(fd, block, sizeof block, static_cast<off_t>(4096 + tag * 1024)) == sizeof block;
        if (!ok)
            state.SkipWithError("write failed");
        ++i;
    }
    ::close(fd);
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawPostWrites)->Iterations(100000)->Unit(benchmark::kMicrosecond);

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

} // namespace

BENCHMARK_MAIN();
