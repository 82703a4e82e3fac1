// Whole-file reads, and replaces that keep the old file until the new one is complete on the disk.
#include "platform/whole_file.h"

#include "platform/file_operations.h"
#include "platform/locked_file.h"
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

constexpr std::size_t kChunk = 64 * 1024;

std::nullopt_t Failed(FileFailure* failure, FileAction action, int systemError)
{
    if (failure != nullptr)
        *failure = FileFailure{action, systemError};
    return std::nullopt;
}

// The directory a file lies in, for flushing it: "." for a bare name.
std::string DirectoryOf(const std::string& path)
{
    const std::string directory = DirectoryPart(path);
    return directory.empty() ? std::string(".") : directory;
}

#ifdef _WIN32

class Handle
{
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close()
    {
        if (!Valid())
            return true;
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

#else

class Descriptor
{
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    bool Close()
    {
        if (fd_ < 0)
            return true;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_;
};

#endif

} // namespace

std::string ReplacementPath(const std::string& path)
{
    return path + ".tmp";
}

std::optional<std::string> ReadWholeFile(const std::string& path, FileFailure* failure)
{
    const std::string name = ResolveCaseInsensitive(path);
    detail::CountOpen();
    std::string bytes;
    std::string buffer(kChunk, '\0');
#ifdef _WIN32
    Handle file(CreateFileW(Utf8ToWide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return Failed(failure, FileAction::Open, LastSystemError());
    for (;;) {
        detail::CountRead(buffer.size());
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return Failed(failure, FileAction::Read, LastSystemError());
        if (got == 0)
            break;
        bytes.append(buffer.data(), got);
    }
#else
    int fd;
    do {
        // Without waiting: a named pipe would wait for a writer for ever. Only a regular file is
        // read.
        fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    Descriptor file(fd);
    if (!file.Valid())
        return Failed(failure, FileAction::Open, LastSystemError());
    struct stat info
    {};
    if (::fstat(file.Get(), &info) != 0)
        return Failed(failure, FileAction::Open, LastSystemError());
    if (S_ISDIR(info.st_mode))
        return Failed(failure, FileAction::Open, EISDIR);
    if (!S_ISREG(info.st_mode))
        return Failed(failure, FileAction::Open, EINVAL);
    if (const int flags = ::fcntl(file.Get(), F_GETFL);
        flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return Failed(failure, FileAction::Open, LastSystemError());
    for (;;) {
        detail::CountRead(buffer.size());
        const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Failed(failure, FileAction::Read, LastSystemError());
        }
        if (got == 0)
            break;
        bytes.append(buffer.data(), static_cast<std::size_t>(got));
    }
#endif
    return bytes;
}

bool ReplaceWholeFile(const std::string& path, std::string_view bytes, FileFailure* failure)
{
    const std::string target = ResolveCaseInsensitive(path);
    const std::string temporary = ReplacementPath(target);
    int error = 0;
    const auto verdict = [&error](bool isWrite) {
        const detail::ChangeVerdict v = detail::BeforeChange(isWrite);
        if (v == detail::ChangeVerdict::Fail)
            error = DiskFullError();
        return v;
    };

#ifdef _WIN32
    const std::wstring wideTemporary = Utf8ToWide(temporary);
    detail::CountOpen();
    Handle file(CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        Failed(failure, FileAction::Write, LastSystemError());
        return false;
    }
    const auto written = [&] {
        const detail::ChangeVerdict v = verdict(true);
        if (v == detail::ChangeVerdict::Fail)
            return false;
        detail::CountWrite(bytes.size());
        std::size_t size =
            v == detail::ChangeVerdict::Tear ? detail::TornSize(0, bytes.size()) : bytes.size();
        std::size_t total = 0;
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
            DWORD put = 0;
            if (!WriteFile(file.Get(), bytes.data() + total, chunk, &put, nullptr) || put == 0) {
                error = LastSystemError();
                return false;
            }
            total += put;
            size -= put;
        }
        if (v == detail::ChangeVerdict::Tear)
            detail::EndProcessAfterTear();
        return true;
    };
    const auto flushed = [&] {
        if (verdict(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountFlush();
        if (!FlushFileBuffers(file.Get()) || !file.Close()) {
            error = LastSystemError();
            return false;
        }
        return true;
    };
    const auto renamed = [&] {
        if (verdict(false) != detail::ChangeVerdict::Proceed)
            return false;
        if (!MoveFileExW(wideTemporary.c_str(), Utf8ToWide(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = LastSystemError();
            return false;
        }
        return true;
    };
    const auto abandon = [&] {
        file.Close();
        detail::CountRemoval();
        DeleteFileW(wideTemporary.c_str());
    };
#else
    // The new file gets the permissions of the one it replaces.
    struct stat old
    {};
    const bool keepMode = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    detail::CountOpen();
    int fd;
    do {
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    Descriptor file(fd);
    if (!file.Valid()) {
        Failed(failure, FileAction::Write, LastSystemError());
        return false;
    }
    if (keepMode)
        (void)::fchmod(file.Get(), old.st_mode & 07777);
    const auto written = [&] {
        const detail::ChangeVerdict v = verdict(true);
        if (v == detail::ChangeVerdict::Fail)
            return false;
        detail::CountWrite(bytes.size());
        std::size_t size =
            v == detail::ChangeVerdict::Tear ? detail::TornSize(0, bytes.size()) : bytes.size();
        std::size_t total = 0;
        while (size > 0) {
            const ssize_t put = ::write(file.Get(), bytes.data() + total, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                error = put < 0 ? LastSystemError() : DiskFullError();
                return false;
            }
            total += static_cast<std::size_t>(put);
            size -= static_cast<std::size_t>(put);
        }
        if (v == detail::ChangeVerdict::Tear)
            detail::EndProcessAfterTear();
        return true;
    };
    const auto flushed = [&] {
        if (verdict(false) != detail::ChangeVerdict::Proceed)
            return false;
        detail::CountFlush();
        if (::fsync(file.Get()) != 0 || !file.Close()) {
            error = LastSystemError();
            return false;
        }
        return true;
    };
    const auto renamed = [&] {
        if (verdict(false) != detail::ChangeVerdict::Proceed)
            return false;
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            error = LastSystemError();
            return false;
        }
        return true;
    };
    const auto abandon = [&] {
        file.Close();
        detail::CountRemoval();
        ::unlink(temporary.c_str());
    };
#endif

    if (!written() || !flushed() || !renamed()) {
        abandon();
        Failed(failure, FileAction::Write, error);
        return false;
    }
#ifndef _WIN32
    if (detail::Recording()) { // as the steps were made: the new file written whole and flushed
        detail::Record({RecordedChange::Kind::Create, temporary, {}, 0, {}});
        detail::Record({RecordedChange::Kind::Write, temporary, {}, 0, std::string(bytes)});
        detail::Record({RecordedChange::Kind::Flush, temporary, {}, 0, {}});
        detail::Record({RecordedChange::Kind::Rename, temporary, target, 0, {}});
    }
#endif
    // The new name is durable once the directory is; should that flush fail, the file is in place
    // all the same, and a power cut could at worst bring back the old one whole.
    (void)SyncDirectory(DirectoryOf(target));
    return true;
}

} // namespace platform
