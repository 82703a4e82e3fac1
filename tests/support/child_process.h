// A second process for the tests that need one: operating-system locks belong to processes, so
// only another process shows whether they keep others out. The test program starts itself
// again to run a named task (registered with KERG_CHILD_TASK); the two talk through small files
// in a folder of their own, which works the same on every system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

// What a task gets: its arguments, and the way back to the test that started it.
class ChildChannel
{
public:
    ChildChannel(std::string folder, std::vector<std::string> args);
    const std::vector<std::string>& Args() const { return args_; }
    // Tells the parent how the task stands ("opened", "failed: ..."); the parent's Report()
    // returns the text.
    void Report(const std::string& status);
    // Waits until the parent calls Release() or goes away (ends its ChildProcess).
    void WaitForRelease();

private:
    std::string folder_;
    std::vector<std::string> args_;
};

using ChildTask = std::function<int(ChildChannel&)>;

// Registers a task under `name`; returns true so that it can initialise a static.
bool RegisterChildTask(const std::string& name, ChildTask task);

#define KERG_CHILD_TASK_CONCAT2(a, b) a##b
#define KERG_CHILD_TASK_CONCAT(a, b) KERG_CHILD_TASK_CONCAT2(a, b)
// KERG_CHILD_TASK(name) { ... return 0; } defines a task with a ChildChannel& `channel`.
#define KERG_CHILD_TASK(name)                                                                                \
    static int KERG_CHILD_TASK_CONCAT(ChildTask_, name)(test_support::ChildChannel & channel);               \
    [[maybe_unused]] static const bool KERG_CHILD_TASK_CONCAT(childTaskRegistered_, name) =                  \
        test_support::RegisterChildTask(#name, KERG_CHILD_TASK_CONCAT(ChildTask_, name));                    \
    static int KERG_CHILD_TASK_CONCAT(ChildTask_, name)(test_support::ChildChannel & channel)

// A running child. The destructor releases it and waits for it to end.
class ChildProcess
{
public:
    ChildProcess(const std::string& task, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The task's first report; waits for it up to a minute. When none comes, a text saying so
    // (with the child's exit code when it ended), which no task reports.
    std::string Report();
    // Lets the task go on past WaitForRelease().
    void Release();
    // True while the child runs.
    bool Running();
    // Waits for the end and returns the exit code (-1 when it could not be started or waited for).
    int Wait();

private:
    std::string folder_;
    std::intptr_t handle_ = -1; // process id or handle
    bool ended_ = false;
    int exitCode_ = -1;
};

// The test programs' main() calls this first: when the arguments ask for a child task it runs
// it and returns its exit code in `code`, and the call returns true.
bool RunChildTaskIfAsked(int argc, char** argv, int& code);

} // namespace test_support
