// Why a file operation failed, in Polish words for the user. The one place where the system's
// error codes (errno, or GetLastError() on Windows) become text: messages that reach the user
// never carry the C library's English.
#pragma once

#include <string>

namespace platform {

// What was being done to the file.
enum class FileAction
{
    Open,  // "otworzyć"
    Read,  // "odczytać"
    Write, // "zapisać": creating, writing, flushing or putting a file in place
};

// A failed file operation: what was done, and the system's own error code.
struct FileFailure
{
    FileAction action = FileAction::Open;
    int systemError = 0;
};

// The error code the calling thread's last failed system call left: errno, or GetLastError() on
// Windows.
int LastSystemError();

// Sets the code LastSystemError gives next (errno, or SetLastError on Windows).
void SetLastSystemError(int systemError);

// The code of a full disk (ENOSPC, ERROR_DISK_FULL): what a failure injected by the tests reports.
int DiskFullError();

// Whether the code says that the file, or a directory of its path, does not exist (and nothing
// else: a file there that cannot be opened is another matter).
bool IsNotFoundError(int systemError);

// The reason in Polish: "brak dostępu", "plik nie istnieje" ("katalog nie istnieje" when writing),
// "brak miejsca na dysku", "plik jest zajęty przez inny program", "to jest katalog, nie plik",
// or "błąd systemu plików (kod N)" for every other code.
std::string FileErrorReason(FileAction action, int systemError);

// "Nie można otworzyć pliku PATH: REASON" (odczytać, zapisać); PATH as given, in UTF-8.
std::string FileErrorMessage(const std::string& path, const FileFailure& failure);

} // namespace platform
