// Transactions: the changes laid over the files, the journal, the commit, the rollback and the
// recovery of a journal left by a process that died.
#include "engine/transaction.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "engine/checksum.h"
#include "engine/code_page.h"
#include "engine/error.h"
#include "engine/transaction_file.h"
#include "platform/file.h"
#include "platform/file_errors.h"
#include "platform/paths.h"

namespace engine {

Error WriteFailure(const std::string& text)
{
    return Error(ErrorKind::Io,
                 text + ": " +
                     platform::FileErrorReason(platform::FileAction::Write, platform::LastSystemError()));
}

namespace {

// The journal: a header, then records, each checked by a CRC-32 that covers the journal's nonce,
// so that a record of an earlier journal cannot pass for one of this.
//   header (32 bytes): magic (8), version (4), 0 (4), nonce (8), CRC-32 of bytes 0-23 (4), 0 (4)
//   record: kind (1), 0 (3), body length (4), body, CRC-32 of nonce + kind..body (4)
//   'F' a file:          number (4), size at the last commit (8), name length (2), name
//   'B' former bytes:    number (4), offset (8), the bytes of whole blocks, up to the size at the
//                        last commit
//   'A' bytes written:   number (4), first block (8), for each block two CRC-32s of what it holds
//                        once the write-out that wrote this record is done: of its part below the
//                        size at the last commit, and of its part above (0 for an empty part)
// Numbers are little-endian; a block is 512 bytes of the file, bytes past its end counting as
// zeros. A commit invalidates the journal by zeroing the magic.
constexpr char kMagic[8] = {'K', 'E', 'R', 'G', 'J', 'R', 'N', 'L'};
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kRecordHead = 8;
constexpr std::uint32_t kVersion = 1;
constexpr std::int64_t kBlock = 512;
// Changed ranges of a file at most this far apart are written out as one piece.
constexpr std::int64_t kJoinGap = 16 * 1024;

template <class Bytes>
void PutLe(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLe(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

std::string NonceBytes(std::uint64_t nonce)
{
    std::string out;
    PutLe(out, nonce, 8);
    return out;
}

std::string Header(std::uint64_t nonce)
{
    std::string out(kMagic, sizeof kMagic);
    PutLe(out, kVersion, 4);
    PutLe(out, 0, 4);
    PutLe(out, nonce, 8);
    PutLe(out, Crc32(out), 4);
    PutLe(out, 0, 4);
    return out;
}

// A record whose body is `body` followed by `more`.
void AppendRecord(JournalBytes& out, char kind, std::string_view body, std::uint64_t nonce,
                  std::string_view more = {})
{
    const std::size_t start = out.size();
    out.push_back(kind);
    out.append(3, '\0');
    PutLe(out, body.size() + more.size(), 4);
    out += body;
    out += more;
    const std::uint32_t crc =
        Crc32(std::string_view(out.data(), out.size()).substr(start), Crc32(NonceBytes(nonce)));
    PutLe(out, crc, 4);
}

bool SoundHeader(const unsigned char* head)
{
    return std::memcmp(head, kMagic, sizeof kMagic) == 0 && GetLe(head + 8, 4) == kVersion &&
           Crc32(head, 24) == GetLe(head + 24, 4);
}

struct JournalFileEntry
{
    int number = 0;
    std::int64_t baseSize = 0;
    std::string name;
};

struct JournalImage
{
    int number = 0;
    std::int64_t offset = 0; // in the file
    std::int64_t at = 0;     // of the bytes in the journal
    std::size_t size = 0;
};

struct JournalContents
{
    bool live = false; // a sound header that no commit invalidated
    std::vector<JournalFileEntry> files;
    std::vector<JournalImage> images;
    // (file number, block) -> the CRC-32s of its two parts after each write-out that wrote it
    std::map<std::pair<int, std::int64_t>, std::vector<std::pair<std::uint32_t, std::uint32_t>>> written;
};

// Reads the journal's header and its records up to the first that is torn or damaged: everything
// before it was flushed before the files were changed by it. With `ownNonce` (the transaction
// that writes the journal rolls back) the header is not asked to be sound: a failed commit may
// have voided it already.
JournalContents ReadJournal(platform::LockedFile& journal, const std::string& path,
                            const std::uint64_t* ownNonce = nullptr)
{
    JournalContents contents;
    const std::int64_t size = journal.Size();
    if (size < 0)
        throw Error(ErrorKind::Io, "Nie można odczytać dziennika zmian " + path);
    unsigned char head[kHeaderSize];
    if (size < static_cast<std::int64_t>(kHeaderSize))
        return contents;
    if (journal.ReadAt(0, head, kHeaderSize) != static_cast<std::int64_t>(kHeaderSize))
        throw Error(ErrorKind::Io, "Nie można odczytać dziennika zmian " + path);
    if (ownNonce == nullptr && !SoundHeader(head))
        return contents;
    contents.live = true;
    const std::uint32_t nonceCrc = Crc32(NonceBytes(ownNonce != nullptr ? *ownNonce : GetLe(head + 16, 8)));
    std::vector<unsigned char> record;
    auto known = [&](int number) {
        return std::any_of(contents.files.begin(), contents.files.end(),
                           [&](const JournalFileEntry& f) { return f.number == number; });
    };
    for (std::int64_t at = static_cast<std::int64_t>(kHeaderSize);;) {
        unsigned char recordHead[kRecordHead];
        if (size - at < static_cast<std::int64_t>(kRecordHead + 4) ||
            journal.ReadAt(at, recordHead, kRecordHead) != static_cast<std::int64_t>(kRecordHead))
            break;
        const std::uint64_t length = GetLe(recordHead + 4, 4);
        if (static_cast<std::uint64_t>(size - at) < kRecordHead + length + 4)
            break; // torn: the record runs past the end
        record.resize(kRecordHead + static_cast<std::size_t>(length) + 4);
        if (journal.ReadAt(at, record.data(), record.size()) != static_cast<std::int64_t>(record.size()))
            throw Error(ErrorKind::Io, "Nie można odczytać dziennika zmian " + path);
        const std::size_t bodyEnd = kRecordHead + static_cast<std::size_t>(length);
        if (Crc32(record.data(), bodyEnd, nonceCrc) != GetLe(record.data() + bodyEnd, 4))
            break;
        const unsigned char* body = record.data() + kRecordHead;
        const char kind = static_cast<char>(record[0]);
        const int number = length >= 4 ? static_cast<int>(GetLe(body, 4)) : -1;
        if (kind == 'F' && length >= 14 && !known(number)) {
            JournalFileEntry f;
            f.number = number;
            f.baseSize = static_cast<std::int64_t>(GetLe(body + 4, 8));
            const std::size_t nameLength = static_cast<std::size_t>(GetLe(body + 12, 2));
            if (14 + nameLength != length || f.baseSize < 0)
                break;
            f.name.assign(reinterpret_cast<const char*>(body + 14), nameLength);
            contents.files.push_back(std::move(f));
        } else if (kind == 'B' && length >= 12 && known(number)) {
            contents.images.push_back({number, static_cast<std::int64_t>(GetLe(body + 4, 8)),
                                       at + static_cast<std::int64_t>(kRecordHead + 12),
                                       static_cast<std::size_t>(length - 12)});
        } else if (kind == 'A' && length >= 12 && (length - 12) % 8 == 0 && known(number)) {
            const auto first = static_cast<std::int64_t>(GetLe(body + 4, 8));
            for (std::size_t i = 0; i < (length - 12) / 8; ++i)
                contents.written[{number, first + static_cast<std::int64_t>(i)}].emplace_back(
                    static_cast<std::uint32_t>(GetLe(body + 12 + 8 * i, 4)),
                    static_cast<std::uint32_t>(GetLe(body + 16 + 8 * i, 4)));
        } else {
            break; // a record of no known shape ends the sound part as a torn one does
        }
        at += static_cast<std::int64_t>(record.size());
    }
    return contents;
}

// The two parts of block `block` of a file whose size at the last commit was `baseSize`: below
// and above that size, as [begin, end) byte offsets (an empty part has begin == end).
struct BlockParts
{
    std::int64_t begin, middle, end;
};

BlockParts PartsOf(std::int64_t block, std::int64_t baseSize)
{
    const std::int64_t begin = block * kBlock, end = begin + kBlock;
    return {begin, std::clamp(baseSize, begin, end), end};
}

// Checks, before anything is written, that every block the rollback would change holds what this
// transaction left there. The part of a block below the size of the last commit must hold its
// former bytes or what a write-out of the transaction wrote; the part above (cut off by the
// rollback) what a write-out wrote, or nothing. Bytes of another program (a table put back from a
// copy, rows added since) are never written over.
void CheckFileIsOurs(platform::LockedFile& journal, const std::string& journalPath,
                     const JournalContents& contents, const JournalFileEntry& f, platform::LockedFile& file,
                     const std::string& fullName)
{
    const std::int64_t size = file.Size();
    if (size < 0)
        throw Error(ErrorKind::Io, "Nie można odczytać pliku " + fullName);
    std::map<std::int64_t, std::string> before; // block -> former bytes of its part below baseSize
    for (const JournalImage& image : contents.images) {
        if (image.number != f.number)
            continue;
        std::string bytes(image.size, '\0');
        if (journal.ReadAt(image.at, bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size()))
            throw Error(ErrorKind::Io, "Nie można odczytać dziennika zmian " + journalPath);
        for (std::int64_t done = 0; done < static_cast<std::int64_t>(bytes.size()); done += kBlock)
            before[(image.offset + done) / kBlock] =
                bytes.substr(static_cast<std::size_t>(done), static_cast<std::size_t>(kBlock));
    }
    std::vector<std::int64_t> blocks;
    for (const auto& entry : before)
        blocks.push_back(entry.first);
    for (std::int64_t b = f.baseSize / kBlock; b * kBlock < size; ++b)
        if (before.count(b) == 0)
            blocks.push_back(b);
    std::string now(static_cast<std::size_t>(kBlock), '\0');
    for (const std::int64_t b : blocks) {
        std::fill(now.begin(), now.end(), '\0');
        if (file.ReadAt(b * kBlock, now.data(), now.size()) < 0)
            throw Error(ErrorKind::Io, "Nie można odczytać pliku " + fullName);
        const BlockParts parts = PartsOf(b, f.baseSize);
        const std::string_view below(now.data(), static_cast<std::size_t>(parts.middle - parts.begin));
        const std::string_view above(now.data() + below.size(),
                                     static_cast<std::size_t>(parts.end - parts.middle));
        static const std::vector<std::pair<std::uint32_t, std::uint32_t>> none;
        const auto found = contents.written.find({f.number, b});
        const auto& written = found != contents.written.end() ? found->second : none;
        const auto former = before.find(b);
        // A part below the old size that no write-out journaled was never written.
        const bool belowOurs = below.empty() || former == before.end() || below == former->second ||
                               std::any_of(written.begin(), written.end(),
                                           [&](const auto& w) { return w.first == Crc32(below); });
        const bool aboveOurs = above.empty() || above.find_first_not_of('\0') == std::string_view::npos ||
                               std::any_of(written.begin(), written.end(),
                                           [&](const auto& w) { return w.second == Crc32(above); });
        if (belowOurs && aboveOurs)
            continue;
        throw Error(ErrorKind::BadState,
                    "Plik " + fullName + " zmienił się od chwili zapisania dziennika " + journalPath +
                        " (bajty od " + std::to_string(b * kBlock) +
                        " nie pochodzą z przerwanego importu; plik mógł zostać zastąpiony innym lub "
                        "zmieniony przez inny program); zmiany nie zostały wycofane, aby nie nadpisać "
                        "cudzych danych");
    }
}

// Puts the former bytes back and the former sizes, flushes the files, then invalidates the
// journal. `fileFor` gives the open file of a journal entry.
void Restore(platform::LockedFile& journal, const std::string& journalPath, const JournalContents& contents,
             const std::function<platform::LockedFile*(const JournalFileEntry&)>& fileFor,
             const std::function<std::string(const JournalFileEntry&)>& nameOf)
{
    std::vector<unsigned char> bytes;
    auto entryOf = [&](int number) -> const JournalFileEntry& {
        return *std::find_if(contents.files.begin(), contents.files.end(),
                             [&](const JournalFileEntry& f) { return f.number == number; });
    };
    for (const JournalImage& image : contents.images) {
        bytes.resize(image.size);
        if (journal.ReadAt(image.at, bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size()))
            throw Error(ErrorKind::Io, "Nie można odczytać dziennika zmian " + journalPath);
        const JournalFileEntry& f = entryOf(image.number);
        if (!fileFor(f)->WriteAt(image.offset, bytes.data(), bytes.size()))
            throw Error(ErrorKind::Io, "Nie można przywrócić pliku " + nameOf(f) + ": zapis się nie powiódł");
    }
    for (const JournalFileEntry& f : contents.files) {
        platform::LockedFile* file = fileFor(f);
        const std::int64_t size = file->Size();
        if ((size != f.baseSize && !file->Resize(f.baseSize)) || !file->Flush())
            throw Error(ErrorKind::Io, "Nie można przywrócić pliku " + nameOf(f) + ": zapis się nie powiódł");
    }
    const unsigned char zeros[sizeof kMagic] = {};
    if (!journal.WriteAt(0, zeros, sizeof zeros) || !journal.Flush())
        throw Error(ErrorKind::Io, "Nie można unieważnić dziennika zmian " + journalPath);
}

bool IsAbsolute(const std::string& name)
{
#ifdef _WIN32
    return (name.size() >= 2 && name[1] == ':') || (!name.empty() && (name[0] == '/' || name[0] == '\\'));
#else
    return !name.empty() && name[0] == '/';
#endif
}

std::string WithSeparator(std::string dir)
{
    if (!dir.empty() && !platform::IsSeparator(dir.back()))
        dir.push_back(platform::kSeparator);
    return dir;
}

// The full path of a file the journal names.
std::string FullPath(const std::string& directory, const std::string& name)
{
    std::string native = name;
    std::replace(native.begin(), native.end(), '/', platform::kSeparator);
    return IsAbsolute(name) ? native : WithSeparator(directory) + native;
}

// Two paths of the same file, the way this system compares names.
bool SamePath(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    std::string x = AsciiUpper(a), y = AsciiUpper(b);
    std::replace(x.begin(), x.end(), '/', '\\');
    std::replace(y.begin(), y.end(), '/', '\\');
    return x == y;
#else
    return a == b;
#endif
}

std::uint64_t NewNonce()
{
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (std::uint64_t{device()} << 32 ^ device()) ^ now;
}

} // namespace

// Ranges.

void Ranges::Add(std::int64_t begin, std::int64_t end)
{
    if (begin >= end)
        return;
    auto it = ranges_.upper_bound(begin);
    if (it != ranges_.begin() && std::prev(it)->second >= begin) {
        --it;
        begin = it->first;
    }
    while (it != ranges_.end() && it->first <= end) {
        end = std::max(end, it->second);
        it = ranges_.erase(it);
    }
    ranges_.emplace(begin, end);
}

std::vector<std::pair<std::int64_t, std::int64_t>> Ranges::Missing(std::int64_t begin, std::int64_t end) const
{
    std::vector<std::pair<std::int64_t, std::int64_t>> missing;
    auto it = ranges_.upper_bound(begin);
    if (it != ranges_.begin())
        --it;
    for (; begin < end && it != ranges_.end() && it->first < end; ++it) {
        if (it->second <= begin)
            continue;
        if (it->first > begin)
            missing.emplace_back(begin, it->first);
        begin = std::max(begin, it->second);
    }
    if (begin < end)
        missing.emplace_back(begin, end);
    return missing;
}

// PendingFile.

bool PendingFile::Begin()
{
    if (changed)
        return true;
    const std::int64_t now = file->Size();
    if (now < 0)
        return false;
    changed = true;
    baseSize = fileSize = size = now;
    cutAt = std::numeric_limits<std::int64_t>::max();
    return true;
}

std::int64_t PendingFile::Put(std::int64_t offset, const unsigned char* bytes, std::size_t count)
{
    const std::int64_t end = offset + static_cast<std::int64_t>(count);
    size = std::max(size, end);
    if (count == 0)
        return 0;
    const auto endOf = [](const auto& run) {
        return run.first + static_cast<std::int64_t>(run.second.size());
    };
    // The first run that overlaps [offset, end), or else the first after it.
    auto first = runs.upper_bound(offset);
    if (first != runs.begin() && endOf(*std::prev(first)) > offset)
        first = std::prev(first);
    // Within one run (an index block written again): over it, in place.
    if (first != runs.end() && first->first <= offset && endOf(*first) >= end) {
        std::memcpy(first->second.data() + (offset - first->first), bytes, count);
        return 0;
    }
    const std::size_t before = runBytes;
    if (first == runs.end() || first->first >= end) { // overlaps none
        // Right after a run (an appended row): that run grows, so that appends stay one run.
        if (first != runs.begin()) {
            auto previous = std::prev(first);
            if (endOf(*previous) == offset) {
                previous->second.append(reinterpret_cast<const char*>(bytes), count);
                runBytes += count;
                return static_cast<std::int64_t>(count);
            }
        }
        runs.emplace_hint(first, offset, std::string(reinterpret_cast<const char*>(bytes), count));
        runBytes += count;
        return static_cast<std::int64_t>(count);
    }
    // The runs from `first` on that overlap are merged into one, which starts at the earlier of
    // `first` and `offset`.
    std::int64_t mergedEnd = end;
    auto last = first;
    for (; last != runs.end() && last->first < end; ++last)
        mergedEnd = std::max(mergedEnd, endOf(*last));
    if (first->first <= offset) {
        std::string& run = first->second; // grows where it is
        const std::int64_t start = first->first;
        runBytes -= run.size();
        run.resize(static_cast<std::size_t>(mergedEnd - start));
        for (auto other = std::next(first); other != last; ++other) {
            std::memcpy(run.data() + (other->first - start), other->second.data(), other->second.size());
            runBytes -= other->second.size();
        }
        std::memcpy(run.data() + (offset - start), bytes, count);
        runBytes += run.size();
        runs.erase(std::next(first), last);
    } else {
        std::string run(static_cast<std::size_t>(mergedEnd - offset), '\0');
        for (auto other = first; other != last; ++other) {
            std::memcpy(run.data() + (other->first - offset), other->second.data(), other->second.size());
            runBytes -= other->second.size();
        }
        std::memcpy(run.data(), bytes, count);
        runs.erase(first, last);
        runBytes += run.size();
        runs.emplace(offset, std::move(run));
    }
    return static_cast<std::int64_t>(runBytes) - static_cast<std::int64_t>(before);
}

std::int64_t PendingFile::Cut(std::int64_t newSize)
{
    const std::size_t before = runBytes;
    if (newSize < size) {
        for (auto it = runs.lower_bound(newSize); it != runs.end();) {
            runBytes -= it->second.size();
            it = runs.erase(it);
        }
        if (!runs.empty()) {
            auto& [start, run] = *std::prev(runs.end());
            if (start + static_cast<std::int64_t>(run.size()) > newSize) {
                runBytes -= run.size();
                run.resize(static_cast<std::size_t>(newSize - start));
                runBytes += run.size();
            }
        }
        cutAt = std::min(cutAt, newSize);
    }
    size = newSize;
    return static_cast<std::int64_t>(runBytes) - static_cast<std::int64_t>(before);
}

void PendingFile::Overlay(std::int64_t offset, unsigned char* out, std::size_t count) const
{
    const std::int64_t end = offset + static_cast<std::int64_t>(count);
    auto it = runs.upper_bound(offset);
    if (it != runs.begin())
        it = std::prev(it);
    for (; it != runs.end() && it->first < end; ++it) {
        const std::int64_t from = std::max(offset, it->first);
        const std::int64_t to = std::min(end, it->first + static_cast<std::int64_t>(it->second.size()));
        if (from < to)
            std::memcpy(out + (from - offset), it->second.data() + (from - it->first),
                        static_cast<std::size_t>(to - from));
    }
}

std::int64_t PendingFile::Read(std::int64_t offset, unsigned char* out, std::size_t count)
{
    if (offset < 0)
        return -1;
    if (offset >= size)
        return 0;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), size - offset));
    const std::int64_t end = offset + static_cast<std::int64_t>(n);
    auto it = runs.upper_bound(offset);
    if (it != runs.begin()) {
        auto before = std::prev(it);
        if (before->first + static_cast<std::int64_t>(before->second.size()) > offset)
            it = before;
    }
    // Runs that follow each other hold it all: no read of the file.
    if (it != runs.end() && it->first <= offset) {
        auto next = it;
        std::int64_t covered = it->first;
        while (covered < end && next != runs.end() && next->first == covered)
            covered += static_cast<std::int64_t>((next++)->second.size());
        if (covered >= end) {
            Overlay(offset, out, n);
            return static_cast<std::int64_t>(n);
        }
    }
    const std::int64_t own = std::min(std::min(fileSize, cutAt), end);
    std::size_t got = 0;
    if (own > offset) {
        const std::int64_t read = file->ReadAt(offset, out, static_cast<std::size_t>(own - offset));
        if (read < 0)
            return -1;
        got = static_cast<std::size_t>(read);
    }
    std::memset(out + got, 0, n - got);
    Overlay(offset, out, n);
    return static_cast<std::int64_t>(n);
}

