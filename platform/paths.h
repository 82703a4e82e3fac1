// File names as the program uses them: the native separator, names found without regard to
// letter case on case-sensitive file systems, and the program file's own path.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The directory separator of this system: '\\' on Windows, '/' elsewhere.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// How a text file for people ends its lines here: "\r\n" on Windows (where older Notepads show
// a file of bare line feeds as one line), "\n" elsewhere.
#ifdef _WIN32
inline constexpr const char* kTextLineEnd = "\r\n";
#else
inline constexpr const char* kTextLineEnd = "\n";
#endif

// True for either separator character accepted on this system ('/' everywhere, '\\' on Windows).
bool IsSeparator(char c);

// Returns the path of an existing file or directory whose name equals `path` without regard
// to the letter case of ASCII letters, component by component; the path itself when it
// exists as written, when nothing matches, or on a case-insensitive file system.
// Components that exist as written are kept as written; the first match in directory
// order is taken where several names differ only in case.
std::string ResolveCaseInsensitive(const std::string& path);

// True when a file or directory of that name exists (after the case-insensitive lookup).
bool Exists(const std::string& path);

// Creates the directory and any missing parents. Returns false when that fails.
bool CreateDirectories(const std::string& path);

// True when a directory of that name exists (after the case-insensitive lookup).
bool IsDirectory(const std::string& path);

// A UTF-8 path in the form the standard library's file functions take: wide characters on
// Windows, so that names outside the ANSI code page (Polish letters on an English system)
// survive; the bytes as they are elsewhere.
std::filesystem::path NativePath(const std::string& utf8);

// Back from the standard library's form to UTF-8.
std::string Utf8Path(const std::filesystem::path& path);

// The full path of the running program file, UTF-8; empty when the system cannot tell.
std::string ProgramFilePath();

// The directory part of `path` up to and including its last separator; empty when none.
std::string DirectoryPart(std::string_view path);

} // namespace platform
