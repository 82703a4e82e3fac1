// The operating-system side of platform::File: POSIX descriptors, or Windows handles opened
// through the wide-character API.
#include "platform/file.h"

#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/utf.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32

class WindowsFile final : public File
{
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override { CloseHandle(handle_); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    bool Seek(std::int64_t offset) override
    {
        if (offset < 0)
            return false;
        LARGE_INTEGER to;
        to.QuadPart = offset;
        return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0;
    }

    std::int64_t Read(void* buffer, std::size_t size) override
    {
        detail::CountRead(size);
        std::int64_t total = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD got = 0;
            if (!ReadFile(handle_, out + total, chunk, &got, nullptr))
                return -1;
            if (got == 0)
                break;
            total += got;
            size -= got;
        }
        return total;
    }

    std::int64_t LastWriteStamp() override
    {
        FILETIME written;
        if (!GetFileTime(handle_, nullptr, nullptr, &written))
            return -1;
        const std::uint64_t ticks = (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
        return static_cast<std::int64_t>(ticks) * 100; // 100-nanosecond ticks
    }

    std::int64_t Size() override
    {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size))
            return -1;
        return size.QuadPart;
    }

private:
    HANDLE handle_;
};

#else

class PosixFile final : public File
{
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Seek(std::int64_t offset) override
    {
        if (offset < 0)
            return false;
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }

    std::int64_t Read(void* buffer, std::size_t size) override
    {
        detail::CountRead(size);
        std::int64_t total = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            const ssize_t got = ::read(fd_, out + total, size);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (got == 0)
                break;
            total += got;
            size -= static_cast<std::size_t>(got);
        }
        return total;
    }

    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) override
    {
        if (offset < 0)
            return -1;
        detail::CountRead(size);
        std::int64_t total = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            const ssize_t got = ::pread(fd_, out + total, size, static_cast<off_t>(offset + total));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (got == 0)
                break;
            total += got;
            size -= static_cast<std::size_t>(got);
        }
        return total;
    }

    std::int64_t LastWriteStamp() override
    {
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            return -1;
        return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }

    std::int64_t Size() override
    {
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            return -1;
        return static_cast<std::int64_t>(st.st_size);
    }

private:
    int fd_;
};

#endif

} // namespace

std::unique_ptr<File> OpenForReading(const std::string& path)
{
    const std::string name = ResolveCaseInsensitive(path);
    detail::CountOpen();
#ifdef _WIN32
    const std::wstring wide = Utf8ToWide(name);
    HANDLE handle =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<WindowsFile>(handle);
#else
    // Opened without waiting (a named pipe would wait for a writer for ever), and then only a
    // regular file is kept.
    int fd;
    do {
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    struct stat st;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
#endif
}

} // namespace platform