void PendingFile::Settle()
{
    changed = false;
    runs.clear();
    runBytes = 0;
    journaled.Clear();
    journalNumber = -1;
    cutAt = std::numeric_limits<std::int64_t>::max();
}

void PendingFile::GiveBackLock()
{
    (lockHolder ? lockHolder : file)->UnlockForUpdate();
    lockHolder.reset();
    keepsLock = false;
}

// TransactionFile.

TransactionFile::TransactionFile(std::unique_ptr<platform::LockedFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path))
{}

TransactionFile::~TransactionFile()
{
    // A lock taken through this file and not handed to a transaction goes with the file.
    if (locked_ && !(pending_ && pending_->keepsLock))
        file_->UnlockForUpdate();
    if (transaction_)
        transaction_->Release(pending_);
}

void TransactionFile::Join(Transaction::Impl* transaction)
{
    if (transaction == transaction_)
        return;
    if (pending_ && pending_->changed)
        throw Error(ErrorKind::BadState,
                    "Plik " + path_ + " ma niezatwierdzone zmiany i nie może opuścić transakcji");
    if (transaction_)
        transaction_->Release(pending_);
    transaction_ = transaction;
    if (transaction_)
        pending_ = transaction_->Attach(file_, path_);
    seen_ = pending_ ? pending_->writes : 0;
}

