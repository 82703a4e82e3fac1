// kerg-slow-share: a directory mirrored at a mount point (FUSE, low-level API) that answers every
// request a client waits for only after a fixed delay, the way a file server answers over a network.
// It lets the import be measured as an office runs it: its database in a shared folder where every
// open, read, write, lock and flush is a round trip.
//
// Requests are served one after another, in the order the kernel sends them (a single-threaded
// loop), so the release that follows a close is served before any later open of the file. Only a
// lock request that has to wait for another holder is handed to a thread of its own (see
// WaitInThread), so that the holder's unlock can still be served meanwhile.
//
// Locks: a byte-range lock is taken with F_OFD_SETLK on this program's own open of the file, one
// open for every open of a client, so locks conflict between two opens of a file whether they come
// from one process or from two, and last until the client's open is released: the semantics of
// open-file-description locks. flock() locks are passed the same way.
#define FUSE_USE_VERSION 34
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <fuse_lowlevel.h>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The requests served, by kind.
enum Op : std::size_t
{
    Lookup,
    Getattr,
    Setattr,
    Mkdir,
    Unlink,
    Rmdir,
    Rename,
    Create,
    Open,
    Read,
    Write,
    Flush,
    Release,
    Fsync,
    Opendir,
    Readdir,
    Releasedir,
    Fsyncdir,
    Statfs,
    Getlk,
    Setlk,
    Flock,
    kOpCount
};

constexpr std::array<const char*, kOpCount> kOpNames = {
    "lookup",     "getattr",  "setattr", "mkdir", "unlink",  "rmdir", "rename",  "create",
    "open",       "read",     "write",   "flush", "release", "fsync", "opendir", "readdir",
    "releasedir", "fsyncdir", "statfs",  "getlk", "setlk",   "flock"};

struct Options
{
    std::string source, mountPoint;
    long delayMicroseconds = 500;
    double cacheSeconds = 1.0;
    bool pageCache = false;
    std::string countFile;
    bool foreground = false;
    bool debug = false;
    std::vector<std::string> mountOptions;
};

// A file or directory the kernel knows: an O_PATH descriptor keeps it (and its inode number) alive
// until the kernel forgets it, and follows it through renames.
struct Inode
{
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t lookups = 0;
};

// An open directory: its listing is read when a client starts reading it and handed out from here.
struct Directory
{
    DIR* dir = nullptr;
    bool listed = false;
    struct Entry
    {
        std::string name;
        ino_t ino;
        mode_t type;
    };
    std::vector<Entry> entries;
};

struct Share
{
    Options options;
    Inode root;
    std::map<std::pair<dev_t, ino_t>, std::unique_ptr<Inode>> inodes;
    std::array<std::atomic<std::uint64_t>, kOpCount> served{};
    std::atomic<std::uint64_t> delayed{0};
};

Share& ShareOf(fuse_req_t req)
{
    return *static_cast<Share*>(fuse_req_userdata(req));
}

Inode& InodeOf(Share& share, fuse_ino_t ino)
{
    return ino == FUSE_ROOT_ID ? share.root : *reinterpret_cast<Inode*>(ino);
}

int FileOf(const fuse_file_info* fi)
{
    return static_cast<int>(fi->fh);
}

std::string ProcPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// Waits `delay`: asleep for most of it, then spinning for the last stretch, since a thread woken
// from a sleep of half a millisecond is late by tens of microseconds (more on a virtual machine),
// which would add up to a tenth to every request.
void Wait(std::chrono::microseconds delay)
{
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::microseconds kSpin{100};
    const Clock::time_point until = Clock::now() + delay;
    if (delay > kSpin)
        std::this_thread::sleep_until(until - kSpin);
    while (Clock::now() < until) {}
}

// Counts a request; with `wait`, answers it only after the delay, as the network would.
void Serve(Share& share, Op op, bool wait = true)
{
    share.served[op].fetch_add(1, std::memory_order_relaxed);
    if (wait && share.options.delayMicroseconds > 0) {
        share.delayed.fetch_add(1, std::memory_order_relaxed);
        Wait(std::chrono::microseconds(share.options.delayMicroseconds));
    }
}

void ReplyResult(fuse_req_t req, int result)
{
    fuse_reply_err(req, result == 0 ? 0 : errno);
}

