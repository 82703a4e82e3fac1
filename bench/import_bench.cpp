// The import end to end over sample offices of 10,000 and 100,000 works (a few assortments,
// parcels and raster ranges each; a person for every five works). The offices are written once by
// kerg-sample under the build folder; every iteration imports into a fresh copy of the target.
// The second argument is the number of works per commit (with a commit at least every second,
// as the program commits); 0 runs without transactions, every post going straight to the files,
// the way the import worked before it had them: the yardstick of what journaling costs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/silent_ui.h"
#include "convert/import_run.h"
#include "engine/mdx_index.h"
#include "engine/settings.h"
#include "platform/file_operations.h"

namespace fs = std::filesystem;

namespace {

// The office of `works` works, written once. `extraTags` 1: the indexed target tables have two tags
// more (a conditional one and one over DTOS, STR and IIF); 2: every target table has.
std::string Office(int works, int extraTags = 0)
{
    const char* const kinds[] = {"", " --extra-tags", " --extra-tags-everywhere"};
    const std::string dir = std::string(KERG_BENCH_DATA) + "/office-" + std::to_string(works) +
                            (extraTags == 0   ? ""
                             : extraTags == 1 ? "-extra-tags"
                                              : "-extra-tags-everywhere");
    if (!fs::exists(dir + "/done")) {
        fs::remove_all(dir);
        const std::string command = std::string(KERG_SAMPLE) + " --works " + std::to_string(works) +
                                    kinds[extraTags] + " " + dir + "/ARCH " + dir + "/CEL";
        if (std::system(command.c_str()) != 0)
            return {};
        std::ofstream(dir + "/done") << "ok";
    }
    return dir;
}

// One import into a fresh copy of the office's target: whether it succeeded, its seconds, the
// file operations it made and the entries it put into tags and took out of them.
struct ImportResult
{
    bool ok = false;
    double seconds = 0;
    platform::FileOperationCounts ops;
    engine::IndexUpdateCounts index;
    long pageFaults = 0; // minor page faults: fresh memory taken from the system
};

ImportResult ImportOnce(const std::string& office, int perCommit)
{
    const std::string target = office + "/RUN";
    fs::remove_all(target);
    fs::copy(office + "/CEL", target, fs::copy_options::recursive);
    bench::SilentUi ui;
    ui.archive = office + "/ARCH/";
    ui.target = target + "/";
    convert::ImportRun run(ui, "", [] { return convert::Date{2026, 12, 6}; });
    run.Commits().transactions = perCommit > 0;
    if (perCommit > 0)
        run.Commits().worksPerCommit = perCommit;
    platform::ResetFileOperations();
    engine::ResetIndexUpdates();
    struct rusage before
    {};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    run.BitBtn1Click();
    ImportResult result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage after
    {};
    getrusage(RUSAGE_SELF, &after);
    result.pageFaults = after.ru_minflt - before.ru_minflt;
    result.ok = ui.succeeded;
    result.ops = platform::FileOperations();
    result.index = engine::IndexUpdates();
    return result;
}

void BM_Import(benchmark::State& state)
{
    const int works = static_cast<int>(state.range(0));
    const int perCommit = static_cast<int>(state.range(1));
    const int extraTags = static_cast<int>(state.range(2));
    const std::string office = Office(works, extraTags);
    if (office.empty()) {
        state.SkipWithError("kerg-sample failed");
        return;
    }
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    bool ok = true;
    for (auto _ : state) {
        const ImportResult r = ImportOnce(office, perCommit);
        state.SetIterationTime(r.seconds);
        ok = ok && r.ok;
        const auto perWork = [works](std::uint64_t n) {
            return static_cast<double>(n) / static_cast<double>(works);
        };
        state.counters["file_ops_per_work"] = perWork(r.ops.Total());
        state.counters["reads_per_work"] = perWork(r.ops.reads);
        state.counters["writes_per_work"] = perWork(r.ops.writes);
        state.counters["locks_per_work"] = perWork(r.ops.locks);
        state.counters["opens"] = static_cast<double>(r.ops.opens);
        state.counters["flushes"] = static_cast<double>(r.ops.flushes);
        state.counters["MB_read"] = static_cast<double>(r.ops.bytesRead) / 1e6;
        state.counters["MB_written"] = static_cast<double>(r.ops.bytesWritten) / 1e6;
        state.counters["page_faults"] = static_cast<double>(r.pageFaults);
        state.counters["tag_inserts_per_work"] = perWork(r.index.inserts);
        state.counters["tag_removals_per_work"] = perWork(r.index.removals);
    }
    if (!ok)
        state.SkipWithError("the import did not succeed");
    struct rusage usage
    {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["works_per_second"] = benchmark::Counter(
        static_cast<double>(works) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// How the import's time grows with the office: 10,000 and 100,000 works imported in turn, ten
// times each, by `import`. The goal is a ratio of at most 11 (10 would be exactly linear), taken
// between the fastest of each: the import least disturbed by the rest of the machine. On a shared
// machine a short import more often falls wholly into a quiet moment than a long one does, so the
// ratio of the medians is reported beside it.
void MeasureGrowth(benchmark::State& state, const std::function<ImportResult(const std::string&)>& import)
{
    const std::string small = Office(10000), large = Office(100000);
    if (small.empty() || large.empty()) {
        state.SkipWithError("kerg-sample failed");
        return;
    }
    for (auto _ : state) {
        std::vector<ImportResult> smalls, larges;
        bool ok = true;
        for (int round = 0; round < 10; ++round) {
            smalls.push_back(import(small));
            larges.push_back(import(large));
            ok = ok && smalls.back().ok && larges.back().ok;
        }
        if (!ok) {
            state.SkipWithError("an import did not succeed");
            return;
        }
        const auto bySeconds = [](const ImportResult& x, const ImportResult& y) {
            return x.seconds < y.seconds;
        };
        std::sort(smalls.begin(), smalls.end(), bySeconds);
        std::sort(larges.begin(), larges.end(), bySeconds);
        const auto median = [](const std::vector<ImportResult>& runs) {
            return (runs[runs.size() / 2 - 1].seconds + runs[runs.size() / 2].seconds) / 2;
        };
        const ImportResult& fastestSmall = smalls.front();
        const ImportResult& fastestLarge = larges.front();
        state.SetIterationTime(fastestLarge.seconds);
        state.counters["ms_10000"] = fastestSmall.seconds * 1000;
        state.counters["ms_100000"] = fastestLarge.seconds * 1000;
        state.counters["page_faults_10000"] = static_cast<double>(fastestSmall.pageFaults);
        state.counters["page_faults_100000"] = static_cast<double>(fastestLarge.pageFaults);
        const double ratio = fastestLarge.seconds / fastestSmall.seconds;
        state.counters["ratio"] = ratio;
        state.counters["median_ms_10000"] = median(smalls) * 1000;
        state.counters["median_ms_100000"] = median(larges) * 1000;
        state.counters["ratio_of_medians"] = median(larges) / median(smalls);
        state.counters["within_goal_2500ms"] = fastestLarge.seconds <= 2.5 ? 1 : 0;
        state.counters["within_goal_ratio_11"] = ratio <= 11 ? 1 : 0;
    }
}

void BM_ImportGrowth(benchmark::State& state)
{
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    MeasureGrowth(state,
                  [](const std::string& office) { return ImportOnce(office, convert::kWorksPerCommit); });
    struct rusage usage
    {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ImportGrowth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// The program imports once per start, into memory it has not used before. In BM_ImportGrowth the
// smaller import reuses memory the process already holds from the larger one, and only the larger
// pays for fresh memory (5,000 to 18,000 page faults against 800 here, as the heap's history has
// it). This variant runs every import in a process of its own: the benchmark starts itself again
// with kImportOnce, which imports once and prints the import's seconds and page faults. The
// process's start and the copy of the target are not timed.
constexpr const char* kImportOnce = "--import-once";

ImportResult ImportInFreshProcess(const std::string& office)
{
    // The child is this program started again, without a shell: no path needs quoting. Its
    // arguments are ready before the fork, after which the child only redirects and executes.
    std::string program = "/proc/self/exe", flag = kImportOnce, where = office;
    char* const arguments[] = {program.data(), flag.data(), where.data(), nullptr};
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return {};
    }
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(arguments[0], arguments);
        _exit(127);
    }
    close(pipeEnds[1]);
    ImportResult result;
    int succeeded = 0;
    bool read = false;
    if (FILE* child = fdopen(pipeEnds[0], "r")) {
        read = std::fscanf(child, "%d %lf %ld", &succeeded, &result.seconds, &result.pageFaults) == 3;
        std::fclose(child);
    } else {
        close(pipeEnds[0]);
    }
    int status = 0;
    const bool ended = waitpid(pid, &status, 0) == pid;
    result.ok = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 && read && succeeded == 1;
    return result;
}

// What the child prints: whether the import succeeded, its seconds and its page faults.
int ImportOnceAndReport(const std::string& office)
{
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    const ImportResult r = ImportOnce(office, convert::kWorksPerCommit);
    std::printf("%d %.6f %ld\n", r.ok ? 1 : 0, r.seconds, r.pageFaults);
    return r.ok ? 0 : 1;
}

void BM_ImportGrowthFreshProcess(benchmark::State& state)
{
    MeasureGrowth(state, ImportInFreshProcess);
}
BENCHMARK(BM_ImportGrowthFreshProcess)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// What the office's own tags cost: the 100,000-work office imported in turn without extra tags,
// with two more tags on each table that has an index, and with two more on every target table, five
// times each, the fastest of each kept; the goal is at most 1.2 times the plain import.
void BM_ImportExtraTagsCost(benchmark::State& state)
{
    constexpr int kWorks = 100000;
    const std::string offices[] = {Office(kWorks), Office(kWorks, 1), Office(kWorks, 2)};
    for (const std::string& office : offices) {
        if (office.empty()) {
            state.SkipWithError("kerg-sample failed");
            return;
        }
    }
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    for (auto _ : state) {
        double fastest[3] = {1e9, 1e9, 1e9};
        ImportResult last[3];
        bool ok = true;
        for (int round = 0; round < 5; ++round) {
            for (int kind = 0; kind < 3; ++kind) {
                last[kind] = ImportOnce(offices[kind], convert::kWorksPerCommit);
                ok = ok && last[kind].ok;
                fastest[kind] = std::min(fastest[kind], last[kind].seconds);
            }
        }
        // What each import does, the same in every round: the tree updates per work and the bytes
        // written (tables, indexes and the journal).
        const char* const names[] = {"plain", "indexed_tables", "every_table"};
        for (int kind = 0; kind < 3; ++kind) {
            const ImportResult& r = last[kind];
            state.counters[std::string("tag_updates_per_work_") + names[kind]] =
                static_cast<double>(r.index.inserts + r.index.removals) / kWorks;
            state.counters[std::string("MB_written_") + names[kind]] =
                static_cast<double>(r.ops.bytesWritten) / 1e6;
        }
        if (!ok)
            state.SkipWithError("an import did not succeed");
        state.SetIterationTime(fastest[0]);
        state.counters["ms_plain"] = fastest[0] * 1000;
        state.counters["ms_indexed_tables"] = fastest[1] * 1000;
        state.counters["ms_every_table"] = fastest[2] * 1000;
        state.counters["ratio_indexed_tables"] = fastest[1] / fastest[0];
        state.counters["ratio_every_table"] = fastest[2] / fastest[0];
    }
}
BENCHMARK(BM_ImportExtraTagsCost)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

BENCHMARK(BM_Import)
    ->ArgNames({"works", "per_commit", "extra_tags"})
    ->Args({10000, 0, 0})
    ->Args({10000, convert::kWorksPerCommit, 0})
    ->Args({100000, 0, 0})
    ->Args({100000, convert::kWorksPerCommit, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();
// A conditional tag and an expression tag more on the indexed target tables (1), and on every target
// table (2), beside the plain office.
BENCHMARK(BM_Import)
    ->Name("BM_ImportExtraTags")
    ->ArgNames({"works", "per_commit", "extra_tags"})
    ->Args({100000, convert::kWorksPerCommit, 0})
    ->Args({100000, convert::kWorksPerCommit, 1})
    ->Args({100000, convert::kWorksPerCommit, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();
// The choice of the batch size: from a commit every 50 works to commits by the second alone, on
// the plain office and on the one with two more tags on every table.
BENCHMARK(BM_Import)
    ->Name("BM_ImportBatchSize")
    ->ArgNames({"works", "per_commit", "extra_tags"})
    ->Args({100000, 50, 0})
    ->Args({100000, 200, 0})
    ->Args({100000, 500, 0})
    ->Args({100000, 1000, 0})
    ->Args({100000, 2000, 0})
    ->Args({100000, 5000, 0})
    ->Args({100000, 10000, 0})
    ->Args({100000, 20000, 0})
    ->Args({100000, 34000, 0})
    ->Args({100000, 50000, 0})
    ->Args({100000, 1000000, 0})
    ->Args({100000, 2000, 2})
    ->Args({100000, 5000, 2})
    ->Args({100000, 10000, 2})
    ->Args({100000, 20000, 2})
    ->Args({100000, 1000000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == kImportOnce)
        return ImportOnceAndReport(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
