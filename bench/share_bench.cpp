// The import of an office whose database lies in a shared folder on a server, where every file
// request is a round trip over the network. The share is simulated: kerg-slow-share mirrors a copy
// of the office at a temporary mount point and answers every request after a fixed delay (0.5 ms,
// a round trip on an office network); the import runs with both the archive and the target on the
// mount. In the same run the office is imported locally, and the local time plus one delay for every
// file operation the file layer counts is set beside the time measured over the share: how far the
// count alone predicts it. The aim is the import of 10,000 works through the share within 30 s
// (the counter `within_goal`); nothing here fails when it is missed.
//
// The sample office (kerg-sample --works 10000 --seed 3) is written once under the build folder; the
// target imported over the share must equal the one imported locally.
// Mounting needs /dev/fuse and the right to mount (root, or fusermount3 for others); where FUSE is
// missing the benchmark is skipped with the reason.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/silent_ui.h"
#include "convert/import_run.h"
#include "engine/settings.h"
#include "platform/file_operations.h"
#include "tools/inspect.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr double kGoalSeconds = 30.0;

// The office of `works` works with seed `seed`, written once: ARCH (the archive) and CEL (the target).
std::string Office(int works, int seed)
{
    const std::string dir =
        std::string(KERG_BENCH_DATA) + "/office-" + std::to_string(works) + "-seed-" + std::to_string(seed);
    if (!fs::exists(dir + "/done")) {
        fs::remove_all(dir);
        const std::string command = std::string(KERG_SAMPLE) + " --works " + std::to_string(works) +
                                    " --seed " + std::to_string(seed) + " " + dir + "/ARCH " + dir + "/CEL";
        if (std::system(command.c_str()) != 0)
            return {};
        std::ofstream(dir + "/done") << "ok";
    }
    return dir;
}

// A fresh copy of `from` at `to`; false when it cannot be made.
bool FreshCopy(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::remove_all(to, ec);
    if (ec)
        return false;
    fs::create_directories(fs::path(to).parent_path(), ec);
    fs::copy(from, to, fs::copy_options::recursive, ec);
    return !ec;
}

struct ImportResult
{
    bool succeeded = false;
    double seconds = 0;
    platform::FileOperationCounts operations;
};

// The whole import, as the program runs it, of the archive `archive` into the target `target`.
ImportResult Import(const std::string& archive, const std::string& target)
{
    bench::SilentUi ui;
    ui.archive = archive + "/";
    ui.target = target + "/";
    ImportResult result;
    {
        convert::ImportRun run(ui, "", [] { return convert::Date{2026, 12, 6}; });
        platform::ResetFileOperations();
        const auto start = std::chrono::steady_clock::now();
        run.BitBtn1Click();
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.operations = platform::FileOperations();
    }
    result.succeeded = ui.succeeded;
    return result;
}

pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// Waits up to `seconds` for the child `pid` to end; its exit status, or -1 when it did not end.
int WaitFor(pid_t pid, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ended < 0 || std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Run(const std::vector<std::string>& args)
{
    const pid_t pid = Spawn(args);
    return pid > 0 && WaitFor(pid, 30) == 0;
}

// Whether something is mounted at `path`, read from /proc/self/mounts (which never touches the
// mount itself, so it cannot hang on it).
bool IsMounted(const std::string& path)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, point;
        if (fields >> device >> point && point == path)
            return true;
    }
    return false;
}

// A directory mounted through kerg-slow-share at a temporary mount point, for as long as the
// object lives; the counts of requests the share served are read at unmount.
class SlowShare
{
public:
    SlowShare() = default;
    SlowShare(const SlowShare&) = delete;
    SlowShare& operator=(const SlowShare&) = delete;
    ~SlowShare() { Unmount(); }