int Stat(int fd, struct stat* st)
{
    return fstatat(fd, "", st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
}

// Finds `name` in `parent`, making it known to the kernel once more. 0 or an errno value.
int LookUp(Share& share, fuse_ino_t parent, const char* name, fuse_entry_param* entry)
{
    *entry = fuse_entry_param{};
    entry->attr_timeout = share.options.cacheSeconds;
    entry->entry_timeout = share.options.cacheSeconds;
    const int fd = openat(InodeOf(share, parent).fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (Stat(fd, &entry->attr) != 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    const auto key = std::make_pair(entry->attr.st_dev, entry->attr.st_ino);
    auto found = share.inodes.find(key);
    if (found == share.inodes.end()) {
        auto inode = std::make_unique<Inode>();
        inode->fd = fd;
        inode->dev = key.first;
        inode->ino = key.second;
        found = share.inodes.emplace(key, std::move(inode)).first;
    } else {
        close(fd);
    }
    ++found->second->lookups;
    entry->ino = reinterpret_cast<fuse_ino_t>(found->second.get());
    return 0;
}

void Forget(Share& share, fuse_ino_t ino, std::uint64_t count)
{
    if (ino == FUSE_ROOT_ID)
        return;
    Inode& inode = InodeOf(share, ino);
    inode.lookups -= std::min(count, inode.lookups);
    if (inode.lookups == 0) {
        close(inode.fd);
        share.inodes.erase(std::make_pair(inode.dev, inode.ino));
    }
}

void ReplyEntry(fuse_req_t req, int error, const fuse_entry_param& entry)
{
    if (error != 0)
        fuse_reply_err(req, error);
    else
        fuse_reply_entry(req, &entry);
}

void ReplyAttr(fuse_req_t req, Share& share, fuse_ino_t ino, fuse_file_info* fi)
{
    struct stat st
    {};
    const int result = fi ? fstat(FileOf(fi), &st) : Stat(InodeOf(share, ino).fd, &st);
    if (result != 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_attr(req, &st, share.options.cacheSeconds);
}

void OnLookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    Share& share = ShareOf(req);
    Serve(share, Lookup);
    fuse_entry_param entry;
    ReplyEntry(req, LookUp(share, parent, name, &entry), entry);
}

void OnForget(fuse_req_t req, fuse_ino_t ino, std::uint64_t count)
{
    Forget(ShareOf(req), ino, count);
    fuse_reply_none(req);
}

void OnForgetMulti(fuse_req_t req, std::size_t count, fuse_forget_data* forgets)
{
    for (std::size_t i = 0; i < count; ++i)
        Forget(ShareOf(req), forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void OnGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    Share& share = ShareOf(req);
    Serve(share, Getattr);
    ReplyAttr(req, share, ino, fi);
}

void OnSetattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info* fi)
{
    Share& share = ShareOf(req);
    Serve(share, Setattr);
    const Inode& inode = InodeOf(share, ino);
    const std::string path = ProcPath(inode.fd);
    int result = 0;
    if (toSet & FUSE_SET_ATTR_MODE)
        result = fi ? fchmod(FileOf(fi), attr->st_mode) : chmod(path.c_str(), attr->st_mode);
    if (result == 0 && (toSet & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))) {
        const uid_t uid = (toSet & FUSE_SET_ATTR_UID) ? attr->st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (toSet & FUSE_SET_ATTR_GID) ? attr->st_gid : static_cast<gid_t>(-1);
        result = fchownat(inode.fd, "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
    }
    if (result == 0 && (toSet & FUSE_SET_ATTR_SIZE))
        result = fi ? ftruncate(FileOf(fi), attr->st_size) : truncate(path.c_str(), attr->st_size);
    if (result == 0 && (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME))) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
        if (toSet & FUSE_SET_ATTR_ATIME_NOW)
            times[0].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_ATIME)
            times[0] = attr->st_atim;
        if (toSet & FUSE_SET_ATTR_MTIME_NOW)
            times[1].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_MTIME)
            times[1] = attr->st_mtim;
        result = fi ? futimens(FileOf(fi), times) : utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    if (result != 0)
        fuse_reply_err(req, errno);
    else
        ReplyAttr(req, share, ino, fi);
}

void OnMkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode)
{
    Share& share = ShareOf(req);
    Serve(share, Mkdir);
    if (mkdirat(InodeOf(share, parent).fd, name, mode) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param entry;
    ReplyEntry(req, LookUp(share, parent, name, &entry), entry);
}

void OnUnlink(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    Share& share = ShareOf(req);
    Serve(share, Unlink);
    ReplyResult(req, unlinkat(InodeOf(share, parent).fd, name, 0));
}

void OnRmdir(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    Share& share = ShareOf(req);
    Serve(share, Rmdir);
    ReplyResult(req, unlinkat(InodeOf(share, parent).fd, name, AT_REMOVEDIR));
}

void OnRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
              unsigned int flags)
{
    Share& share = ShareOf(req);
    Serve(share, Rename);
    ReplyResult(req,
                renameat2(InodeOf(share, parent).fd, name, InodeOf(share, newParent).fd, newName, flags));
}

// Contents are not cached by the kernel unless asked: every read and write of a client reaches
// the share, as they do on a network share that several users have open.
void SetOpenFlags(const Share& share, fuse_file_info* fi, int fd)
{
    fi->fh = static_cast<std::uint64_t>(fd);
    fi->direct_io = share.options.pageCache ? 0 : 1;
    fi->keep_cache = 0;
}

void OnCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi)
{
    Share& share = ShareOf(req);
    Serve(share, Create);
    const int fd =
        openat(InodeOf(share, parent).fd, name, (fi->flags | O_CREAT | O_CLOEXEC) & ~O_NOFOLLOW, mode);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param entry;
    const int error = LookUp(share, parent, name, &entry);
    if (error != 0) {
        close(fd);
        fuse_reply_err(req, error);
        return;
    }
    SetOpenFlags(share, fi, fd);
    fuse_reply_create(req, &entry, fi);
}

void OnOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    Share& share = ShareOf(req);
    Serve(share, Open);
    const int flags = (fi->flags | O_CLOEXEC) & ~(O_NOFOLLOW | O_CREAT | O_EXCL);
    const int fd = open(ProcPath(InodeOf(share, ino).fd).c_str(), flags);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    SetOpenFlags(share, fi, fd);
    fuse_reply_open(req, fi);
}

