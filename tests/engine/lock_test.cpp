// Exclusive and shared opens keep other processes out, in both directions, through real
// operating-system locks. A forked child holds the table while the parent tries to open it.
#include <csignal>
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
            char status = 'y';
            try {
                engine::Table t(dir, "dostep.dbf");
                t.SetExclusive(exclusive);
                t.Open();
                if (write(ready[1], &status, 1) != 1)
                    _exit(2);
                char unused = 0;
                if (read(go[0], &unused, 1) < 0)
                    _exit(2);
            } catch (...) {
                status = 'n';
                if (write(ready[1], &status, 1) != 1)
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
