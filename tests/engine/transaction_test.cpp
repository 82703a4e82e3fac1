// Transactions with the rollback journal: changes reach the files only at the commit, a rollback
// gives back the files byte for byte, and a process that dies at any change of a file (or tears
// a write) leaves a state whose recovery is the last commit. Deaths are real: a second process
// runs the work and ends at the chosen change through the file layer's fault hook.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/table.h"
#include "engine/transaction.h"
#include "engine/transaction_file.h"
#include "platform/file_operations.h"
#include "platform/locked_file.h"
#include "tests/engine/support.h"
#include "tests/support/child_process.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using namespace enginetest;

// Under wine a second process takes long to start: the Windows build tries every fifth crash
// point where this system tries every one.
#ifdef _WIN32
constexpr std::uint64_t kStride = 5;
#else
constexpr std::uint64_t kStride = 1;
#endif

using Files = std::map<std::string, std::string>;

// Every file of a database directory with its bytes, the journal left out; the last-update dates
// of tables and indexes blanked (a rerun on another day writes other dates).
Files Snapshot(const std::string& dir)
{
    Files files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == engine::kJournalFileName || !entry.is_regular_file())
            continue;
        std::string bytes = ReadFileBytes(entry.path().string());
        if (bytes.size() > 4)
            bytes.replace(1, 3, "###");
        if (name.size() > 4 && name.substr(name.size() - 4) == ".mdx" && bytes.size() > 47)
            bytes.replace(44, 3, "###");
        files[name] = bytes;
    }
    return files;
}

// What differs between two snapshots, in a few words ("" when nothing does): the files themselves
// are too long to print.
std::string Differences(const Files& got, const Files& expected)
{
    std::string out;
    for (const auto& [name, bytes] : expected) {
        const auto it = got.find(name);
        if (it == got.end()) {
            out += name + " missing; ";
            continue;
        }
        if (it->second == bytes)
            continue;
        std::size_t at = 0;
        while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at])
            ++at;
        out += name + " differs from byte " + std::to_string(at) + " (" + std::to_string(it->second.size()) +
               " bytes, expected " + std::to_string(bytes.size()) + "); ";
    }
    for (const auto& entry : got)
        if (expected.count(entry.first) == 0)
            out += entry.first + " not expected; ";
    return out;
}

void CreateDatabase(const std::string& dir)
{
    engine::CreateTable(dir, "dz.dbf",
                        {{"ID_DZIALKI", 'C', 8, 0},
                         {"ID_OBR", 'C', 4, 0},
                         {"DZIALKA", 'C', 15, 0},
                         {"NR_ARKUSZA", 'C', 5, 0}},
                        {{"OBR_DZ_ARK", "ID_OBR+DZIALKA+NR_ARKUSZA", false, false},
                         {"UPP_DZ", "UPPER(DZIALKA)", false, false}},
                        0x23);
    engine::CreateTable(dir, "dostep.dbf", {{"TABLENAME", 'C', 10, 0}, {"NEXTVAL", 'N', 10, 0}}, {}, 0x23);
    engine::Table counters(dir, "dostep.dbf");
    counters.Open();
    counters.Append();
    counters.FieldByName("TABLENAME").SetString("DZ");
    counters.FieldByName("NEXTVAL").SetInteger(1);
    counters.Post();
}

// Appends `count` parcels numbered from `first`, and renames every fifth parcel already there
// (its keys move in both tags).
void Work(engine::Table& dz, int first, int count)
{
    for (int i = first; i < first + count; ++i) {
        dz.Append();
        dz.FieldByName("ID_DZIALKI").SetString("ID" + std::to_string(i));
        dz.FieldByName("ID_OBR").SetString(std::to_string(i % 7));
        dz.FieldByName("DZIALKA").SetString("dz" + std::to_string((i * 37) % 101) + "/" + std::to_string(i));
        dz.FieldByName("NR_ARKUSZA").SetString(std::to_string(i % 3));
        dz.Post();
    }
    int row = 0;
    for (dz.First(); !dz.Eof(); dz.Next()) {
        if (++row % 5 != 0)
            continue;
        dz.Edit();
        dz.FieldByName("DZIALKA").SetString(dz.FieldByName("DZIALKA").AsString() + "a");
        dz.Post();
    }
}

void SetCounter(engine::Table& counters, int value)
{
    counters.First();
    counters.Edit();
    counters.FieldByName("NEXTVAL").SetInteger(value);
    counters.Post();
}

// Called before and after commit n of TwoCommits.
struct CommitHooks
{
    std::function<void(int)> before = [](int) {};
    std::function<void(int)> after = [](int) {};
};

