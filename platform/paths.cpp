// Path helpers: case-insensitive lookup, directory creation, the program file's own path.
#include "platform/paths.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/utf.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace platform {
namespace {

#ifndef _WIN32 // Windows file systems compare names without regard to case themselves
char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}
#endif

} // namespace

#ifdef _WIN32

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

#endif

bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::string ResolveCaseInsensitive(const std::string& path)
{
#ifdef _WIN32
    // Windows file systems already ignore letter case.
    return path;
#else
    std::error_code ec;
    if (path.empty() || fs::exists(NativePath(path), ec))
        return path;

    // Split into components, keeping whether the path is absolute and ends with a separator.
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (IsSeparator(c)) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    const bool absolute = IsSeparator(path.front());
    const bool trailing = IsSeparator(path.back());

    std::string resolved = absolute ? std::string(1, kSeparator) : std::string();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string candidate = resolved + parts[i];
        if (!fs::exists(NativePath(candidate), ec) && parts[i] != "." && parts[i] != "..") {
            const fs::path dir = resolved.empty() ? fs::path(".") : NativePath(resolved);
            bool found = false;
            for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().native();
                if (EqualIgnoringAsciiCase(name, parts[i])) {
                    candidate = resolved + name;
                    found = true;
                    break;
                }
            }
            if (!found)
                return path;
        }
        resolved = candidate;
        if (i + 1 < parts.size() || trailing)
            resolved.push_back(kSeparator);
    }
    return resolved;
#endif
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(NativePath(ResolveCaseInsensitive(path)), ec);
}

bool CreateDirectories(const std::string& path)
{
    std::error_code ec;
    const fs::path target = NativePath(ResolveCaseInsensitive(path));
    if (fs::is_directory(target, ec))
        return true;
    fs::create_directories(target, ec);
    return !ec && fs::is_directory(target, ec);
}

fs::path NativePath(const std::string& utf8)
{
#ifdef _WIN32
    return fs::path(Utf8ToWide(utf8));
#else
    return fs::path(utf8);
#endif
}

std::string Utf8Path(const fs::path& path)
{
#ifdef _WIN32
    return WideToUtf8(path.native());
#else
    return path.native();
#endif
}

bool IsDirectory(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(NativePath(ResolveCaseInsensitive(path)), ec);
}

std::string ProgramFilePath()
{
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return WideToUtf8(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
#else
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
#endif
}

std::string DirectoryPart(std::string_view path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1]))
            return std::string(path.substr(0, i));
    }
    return {};
}

} // namespace platform