bool TransactionFile::SoleWriter() const
{
    return transaction_ != nullptr && transaction_->soleWriter;
}

void TransactionFile::KeepLockInTransaction()
{
    if (pending_ && locked_ && !pending_->keepsLock) {
        pending_->keepsLock = true;
        pending_->lockHolder = file_;
        ++pending_->lockGeneration;
    }
}

std::int64_t TransactionFile::ReadAt(std::int64_t offset, void* buffer, std::size_t size)
{
    if (!pending_ || !pending_->changed)
        return file_->ReadAt(offset, buffer, size);
    return pending_->Read(offset, static_cast<unsigned char*>(buffer), size);
}

bool TransactionFile::WriteAt(std::int64_t offset, const void* buffer, std::size_t size)
{
    if (!pending_)
        return file_->WriteAt(offset, buffer, size);
    if (offset < 0)
        return false;
    if (transaction_->memoryUsed > 0 && transaction_->memoryUsed + size > transaction_->memoryLimit &&
        !transaction_->Spill())
        return false;
    if (!pending_->Begin())
        return false;
    const bool current = seen_ == pending_->writes;
    const std::int64_t grown = pending_->Put(offset, static_cast<const unsigned char*>(buffer), size);
    ++pending_->writes;
    if (current)
        seen_ = pending_->writes; // its own change: nothing new to learn
    transaction_->memoryUsed =
        static_cast<std::size_t>(static_cast<std::int64_t>(transaction_->memoryUsed) + grown);
    return true;
}

