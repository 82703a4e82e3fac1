// Inside the engine: how a table's files take part in a transaction. A table reaches its files
// through TransactionFile, which passes everything straight to the file until the table joins a
// transaction; from then on writes go into the file's PendingFile, the changes laid over the file
// for reading, until the transaction writes them out.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/transaction.h"
#include "platform/locked_file.h"
#include "platform/memory.h"

namespace engine {

// Byte ranges [begin, end) of a file, kept sorted, apart and merged.
class Ranges
{
public:
    void Add(std::int64_t begin, std::int64_t end);
    // The parts of [begin, end) not covered, in order.
    std::vector<std::pair<std::int64_t, std::int64_t>> Missing(std::int64_t begin, std::int64_t end) const;
    void Clear() { ranges_.clear(); }

private:
    std::map<std::int64_t, std::int64_t> ranges_; // begin -> end
};

// One file's changes in a transaction.
struct PendingFile
{
    std::shared_ptr<platform::LockedFile> file;
    std::string path;
    std::string identity; // platform::LockedFile::Identity(): two opens of one file share this

    // Whether the transaction changed the file since its last commit; the rest is valid only then.
    bool changed = false;
    std::int64_t baseSize = 0; // the file's size at the last commit: the size a rollback restores
    std::int64_t fileSize = 0; // the file's own size now (beyond baseSize after changes written early)
    std::int64_t size = 0;     // the size the transaction sees
    // The transaction cut the file here: the file's own bytes from here on read as zeros.
    std::int64_t cutAt = std::numeric_limits<std::int64_t>::max();
    // Changed bytes not yet written: start -> bytes; the runs do not overlap, but may touch (a run
    // is only ever extended at its end: joining it to the run after would copy that run, and an
    // index written block by block in no order would be copied over and over).
    std::map<std::int64_t, std::string> runs;
    std::size_t runBytes = 0;
    Ranges journaled;       // parts below baseSize whose former bytes the journal holds already
    int journalNumber = -1; // the file's number in the journal, once the journal names it
    bool keepsLock = false; // the transaction holds the file's update lock until it ends
    // The open whose descriptor took that lock: the one that must give it back (a lock belongs to
    // the descriptor that took it, not to the file's first open in the transaction).
    std::shared_ptr<platform::LockedFile> lockHolder;
    std::uint64_t lockGeneration = 0; // counts the times the transaction took the lock over
    std::uint64_t writes = 0;         // changes laid over the file, by any of its opens

    // Gives back the update lock the transaction kept, through the open that took it.
    void GiveBackLock();
    // Starts the transaction's changes of the file (its size is read once). False when the file
    // cannot tell its size.
    bool Begin();
    // Lays `size` bytes at `offset` over the file; returns the change in runBytes.
    std::int64_t Put(std::int64_t offset, const unsigned char* bytes, std::size_t size);
    // Cuts or extends the file as the transaction sees it; returns the change in runBytes.
    std::int64_t Cut(std::int64_t newSize);
    // Reads as the transaction sees the file.
    std::int64_t Read(std::int64_t offset, unsigned char* out, std::size_t size);
    // Lays the changed bytes that fall in [offset, offset + count) over `out`.
    void Overlay(std::int64_t offset, unsigned char* out, std::size_t count) const;
    // Forgets the changes (after they were written out, or withdrawn).
    void Settle();
};

// A table (or any other user of a transaction) that keeps some of its state in memory.
class TransactionMember
{
public:
    virtual ~TransactionMember() = default;
    // Before a commit: writes what it keeps back (the index counters of an exclusive open).
    virtual void BeforeCommit() = 0;
    // After a rollback: reads its files anew, since what it kept may have been withdrawn.
    virtual void AfterRollBack() = 0;
    // The transaction ends its life while the member is still in it.
    virtual void TransactionGone() = 0;
};

// A table's file as the engine sees it.
class TransactionFile final : public platform::LockedFile
{
public:
    TransactionFile(std::unique_ptr<platform::LockedFile> file, std::string path);
    ~TransactionFile() override;
    TransactionFile(const TransactionFile&) = delete;
    TransactionFile& operator=(const TransactionFile&) = delete;

    const std::string& Path() const { return path_; }
    platform::LockedFile& Own() { return *file_; }

