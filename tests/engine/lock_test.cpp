// Exclusive and shared opens keep other processes out, in both directions, through real
// operating-system locks. A forked child holds the table while the parent tries to open it.
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/table.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

// A child process that opens the table in `exclusive` mode and holds it until told to go.
class Holder
{
public:
    Holder(const std::string& dir, bool exclusive)
    {
        int ready[2], go[2];
        if (pipe(ready) != 0 || pipe(go) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(go[1]);
            {
                char status = 'n';
                std::unique_ptr<engine::Table> t;
                try {
                    t = std::make_unique<engine::Table>(dir, "dostep.dbf");
                    t->SetExclusive(exclusive);
                    t->Open();
                    status = 'y';
                } catch (...) {}
                // Stay until told to go, whether the open worked or not, so that the parent never
                // writes into a pipe nobody reads.
                char unused = 0;
                if (write(ready[1], &status, 1) != 1 || read(go[0], &unused, 1) < 0)
                    _exit(2);
            }
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        goFd_ = go[1];
        char status = 0;
        opened_ = read(ready[0], &status, 1) == 1 && status == 'y';
        close(ready[0]);
    }

    ~Holder()
    {
        // A child whose open failed has gone already: writing to its closed pipe must not kill
        // the test with SIGPIPE.
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        const char go = 'g';
        if (write(goFd_, &go, 1) < 0) {}
        std::signal(SIGPIPE, previous);
        close(goFd_);
        int status = 0;
        waitpid(pid_, &status, 0);
    }

    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool Opened() const { return opened_; }

private:
    pid_t pid_ = -1;
    int goFd_ = -1;
    bool opened_ = false;
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
    ASSERT_TRUE(other.Opened());
    EXPECT_EQ(OpenKind(dir.Path(), false), engine::ErrorKind::Locked);
    EXPECT_EQ(OpenKind(dir.Path(), true), engine::ErrorKind::Locked);
}

TEST_F(Locks, SharedOpenElsewhereAllowsSharedButNotExclusive)
{
    Holder other(dir.Path(), false);
    ASSERT_TRUE(other.Opened());
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

// Two processes append to one table through shared opens at the same time: the update lock
// serialises the posts, each sees the other's rows and index changes, and nothing is lost.
TEST(SharedWriters, AppendsFromTwoProcessesAllArriveInTable)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "T.DBF", {{"KTO", 'C', 1, 0}, {"NR", 'C', 20, 0}},
                        {{"NR", "NR", false, false}, {"KTO_NR", "KTO+NR", false, false}}, 0x23);
    auto appendRows = [&](const char* who) {
        engine::Table t(dir.Path(), "t.dbf");
        t.Open();
        for (int i = 0; i < 400; ++i) {
            t.Append();
            t.FieldByName("KTO").SetString(who);
            t.FieldByName("NR").SetString(std::to_string((i * 7919) % 1000));
            t.Post();
        }
    };
    const pid_t child = fork();
    if (child == 0) {
        try {
            appendRows("B");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
            _exit(1);
        }
        _exit(0);
    }
    appendRows("A");
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    engine::Table t(dir.Path(), "t.dbf");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 800);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
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
    const pid_t child = fork();
    if (child == 0) {
        try {
            engine::Table t(dir.Path(), "t.dbf");
            t.Open();
            for (int i = 0; i < 3000; ++i) {
                t.Append();
                t.FieldByName("NR").SetString("K" + std::to_string(1000 + (i * 7919) % 2000));
                t.Post();
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
            _exit(1);
        }
        _exit(0);
    }
    engine::Table t(dir.Path(), "t.dbf");
    t.SetIndexName("NR");
    t.Open();
    int missed = 0, searches = 0;
    for (int status = 0; waitpid(child, &status, WNOHANG) == 0;) {
        for (int i = 0; i < 200; ++i, ++searches) {
            t.EditKey();
            t.FieldByName("NR").SetString("K" + std::to_string(1000 + i * 10));
            missed += t.GotoKey() ? 0 : 1;
        }
    }
    EXPECT_GT(searches, 0);
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    EXPECT_EQ(t.RecordCount(), 3200);
}

} // namespace