std::int64_t TransactionFile::Size()
{
    if (!pending_ || !pending_->changed)
        return file_->Size();
    return pending_->size;
}

bool TransactionFile::Resize(std::int64_t size)
{
    if (!pending_)
        return file_->Resize(size);
    if (size < 0 || !pending_->Begin())
        return false;
    const bool current = seen_ == pending_->writes;
    const std::int64_t grown = pending_->Cut(size);
    ++pending_->writes;
    if (current)
        seen_ = pending_->writes;
    transaction_->memoryUsed =
        static_cast<std::size_t>(static_cast<std::int64_t>(transaction_->memoryUsed) + grown);
    return true;
}

bool TransactionFile::Flush()
{
    // Inside a transaction the commit flushes.
    return pending_ ? true : file_->Flush();
}

bool TransactionFile::TakeLock(bool (platform::LockedFile::*take)())
{
    // A lock the transaction keeps is held already.
    locked_ = (pending_ && pending_->keepsLock) || ((*file_).*take)();
    return locked_;
}

bool TransactionFile::LockForUpdate()
{
    return TakeLock(&platform::LockedFile::LockForUpdate);
}

bool TransactionFile::TryLockForUpdate()
{
    return TakeLock(&platform::LockedFile::TryLockForUpdate);
}

void TransactionFile::UnlockForUpdate()
{
    const bool kept = pending_ && pending_->keepsLock;
    if (locked_ && !kept)
        file_->UnlockForUpdate();
    locked_ = false;
}