void OnRead(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset, fuse_file_info* fi)
{
    Serve(ShareOf(req), Read);
    std::vector<char> buffer(size);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got =
            pread(FileOf(fi), buffer.data() + total, size - total, offset + static_cast<off_t>(total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            fuse_reply_err(req, errno);
            return;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    fuse_reply_buf(req, buffer.data(), total);
}

void OnWrite(fuse_req_t req, fuse_ino_t, const char* data, std::size_t size, off_t offset, fuse_file_info* fi)
{
    Serve(ShareOf(req), Write);
    const ssize_t put = pwrite(FileOf(fi), data, size, offset);
    if (put < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_write(req, static_cast<std::size_t>(put));
}

// A close: the one request of it the client waits for. Locks stay until the release.
void OnFlush(fuse_req_t req, fuse_ino_t, fuse_file_info*)
{
    Serve(ShareOf(req), Flush);
    fuse_reply_err(req, 0);
}

// The kernel sends the release after the client's close has returned and nobody waits for its
// answer: it is counted, not delayed. Closing this program's open drops its locks.
void OnRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    Serve(ShareOf(req), Release, false);
    close(FileOf(fi));
    fuse_reply_err(req, 0);
}

void OnFsync(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info* fi)
{
    Serve(ShareOf(req), Fsync);
    ReplyResult(req, dataOnly ? fdatasync(FileOf(fi)) : fsync(FileOf(fi)));
}

Directory* DirectoryOf(const fuse_file_info* fi)
{
    return reinterpret_cast<Directory*>(fi->fh);
}

void OnOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    Share& share = ShareOf(req);
    Serve(share, Opendir);
    const int fd = openat(InodeOf(share, ino).fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        fuse_reply_err(req, error);
        return;
    }
    auto directory = std::make_unique<Directory>();
    directory->dir = dir;
    fi->fh = reinterpret_cast<std::uint64_t>(directory.release());
    fuse_reply_open(req, fi);
}

// Offsets handed to the kernel are positions in the listing plus one; offset 0 reads the directory
// afresh, as rewinddir() asks.
void OnReaddir(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset, fuse_file_info* fi)
{
    Serve(ShareOf(req), Readdir);
    Directory& directory = *DirectoryOf(fi);
    if (offset == 0 || !directory.listed) {
        directory.listed = true;
        directory.entries.clear();
        rewinddir(directory.dir);
        for (;;) {
            errno = 0;
            const dirent* entry = readdir(directory.dir);
            if (!entry)
                break;
            directory.entries.push_back(
                {entry->d_name, entry->d_ino, static_cast<mode_t>(DTTOIF(entry->d_type))});
        }
        if (errno != 0) {
            fuse_reply_err(req, errno);
            return;
        }
    }
    std::vector<char> buffer(size);
    std::size_t used = 0;
    for (auto i = static_cast<std::size_t>(offset); i < directory.entries.size(); ++i) {
        struct stat st
        {};
        st.st_ino = directory.entries[i].ino;
        st.st_mode = directory.entries[i].type;
        const std::size_t needed =
            fuse_add_direntry(req, buffer.data() + used, size - used, directory.entries[i].name.c_str(), &st,
                              static_cast<off_t>(i + 1));
        if (needed > size - used)
            break;
        used += needed;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void OnReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    Serve(ShareOf(req), Releasedir, false);
    Directory* directory = DirectoryOf(fi);
    closedir(directory->dir);
    delete directory;
    fuse_reply_err(req, 0);
}

void OnFsyncdir(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info* fi)
{
    Serve(ShareOf(req), Fsyncdir);
    const int fd = dirfd(DirectoryOf(fi)->dir);
    ReplyResult(req, dataOnly ? fdatasync(fd) : fsync(fd));
}

void OnStatfs(fuse_req_t req, fuse_ino_t ino)
{
    Share& share = ShareOf(req);
    Serve(share, Statfs);
    struct statvfs st
    {};
    if (fstatvfs(InodeOf(share, ino).fd, &st) != 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_statfs(req, &st);
}

void OnGetlk(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, struct flock* lock)
{
    Serve(ShareOf(req), Getlk);
    lock->l_pid = 0; // required by F_OFD_GETLK
    if (fcntl(FileOf(fi), F_OFD_GETLK, lock) != 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_lock(req, lock);
}

// Whether a lock attempt failed only because another open holds a conflicting lock.
bool Held(int error)
{
    return error == EAGAIN || error == EACCES;
}

// A lock request that has to wait is served on a thread of its own, which tries again every
// millisecond until the lock is free, so that the session goes on serving (the holder's unlock
// among the rest). A client interrupted meanwhile (a signal, a killed process: the kernel tells
// the share) gets EINTR, as from a local file; a blocking call could not be told to give up. The
// thread works on a duplicate of the open, the same open file description, so the lock is the
// open's and the descriptor stays valid even when the client goes away and the open is released.
template <typename Try>
void WaitInThread(fuse_req_t req, int fd, Try tryOnce)
{
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    std::thread([req, copy, tryOnce]() mutable {
        int error;
        for (;;) {
            error = tryOnce(copy) == 0 ? 0 : errno;
            if (!Held(error) && error != EINTR)
                break;
            if (fuse_req_interrupted(req)) {
                error = EINTR;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(copy);
        fuse_reply_err(req, error);
    }).detach();
}

void OnSetlk(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, struct flock* lock, int wait)
{
    Serve(ShareOf(req), Setlk);
    struct flock request = *lock;
    request.l_pid = 0; // required by F_OFD_SETLK
    if (fcntl(FileOf(fi), F_OFD_SETLK, &request) == 0) {
        fuse_reply_err(req, 0);
        return;
    }
    if (!wait || !Held(errno)) {
        fuse_reply_err(req, errno);
        return;
    }
    WaitInThread(req, FileOf(fi), [request](int fd) mutable { return fcntl(fd, F_OFD_SETLK, &request); });
}

void OnFlock(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, int operation)
{
    Serve(ShareOf(req), Flock);
    if (flock(FileOf(fi), operation | LOCK_NB) == 0) {
        fuse_reply_err(req, 0);
        return;
    }
    if ((operation & LOCK_NB) || !Held(errno)) {
        fuse_reply_err(req, errno);
        return;
    }
    WaitInThread(req, FileOf(fi), [operation](int fd) { return flock(fd, operation | LOCK_NB); });
}

fuse_lowlevel_ops Operations()
{
    fuse_lowlevel_ops ops{};
    ops.lookup = OnLookup;
    ops.forget = OnForget;
    ops.forget_multi = OnForgetMulti;
    ops.getattr = OnGetattr;
    ops.setattr = OnSetattr;
    ops.mkdir = OnMkdir;
    ops.unlink = OnUnlink;
    ops.rmdir = OnRmdir;
    ops.rename = OnRename;
    ops.create = OnCreate;
    ops.open = OnOpen;
    ops.read = OnRead;
    ops.write = OnWrite;
    ops.flush = OnFlush;
    ops.release = OnRelease;
    ops.fsync = OnFsync;
    ops.opendir = OnOpendir;
    ops.readdir = OnReaddir;
    ops.releasedir = OnReleasedir;
    ops.fsyncdir = OnFsyncdir;
    ops.statfs = OnStatfs;
    ops.getlk = OnGetlk;
    ops.setlk = OnSetlk;
    ops.flock = OnFlock;
    return ops;
}

// "total N", "delayed N", then one line "NAME N" for every kind of request served.
std::string CountReport(const Share& share)
{
    std::uint64_t total = 0;
    std::string lines;
    for (std::size_t op = 0; op < kOpCount; ++op) {
        const std::uint64_t count = share.served[op].load();
        total += count;
        if (count > 0)
            lines += std::string(kOpNames[op]) + " " + std::to_string(count) + "\n";
    }
    return "total " + std::to_string(total) + "\ndelayed " + std::to_string(share.delayed.load()) + "\n" +
           lines;
}

void Usage(std::ostream& out)
{
    out << "usage: kerg-slow-share [options] SOURCE_DIR MOUNT_POINT\n"
           "  --delay-us N       wait N microseconds before answering each request (500)\n"
           "  --cache-seconds S  how long the kernel may keep names and attributes (1)\n"
           "  --page-cache       let the kernel cache file contents (by default every read\n"
           "                     and write reaches the share)\n"
           "  --count-file FILE  write the counts of requests served there at unmount\n"
           "                     (else they go to standard error)\n"
           "  -f                 stay in the foreground\n"
           "  -d                 FUSE debug output (implies -f)\n"
           "  -o OPTIONS         FUSE mount options (allow_other, ...)\n"
           "Unmount with: fusermount3 -u MOUNT_POINT\n";
}

bool ParseArguments(int argc, char** argv, Options& options)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        try {
            if (arg == "--delay-us" && hasValue)
                options.delayMicroseconds = std::stol(argv[++i]);
            else if (arg == "--cache-seconds" && hasValue)
                options.cacheSeconds = std::stod(argv[++i]);
            else if (arg == "--page-cache")
                options.pageCache = true;
            else if (arg == "--count-file" && hasValue)
                options.countFile = argv[++i];
            else if (arg == "-f")
                options.foreground = true;
            else if (arg == "-d")
                options.debug = options.foreground = true;
            else if (arg == "-o" && hasValue)
                options.mountOptions.push_back(argv[++i]);
            else if (!arg.empty() && arg[0] != '-')
                positional.push_back(arg);
            else
                return false;
        } catch (const std::exception&) {
            return false;
        }
    }
    if (positional.size() != 2 || options.delayMicroseconds < 0 || options.cacheSeconds < 0)
        return false;
    options.source = positional[0];
    options.mountPoint = positional[1];
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Share share;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        Usage(std::cout);
        return 0;
    }
    if (!ParseArguments(argc, argv, share.options)) {
        Usage(std::cerr);
        return 2;
    }
    // Sleeps would otherwise overrun by the default 50 µs timer slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    share.root.fd = open(share.options.source.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (share.root.fd < 0) {
        std::cerr << "kerg-slow-share: " << share.options.source << ": " << std::strerror(errno) << "\n";
        return 1;
    }

    std::vector<std::string> args = {argv[0], "-osubtype=kerg-slow-share"};
    if (share.options.debug)
        args.push_back("-d");
    for (const std::string& option : share.options.mountOptions)
        args.push_back("-o" + option);
    std::vector<char*> argPointers;
    for (std::string& arg : args)
        argPointers.push_back(arg.data());
    fuse_args fuseArgs = FUSE_ARGS_INIT(static_cast<int>(argPointers.size()), argPointers.data());

    const fuse_lowlevel_ops ops = Operations();
    fuse_session* session = fuse_session_new(&fuseArgs, &ops, sizeof(ops), &share);
    if (!session)
        return 1;
    int status = 1;
    if (fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, share.options.mountPoint.c_str()) == 0) {
            fuse_daemonize(share.options.foreground ? 1 : 0);
            status = fuse_session_loop(session) == 0 ? 0 : 1;
            fuse_session_unmount(session);
            const std::string report = CountReport(share);
            if (share.options.countFile.empty())
                std::cerr << "kerg-slow-share: requests served\n" << report;
            else if (!(std::ofstream(share.options.countFile) << report))
                status = 1;
        }
        fuse_remove_signal_handlers(session);
    }
    fuse_session_destroy(session);
    fuse_opt_free_args(&fuseArgs);
    return status;
}
