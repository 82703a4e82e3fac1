// Exclusive and shared opens keep other processes out, in both directions, through real
// operating-system locks. A second process holds the table while the test tries to open it.
#include <chrono>
#include <functional>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "engine/table.h"
#include "platform/locked_file.h"
#include "tests/engine/support.h"
#include "tests/support/child_process.h"

namespace {

using namespace enginetest;

// Another process that opens the table in the asked mode and holds it until released.
KERG_CHILD_TASK(hold_table)
{
    engine::Table t(channel.Args().at(0), "dostep.dbf");
    t.SetExclusive(channel.Args().at(1) == "exclusive");
    try {
        t.Open();
    } catch (const engine::Error& e) {
        channel.Report(std::string("refused: ") + e.what());
        return 0;
    }
    channel.Report("opened");
    channel.WaitForRelease();
    return 0;
}

class Holder
{
public:
    Holder(const std::string& dir, bool exclusive)
        : child_("hold_table", {dir, exclusive ? "exclusive" : "shared"}), report_(child_.Report())
    {}
    bool Opened() const { return report_ == "opened"; }
    const std::string& Report() const { return report_; }

private:
    test_support::ChildProcess child_;
    std::string report_;
};

engine::ErrorKind OpenKind(const std::string& dir, bool exclusive)
{
    engine::Table t(dir, "DOSTEP.DBF");
    t.SetExclusive(exclusive);
    try {
        t.Open();
    } catch (const engine::Error& e) {
        return e.Kind();
    }
    return engine::ErrorKind::Io; // stands for "opened" here
}

constexpr engine::ErrorKind kOpened = engine::ErrorKind::Io;

class Locks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine::CreateTable(dir.Path(), "Dostep.dbf", {{"TABLENAME", 'C', 10, 0}, {"NEXTVAL", 'N', 10, 0}},
                            {});
    }
    TempDir dir;
};

TEST_F(Locks, ExclusiveOpenElsewhereKeepsEveryOpenOut)
{
    Holder other(dir.Path(), true);
    ASSERT_TRUE(other.Opened()) << other.Report();
    EXPECT_EQ(OpenKind(dir.Path(), false), engine::ErrorKind::Locked);
    EXPECT_EQ(OpenKind(dir.Path(), true), engine::ErrorKind::Locked);
}

TEST_F(Locks, SharedOpenElsewhereAllowsSharedButNotExclusive)
{
    Holder other(dir.Path(), false);
    ASSERT_TRUE(other.Opened()) << other.Report();
    EXPECT_EQ(OpenKind(dir.Path(), false), kOpened);
    EXPECT_EQ(OpenKind(dir.Path(), true), engine::ErrorKind::Locked);
}

TEST_F(Locks, ThisProcessExclusiveKeepsAnotherProcessOutUntilClosed)
{
    engine::Table mine(dir.Path(), "dostep.dbf");
    mine.SetExclusive(true);
    mine.Open();
    {
        Holder shared(dir.Path(), false);
        EXPECT_FALSE(shared.Opened());
    }
    mine.Close();
    Holder shared(dir.Path(), false);
    EXPECT_TRUE(shared.Opened());
}

TEST_F(Locks, TwoOpensInOneProcessConflictToo)
{
    engine::Table first(dir.Path(), "dostep.dbf");
    first.Open();
    EXPECT_EQ(OpenKind(dir.Path(), true), engine::ErrorKind::Locked);
    EXPECT_EQ(OpenKind(dir.Path(), false), kOpened);
}

} // namespace

namespace {

// Appends `count` rows to T.DBF: KTO = `who` and NR a number spread over the key range, or,
// with an empty `who`, NR alone as the searches below expect. `opened` runs once the table is open.
void AppendRows(const std::string& dir, const std::string& who, int count,
                const std::function<void()>& opened)
{
    engine::Table t(dir, "t.dbf");
    t.Open();
    opened();
    for (int i = 0; i < count; ++i) {
        t.Append();
        if (who.empty()) {
            t.FieldByName("NR").SetString("K" + std::to_string(1000 + (i * 7919) % 2000));
        } else {
            t.FieldByName("KTO").SetString(who);
            t.FieldByName("NR").SetString(std::to_string((i * 7919) % 1000));
        }
        t.Post();
    }
}

KERG_CHILD_TASK(append_rows)
{
    AppendRows(channel.Args().at(0), channel.Args().at(1), std::stoi(channel.Args().at(2)),
               [&] { channel.Report("opened"); });
    return 0;
}

// Two processes append to one table through shared opens at the same time: the update lock
// serialises the posts, each sees the other's rows and index changes, and nothing is lost.
TEST(SharedWriters, AppendsFromTwoProcessesAllArriveInTable)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KTO", 'C', 1, 0}, {"NR", 'C', 20, 0}},
                        {{"NR", "NR", false, false}, {"KTO_NR", "KTO+NR", false, false}}, 0x23);
    test_support::ChildProcess other("append_rows", {dir.Path(), "B", "400"});
    ASSERT_EQ(other.Report(), "opened");
    AppendRows(dir.Path(), "A", 400, [] {});
    ASSERT_EQ(other.Wait(), 0);
    engine::Table t(dir.Path(), "t.dbf");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 800);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