// Transaction::Impl.

std::shared_ptr<PendingFile> Transaction::Impl::Attach(std::shared_ptr<platform::LockedFile> file,
                                                       const std::string& path)
{
    const std::string identity = file->Identity();
    for (const auto& f : files) {
        if (identity.empty() ? SamePath(f->path, path) : f->identity == identity)
            return f; // the same file opened twice shares its changes
    }
    auto pending = std::make_shared<PendingFile>();
    pending->file = std::move(file);
    pending->path = path;
    pending->identity = identity;
    files.push_back(pending);
    return pending;
}

void Transaction::Impl::Release(std::shared_ptr<PendingFile>& pending)
{
    PendingFile* const released = pending.get();
    pending.reset();
    // Kept while its changes wait for the commit; otherwise it leaves with its last user.
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it->get() != released || it->use_count() > 1 || (*it)->changed)
            continue;
        if ((*it)->keepsLock)
            (*it)->GiveBackLock();
        files.erase(it);
        return;
    }
}

void Transaction::Impl::Join(TransactionMember* member)
{
    if (std::find(members.begin(), members.end(), member) == members.end())
        members.push_back(member);
}

void Transaction::Impl::Leave(TransactionMember* member)
{
    members.erase(std::remove(members.begin(), members.end(), member), members.end());
}

bool Transaction::Impl::HasChanges() const
{
    return std::any_of(files.begin(), files.end(), [](const auto& f) { return f->changed; });
}

std::string Transaction::Impl::JournalPath() const
{
    return WithSeparator(directory) + kJournalFileName;
}

std::string Transaction::Impl::JournalName(const std::string& path) const
{
    const std::string prefix = WithSeparator(platform::ResolveCaseInsensitive(directory));
    std::string name = path.size() > prefix.size() && SamePath(path.substr(0, prefix.size()), prefix)
                           ? path.substr(prefix.size())
                           : path;
    std::replace(name.begin(), name.end(), platform::kSeparator, '/');
    return name;
}