// The work of an import in two commits: parcels and the counter that covers them, committed
// together; the second commit outgrows `memoryLimit` and writes part of itself early. The
// counters table is held exclusively, as the import holds it, unless the hooks are to read the
// files (on Windows nobody else may read a file held exclusively).
void TwoCommits(const std::string& dir, std::size_t memoryLimit, const CommitHooks& hooks,
                bool exclusiveCounters = true)
{
    engine::Table counters(dir, "dostep.dbf");
    counters.SetExclusive(exclusiveCounters);
    counters.Open();
    engine::Transaction transaction(dir);
    transaction.SetMemoryLimit(memoryLimit);
    counters.SetTransaction(&transaction);
    engine::Table dz(dir, "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 30);
    SetCounter(counters, 31);
    hooks.before(1);
    transaction.Commit();
    hooks.after(1);
    Work(dz, 31, 60);
    SetCounter(counters, 91);
    hooks.before(2);
    transaction.Commit();
    hooks.after(2);
}

constexpr std::size_t kMemoryLimit = 10000;

// The work of TwoCommits in a second process that ends at the k-th change of a file from the
// start of the work ("exit": before it; "tear": after writing half of it). Each commit leaves a
// marker file, written outside the file layer.
KERG_CHILD_TASK(two_commits_with_fault)
{
    const std::string dir = channel.Args().at(0);
    const std::string markers = channel.Args().at(1);
    const auto k = std::stoull(channel.Args().at(2));
    platform::InjectFault(k, channel.Args().at(3) == "tear" ? platform::FaultAction::TearThenExit
                                                            : platform::FaultAction::Exit);
    CommitHooks hooks;
    hooks.after = [&](int n) { std::ofstream(markers + "-" + std::to_string(n)) << "ok"; };
    TwoCommits(dir, kMemoryLimit, hooks);
    return 0;
}

// Two opens of one table in one transaction, each posting in turn with a commit between: the
// update lock the transaction kept for the second open is given back by that open. (It was given
// back through the first open's descriptor, which holds no such lock, and the first open's next
// post waited for the process itself for ever.) Ends with 2 when a post waits 20 seconds.
KERG_CHILD_TASK(two_opens_take_turns)
{
#ifndef _WIN32
    std::signal(SIGALRM, [](int) { std::_Exit(2); });
    alarm(20);
#endif
    const std::string dir = channel.Args().at(0);
    for (const bool sole : {false, true}) {
        engine::Transaction transaction(dir);
        transaction.SetSoleWriter(sole);
        engine::Table a(dir, "dz.dbf"), b(dir, "dz.dbf");
        a.SetTransaction(&transaction);
        b.SetTransaction(&transaction);
        a.Open();
        b.Open();
        int n = 0;
        for (engine::Table* t : {&a, &b, &a, &b}) {
            t->MoveTo(static_cast<std::uint32_t>(1 + n % 3));
            t->Edit();
            t->FieldByName("DZIALKA").SetString(std::to_string(700 + n++) + (sole ? "s" : ""));
            t->Post();
            transaction.Commit();
        }
    }
    return 0;
}

// The work of TwoCommits in a second process whose k-th change of a file fails once (a full disk,
// a flush the system refuses), and which then dies at the m-th change after it: while it undoes
// its changes, or goes on.
KERG_CHILD_TASK(two_commits_fail_then_die)
{
    const std::string dir = channel.Args().at(0);
    platform::InjectFault(std::stoull(channel.Args().at(1)), platform::FaultAction::Fail, false,
                          std::stoull(channel.Args().at(2)));
    try {
        TwoCommits(dir, kMemoryLimit, CommitHooks{});
    } catch (const engine::Error&) {
        return 1;
    }
    return 0;
}

// Recovery in a second process that ends at its k-th change of a file.
KERG_CHILD_TASK(recover_with_fault)
{
    platform::InjectFault(std::stoull(channel.Args().at(1)), platform::FaultAction::Exit);
    engine::RecoverJournal(channel.Args().at(0));
    return 0;
}

// Holds a table of the directory open, shared, until released.
KERG_CHILD_TASK(hold_parcels)
{
    engine::Table dz(channel.Args().at(0), "dz.dbf");
    dz.Open();
    channel.Report("opened");
    channel.WaitForRelease();
    return 0;
}

// Appends one parcel to the table (another program working beside a transaction).
KERG_CHILD_TASK(append_parcel)
{
    engine::Table dz(channel.Args().at(0), "dz.dbf");
    dz.Open();
    dz.Append();
    dz.FieldByName("ID_DZIALKI").SetString("OTHER");
    dz.FieldByName("DZIALKA").SetString("inny");
    dz.Post();
    channel.Report("posted");
    return 0;
}

// Gives the third parcel another id, a field no tag covers (another program editing beside a
// transaction).
KERG_CHILD_TASK(edit_parcel_id)
{
    engine::Table dz(channel.Args().at(0), "dz.dbf");
    dz.Open();
    dz.First();
    dz.Next();
    dz.Next();
    dz.Edit();
    dz.FieldByName("ID_DZIALKI").SetString("CHANGED");
    dz.Post();
    channel.Report("posted");
    return 0;
}

class Transactions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CreateDatabase(dir.Path());
        initial = Snapshot(dir.Path());
    }

    // A copy of the initial database in a new folder of `scratch`.
    std::string FreshCopy(const std::string& name)
    {
        const std::string copy = scratch.File(name);
        fs::create_directory(copy);
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            fs::copy_file(entry.path(), copy + "/" + entry.path().filename().string());
        return copy;
    }

    // The files the work gives without any transaction: posts straight to the files.
    Files Reference(const std::function<void(engine::Table&)>& work)
    {
        const std::string copy = FreshCopy("reference" + std::to_string(++copies));
        engine::Table dz(copy, "dz.dbf");
        dz.Open();
        work(dz);
        dz.Close();
        return Snapshot(copy);
    }

    // Runs TwoCommits in a second process that dies at change `k`; returns the database.
    std::string DiesAt(std::uint64_t k, const std::string& name, const char* mode = "exit")
    {
        const std::string copy = FreshCopy(name);
        test_support::ChildProcess child("two_commits_with_fault",
                                         {copy, scratch.File(name + "-marker"), std::to_string(k), mode});
        const int code = child.Wait();
        EXPECT_EQ(code, platform::kFaultExitCode) << "change " << k;
        return copy;
    }

    // The files after each commit of TwoCommits, the initial ones first, and the changes it makes
    // in all (`changes`).
    std::vector<Files> Commits(std::uint64_t* changes)
    {
        std::vector<Files> commits{initial};
        const std::string dry = FreshCopy("commits" + std::to_string(++copies));
        const std::uint64_t before = platform::FileChanges();
        CommitHooks hooks;
        hooks.after = [&](int) { commits.push_back(Snapshot(dry)); };
        TwoCommits(dry, kMemoryLimit, hooks, false);
        *changes = platform::FileChanges() - before;
        return commits;
    }

    // The changes TwoCommits makes in all, and those it has made when its second commit starts.
    void CountChanges()
    {
        if (totalChanges != 0)
            return;
        const std::string dry = FreshCopy("dry");
        const std::uint64_t start = platform::FileChanges();
        CommitHooks hooks;
        hooks.before = [&](int n) {
            if (n == 2)
                beforeSecondCommit = platform::FileChanges() - start;
        };
        hooks.after = [&](int n) {
            if (n == 1)
                firstCommit = Snapshot(dry);
        };
        TwoCommits(dry, kMemoryLimit, hooks, false);
        totalChanges = platform::FileChanges() - start;
    }

    // A database whose process died in its second commit: the journal holds the early write-outs
    // and the commit's last records, and the files hold the early write-outs. The commit's first
    // write of a file is its third change: the journal's write and flush come first.
    std::string CrashedInTheLastCommit(const std::string& name)
    {
        CountChanges();
        return DiesAt(beforeSecondCommit + 3, name);
    }

    TempDir dir, scratch;
    Files initial;
    int copies = 0;
    std::uint64_t totalChanges = 0, beforeSecondCommit = 0;
    Files firstCommit;
};

