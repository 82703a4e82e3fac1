// The system's error codes in Polish words.
#include "platform/file_errors.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#endif

namespace platform {
namespace {

const char* ActionWord(FileAction action)
{
    switch (action) {
    case FileAction::Open:
        return "otworzyć";
    case FileAction::Read:
        return "odczytać";
    case FileAction::Write:
        return "zapisać";
    }
    return "użyć";
}

} // namespace

int LastSystemError()
{
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

void SetLastSystemError(int systemError)
{
#ifdef _WIN32
    SetLastError(static_cast<DWORD>(systemError));
#else
    errno = systemError;
#endif
}

int DiskFullError()
{
#ifdef _WIN32
    return ERROR_DISK_FULL;
#else
    return ENOSPC;
#endif
}

bool IsNotFoundError(int systemError)
{
#ifdef _WIN32
    return systemError == ERROR_FILE_NOT_FOUND || systemError == ERROR_PATH_NOT_FOUND;
#else
    return systemError == ENOENT || systemError == ENOTDIR;
#endif
}

std::string FileErrorReason(FileAction action, int systemError)
{
    const char* missingFile = "plik nie istnieje";
    const char* missingDirectory = "katalog nie istnieje";
    const char* denied = "brak dostępu";
    const char* full = "brak miejsca na dysku";
    const char* busy = "plik jest zajęty przez inny program";
#ifdef _WIN32
    (void)action; // the system's own codes tell a missing file from a missing directory
#endif
    switch (systemError) {
#ifdef _WIN32
    case ERROR_FILE_NOT_FOUND:
        return missingFile;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
        return missingDirectory;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return denied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return full;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return busy;
#else
    case ENOENT:
        // Creating a file fails so only when its directory is missing.
        return action == FileAction::Write ? missingDirectory : missingFile;
    case ENOTDIR:
        return missingDirectory;
    case EACCES:
    case EPERM:
    case EROFS:
        return denied;
    case ENOSPC:
    case EDQUOT:
        return full;
    case EBUSY:
    case ETXTBSY:
        return busy;
    case EISDIR:
        return "to jest katalog, nie plik";
#endif
    default:
        return "błąd systemu plików (kod " + std::to_string(systemError) + ")";
    }
}

std::string FileErrorMessage(const std::string& path, const FileFailure& failure)
{
    return std::string("Nie można ") + ActionWord(failure.action) + " pliku " + path + ": " +
           FileErrorReason(failure.action, failure.systemError);
}

} // namespace platform