// Another shared open changes a row between this open's Edit and Post: the post removes the
// entries the file's row has (the other change's), not those of the row as Edit read it, so the
// row keeps one entry in each tag.
TEST(SharedWriters, ARowChangedBetweenEditAndPostKeepsOneEntryPerTag)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KTO", 'C', 1, 0}, {"NR", 'C', 20, 0}},
                        {{"NR", "NR", false, false}, {"KTO_NR", "KTO+NR", false, false}}, 0x23);
    AppendRows(dir.Path(), "A", 10, [] {});
    engine::Table a(dir.Path(), "T.DBF"), b(dir.Path(), "T.DBF");
    a.Open();
    b.Open();
    a.MoveTo(5);
    a.Edit();
    b.MoveTo(5);
    b.Edit();
    b.FieldByName("NR").SetString("BBBB");
    b.Post();
    a.FieldByName("NR").SetString("AAAA");
    a.Post();
    b.Close();
    a.Close();
    engine::Table t(dir.Path(), "T.DBF");
    t.Open();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.SetIndexName("NR");
    int entries = 0;
    for (t.First(); !t.Eof(); t.Next())
        ++entries;
    EXPECT_EQ(entries, 10);
    t.MoveTo(5);
    EXPECT_EQ(t.FieldByName("NR").AsString(), "AAAA");
}

} // namespace

namespace {

// While another process appends (splitting nodes), keyed searches of a shared open keep finding
// every key that was there before: a search never sees a post half done.
TEST(SharedWriters, SearchesFindEveryKeyWhileAnotherProcessAppends)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"NR", 'C', 40, 0}}, {{"NR", "NR", false, false}}, 0x23);
    {
        engine::Table t(dir.Path(), "t.dbf");
        t.Open();
        for (int i = 0; i < 200; ++i) {
            t.Append();
            t.FieldByName("NR").SetString("K" + std::to_string(1000 + i * 10));
            t.Post();
        }
    }
    test_support::ChildProcess other("append_rows", {dir.Path(), "", "3000"});
    ASSERT_EQ(other.Report(), "opened");
    engine::Table t(dir.Path(), "t.dbf");
    t.SetIndexName("NR");
    t.Open();
    int missed = 0, searches = 0;
    while (other.Running()) {
        for (int i = 0; i < 200; ++i, ++searches) {
            t.EditKey();
            t.FieldByName("NR").SetString("K" + std::to_string(1000 + i * 10));
            missed += t.GotoKey() ? 0 : 1;
        }
    }
    EXPECT_EQ(other.Wait(), 0);
    EXPECT_GT(searches, 0);
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    EXPECT_EQ(t.RecordCount(), 3200);
}

} // namespace

namespace {

// Another process in the middle of a post: it holds the update lock of the table until released.
KERG_CHILD_TASK(hold_update_lock)
{
    auto file = platform::OpenLocked(channel.Args().at(0), platform::ShareMode::Shared, nullptr);
    if (!file || !file->LockForUpdate()) {
        channel.Report("failed");
        return 1;
    }
    channel.Report("holding");
    channel.WaitForRelease();
    file->UnlockForUpdate();
    return 0;
}

// A keyed search whose index blocks are all in memory, with no post finished since they were
// read, needs no update lock: it does not wait for another process's post, and finds what the
// index held. A search that would need the lock waits for it as before.
TEST(SharedWriters, SearchesFromMemoryDoNotWaitForAnotherProcessesPost)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"NR", 'C', 10, 0}, {"NAZWA", 'C', 20, 0}},
                        {{"NR", "NR", false, false}}, 0x23);
    engine::Table t(dir.Path(), "t.dbf");
    t.SetIndexName("NR");
    t.Open();
    for (int i = 0; i < 300; ++i) {
        t.Append();
        t.FieldByName("NR").SetString("K" + std::to_string(1000 + i));
        t.FieldByName("NAZWA").SetString("wiersz " + std::to_string(i));
        t.Post();
    }
    auto find = [&t](const std::string& key) {
        t.EditKey();
        t.FieldByName("NR").SetString(key);
        return t.GotoKey() ? t.FieldByName("NAZWA").AsString() : std::string("-");
    };
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(find("K" + std::to_string(1000 + i)), "wiersz " + std::to_string(i));

    test_support::ChildProcess other("hold_update_lock", {dir.File("T.DBF")});
    ASSERT_EQ(other.Report(), "holding");
    auto searches = std::async(std::launch::async, [&] {
        return find("K1150") + "|" + find("K1299") + "|" + find("K1000") + "|" + find("K0999") + "|" +
               find("K2000");
    });
    const bool done = searches.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    other.Release(); // lets a search that waits go on, so that the test ends either way
    ASSERT_TRUE(done) << "a search waited for the other process's post";
    EXPECT_EQ(searches.get(), "wiersz 150|wiersz 299|wiersz 0|-|-");
}

} // namespace
