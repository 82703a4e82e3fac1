// Starting the test program again as a child, and the file handshake between the two.
#include "tests/support/child_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/paths.h"
#include "platform/system.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/utf.h"
#else
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace test_support {
namespace {

constexpr const char* kChildFlag = "--kerg-child-task";
constexpr auto kPoll = std::chrono::milliseconds(2);
constexpr auto kReportWait = std::chrono::seconds(60);
// A child whose parent died never gets released: it gives up after this long so that nothing
// hangs around.
constexpr auto kReleaseWait = std::chrono::seconds(120);
constexpr int kStartAttempts = 10;
constexpr auto kStartPause = std::chrono::milliseconds(200);

std::map<std::string, ChildTask>& Tasks()
{
    static std::map<std::string, ChildTask> tasks;
    return tasks;
}

std::string Join(const std::string& folder, const char* name)
{
    return folder + platform::kSeparator + name;
}

#ifdef _WIN32
// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring Quote(const std::wstring& arg)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        out.push_back(c);
        backslashes = 0;
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}
#endif

} // namespace

ChildChannel::ChildChannel(std::string folder, std::vector<std::string> args)
    : folder_(std::move(folder)), args_(std::move(args))
{}

void ChildChannel::Report(const std::string& status)
{
    const std::string temporary = Join(folder_, "report.tmp");
    {
        std::ofstream out(platform::NativePath(temporary), std::ios::binary | std::ios::trunc);
        out << status;
    }
    std::error_code ec;
    fs::rename(platform::NativePath(temporary), platform::NativePath(Join(folder_, "report")), ec);
}

void ChildChannel::WaitForRelease()
{
    const auto until = std::chrono::steady_clock::now() + kReleaseWait;
    while (!platform::Exists(Join(folder_, "release")) && platform::Exists(folder_) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kPoll);
}

bool RegisterChildTask(const std::string& name, ChildTask task)
{
    Tasks()[name] = std::move(task);
    return true;
}

bool RunChildTaskIfAsked(int argc, char** argv, int& code)
{
    if (argc < 2 || std::string(argv[1]) != kChildFlag)
        return false;
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() < 3) {
        code = 3;
        return true;
    }
    ChildChannel channel(args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    const auto task = Tasks().find(args[1]);
    if (task == Tasks().end()) {
        channel.Report("failed: no task " + args[1]);
        code = 3;
        return true;
    }
    try {
        code = task->second(channel);
    } catch (const std::exception& e) {
        channel.Report(std::string("failed: ") + e.what());
        code = 1;
    }
    return true;
}

ChildProcess::ChildProcess(const std::string& task, const std::vector<std::string>& args)
{
    std::random_device device;
    std::mt19937_64 random(device());
    for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("kerg-child-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
            folder_ = platform::Utf8Path(candidate);
    }
    if (folder_.empty())
        throw std::runtime_error("cannot create the child's folder");

    const std::string program = platform::ProgramFilePath();
    std::vector<std::string> all = {program, kChildFlag, task, folder_};
    all.insert(all.end(), args.begin(), args.end());
#ifdef _WIN32
    std::wstring commandLine;
    for (const std::string& arg : all) {
        if (!commandLine.empty())
            commandLine.push_back(L' ');
        commandLine += Quote(platform::Utf8ToWide(arg));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::wstring application = platform::Utf8ToWide(program);
    // A start can fail for a moment when the system is short of something (seen under Wine on a
    // loaded machine): it is tried again a few times before the test gives up.
    DWORD error = 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kStartPause);
        std::wstring line = commandLine; // CreateProcessW may write into its command line
        if (CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            error = 0;
            break;
        }
        error = GetLastError();
    }
    if (error != 0)
        throw std::runtime_error("cannot start the child process (system error " + std::to_string(error) +
                                 ")");
    CloseHandle(process.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
#else
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kStartPause);
        error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
        if (error != EAGAIN && error != ENOMEM)
            break;
    }
    if (error != 0)
        throw std::runtime_error("cannot start the child process (error " + std::to_string(error) + ")");
    handle_ = pid;
#endif
}

ChildProcess::~ChildProcess()
{
    Release();
    Wait();
    std::error_code ec;
    fs::remove_all(platform::NativePath(folder_), ec);
}

std::string ChildProcess::Report()
{
    // A report is never empty. On Windows a file just renamed into place can briefly refuse to
    // be opened, so a report that cannot be read yet is read again.
    const std::string report = Join(folder_, "report");
    const auto until = std::chrono::steady_clock::now() + kReportWait;
    for (;;) {
        if (platform::Exists(report)) {
            std::ifstream in(platform::NativePath(report), std::ios::binary);
            std::ostringstream text;
            if (in)
                text << in.rdbuf();
            if (!text.str().empty())
                return text.str();
        } else if (!Running() && !platform::Exists(report)) {
            return "ended without a report, exit code " + std::to_string(exitCode_);
        }
        if (std::chrono::steady_clock::now() > until)
            return "no report within a minute";
        std::this_thread::sleep_for(kPoll);
    }
}

void ChildProcess::Release()
{
    std::ofstream(platform::NativePath(Join(folder_, "release")), std::ios::binary | std::ios::trunc);
}

bool ChildProcess::Running()
{
    if (ended_ || handle_ == -1)
        return false;
#ifdef _WIN32
    const HANDLE process = reinterpret_cast<HANDLE>(handle_);
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
        return true;
#else
    int status = 0;
    const pid_t done = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    if (done == 0)
        return true;
    ended_ = true;
    exitCode_ = (done > 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return false;
#endif
    Wait();
    return false;
}

int ChildProcess::Wait()
{
    if (ended_ || handle_ == -1)
        return exitCode_;
#ifdef _WIN32
    const HANDLE process = reinterpret_cast<HANDLE>(handle_);
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
        exitCode_ = static_cast<int>(code);
    CloseHandle(process);
#else
    int status = 0;
    if (waitpid(static_cast<pid_t>(handle_), &status, 0) > 0 && WIFEXITED(status))
        exitCode_ = WEXITSTATUS(status);
#endif
    ended_ = true;
    return exitCode_;
}

} // namespace test_support
