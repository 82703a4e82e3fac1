// The operating-system side of platform::LockedFile: POSIX descriptors with open-file-description
// locks, or Windows handles with share modes.
#include "platform/locked_file.h"

#include "platform/file_operations.h"
#include "platform/paths.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/utf.h"
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32

class WindowsLockedFile final : public LockedFile
{
public:
    explicit WindowsLockedFile(HANDLE handle) : handle_(handle) {}
    ~WindowsLockedFile() override { CloseHandle(handle_); }
    WindowsLockedFile(const WindowsLockedFile&) = delete;
    WindowsLockedFile& operator=(const WindowsLockedFile&) = delete;

    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) override
    {
        detail::CountRead(size);
        std::int64_t total = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            OVERLAPPED at{};
            const std::uint64_t position = static_cast<std::uint64_t>(offset + total);
            at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD got = 0;
            if (!ReadFile(handle_, out + total, chunk, &got, &at)) {
                if (GetLastError() == ERROR_HANDLE_EOF)
                    break;
                return -1;
            }
            if (got == 0)
                break;
            total += got;
            size -= got;
        }
        return total;
    }

    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t size) override
    {
        const detail::ChangeVerdict verdict = detail::BeforeChange(true);
        if (verdict == detail::ChangeVerdict::Fail)
            return false;
        detail::CountWrite(size);
        const bool tear = verdict == detail::ChangeVerdict::Tear;
        if (tear)
            size = detail::TornSize(offset, size);
        std::int64_t total = 0;
        const auto* in = static_cast<const unsigned char*>(buffer);
        while (size > 0) {
            OVERLAPPED at{};
            const std::uint64_t position = static_cast<std::uint64_t>(offset + total);
            at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD put = 0;
            if (!WriteFile(handle_, in + total, chunk, &put, &at) || put == 0)
                return false;
            total += put;
            size -= put;
        }
        if (tear)
            detail::EndProcessAfterTear();
        return true;
    }

    std::int64_t Size() override
    {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size))
            return -1;
        return size.QuadPart;
    }

    bool Resize(std::int64_t size) override
    {
        if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountWrite();
        LARGE_INTEGER to;
        to.QuadPart = size;
        return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(handle_) != 0;
    }

    bool Flush() override
    {
        if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountFlush();
        return FlushFileBuffers(handle_) != 0;
    }

    std::string Identity() override
    {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle_, &info))
            return std::string();
        return std::to_string(info.dwVolumeSerialNumber) + ":" +
               std::to_string((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow) + ":" +
               std::to_string((std::uint64_t{info.ftCreationTime.dwHighDateTime} << 32) |
                              info.ftCreationTime.dwLowDateTime);
    }

    // Shared opens on Windows lock a byte range for the duration of an update.
    bool LockForUpdate() override
    {
        detail::CountLock();
        OVERLAPPED at{};
        at.Offset = kUpdateLockOffset;
        return LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
    }

    void UnlockForUpdate() override
    {
        detail::CountLock();
        OVERLAPPED at{};
        at.Offset = kUpdateLockOffset;
        UnlockFileEx(handle_, 0, 1, 0, &at);
    }

    bool TryLockForUpdate() override
    {
        detail::CountLock();
        OVERLAPPED at{};
        at.Offset = kUpdateLockOffset;
        return LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
    }

private:
    static constexpr DWORD kUpdateLockOffset = 0xEFFFFFFEu;
    HANDLE handle_;
};

std::unique_ptr<LockedFile> Open(const std::string& path, ShareMode mode, DWORD disposition,
                                 OpenFailure* failure, bool othersMayRead = false)
{
    const std::wstring wide = Utf8ToWide(path);
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (mode != ShareMode::ReadOnly)
        access |= GENERIC_WRITE;
    if (mode == ShareMode::Exclusive)
        share = othersMayRead ? FILE_SHARE_READ : 0;
    detail::CountOpen();
    HANDLE handle =
        CreateFileW(wide.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (failure) {
            if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
                *failure = OpenFailure::Locked;
            else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                *failure = OpenFailure::NotFound;
            else
                *failure = OpenFailure::Other;
        }
        return nullptr;
    }
    if (failure)
        *failure = OpenFailure::None;
    return std::make_unique<WindowsLockedFile>(handle);
}

#else

// Byte ranges of the locks, at the top of the 32-bit range where the dBase engines put theirs.
constexpr off_t kOpenLockOffset = 0xEFFFFFFF;
constexpr off_t kUpdateLockOffset = 0xEFFFFFFE;

