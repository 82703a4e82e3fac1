// Today's date, the local time and terminal detection on each system.
#include "platform/system.h"

#include <algorithm>
#include <ctime>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <shellapi.h> // needs windows.h first
// clang-format on
#include <io.h>

#include "platform/utf.h"
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

std::tm Local(std::time_t when)
{
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

} // namespace

LocalTime Now()
{
    const std::tm local = Local(std::time(nullptr));
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

LocalDate Today()
{
    // The date is worked out anew only when the day may have changed: a post asks for it each
    // time, and the time-zone conversion costs more than the rest of a table's header write.
    // The day cannot end sooner than the local clock's time to midnight less two hours (a clock
    // put forward), so the date stands until then; in those last two hours it is worked out once a
    // second.
    thread_local std::time_t validUntil = 0;
    thread_local LocalDate date{};
    const std::time_t now = std::time(nullptr);
    if (now >= validUntil || now < validUntil - 86400) {
        const std::tm local = Local(now);
        date = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
        const long toMidnight = 86400L - (local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec);
        validUntil = now + std::max(1L, toMidnight - 7200L);
    }
    return date;
}

bool IsTerminal(int stream)
{
#ifdef _WIN32
    return _isatty(stream) != 0;
#else
    return isatty(stream) != 0;
#endif
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i)
            args.push_back(WideToUtf8(wide[i]));
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console()
{
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
}

} // namespace platform