    // Mounts `source`; an empty string when mounted, else why not.
    std::string Mount(const std::string& source, long delayMicroseconds)
    {
        if (std::string(KERG_SLOW_SHARE).empty())
            return "kerg-slow-share was not built (libfuse3 was not found)";
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            return "no /dev/fuse here (or no access to it): FUSE mounts are not possible";
        char point[] = "/tmp/kerg-share-XXXXXX";
        if (!mkdtemp(point))
            return "no temporary mount point";
        mountPoint_ = point;
        countFile_ = mountPoint_ + ".counts";
        daemon_ = Spawn({KERG_SLOW_SHARE, "-f", "--delay-us", std::to_string(delayMicroseconds),
                         "--count-file", countFile_, source, mountPoint_});
        if (daemon_ < 0)
            return "kerg-slow-share could not be started";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!IsMounted(mountPoint_)) {
            int status = 0;
            if (waitpid(daemon_, &status, WNOHANG) == daemon_) {
                daemon_ = -1;
                Unmount();
                return "kerg-slow-share could not mount (is FUSE usable here?)";
            }
            if (std::chrono::steady_clock::now() > deadline) {
                Unmount();
                return "kerg-slow-share did not mount within 10 s";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }

    const std::string& MountPoint() const { return mountPoint_; }

    // Unmounts, ends the share and reads its counts; false when the counts could not be read.
    bool Unmount()
    {
        if (mountPoint_.empty())
            return false;
        for (int attempt = 0; attempt < 5 && IsMounted(mountPoint_); ++attempt) {
            if (!Run({"fusermount3", "-u", mountPoint_}) && geteuid() == 0)
                umount2(mountPoint_.c_str(), 0);
            if (IsMounted(mountPoint_))
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (daemon_ > 0 && WaitFor(daemon_, 10) < 0) {
            kill(daemon_, SIGTERM);
            if (WaitFor(daemon_, 5) < 0) {
                kill(daemon_, SIGKILL);
                WaitFor(daemon_, 5);
            }
        }
        daemon_ = -1;
        if (IsMounted(mountPoint_) && !Run({"fusermount3", "-u", "-z", mountPoint_}) && geteuid() == 0)
            umount2(mountPoint_.c_str(), MNT_DETACH);
        counts.clear();
        std::ifstream file(countFile_);
        std::string name;
        std::uint64_t count = 0;
        while (file >> name >> count)
            counts[name] = count;
        std::error_code ec;
        fs::remove(countFile_, ec);
        fs::remove(mountPoint_, ec);
        mountPoint_.clear();
        return counts.count("total") > 0;
    }

    // "total", "delayed" and one entry for every kind of request served.
    std::map<std::string, std::uint64_t> counts;

private:
    pid_t daemon_ = -1;
    std::string mountPoint_, countFile_;
};

std::string Describe(const platform::FileOperationCounts& c)
{
    return std::to_string(c.Total()) + " (opens " + std::to_string(c.opens) + ", reads " +
           std::to_string(c.reads) + ", writes " + std::to_string(c.writes) + ", locks " +
           std::to_string(c.locks) + ", flushes " + std::to_string(c.flushes) + ", removals " +
           std::to_string(c.removals) + ")";
}

void BM_ImportOverShare(benchmark::State& state)
{
    const int works = static_cast<int>(state.range(0));
    const long delayMicroseconds = static_cast<long>(state.range(1));
    const double delaySeconds = static_cast<double>(delayMicroseconds) / 1e6;
    const std::string office = Office(works, 3);
    if (office.empty()) {
        state.SkipWithError("kerg-sample failed");
        return;
    }
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});
    const std::string source = office + "/SHARE";
    const std::string localTarget = office + "/RUN";
    for (auto _ : state) {
        // The local import: the yardstick.
        if (!FreshCopy(office + "/CEL", localTarget)) {
            state.SkipWithError("the target could not be copied");
            return;
        }
        const ImportResult local = Import(office + "/ARCH", localTarget);
        if (!local.succeeded) {
            state.SkipWithError("the local import did not succeed");
            return;
        }

        // The same import through the share: archive and target are copied into the share's source
        // folder beforehand, outside the measurement.
        if (!FreshCopy(office + "/ARCH", source + "/ARCH") || !FreshCopy(office + "/CEL", source + "/CEL")) {
            state.SkipWithError("the office could not be copied for the share");
            return;
        }
        ImportResult shared;
        std::map<std::string, std::uint64_t> served;
        {
            SlowShare share;
            const std::string why = share.Mount(source, delayMicroseconds);
            if (!why.empty()) {
                std::cout << "share_bench: skipped: " << why << std::endl;
                state.SkipWithError(why.c_str());
                return;
            }
            shared = Import(share.MountPoint() + "/ARCH", share.MountPoint() + "/CEL");
            if (!share.Unmount()) {
                state.SkipWithError("the share's counts could not be read at unmount");
                return;
            }
            served = share.counts;
        }
        if (!shared.succeeded) {
            state.SkipWithError("the import over the share did not succeed");
            return;
        }
        // Both imports must leave the same target (the digest leaves out the reports and the
        // header dates).
        std::ostringstream localDigest, sharedDigest, ignored;
        if (tools::RunDigestCommand(localTarget, localDigest, ignored) != 0 ||
            tools::RunDigestCommand(source + "/CEL", sharedDigest, ignored) != 0 ||
            localDigest.str() != sharedDigest.str()) {
            state.SkipWithError("the target imported over the share differs from the one imported locally");
            return;
        }
        state.SetIterationTime(shared.seconds);

        const double predicted = local.seconds + static_cast<double>(local.operations.Total()) * delaySeconds;
        state.counters["share_s"] = shared.seconds;
        state.counters["local_s"] = local.seconds;
        state.counters["predicted_s"] = predicted;
        state.counters["local_file_ops"] = static_cast<double>(local.operations.Total());
        state.counters["share_file_ops"] = static_cast<double>(shared.operations.Total());
        state.counters["share_requests"] = static_cast<double>(served["total"]);
        state.counters["share_delayed"] = static_cast<double>(served["delayed"]);
        state.counters["share_delays_s"] = static_cast<double>(served["delayed"]) * delaySeconds;
        state.counters["goal_s"] = kGoalSeconds;
        state.counters["within_goal"] = shared.seconds <= kGoalSeconds ? 1 : 0;

        std::ostringstream out;
        out << "\nimport of " << works << " works, " << delayMicroseconds << " us a request on the share\n"
            << "  over the share:  " << shared.seconds << " s (goal " << kGoalSeconds
            << " s: " << (shared.seconds <= kGoalSeconds ? "met" : "missed") << ")\n"
            << "    file layer:    " << Describe(shared.operations) << "\n"
            << "    share served:  " << served["total"] << " requests, " << served["delayed"]
            << " of them delayed:";
        for (const auto& [name, count] : served)
            if (name != "total" && name != "delayed")
                out << " " << name << " " << count;
        out << "\n    of the time:   " << static_cast<double>(served["delayed"]) * delaySeconds
            << " s in the share's delays, the rest in the import and in FUSE itself (the row of 0 us)"
            << "\n  local:           " << local.seconds << " s\n"
            << "    file layer:    " << Describe(local.operations) << "\n"
            << "  from the count:  " << local.seconds << " s + " << local.operations.Total() << " x "
            << delayMicroseconds << " us = " << predicted << " s (with the share run's own count "
            << local.seconds + static_cast<double>(shared.operations.Total()) * delaySeconds << " s)\n";
        std::cout << out.str() << std::endl;
    }
}

BENCHMARK(BM_ImportOverShare)
    ->ArgNames({"works", "delay_us"})
    ->Args({10000, 0}) // what FUSE itself costs, without a delay
    ->Args({10000, 500})
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