void Transaction::Impl::WriteOut(bool finish)
{
    std::vector<PendingFile*> changed;
    for (const auto& f : files)
        if (f->changed)
            changed.push_back(f.get());
    if (!changed.empty()) {
        // 1. The journal: every file it does not name yet, and the former bytes of every part the
        // changes overwrite that it does not hold yet (the file still has them: nothing of these
        // changes reached it), then the sizes the files will reach. Flushed before any file is
        // changed.
        const bool created = !journal;
        if (created)
            nonce = NewNonce();
        // The buffers keep their memory from one write-out to the next: a commit of an office's
        // batch fills megabytes, and fresh memory costs a page fault every 4 KB.
        JournalBytes& out = journalBuffer;
        out.clear();
        if (created)
            out.append(Header(nonce));
        // What each file gets: whole blocks as the transaction sees them, each range in one write, so
        // that a block is never left half of one write-out and half of another. First the blocks
        // of every file, so that the write arena is sized once for all of them.
        struct FilePlan
        {
            std::vector<std::pair<std::int64_t, std::int64_t>> merged; // changed [first, last] blocks
            std::vector<std::pair<std::int64_t, std::int64_t>> pieces; // [first, last] blocks to write
        };
        std::vector<FilePlan> plans(changed.size());
        std::size_t arenaNeeded = 0;
        for (std::size_t fileIndex = 0; fileIndex < changed.size(); ++fileIndex) {
            PendingFile* f = changed[fileIndex];
            // The blocks this write-out changes: those of the runs, and those the transaction cut.
            std::vector<std::pair<std::int64_t, std::int64_t>> spans; // [begin, end) bytes
            for (const auto& [start, run] : f->runs)
                spans.emplace_back(start, start + static_cast<std::int64_t>(run.size()));
            const std::int64_t cutEnd = std::max(f->fileSize, f->baseSize);
            if (f->cutAt < cutEnd)
                spans.emplace_back(f->cutAt, cutEnd);
            std::sort(spans.begin(), spans.end());
            std::vector<std::pair<std::int64_t, std::int64_t>>& merged = plans[fileIndex].merged;
            for (const auto& [from, to] : spans) {
                if (from >= to)
                    continue;
                const std::int64_t first = from / kBlock, last = (to - 1) / kBlock;
                if (!merged.empty() && first <= merged.back().second + 1)
                    merged.back().second = std::max(merged.back().second, last);
                else
                    merged.emplace_back(first, last);
            }
            // Changed ranges close together are read and written as one piece, the unchanged blocks
            // between them (below the size of the last commit: old blocks) written back as they
            // are: one read and one write instead of many small ones, which on a network share
            // cost a round trip each.
            std::vector<std::pair<std::int64_t, std::int64_t>>& pieces = plans[fileIndex].pieces;
            for (const auto& [first, last] : merged) {
                if (!pieces.empty() && (first - pieces.back().second - 1) * kBlock <= kJoinGap &&
                    first * kBlock <= f->baseSize)
                    pieces.back().second = last;
                else
                    pieces.emplace_back(first, last);
            }
            for (const auto& [first, last] : pieces)
                arenaNeeded += static_cast<std::size_t>(last - first + 1) * static_cast<std::size_t>(kBlock);
        }
        // Both buffers grow at least to twice their size, so that commits which each need a little
        // more than the last (indexes grow) do not each take fresh memory; what a write-out leaves
        // unused is never touched and costs no memory.
        if (arenaSize < arenaNeeded) {
            const std::size_t size = std::max(arenaNeeded, arenaSize * 2);
            writeArena.reset(); // not both at once; and no size without memory if this throws
            arenaSize = 0;
            writeArena = std::unique_ptr<char[], ArenaRelease>(
                platform::LargePageAllocator<char>().allocate(size), ArenaRelease{size});
            arenaSize = size;
        }
        // The journal holds at most the former bytes of all the pieces and a few bytes a block:
        // room made at once rather than by appending, which copies what is already there.
        const std::size_t journalNeeded = out.size() + arenaNeeded +
                                          arenaNeeded / static_cast<std::size_t>(kBlock) * 16 +
                                          changed.size() * 512;
        if (out.capacity() < journalNeeded)
            out.reserve(std::max(journalNeeded, out.capacity() * 2));

        struct PieceWrite
        {
            std::int64_t offset;
            std::size_t at, size; // in writeArena
        };
        std::vector<std::vector<PieceWrite>> writes(changed.size());
        std::size_t arenaUsed = 0;
        // What the journal holds is noted only once it is on the disk: a write-out whose journal
        // fails leaves the notes as they were, so that the next one writes the header, the files'
        // names and the former bytes again rather than trust a journal that never got them.
        std::vector<PendingFile*> numberedNow;
        const int numberBefore = nextNumber;
        try {
            for (std::size_t fileIndex = 0; fileIndex < changed.size(); ++fileIndex) {
                PendingFile* f = changed[fileIndex];
                if (f->journalNumber < 0) {
                    numberedNow.push_back(f);
                    f->journalNumber = nextNumber++;
                    const std::string name = JournalName(f->path);
                    std::string body;
                    PutLe(body, static_cast<std::uint64_t>(f->journalNumber), 4);
                    PutLe(body, static_cast<std::uint64_t>(f->baseSize), 8);
                    PutLe(body, name.size(), 2);
                    body += name;
                    AppendRecord(out, 'F', body, nonce);
                }
                const std::vector<std::pair<std::int64_t, std::int64_t>>& merged = plans[fileIndex].merged;
                std::size_t next = 0; // the first changed range not yet journaled
                for (const auto& [pieceFirst, pieceLast] : plans[fileIndex].pieces) {
                    // The file's bytes of the piece, read once straight into the write arena: the
                    // journal takes the former bytes of each changed range from there before the
                    // changes are laid over it, and what is left is what the blocks will hold.
                    const std::int64_t begin = pieceFirst * kBlock;
                    const std::int64_t end = (pieceLast + 1) * kBlock;
                    const auto pieceSize = static_cast<std::size_t>(end - begin);
                    const std::size_t at = arenaUsed;
                    arenaUsed += pieceSize;
                    char* const piece = writeArena.get() + at;
                    const std::int64_t onDisk = std::min(end, f->fileSize) - begin;
                    if (onDisk > 0 &&
                        f->file->ReadAt(begin, piece, static_cast<std::size_t>(onDisk)) != onDisk)
                        throw Error(ErrorKind::Io, "Nie można odczytać pliku " + f->path);
                    const auto read = static_cast<std::size_t>(std::max<std::int64_t>(0, onDisk));
                    std::memset(piece + read, 0, pieceSize - read);
                    // Bytes from here on were cut by the transaction: they read as zeros.
                    const std::int64_t kept =
                        std::max<std::int64_t>(0, std::min(f->fileSize, f->cutAt) - begin);
                    for (; next < merged.size() && merged[next].first <= pieceLast; ++next) {
                        const auto [first, last] = merged[next];
                        // Former bytes of the blocks below the size of the last commit, once each.
                        const std::int64_t formerEnd = std::min((last + 1) * kBlock, f->baseSize);
                        for (const auto& [from, to] : f->journaled.Missing(first * kBlock, formerEnd)) {
                            if (to - begin > onDisk)
                                throw Error(ErrorKind::Io, "Nie można odczytać pliku " + f->path);
                            std::string head;
                            PutLe(head, static_cast<std::uint64_t>(f->journalNumber), 4);
                            PutLe(head, static_cast<std::uint64_t>(from), 8);
                            AppendRecord(out, 'B', head, nonce,
                                         std::string_view(piece + (from - begin),
                                                          static_cast<std::size_t>(to - from)));
                        }
                        // The range as it will be: the cut part zeroed, the changes laid over.
                        const std::int64_t rangeBegin = first * kBlock - begin;
                        const std::int64_t rangeEnd = (last + 1) * kBlock - begin;
                        if (kept < rangeEnd) {
                            const std::int64_t zeroFrom = std::max(kept, rangeBegin);
                            std::memset(piece + zeroFrom, 0, static_cast<std::size_t>(rangeEnd - zeroFrom));
                        }
                        f->Overlay(begin + rangeBegin, reinterpret_cast<unsigned char*>(piece + rangeBegin),
                                   static_cast<std::size_t>(rangeEnd - rangeBegin));
                        // What each changed block will hold once this write-out is done.
                        std::string body;
                        PutLe(body, static_cast<std::uint64_t>(f->journalNumber), 4);
                        PutLe(body, static_cast<std::uint64_t>(first), 8);
                        for (std::int64_t b = first; b <= last; ++b) {
                            const BlockParts parts = PartsOf(b, f->baseSize);
                            const char* block = piece + (b * kBlock - begin);
                            const auto belowSize = static_cast<std::size_t>(parts.middle - parts.begin);
                            PutLe(body, belowSize == 0 ? 0 : Crc32(block, belowSize), 4);
                            PutLe(
                                body,
                                belowSize == static_cast<std::size_t>(kBlock)
                                    ? 0
                                    : Crc32(block + belowSize, static_cast<std::size_t>(kBlock) - belowSize),
                                4);
                        }
                        AppendRecord(out, 'A', body, nonce);
                    }
                    const std::int64_t written = std::min(end, f->size) - begin;
                    if (written > 0)
                        writes[fileIndex].push_back({begin, at, static_cast<std::size_t>(written)});
                }
            }
            if (created) {
                platform::OpenFailure failure = platform::OpenFailure::None;
                // Others may read it (to learn that a transaction is under way), never change it.
                journal = platform::CreateLocked(JournalPath(), &failure, true);
                if (!journal)
                    throw WriteFailure("Nie można utworzyć dziennika zmian " + JournalPath());
                journalEnd = 0;
            }
            if (!journal->WriteAt(journalEnd, out.data(), out.size()) || !journal->Flush() ||
                (created && !platform::SyncDirectory(directory)))
                throw WriteFailure("Nie można zapisać dziennika zmian " + JournalPath());
        } catch (...) {
            for (PendingFile* f : numberedNow)
                f->journalNumber = -1;
            nextNumber = numberBefore;
            if (created && journal) {
                journal.reset();
                platform::RemoveFile(JournalPath());
            }
            throw;
        }
        journalEnd += static_cast<std::int64_t>(out.size());
        // Every changed range below the last commit's size now has its former bytes in the journal
        // (those it lacked were added above).
        for (std::size_t fileIndex = 0; fileIndex < changed.size(); ++fileIndex) {
            PendingFile* f = changed[fileIndex];
            for (const auto& [first, last] : plans[fileIndex].merged) {
                const std::int64_t formerEnd = std::min((last + 1) * kBlock, f->baseSize);
                if (first * kBlock < formerEnd)
                    f->journaled.Add(first * kBlock, formerEnd);
            }
        }

        // 2. The files.
        filesTouched = true;
        for (std::size_t fileIndex = 0; fileIndex < changed.size(); ++fileIndex) {
            PendingFile* f = changed[fileIndex];
            std::int64_t end = f->fileSize;
            for (const PieceWrite& w : writes[fileIndex]) {
                if (!f->file->WriteAt(w.offset, writeArena.get() + w.at, w.size))
                    throw WriteFailure("Błąd zapisu pliku " + f->path);
                end = std::max(end, w.offset + static_cast<std::int64_t>(w.size));
            }
            if (end != f->size && !f->file->Resize(f->size))
                throw WriteFailure("Błąd zapisu pliku " + f->path);
            if (!f->file->Flush())
                throw WriteFailure("Błąd zapisu pliku " + f->path + " na dysk");
            f->fileSize = f->size;
            f->runs.clear();
            f->runBytes = 0;
            f->cutAt = std::numeric_limits<std::int64_t>::max();
        }
        memoryUsed = 0;
    }
    if (!finish)
        return;
    // 3. The commit itself: one small write makes the journal void.
    if (journal) {
        const unsigned char zeros[sizeof kMagic] = {};
        if (!journal->WriteAt(0, zeros, sizeof zeros) || !journal->Flush()) {
            const Error failure = WriteFailure("Nie można zamknąć dziennika zmian " + JournalPath());
            // The disk may hold the void mark or not. A rollback must restore under a journal the
            // disk holds whole, or one killed halfway would leave the files half restored under a
            // journal the next recovery takes as void: the mark goes back first.
            if (!journal->WriteAt(0, kMagic, sizeof kMagic) || !journal->Flush())
                commitPointUnknown = true;
            throw failure;
        }
        journal.reset();
        // A void journal left behind harms nobody: the next commit writes over it.
        platform::RemoveFile(JournalPath());
    }
    Settle();
}

