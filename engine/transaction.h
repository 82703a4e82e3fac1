// Transactions of the table engine, with a rollback journal.
//
// Tables that join a transaction keep their changes in memory; at the commit the former bytes of
// everything the changes overwrite go to a journal file, which is flushed to the disk before any
// table or index file is touched; then the files are written and flushed, and one small write
// invalidates the journal before it is removed. A process that dies at any instant therefore
// leaves either no journal (the files hold the last commit) or a journal whose rollback gives
// back exactly the files of the last commit (RecoverJournal). A transaction that outgrows its
// memory writes part of its changes early, by the same order: journal first, then the files.
// Byte layout of the journal: docs/engine-formats.md, "Journal".
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class Table;

// The journal's name in the directory a transaction keeps it in.
inline constexpr const char* kJournalFileName = "kerg-import.jrn";

class Transaction
{
public:
    // The journal goes into `directory`. Throws Error when a journal of an unfinished transaction
    // is there: it must be rolled back first (RecoverJournal).
    explicit Transaction(std::string directory);
    // Rolls back what was not committed; never throws.
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Every change since the last commit reaches the files and the disk, then the journal is
    // removed. When that fails the changes since the last commit are rolled back and Error (Io)
    // says what failed.
    void Commit();
    // Withdraws every change since the last commit: the files are as the last commit left them and
    // the tables in the transaction read them anew. Throws Error when the files cannot be
    // restored; the journal then stays for RecoverJournal.
    void RollBack();

    // Whether anything changed since the last commit.
    bool HasChanges() const;

    // Bytes of changes kept in memory at most (default 64 MB); beyond them changes are written to
    // the files ahead of the commit, journal first.
    void SetMemoryLimit(std::size_t bytes);

    // Whether this transaction's tables are changed by it alone, also between its commits: set by
    // a program that keeps every other writer out by other means (the import holds the counters
    // table exclusively). Then a shared open keeps the index blocks it read from one commit to the
    // next after two reads that find no trace of another program (the record count, the index
    // counters); its records are read again, since an edit of fields no tag covers leaves no trace.
    // Off by default.
    void SetSoleWriter(bool sole);

    const std::string& Directory() const;
    std::string JournalPath() const;

    struct Impl;

private:
    friend class Table;
    std::unique_ptr<Impl> impl_;
};

// True when `directory` holds the journal of a transaction that did not finish.
bool JournalPending(const std::string& directory);

// What RecoverJournal did.
struct Recovery
{
    bool rolledBack = false;        // a journal was there and its changes were withdrawn
    std::vector<std::string> files; // the files it restored (paths as the journal names them)
};

// Rolls back the transaction whose journal `directory` holds: every file it changed gets back its
// former bytes and size, then the journal is removed. The files of the `held` tables (open in
// this process, for instance exclusively) are written through their own opens, and these tables
// read their files anew; every other file is opened exclusively. Refuses with Error, before
// writing anything, when a file is missing or open elsewhere, or when a part of a file that the
// rollback would write holds neither its former bytes nor bytes the transaction wrote there (the
// file was replaced, put back from a copy, or changed by another program since): nothing of
// somebody else is written over. `checkContents` false skips that check, for support staff who
// know better. Safe to interrupt: run again, it gives the same result. A journal that a commit
// had already invalidated, or whose beginning was never completed, is removed without any change.
Recovery RecoverJournal(const std::string& directory, const std::vector<Table*>& held = {},
                        bool checkContents = true);

} // namespace engine
