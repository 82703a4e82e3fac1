// Speed of the archive reader on files it generates once under the build folder: a sequential
// scan of a 1,000,000-record table (against reading the same file raw in 32,000-byte blocks),
// and random searches and a full walk of an index of 1,000,000 keys (with the page reads counted).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <benchmark/benchmark.h>

#include "archive/reader.h"
#include "platform/file.h"
#include "tools/dbf_writer.h"
#include "tools/ntx_writer.h"

namespace {

constexpr int kRecords = 1000000;
constexpr int kKeys = 1000000;

std::string DataDir()
{
    const std::string dir = KERG_BENCH_DATA;
    std::filesystem::create_directories(dir);
    return dir;
}

std::string Key(std::uint32_t i)
{
    // Spread over the key space, ten bytes, some shared prefixes.
    char key[16];
    std::snprintf(key, sizeof key, "K%09u", (i * 2654435761u) % 1000000000u);
    return key;
}

const std::string& TablePath()
{
    static const std::string path = [] {
        const std::string p = DataDir() + "/SCAN.DBF";
        if (std::filesystem::exists(p))
            return p;
        writers::DbfWriter table({{"ID", 'C', 4, 0},
                                  {"NR", 'N', 8, 0},
                                  {"ROK", 'N', 4, 0},
                                  {"KOD", 'N', 3, 0},
                                  {"KWOTA", 'N', 12, 2},
                                  {"NAZWA", 'C', 30, 0},
                                  {"OPIS", 'C', 40, 0},
                                  {"JEST", 'L', 1, 0},
                                  {"LINK", 'C', 2, 0},
                                  {"SUROWE", 'C', 6, 0}});
        std::mt19937 random(1);
        for (int i = 0; i < kRecords; ++i) {
            char amount[16];
            std::snprintf(amount, sizeof amount, "%.2f", (random() % 10000000) / 100.0);
            const std::string id{static_cast<char>(i & 0xFF), static_cast<char>((i >> 8) & 0xFF),
                                 static_cast<char>((i >> 16) & 0xFF), 0};
            table.Add({id, std::to_string(random() % 10000000), std::to_string(1990 + i % 30),
                       std::to_string(i % 1000), amount, "Nazwa \x9D\xA2\x64\xAB " + std::to_string(i),
                       "Opis pracy geodezyjnej nr " + std::to_string(i), i % 3 ? "T" : "F", "\x01\x02",
                       "ABCDEF"});
        }
        writers::WriteFile(p, table.Bytes());
        return p;
    }();
    return path;
}

const std::string& IndexPath()
{
    static const std::string path = [] {
        const std::string p = DataDir() + "/SEEK.NTX";
        if (std::filesystem::exists(p))
            return p;
        std::vector<writers::NtxEntry> entries;
        entries.reserve(kKeys);
        for (std::uint32_t i = 0; i < kKeys; ++i)
            entries.push_back({Key(i), i + 1});
        std::sort(entries.begin(), entries.end(),
                  [](const writers::NtxEntry& a, const writers::NtxEntry& b) { return a.key < b.key; });
        writers::NtxOptions options;
        options.keyExpression = "KLUCZ";
        options.keySize = 10;
        writers::WriteFile(p, writers::BuildNtx(entries, options));
        return p;
    }();
    return path;
}

// Counts the reads that reach the file.
class CountingFile final : public platform::File
{
public:
    CountingFile(std::unique_ptr<platform::File> inner, long* reads) : inner_(std::move(inner)), reads_(reads)
    {}
    bool Seek(std::int64_t offset) override { return inner_->Seek(offset); }
    std::int64_t Read(void* buffer, std::size_t size) override
    {
        ++*reads_;
        return inner_->Read(buffer, size);
    }
    std::int64_t LastWriteStamp() override { return inner_->LastWriteStamp(); }
    std::int64_t Size() override { return inner_->Size(); }

private:
    std::unique_ptr<platform::File> inner_;
    long* reads_;
};

void BM_RawRead32000(benchmark::State& state)
{
    const std::string& path = TablePath();
    std::vector<char> block(32000);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        auto file = platform::OpenForReading(path);
        std::int64_t got;
        while ((got = file->Read(block.data(), block.size())) > 0)
            bytes += got;
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_RawRead32000)->Unit(benchmark::kMillisecond);

void BM_NextRecordOnly(benchmark::State& state)
{
    const std::string& path = TablePath();
    std::int64_t records = 0;
    for (auto _ : state) {
        archive::Reader reader;
        reader.ResetWorkAreas();
        std::uint8_t area = 0;
        reader.OpenTable(path, area);
        reader.SetReadBuffer(area, 32000);
        while (!reader.IsEof(area)) {
            reader.NextRecord(area);
            ++records;
        }
        reader.CloseAllTables();
    }
    state.SetItemsProcessed(records);
    state.SetBytesProcessed(static_cast<std::int64_t>(std::filesystem::file_size(path)) * state.iterations());
}
BENCHMARK(BM_NextRecordOnly)->Unit(benchmark::kMillisecond);

void BM_ScanTenBoundFields(benchmark::State& state)
{
    const std::string& path = TablePath();
    std::int64_t fields = 0;
    for (auto _ : state) {
        archive::Reader reader;
        reader.ResetWorkAreas();
        reader.SourceCodePage = 3;
        std::uint8_t area = 0;
        reader.OpenTable(path, area);
        std::int32_t id = 0, nr = 0;
        std::uint16_t rok = 0;
        std::uint8_t kod = 0;
        double kwota = 0;
        archive::ShortString nazwa, opis, surowe;
        bool jest = false;
        std::int16_t link = 0;
        reader.BindBin4("ID", id);
        reader.BindLong("NR", nr);
        reader.BindWord("ROK", rok);
        reader.BindByte("KOD", kod);
        reader.BindReal("KWOTA", kwota);
        reader.BindString("NAZWA", nazwa, 30);
        reader.BindString("OPIS", opis, 40);
        reader.BindLogical("JEST", jest);
        reader.BindBin2("LINK", link);
        reader.BindRawString("SUROWE", surowe, 6);
        reader.SetReadBuffer(area, 32000);
        while (!reader.IsEof(area)) {
            reader.ReadRecord(area, 0);
            fields += 10;
            reader.NextRecord(area);
        }
        benchmark::DoNotOptimize(kwota);
        benchmark::DoNotOptimize(nazwa);
        reader.CloseAllTables();
    }
    state.SetItemsProcessed(fields);
    state.counters["fields_per_second"] =
        benchmark::Counter(static_cast<double>(fields), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanTenBoundFields)->Unit(benchmark::kMillisecond);

void BM_MillionRandomSeeks(benchmark::State& state)
{
    const std::string& path = IndexPath();
    long reads = 0;
    archive::Reader reader([&reads](const std::string& name) -> std::unique_ptr<platform::File> {
        auto inner = platform::OpenForReading(name);
        if (!inner)
            return nullptr;
        return std::make_unique<CountingFile>(std::move(inner), &reads);
    });
    archive::IndexHandle handle;
    reader.OpenIndex(handle, path);
    std::vector<std::string> keys;
    std::mt19937 random(7);
    for (int i = 0; i < kKeys; ++i)
        keys.push_back(Key(static_cast<std::uint32_t>(random() % kKeys)));
    std::int32_t recno = 0;
    long found = 0;
    long seeks = 0;
    reads = 0;
    const std::int64_t pagesBefore = handle.pageReads;
    for (auto _ : state) {
        for (const std::string& key : keys)
            found += reader.SeekKey(handle, key, recno) ? 1 : 0;
        seeks += static_cast<long>(keys.size());
    }
    // A key above every key ends its search in a leaf: the tree's depth.
    reader.SeekKey(handle, std::string(10, '\xFF'), recno);
    const int depth = handle.depth;
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(seeks);
    state.counters["pages_per_seek"] =
        static_cast<double>(handle.pageReads - pagesBefore) / static_cast<double>(seeks);
    state.counters["file_reads_per_seek"] = static_cast<double>(reads) / static_cast<double>(seeks);
    state.counters["tree_levels"] = depth;
    reader.CloseIndex(handle);
}
BENCHMARK(BM_MillionRandomSeeks)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FullNextKeyWalk(benchmark::State& state)
{
    const std::string& path = IndexPath();
    archive::Reader reader;
    archive::IndexHandle handle;
    reader.OpenIndex(handle, path);
    std::int64_t entries = 0;
    for (auto _ : state) {
        std::int32_t recno = 0;
        reader.SeekKey(handle, std::string(10, '\0'), recno);
        while (reader.NextKey(handle, recno))
            ++entries;
    }
    state.SetItemsProcessed(entries);
    reader.CloseIndex(handle);
}
BENCHMARK(BM_FullNextKeyWalk)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