    // From now on the file's changes wait in `transaction` (nullptr: they go straight to the file
    // again; only when the transaction holds no changes of it).
    void Join(Transaction::Impl* transaction);
    bool InTransaction() const { return pending_ != nullptr; }
    bool HasPendingChanges() const { return pending_ && pending_->changed; }
    // The update lock, held now, stays taken until the transaction ends: no other program may
    // change the file between a change of this transaction and its commit.
    void KeepLockInTransaction();
    // While the transaction keeps the lock, no other program changes the file; LockGeneration
    // tells one such stretch from the next. WrittenByOthers: another open of this process changed
    // the file (through the same transaction) since MarkSeen.
    bool LockKept() const { return pending_ && pending_->keepsLock; }
    // The transaction's tables are changed by it alone, between its commits too.
    bool SoleWriter() const;
    std::uint64_t LockGeneration() const { return pending_ ? pending_->lockGeneration : 0; }
    bool WrittenByOthers() const { return pending_ && seen_ != pending_->writes; }
    void MarkSeen()
    {
        if (pending_)
            seen_ = pending_->writes;
    }

    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) override;
    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t size) override;
    std::int64_t Size() override;
    bool Resize(std::int64_t size) override;
    bool Flush() override;
    std::string Identity() override { return file_->Identity(); }
    bool LockForUpdate() override;
    bool TryLockForUpdate() override;
    void UnlockForUpdate() override;

private:
    // Takes the update lock by `take` unless the transaction keeps it.
    bool TakeLock(bool (platform::LockedFile::*take)());

    std::shared_ptr<platform::LockedFile> file_;
    std::string path_;
    Transaction::Impl* transaction_ = nullptr;
    std::shared_ptr<PendingFile> pending_;
    bool locked_ = false;    // the update lock taken through this file
    std::uint64_t seen_ = 0; // pending_->writes as this open last knew it
};

// The bytes of journal records on their way to the journal file.
using JournalBytes = std::basic_string<char, std::char_traits<char>, platform::LargePageAllocator<char>>;

// Gives a transaction's write arena back to where it came from.
struct ArenaRelease
{
    std::size_t size = 0;
    void operator()(char* arena) const noexcept
    {
        platform::LargePageAllocator<char>().deallocate(arena, size);
    }
};

struct Transaction::Impl
{
    std::string directory;
    std::vector<std::shared_ptr<PendingFile>> files;
    std::vector<TransactionMember*> members;
    std::size_t memoryLimit = std::size_t{64} << 20;
    std::size_t memoryUsed = 0;
    bool soleWriter = false; // nobody else changes the files between commits (SetSoleWriter)
    // A write-out's buffers, kept with their memory for the next, both in large pages once they
    // hold megabytes: the journal's records and the pieces to write (arenaSize bytes, allocated
    // when a write-out needs more and not filled beforehand, so that no page of it is touched
    // before its bytes are read or laid over).
    JournalBytes journalBuffer;
    std::unique_ptr<char[], ArenaRelease> writeArena;
    std::size_t arenaSize = 0;
    // The journal of the changes since the last commit, once any were written out.
    std::unique_ptr<platform::LockedFile> journal;
    std::int64_t journalEnd = 0;
    std::uint64_t nonce = 0;
    int nextNumber = 0;
    bool filesTouched = false; // some file holds changes since the last commit
    // The write that voids the journal (the commit point) failed, and so did putting its mark back:
    // the disk may hold either, over files that hold the commit whole. Nothing is restored then;
    // the journal as the disk has it decides at the next recovery.
    bool commitPointUnknown = false;

    std::shared_ptr<PendingFile> Attach(std::shared_ptr<platform::LockedFile> file, const std::string& path);
    // A user of a file lets it go (`pending` is reset).
    void Release(std::shared_ptr<PendingFile>& pending);
    void Join(TransactionMember* member);
    void Leave(TransactionMember* member);
    bool HasChanges() const;

    // Writes the changes in memory out, journal first; with `finish` also invalidates and removes
    // the journal (the commit). Throws Error on failure.
    void WriteOut(bool finish);
    // Writes the changes out early because memory is full; false on failure (the write that
    // asked for it then fails, and the transaction is to be rolled back).
    bool Spill();
    void Commit();
    void RollBack();
    // Forgets the changes and lets the update locks go.
    void Settle();
    std::string JournalPath() const;
    std::string JournalName(const std::string& path) const;
};

// A file of a journal that the caller holds open already (a table open in this process).
struct HeldFile
{
    std::string path;
    platform::LockedFile* file = nullptr;
};

// RecoverJournal with the files the caller holds.
Recovery RecoverJournalWith(const std::string& directory, const std::vector<HeldFile>& held,
                            bool checkContents);

} // namespace engine
