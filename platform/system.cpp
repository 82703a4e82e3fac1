// Today's date and terminal detection on each system.
#include "platform/system.h"

#include <ctime>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace platform {

LocalDate Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

bool IsTerminal(int stream)
{
#ifdef _WIN32
    return _isatty(stream) != 0;
#else
    return isatty(stream) != 0;
#endif
}

} // namespace platform