// The changes a transaction lays over a file read exactly as the file would after them: random
// writes (overlapping, touching, past the end), cuts and extensions, checked after each step
// against a plain copy of the bytes.
TEST(PendingFile, ReadsAsTheFileWouldAfterTheChanges)
{
    TempDir dir;
    std::mt19937 random(2026);
    std::string model(3000, '\0');
    for (std::size_t i = 0; i < model.size(); ++i)
        model[i] = static_cast<char>('a' + i % 26);
    WriteFileBytes(dir.File("data"), model);
    engine::PendingFile pending;
    pending.file = platform::OpenLocked(dir.File("data"), platform::ShareMode::Shared, nullptr);
    ASSERT_TRUE(pending.file);
    ASSERT_TRUE(pending.Begin());
    auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    std::size_t runBytes = 0;
    for (int step = 0; step < 4000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int what = pick(0, 19);
        if (what < 14) {
            const auto offset = static_cast<std::size_t>(pick(0, static_cast<int>(model.size()) + 100));
            std::string bytes(static_cast<std::size_t>(pick(1, what < 3 ? 900 : 40)), '\0');
            for (char& c : bytes)
                c = static_cast<char>(pick(0, 255));
            if (offset + bytes.size() > model.size())
                model.resize(offset + bytes.size(), '\0');
            model.replace(offset, bytes.size(), bytes);
            runBytes += static_cast<std::size_t>(
                pending.Put(static_cast<std::int64_t>(offset),
                            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
        } else if (what == 14) {
            const auto size = static_cast<std::size_t>(pick(0, static_cast<int>(model.size()) + 200));
            model.resize(size, '\0');
            runBytes += static_cast<std::size_t>(pending.Cut(static_cast<std::int64_t>(size)));
        } else {
            const auto offset = static_cast<std::size_t>(pick(0, static_cast<int>(model.size()) + 10));
            const auto size = static_cast<std::size_t>(pick(0, 1200));
            std::string got(size, '?');
            const std::int64_t n = pending.Read(static_cast<std::int64_t>(offset),
                                                reinterpret_cast<unsigned char*>(got.data()), size);
            const std::string expected = offset < model.size() ? model.substr(offset, size) : std::string();
            ASSERT_EQ(n, static_cast<std::int64_t>(expected.size()));
            ASSERT_EQ(got.substr(0, expected.size()), expected);
        }
        ASSERT_EQ(pending.size, static_cast<std::int64_t>(model.size()));
        ASSERT_EQ(runBytes, pending.runBytes);
        // The runs stay sorted, and none overlaps the next.
        std::int64_t end = -1;
        for (const auto& [start, run] : pending.runs) {
            ASSERT_GE(start, end);
            end = start + static_cast<std::int64_t>(run.size());
        }
    }
    // The file itself was never written.
    pending.file.reset();
    EXPECT_EQ(ReadFileBytes(dir.File("data")).size(), 3000u);
}

// Blocks written in no order are each laid over the file once, without copying the others: a run
// is extended only at its end. What runs that follow each other hold is read without the file.
TEST(PendingFile, BlocksWrittenInAnyOrderStayWhereTheyAreAndReadWithoutTheFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("data"), std::string(64 * 512, 'x'));
    engine::PendingFile pending;
    pending.file = platform::OpenLocked(dir.File("data"), platform::ShareMode::Shared, nullptr);
    ASSERT_TRUE(pending.file);
    ASSERT_TRUE(pending.Begin());
    const auto block = [](int n) { return std::string(512, static_cast<char>('A' + n % 26)); };
    const auto put = [&](int n) {
        const std::string bytes = block(n);
        pending.Put(std::int64_t{n} * 512, reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size());
    };
    for (int n : {10, 9, 8, 11, 12, 20, 7, 9, 10}) // before, after and over the first, and apart
        put(n);
    EXPECT_EQ(pending.runBytes, 7u * 512);
    std::vector<std::int64_t> starts;
    for (const auto& [start, run] : pending.runs)
        starts.push_back(start);
    // 10 begins a run that 11 and 12 extend; 9, 8 and 7 each begin their own, as 20 does.
    EXPECT_EQ(starts, (std::vector<std::int64_t>{7 * 512, 8 * 512, 9 * 512, 10 * 512, 20 * 512}));
    const platform::FileOperationCounts before = platform::FileOperations();
    std::string got(6 * 512, '?');
    ASSERT_EQ(pending.Read(7 * 512, reinterpret_cast<unsigned char*>(got.data()), got.size()), 6 * 512);
    EXPECT_EQ(got, block(7) + block(8) + block(9) + block(10) + block(11) + block(12));
    EXPECT_EQ(platform::FileOperations().reads, before.reads) << "read from the runs alone";
    // Past them, the file's own bytes.
    std::string more(2 * 512, '?');
    ASSERT_EQ(pending.Read(12 * 512, reinterpret_cast<unsigned char*>(more.data()), more.size()), 2 * 512);
    EXPECT_EQ(more, block(12) + std::string(512, 'x'));
    EXPECT_EQ(platform::FileOperations().reads, before.reads + 1);
}

TEST_F(Transactions, ChangesReachTheFilesAtTheCommitAsPostsWithoutATransactionWriteThem)
{
    const Files expected = Reference([](engine::Table& dz) { Work(dz, 1, 120); });
    engine::Transaction transaction(dir.Path());
    engine::Table dz(dir.Path(), "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 120);
    // The table sees its own changes; the files do not hold them yet.
    EXPECT_EQ(dz.RecordCount(), 120);
    dz.SetIndexName("OBR_DZ_ARK");
    dz.EditKey();
    dz.FieldByName("ID_OBR").SetString("4");
    dz.FieldByName("DZIALKA").SetString("dz3/11");
    dz.FieldByName("NR_ARKUSZA").SetString("2");
    EXPECT_TRUE(dz.GotoKey());
    EXPECT_EQ(dz.FieldByName("ID_DZIALKI").AsString(), "ID11");
    EXPECT_TRUE(transaction.HasChanges());
    EXPECT_EQ(Differences(Snapshot(dir.Path()), initial), "");
    EXPECT_FALSE(engine::JournalPending(dir.Path()));

    transaction.Commit();
    EXPECT_FALSE(transaction.HasChanges());
    EXPECT_FALSE(fs::exists(transaction.JournalPath()));
    dz.Close();
    EXPECT_EQ(Differences(Snapshot(dir.Path()), expected), "");
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
}

TEST_F(Transactions, ARollbackGivesBackTheFilesAndTheTableWorksOn)
{
    const Files expected = Reference([](engine::Table& dz) { Work(dz, 200, 40); });
    engine::Transaction transaction(dir.Path());
    engine::Table dz(dir.Path(), "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 80);
    transaction.RollBack();
    EXPECT_EQ(Differences(Snapshot(dir.Path()), initial), "");
    EXPECT_EQ(dz.RecordCount(), 0);
    // The table read its files anew: what it kept of the withdrawn rows is gone.
    dz.First();
    EXPECT_TRUE(dz.Eof());
    Work(dz, 200, 40);
    transaction.Commit();
    dz.Close();
    EXPECT_EQ(Differences(Snapshot(dir.Path()), expected), "");
}

TEST_F(Transactions, ChangesBeyondTheMemoryLimitGoOutEarlyJournalFirstAndStillRollBack)
{
    const Files expected = Reference([](engine::Table& dz) { Work(dz, 1, 150); });
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        const std::string copy = FreshCopy(commit ? "commit" : "rollback");
        engine::Transaction transaction(copy);
        transaction.SetMemoryLimit(4096);
        engine::Table dz(copy, "dz.dbf");
        dz.SetTransaction(&transaction);
        dz.Open();
        Work(dz, 1, 150);
        // Written early: the files changed, and the journal holds what they were.
        EXPECT_TRUE(engine::JournalPending(copy));
        EXPECT_NE(Differences(Snapshot(copy), initial), "");
        if (commit)
            transaction.Commit();
        else
            transaction.RollBack();
        dz.Close();
        EXPECT_EQ(Differences(Snapshot(copy), commit ? expected : initial), "");
        EXPECT_FALSE(fs::exists(transaction.JournalPath()));
    }
}

TEST_F(Transactions, TwoOpensOfATableInOneTransactionShareItsChanges)
{
    engine::Transaction transaction(dir.Path());
    engine::Table first(dir.Path(), "dz.dbf");
    first.SetTransaction(&transaction);
    first.Open();
    Work(first, 1, 20);
    // The first open keeps the update lock; the second, in the same transaction, neither waits
    // for it nor misses the rows the first one added.
    engine::Table second(dir.Path(), "DZ.DBF");
    second.SetTransaction(&transaction);
    second.Open();
    EXPECT_EQ(second.RecordCount(), 20);
    // The first open keeps what it read while the transaction holds the lock; a change through the
    // second makes it read again.
    first.MoveTo(3);
    const std::string before = first.FieldByName("DZIALKA").AsString();
    second.MoveTo(3);
    second.Edit();
    second.FieldByName("DZIALKA").SetString("zmieniona");
    second.Post();
    first.MoveTo(3);
    EXPECT_EQ(first.FieldByName("DZIALKA").AsString(), "zmieniona") << "was " << before;
    Work(second, 21, 5);
    EXPECT_EQ(first.RecordCount(), 25);
    transaction.Commit();
    first.Close();
    second.Close();
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
    engine::Table check(dir.Path(), "dz.dbf");
    check.Open();
    EXPECT_EQ(check.RecordCount(), 25);
}

// A table in a transaction keeps the update lock from its first read to the commit, and with it
// what it read (records, index blocks, counters): read once per stretch of the lock. After a
// commit, others may have written: the record count and the index counters are read again
// (the index blocks stay when the counters show no other post), and the records too, also in a
// transaction whose tables nobody else is meant to change (SetSoleWriter).
TEST_F(Transactions, WhatATableReadStaysReadAsLongAsNobodyElseCanChangeIt)
{
    for (const bool sole : {false, true}) {
        SCOPED_TRACE(sole ? "sole writer" : "shared");
        const std::string copy = FreshCopy(sole ? "sole" : "shared");
        engine::Transaction transaction(copy);
        transaction.SetSoleWriter(sole);
        engine::Table dz(copy, "dz.dbf");
        dz.SetTransaction(&transaction);
        dz.Open();
        Work(dz, 1, 60);
        auto readEverything = [&] {
            std::string all;
            for (dz.First(); !dz.Eof(); dz.Next())
                all += dz.FieldByName("DZIALKA").AsString();
            dz.SetIndexName("OBR_DZ_ARK");
            dz.EditKey();
            dz.FieldByName("ID_OBR").SetString("4");
            dz.FieldByName("DZIALKA").SetString("dz3/11");
            dz.FieldByName("NR_ARKUSZA").SetString("2");
            EXPECT_TRUE(dz.GotoKey());
            dz.SetIndexName("");
            return all;
        };
        const std::string first = readEverything();
        platform::ResetFileOperations();
        EXPECT_EQ(readEverything(), first);
        EXPECT_EQ(platform::FileOperations().reads, 0u) << "read again while the lock is kept";
        transaction.Commit();

        platform::ResetFileOperations();
        EXPECT_EQ(readEverything(), first);
        Work(dz, 61, 2);
        // The record count, the index counters and the one run of records; the index blocks stay.
        if (sole)
            EXPECT_EQ(platform::FileOperations().reads, 3u);
        else
            EXPECT_GE(platform::FileOperations().reads, 3u);
        transaction.Commit();
        dz.Close();
        EXPECT_EQ(engine::VerifyDirectory(copy), std::vector<std::string>{});
    }
}

TEST_F(Transactions, AnotherProgramsPostWaitsForTheCommit)
{
    engine::Transaction transaction(dir.Path());
    engine::Table dz(dir.Path(), "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 10);
    test_support::ChildProcess other("append_parcel", {dir.Path()});
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(other.Running()) << "the other program changed the table during the transaction";
    EXPECT_EQ(Differences(Snapshot(dir.Path()), initial), "");
    transaction.Commit();
    EXPECT_EQ(other.Report(), "posted");
    EXPECT_EQ(other.Wait(), 0);
    dz.Close();
    // Both programs' rows, each in one piece, and every tag sound.
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
    engine::Table check(dir.Path(), "dz.dbf");
    check.Open();
    EXPECT_EQ(check.RecordCount(), 11);
}

// A program that breaks the sole writer's rule and appends between two commits loses nothing: the
// transaction sees the other row when it takes the lock again, appends after it and posts into the
// index as the file now holds it.
TEST_F(Transactions, ASoleWriterSeesAnotherProgramsRowAppendedBetweenCommits)
{
    engine::Transaction transaction(dir.Path());
    transaction.SetSoleWriter(true);
    engine::Table dz(dir.Path(), "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 40);
    transaction.Commit();
    test_support::ChildProcess other("append_parcel", {dir.Path()});
    EXPECT_EQ(other.Report(), "posted");
    EXPECT_EQ(other.Wait(), 0);
    Work(dz, 41, 40);
    transaction.Commit();
    dz.Close();

    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
    engine::Table check(dir.Path(), "dz.dbf");
    check.Open();
    EXPECT_EQ(check.RecordCount(), 81);
    int others = 0;
    std::set<std::string> ids;
    for (check.First(); !check.Eof(); check.Next()) {
        const std::string id = check.FieldByName("ID_DZIALKI").AsString();
        others += id == "OTHER" ? 1 : 0;
        ids.insert(id);
    }
    EXPECT_EQ(others, 1);
    EXPECT_EQ(ids.size(), 81u) << "a row written over or twice";
    check.SetIndexName("OBR_DZ_ARK");
    int entries = 0;
    for (check.First(); !check.Eof(); check.Next())
        ++entries;
    EXPECT_EQ(entries, 81);
}

// Nor is another program's edit of a field no tag covers undone by the sole writer's later edit of
// the same row: the rows it keeps are read again once the lock is taken anew.
TEST_F(Transactions, ASoleWriterKeepsAnotherProgramsEditMadeBetweenCommits)
{
    engine::Transaction transaction(dir.Path());
    transaction.SetSoleWriter(true);
    engine::Table dz(dir.Path(), "dz.dbf");
    dz.SetTransaction(&transaction);
    dz.Open();
    Work(dz, 1, 10);
    transaction.Commit();
    test_support::ChildProcess other("edit_parcel_id", {dir.Path()});
    EXPECT_EQ(other.Report(), "posted");
    EXPECT_EQ(other.Wait(), 0);
    dz.First();
    dz.Next();
    dz.Next();
    ASSERT_EQ(dz.RecNo(), 3u);
    dz.Edit();
    dz.FieldByName("DZIALKA").SetString("nowa");
    dz.Post();
    transaction.Commit();
    dz.Close();

    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});
    engine::Table check(dir.Path(), "dz.dbf");
    check.Open();
    check.First();
    check.Next();
    check.Next();
    EXPECT_EQ(check.FieldByName("ID_DZIALKI").AsString(), "CHANGED");
    EXPECT_EQ(check.FieldByName("DZIALKA").AsString(), "nowa");
}

TEST_F(Transactions, ANewTransactionWaitsUntilALeftJournalIsRolledBack)
{
    const std::string copy = CrashedInTheLastCommit("crashed");
    ASSERT_TRUE(engine::JournalPending(copy));
    EXPECT_THROW(engine::Transaction{copy}, engine::Error);

    // A journal that a commit made void goes without any change.
    const std::string voided = FreshCopy("void");
    fs::copy_file(copy + "/" + engine::kJournalFileName, voided + "/" + engine::kJournalFileName);
    std::fstream journal(voided + "/" + engine::kJournalFileName,
                         std::ios::in | std::ios::out | std::ios::binary);
    journal.write("\0\0\0\0\0\0\0\0", 8);
    journal.close();
    EXPECT_FALSE(engine::JournalPending(voided));
    EXPECT_FALSE(engine::RecoverJournal(voided).rolledBack);
    EXPECT_FALSE(fs::exists(voided + "/" + engine::kJournalFileName));
    EXPECT_EQ(Differences(Snapshot(voided), initial), "");
    EXPECT_NO_THROW(engine::Transaction{voided});
}

// The heart of it: for every change of a file that TwoCommits makes, a process that dies there
// (before the change, or tearing a write in half) leaves files whose recovery is exactly the
// last commit the process finished, or the one it was finishing when its commit point (the
// write that voids the journal) had passed. The counters table is held exclusively during the
// recovery, as the import holds it, and is restored through its own open.
TEST_F(Transactions, EveryCrashPointRecoversToACommit)
{
    std::uint64_t changes = 0;
    const std::vector<Files> commits = Commits(&changes);
    ASSERT_EQ(commits.size(), 3u);
    ASSERT_GT(changes, 20u);

    int recoveredSome = 0;
    for (const char* mode : {"exit", "tear"}) {
        std::vector<std::uint64_t> points;
        for (std::uint64_t k = 1; k <= changes; k += kStride)
            points.push_back(k);
        points.push_back(changes + 1); // past the last change: the work ends normally
        for (const std::uint64_t k : points) {
            SCOPED_TRACE(std::string(mode) + " at change " + std::to_string(k));
            const std::string copy = FreshCopy(std::string(mode) + std::to_string(k));
            const std::string markers = scratch.File(std::string("marker-") + mode + std::to_string(k));
            test_support::ChildProcess child("two_commits_with_fault",
                                             {copy, markers, std::to_string(k), mode});
            const int code = child.Wait();
            if (k == changes + 1) {
                EXPECT_EQ(code, 0) << "the work made more changes than counted";
                EXPECT_EQ(Differences(Snapshot(copy), commits[2]), "");
                continue;
            }
            ASSERT_EQ(code, platform::kFaultExitCode);
            const int done = fs::exists(markers + "-2") ? 2 : fs::exists(markers + "-1") ? 1 : 0;
            {
                engine::Table counters(copy, "dostep.dbf");
                counters.SetExclusive(true);
                counters.Open();
                recoveredSome += engine::RecoverJournal(copy, {&counters}).rolledBack ? 1 : 0;
                // The held table reads what the recovery gave back.
                counters.First();
                const std::string value = counters.FieldByName("NEXTVAL").AsString();
                EXPECT_TRUE(value == "1" || value == "31" || value == "91") << value;
            }
            EXPECT_FALSE(engine::JournalPending(copy));
            const Files after = Snapshot(copy);
            const bool atDone = after == commits[static_cast<std::size_t>(done)];
            const bool atNext = done < 2 && after == commits[static_cast<std::size_t>(done) + 1];
            EXPECT_TRUE(atDone || atNext) << "last commit finished: " << done << "; "
                                          << Differences(after, commits[static_cast<std::size_t>(done)]);
            EXPECT_EQ(engine::VerifyDirectory(copy), std::vector<std::string>{});
        }
    }
    EXPECT_GT(recoveredSome, static_cast<int>(10 / kStride))
        << "the deaths should leave journals to roll back";
}

// A change that fails once, anywhere in the work (in an early write-out or in a commit, the write
// that voids the journal and its flush among them), and then a death at any of the changes that
// follow (those of the rollback, or of the work going on): the recovery gives one of the commits,
// never a mix of two. A failed journal write must not leave the next write-out trusting a
// journal that never got its header or its former bytes; a failed commit point must not leave a
// rollback restoring under a journal the disk holds as void.
TEST_F(Transactions, AFailureAndThenADeathRecoverToACommit)
{
    std::uint64_t changes = 0;
    const std::vector<Files> commits = Commits(&changes);
    ASSERT_EQ(commits.size(), 3u);
    for (std::uint64_t k = 1; k <= changes; ++k) {
        for (const std::uint64_t m : {1, 2, 3, 5, 8, 1000}) {
            SCOPED_TRACE("change " + std::to_string(k) + " fails, death " + std::to_string(m) + " later");
            const std::string copy = FreshCopy("fail" + std::to_string(k) + "-" + std::to_string(m));
            test_support::ChildProcess child("two_commits_fail_then_die",
                                             {copy, std::to_string(k), std::to_string(m)});
            const int code = child.Wait();
            ASSERT_TRUE(code == platform::kFaultExitCode || code == 0 || code == 1) << code;
            {
                engine::Table counters(copy, "dostep.dbf");
                counters.SetExclusive(true);
                counters.Open();
                engine::RecoverJournal(copy, {&counters});
            }
            EXPECT_FALSE(engine::JournalPending(copy));
            const Files after = Snapshot(copy);
            EXPECT_TRUE(after == commits[0] || after == commits[1] || after == commits[2])
                << Differences(after, commits[0]);
            EXPECT_EQ(engine::VerifyDirectory(copy), std::vector<std::string>{});
            fs::remove_all(copy);
            if (HasFailure())
                return;
        }
    }
}

// The first early write-out's journal write, its flush or its folder's flush fails once, at
// memory limits that put the write-out at every kind of post; whatever the posts' error paths
// write after it, the rollback gives back the initial files and leaves no journal.
TEST_F(Transactions, AFailedJournalWriteOfAnEarlyWriteOutRollsBackToTheStart)
{
    for (std::size_t limit = 2000; limit <= 20000; limit += 500) {
        for (std::uint64_t k = 1; k <= 3; ++k) {
            SCOPED_TRACE("memory limit " + std::to_string(limit) + ", change " + std::to_string(k) +
                         " fails");
            const std::string copy = FreshCopy("journal" + std::to_string(limit) + "-" + std::to_string(k));
            {
                engine::Table counters(copy, "dostep.dbf");
                counters.SetExclusive(true);
                counters.Open();
                engine::Transaction transaction(copy);
                transaction.SetMemoryLimit(limit);
                transaction.SetSoleWriter(true);
                counters.SetTransaction(&transaction);
                platform::InjectFault(k, platform::FaultAction::Fail);
                try {
                    engine::Table dz(copy, "dz.dbf");
                    dz.SetTransaction(&transaction);
                    dz.Open();
                    Work(dz, 1, 60);
                } catch (const engine::Error&) {}
                platform::ClearFault();
                transaction.RollBack();
            }
            EXPECT_FALSE(engine::JournalPending(copy));
            EXPECT_EQ(Differences(Snapshot(copy), initial), "");
            fs::remove_all(copy);
            if (HasFailure())
                return;
        }
    }
}

// A crash during the second commit, after early write-outs: the journal's last records are cut
// at every byte, as a write torn by a power cut would leave them. Their changes never reached
// the files (the journal is flushed before any file is written), so the recovery restores the
// records before the cut and gives the state of the first commit.
TEST_F(Transactions, AJournalCutAnywhereInItsLastRecordsRecoversToTheCommitBefore)
{
    CountChanges();
    // The journal as the last commit found it (dying before the commit's journal write).
    const std::string before = DiesAt(beforeSecondCommit + 1, "before");
    const std::string journalBefore = ReadFileBytes(before + "/" + engine::kJournalFileName);
    const std::string crashed = CrashedInTheLastCommit("crashed");
    const std::string journal = ReadFileBytes(crashed + "/" + engine::kJournalFileName);
    ASSERT_GT(journal.size(), journalBefore.size());
    ASSERT_NE(Differences(Snapshot(crashed), firstCommit), "") << "the early write-outs changed the files";

    for (std::size_t cut = journalBefore.size(); cut <= journal.size(); ++cut) {
        SCOPED_TRACE("journal cut at byte " + std::to_string(cut));
        const std::string copy = scratch.File("cut" + std::to_string(cut));
        fs::copy(crashed, copy);
        WriteFileBytes(copy + "/" + engine::kJournalFileName, journal.substr(0, cut));
        EXPECT_TRUE(engine::RecoverJournal(copy).rolledBack);
        EXPECT_EQ(Differences(Snapshot(copy), firstCommit), "");
        fs::remove_all(copy);
    }
}

TEST_F(Transactions, ARecoveryThatDiesIsRunAgainToTheSameResult)
{
    const std::string crashed = CrashedInTheLastCommit("crashed");
    ASSERT_TRUE(engine::JournalPending(crashed));
    // The recovery made in this process, for comparison.
    const std::string whole = scratch.File("whole");
    fs::copy(crashed, whole);
    ASSERT_TRUE(engine::RecoverJournal(whole).rolledBack);
    const Files expected = Snapshot(whole);

    bool finished = false;
    for (int k = 1; k < 200 && !finished; k += static_cast<int>(kStride)) {
        SCOPED_TRACE("recovery dies at change " + std::to_string(k));
        const std::string copy = scratch.File("r" + std::to_string(k));
        fs::copy(crashed, copy);
        test_support::ChildProcess recovery("recover_with_fault", {copy, std::to_string(k)});
        const int code = recovery.Wait();
        finished = code == 0;
        if (!finished) {
            ASSERT_EQ(code, platform::kFaultExitCode);
        }
        engine::RecoverJournal(copy);
        EXPECT_FALSE(engine::JournalPending(copy));
        EXPECT_EQ(Differences(Snapshot(copy), expected), "");
    }
    EXPECT_TRUE(finished);
}

TEST_F(Transactions, ARecoveryRefusesFilesItCannotSafelyRestore)
{
    const std::string crashed = CrashedInTheLastCommit("crashed");
    ASSERT_TRUE(engine::JournalPending(crashed));

    auto refused = [&](const std::string& name, const std::function<void(const std::string&)>& change,
                       engine::ErrorKind kind, const std::string& words) {
        SCOPED_TRACE(name);
        const std::string copy = scratch.File(name);
        fs::copy(crashed, copy);
        std::unique_ptr<test_support::ChildProcess> holder;
        if (change)
            change(copy);
        else {
            // Another program holds a table of the database open.
            holder =
                std::make_unique<test_support::ChildProcess>("hold_parcels", std::vector<std::string>{copy});
            ASSERT_EQ(holder->Report(), "opened");
        }
        const Files before = Snapshot(copy);
        try {
            engine::RecoverJournal(copy);
            ADD_FAILURE() << "the recovery went ahead";
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), kind);
            EXPECT_NE(std::string(e.what()).find("dz.dbf"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
        // Nothing was written, and the journal waits.
        EXPECT_EQ(Differences(Snapshot(copy), before), "");
        EXPECT_TRUE(engine::JournalPending(copy));
    };
    refused(
        "replaced",
        [&](const std::string& copy) {
            // Another file under the same name: the table as it was before the work, as a
            // backup put back would bring it.
            fs::copy_file(dir.Path() + "/dz.dbf", copy + "/dz.new");
            fs::rename(copy + "/dz.new", copy + "/dz.dbf");
        },
        engine::ErrorKind::BadState, "zastąpiony");
    refused(
        "written over",
        [](const std::string& copy) {
            // Rows of another program written where the interrupted work had changed the table.
            std::fstream table(copy + "/dz.dbf", std::ios::in | std::ios::out | std::ios::binary);
            table.seekp(200);
            table << std::string(400, 'x');
        },
        engine::ErrorKind::BadState, "zmienił się");
    refused(
        "grown",
        [](const std::string& copy) {
            std::ofstream(copy + "/dz.dbf", std::ios::binary | std::ios::app) << std::string(5000, 'x');
        },
        engine::ErrorKind::BadState, "zmienił się");
    refused(
        "missing", [](const std::string& copy) { fs::remove(copy + "/dz.dbf"); }, engine::ErrorKind::NotFound,
        "Brak pliku");
    refused("held elsewhere", nullptr, engine::ErrorKind::Locked, "otwarty przez inny program");

    // A copy of the whole database, journal and all, is the same data: it is recovered.
    const std::string copied = scratch.File("copied");
    fs::copy(crashed, copied);
    EXPECT_TRUE(engine::RecoverJournal(copied).rolledBack);
    EXPECT_EQ(Differences(Snapshot(copied), firstCommit), "");
}

// A write or a flush that fails during the commit (a full disk, a file that refuses writes): the
// commit says so, the files are those of the last commit, and the table goes on. For every
// change of the commit; and with a disk that stays full, so that the rollback fails too: then
// the recovery finds the files of the last commit, or, when the failure came after the write
// that voids the journal, those of the failed commit whole.
TEST_F(Transactions, TwoOpensOfATableInOneTransactionPostInTurn)
{
    {
        engine::Table dz(dir.Path(), "dz.dbf");
        dz.Open();
        Work(dz, 1, 3);
    }
    test_support::ChildProcess child("two_opens_take_turns", {dir.Path()});
    EXPECT_EQ(child.Wait(), 0) << "a post waited for the lock the other open kept";
    engine::Table t(dir.Path(), "dz.dbf");
    t.Open();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    std::vector<std::string> values;
    for (t.First(); !t.Eof(); t.Next())
        values.push_back(t.FieldByName("DZIALKA").AsString());
    EXPECT_NE(std::find(values.begin(), values.end(), "703s"), values.end());
}

TEST_F(Transactions, AFailedWriteDuringTheCommitLeavesTheLastCommit)
{
    const Files expected = Reference([](engine::Table& dz) { Work(dz, 40, 30); });
    const Files whole = Reference([](engine::Table& dz) { Work(dz, 1, 60); });
    auto begin = [](engine::Transaction& transaction, engine::Table& dz) {
        transaction.SetMemoryLimit(8000);
        dz.SetTransaction(&transaction);
        dz.Open();
        Work(dz, 1, 60);
    };
    std::uint64_t changes = 0;
    {
        const std::string copy = FreshCopy("count");
        engine::Transaction transaction(copy);
        engine::Table dz(copy, "dz.dbf");
        begin(transaction, dz);
        const std::uint64_t before = platform::FileChanges();
        transaction.Commit();
        changes = platform::FileChanges() - before;
    }
    ASSERT_GT(changes, 5u);
    for (const bool stays : {false, true}) {
        for (std::uint64_t k = 1; k <= changes; ++k) {
            SCOPED_TRACE((stays ? "disk stays full from change " : "change fails: ") + std::to_string(k));
            const std::string copy = FreshCopy((stays ? "full" : "fail") + std::to_string(k));
            engine::Transaction transaction(copy);
            engine::Table dz(copy, "dz.dbf");
            begin(transaction, dz);
            platform::InjectFault(k, platform::FaultAction::Fail, stays);
            bool failed = false;
            std::string message;
            try {
                transaction.Commit();
            } catch (const engine::Error& e) {
                failed = true;
                message = e.what();
                EXPECT_EQ(e.Kind(), engine::ErrorKind::Io);
            }
            platform::ClearFault();
            SCOPED_TRACE(message);
            // The last change is the removal of the void journal: its failure is harmless.
            if (k < changes) {
                EXPECT_TRUE(failed);
            }
            if (stays && failed) {
                dz.Close();
                engine::RecoverJournal(copy);
                EXPECT_FALSE(engine::JournalPending(copy));
                const Files after = Snapshot(copy);
                EXPECT_TRUE(after == initial || after == whole) << Differences(after, initial);
                continue;
            }
            EXPECT_FALSE(engine::JournalPending(copy));
            if (!failed) {
                dz.Close();
                EXPECT_EQ(Differences(Snapshot(copy), whole), "");
                continue;
            }
            EXPECT_EQ(Differences(Snapshot(copy), initial), "");
            // The table goes on from the files as they are.
            Work(dz, 40, 30);
            transaction.Commit();
            dz.Close();
            EXPECT_EQ(Differences(Snapshot(copy), expected), "");
        }
    }
}

} // namespace