bool Transaction::Impl::Spill()
{
    try {
        WriteOut(false);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void Transaction::Impl::Commit()
{
    try {
        for (TransactionMember* m : std::vector<TransactionMember*>(members))
            m->BeforeCommit();
        WriteOut(true);
    } catch (const std::exception& e) {
        if (commitPointUnknown) {
            // The files hold this commit whole, and the journal on the disk either withdraws it or
            // is void: the next recovery settles it one way or the other, never halfway.
            commitPointUnknown = false;
            journal.reset();
            Settle();
            throw Error(ErrorKind::Io, FailureText(e) +
                                           ". Nie wiadomo, czy zmiany zostały zatwierdzone; rozstrzygnie to "
                                           "dziennik " +
                                           JournalPath() + " przy następnym imporcie.");
        }
        std::string text = FailureText(e) + ". Zmiany od ostatniego zatwierdzenia zostały wycofane.";
        try {
            RollBack();
        } catch (const std::exception& again) {
            text = FailureText(e) + ". " + FailureText(again);
        }
        throw Error(ErrorKind::Io, text);
    }
}

void Transaction::Impl::RollBack()
{
    if (filesTouched) {
        // Changes reached the files: the journal holds the former bytes of every part they wrote.
        try {
            const JournalContents contents = ReadJournal(*journal, JournalPath(), &nonce);
            auto fileFor = [&](const JournalFileEntry& e) -> platform::LockedFile* {
                for (const auto& f : files)
                    if (f->journalNumber == e.number)
                        return f->file.get();
                throw Error(ErrorKind::Io,
                            "Dziennik zmian " + JournalPath() + " nie zgadza się z plikami transakcji");
            };
            Restore(*journal, JournalPath(), contents, fileFor,
                    [&](const JournalFileEntry& e) { return FullPath(directory, e.name); });
        } catch (const std::exception& e) {
            journal.reset(); // it stays on the disk for RecoverJournal
            Settle();
            throw Error(ErrorKind::Io,
                        FailureText(e) +
                            ". Nie udało się wycofać zmian z plików; spójny stan bazy przywróci "
                            "z dziennika " +
                            JournalPath() + " następny import.");
        }
    }
    if (journal) {
        journal.reset();
        platform::RemoveFile(JournalPath());
    }
    Settle();
    for (TransactionMember* m : std::vector<TransactionMember*>(members))
        m->AfterRollBack();
}

void Transaction::Impl::Settle()
{
    for (const auto& f : files) {
        if (f->keepsLock)
            f->GiveBackLock();
        f->Settle();
    }
    // Files nobody uses any more leave the transaction.
    files.erase(std::remove_if(files.begin(), files.end(), [](const auto& f) { return f.use_count() == 1; }),
                files.end());
    journal.reset();
    journalEnd = 0;
    nextNumber = 0;
    filesTouched = false;
    memoryUsed = 0;
}

// Transaction.

Transaction::Transaction(std::string directory) : impl_(std::make_unique<Impl>())
{
    impl_->directory = std::move(directory);
    if (JournalPending(impl_->directory))
        throw Error(ErrorKind::BadState,
                    "W katalogu " + impl_->directory +
                        " jest dziennik niedokończonych zmian; trzeba go najpierw wycofać");
}

Transaction::~Transaction()
{
    try {
        if (impl_->HasChanges() || impl_->journal)
            impl_->RollBack();
    } catch (...) {
        // The journal stays on the disk; the next import withdraws it.
    }
    for (TransactionMember* m : std::vector<TransactionMember*>(impl_->members))
        m->TransactionGone();
    impl_->Settle();
}

void Transaction::Commit()
{
    impl_->Commit();
}

void Transaction::RollBack()
{
    impl_->RollBack();
}

bool Transaction::HasChanges() const
{
    return impl_->HasChanges();
}

void Transaction::SetMemoryLimit(std::size_t bytes)
{
    impl_->memoryLimit = bytes;
}

void Transaction::SetSoleWriter(bool sole)
{
    impl_->soleWriter = sole;
}

const std::string& Transaction::Directory() const
{
    return impl_->directory;
}

std::string Transaction::JournalPath() const
{
    return impl_->JournalPath();
}

// Recovery.

bool JournalPending(const std::string& directory)
{
    auto file = platform::OpenForReading(WithSeparator(directory) + kJournalFileName);
    if (!file)
        return false;
    unsigned char head[kHeaderSize];
    return file->ReadAt(0, head, kHeaderSize) == static_cast<std::int64_t>(kHeaderSize) && SoundHeader(head);
}

Recovery RecoverJournalWith(const std::string& directory, const std::vector<HeldFile>& held,
                            bool checkContents)
{
    const std::string path = WithSeparator(directory) + kJournalFileName;
    if (!platform::Exists(path))
        return {};
    platform::OpenFailure failure = platform::OpenFailure::None;
    auto journal = platform::OpenLocked(path, platform::ShareMode::Exclusive, &failure);
    if (!journal) {
        if (failure == platform::OpenFailure::NotFound)
            return {};
        throw Error(failure == platform::OpenFailure::Locked ? ErrorKind::Locked : ErrorKind::Io,
                    "Nie można otworzyć dziennika zmian " + path +
                        (failure == platform::OpenFailure::Locked ? ": używa go inny program" : ""));
    }
    const JournalContents contents = ReadJournal(*journal, path);
    if (!contents.live || contents.files.empty()) {
        // Void (a commit finished with it) or never completed: no file was changed by it.
        journal.reset();
        if (!platform::RemoveFile(path))
            throw Error(ErrorKind::Io, "Nie można usunąć dziennika zmian " + path);
        return {};
    }
    // Every file is opened and checked before any is changed.
    std::vector<std::unique_ptr<platform::LockedFile>> opened;
    std::map<int, platform::LockedFile*> files;
    Recovery recovery;
    for (const JournalFileEntry& f : contents.files) {
        const std::string full = FullPath(directory, f.name);
        const std::string resolved = platform::ResolveCaseInsensitive(full);
        platform::LockedFile* file = nullptr;
        for (const HeldFile& h : held)
            if (SamePath(platform::ResolveCaseInsensitive(h.path), resolved))
                file = h.file;
        if (file == nullptr) {
            auto own = platform::OpenLocked(full, platform::ShareMode::Exclusive, &failure);
            if (!own) {
                if (failure == platform::OpenFailure::NotFound)
                    throw Error(ErrorKind::NotFound, "Brak pliku " + full +
                                                         ", którego zmiany zapisał dziennik " + path +
                                                         "; zmiany nie zostały wycofane");
                if (failure == platform::OpenFailure::Locked)
                    throw Error(ErrorKind::Locked, "Plik " + full +
                                                       " jest otwarty przez inny program; zmiany przerwanego "
                                                       "importu nie zostały wycofane");
                throw Error(ErrorKind::Io,
                            "Nie można otworzyć pliku " + full + "; zmiany nie zostały wycofane");
            }
            file = own.get();
            opened.push_back(std::move(own));
        }
        if (checkContents)
            CheckFileIsOurs(*journal, path, contents, f, *file, full);
        files[f.number] = file;
        recovery.files.push_back(f.name);
    }
    Restore(
        *journal, path, contents, [&](const JournalFileEntry& f) { return files.at(f.number); },
        [&](const JournalFileEntry& f) { return FullPath(directory, f.name); });
    journal.reset();
    if (!platform::RemoveFile(path))
        throw Error(ErrorKind::Io, "Nie można usunąć dziennika zmian " + path);
    recovery.rolledBack = true;
    return recovery;
}

} // namespace engine