bool SetLock(int fd, short type, off_t offset, bool wait)
{
    detail::CountLock();
    struct flock lock
    {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    lock.l_pid = 0; // required by F_OFD_SETLK
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

class PosixLockedFile final : public LockedFile
{
public:
    PosixLockedFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixLockedFile() override { close(fd_); } // closing the description drops its locks
    PosixLockedFile(const PosixLockedFile&) = delete;
    PosixLockedFile& operator=(const PosixLockedFile&) = delete;

    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) override
    {
        detail::CountRead(size);
        std::int64_t total = 0;
        auto* out = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            const ssize_t got = pread(fd_, out + total, size, static_cast<off_t>(offset + total));
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

    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t size) override
    {
        const detail::ChangeVerdict verdict = detail::BeforeChange(true);
        if (verdict == detail::ChangeVerdict::Fail)
            return false;
        detail::CountWrite(size);
        const bool tear = verdict == detail::ChangeVerdict::Tear;
        if (tear)
            size = detail::TornSize(offset, size);
        std::int64_t total = 0;
        const auto* in = static_cast<const unsigned char*>(buffer);
        while (size > 0) {
            const ssize_t put = pwrite(fd_, in + total, size, static_cast<off_t>(offset + total));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (put == 0) {
                errno = EIO; // nothing written, and the system said nothing of why
                return false;
            }
            total += put;
            size -= static_cast<std::size_t>(put);
        }
        if (tear)
            detail::EndProcessAfterTear();
        if (detail::Recording())
            detail::Record({RecordedChange::Kind::Write,
                            path_,
                            {},
                            offset,
                            std::string(static_cast<const char*>(buffer), total)});
        return true;
    }

    std::int64_t Size() override
    {
        struct stat info
        {};
        if (fstat(fd_, &info) != 0)
            return -1;
        return info.st_size;
    }

    bool Resize(std::int64_t size) override
    {
        if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountWrite();
        if (ftruncate(fd_, static_cast<off_t>(size)) != 0)
            return false;
        if (detail::Recording())
            detail::Record({RecordedChange::Kind::Resize, path_, {}, size, {}});
        return true;
    }

    bool Flush() override
    {
        if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountFlush();
        if (fsync(fd_) != 0)
            return false;
        if (detail::Recording())
            detail::Record({RecordedChange::Kind::Flush, path_, {}, 0, {}});
        return true;
    }

    std::string Identity() override
    {
        struct stat info
        {};
        if (fstat(fd_, &info) != 0)
            return std::string();
        return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(info.st_ino));
    }

    bool LockForUpdate() override { return SetLock(fd_, F_WRLCK, kUpdateLockOffset, true); }
    void UnlockForUpdate() override { SetLock(fd_, F_UNLCK, kUpdateLockOffset, false); }
    bool TryLockForUpdate() override { return SetLock(fd_, F_WRLCK, kUpdateLockOffset, false); }

private:
    int fd_;
    std::string path_;
};

std::unique_ptr<LockedFile> Open(const std::string& path, ShareMode mode, int flags, OpenFailure* failure)
{
    detail::CountOpen();
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (failure)
            *failure = errno == ENOENT ? OpenFailure::NotFound : OpenFailure::Other;
        return nullptr;
    }
    if (mode != ShareMode::ReadOnly) {
        const short type = mode == ShareMode::Exclusive ? F_WRLCK : F_RDLCK;
        if (!SetLock(fd, type, kOpenLockOffset, false)) {
            const int error = errno;
            close(fd);
            if (failure)
                *failure = (error == EAGAIN || error == EACCES) ? OpenFailure::Locked : OpenFailure::Other;
            return nullptr;
        }
    }
    if (failure)
        *failure = OpenFailure::None;
    if ((flags & O_TRUNC) != 0 && detail::Recording())
        detail::Record({RecordedChange::Kind::Create, path, {}, 0, {}});
    return std::make_unique<PosixLockedFile>(fd, path);
}

#endif

} // namespace

std::unique_ptr<LockedFile> OpenLocked(const std::string& path, ShareMode mode, OpenFailure* failure)
{
    const std::string resolved = ResolveCaseInsensitive(path);
#ifdef _WIN32
    return Open(resolved, mode, OPEN_EXISTING, failure);
#else
    return Open(resolved, mode, mode == ShareMode::ReadOnly ? O_RDONLY : O_RDWR, failure);
#endif
}

std::unique_ptr<LockedFile> CreateLocked(const std::string& path, OpenFailure* failure, bool othersMayRead)
{
#ifdef _WIN32
    return Open(path, ShareMode::Exclusive, CREATE_ALWAYS, failure, othersMayRead);
#else
    (void)othersMayRead;
    return Open(path, ShareMode::Exclusive, O_RDWR | O_CREAT | O_TRUNC, failure);
#endif
}

bool RemoveFile(const std::string& path)
{
    if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
        return false;
    detail::CountRemoval();
    const std::string resolved = ResolveCaseInsensitive(path);
#ifdef _WIN32
    return DeleteFileW(Utf8ToWide(resolved).c_str()) != 0;
#else
    if (unlink(resolved.c_str()) != 0)
        return false;
    if (detail::Recording())
        detail::Record({RecordedChange::Kind::Remove, resolved, {}, 0, {}});
    return true;
#endif
}

bool SyncDirectory(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return true;
#else
    if (detail::BeforeChange(false) != detail::ChangeVerdict::Proceed)
        return false;
    detail::CountOpen();
    const int fd = open(ResolveCaseInsensitive(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    detail::CountFlush();
    const bool synced = fsync(fd) == 0;
    close(fd);
    if (synced && detail::Recording())
        detail::Record({RecordedChange::Kind::SyncDirectory, ResolveCaseInsensitive(path), {}, 0, {}});
    return synced;
#endif
}

} // namespace platform
