// An import that is interrupted at any instant, then run again, leaves the target exactly as one
// uninterrupted import does: no id given twice, no row doubled, every tag sound. The import runs
// in a second process that ends at the k-th change of a file (the file layer's fault hook), for
// every k of a small office; failed writes end the run with a message in this process; and the
// import command is killed for real.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "tests/convert/office.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"
#include "tools/inspect.h"
#include "tools/sample_office.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace {

// Under wine a second process takes long to start: the Windows build tries every tenth crash
// point where this system tries every one.
#ifdef _WIN32
constexpr std::uint64_t kStride = 10;
#else
constexpr std::uint64_t kStride = 1;
#endif

// What a run showed: "caption: text" per message box, "error: text" per error display.
struct Outcome
{
    std::vector<std::string> lines;
    bool done = false; // "Import został zakończony." and the program closed
};

// The import as "Importuj" runs it, answering Yes to every question; a commit after every
// `worksPerCommit` works (the time limit set far off, so that the same works make the same
// commits every time).
Outcome Import(const std::string& archive, const std::string& target, int worksPerCommit)
{
    office::ScriptedUi ui;
    ui.archiveText = archive;
    ui.targetText = target;
    convert::ImportRun run(ui, target + "brak.gm", [] { return convert::Date{2026, 12, 6}; });
    run.Commits().worksPerCommit = worksPerCommit;
    run.Commits().interval = std::chrono::hours(1);
    run.BitBtn1Click();
    Outcome outcome;
    for (const convert::Message& m : ui.messages)
        outcome.lines.push_back(m.caption + ": " + m.text);
    for (const std::string& e : ui.errors)
        outcome.lines.push_back("error: " + e);
    outcome.done = ui.closed;
    return outcome;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

// The import in a second process that ends at its k-th change of a file.
KERG_CHILD_TASK(import_dies)
{
    const auto& args = channel.Args();
    platform::InjectFault(std::stoull(args.at(2)), args.at(3) == "tear" ? platform::FaultAction::TearThenExit
                                                                        : platform::FaultAction::Exit);
    const Outcome outcome = Import(args.at(0), args.at(1), std::stoi(args.at(4)));
    return outcome.done ? 0 : 1;
}

// Every file under the target with its CRC and size, header dates aside (kerg-inspect digest).
std::string Digest(const std::string& target)
{
    std::ostringstream out, err;
    tools::RunDigestCommand(target, out, err);
    return out.str() + err.str();
}

std::uint32_t Hex(const std::string& text)
{
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

// No id twice in the id columns, and every counter above every id of its table.
void ExpectIdsSound(const std::string& target)
{
    const auto check = [&](const std::string& sub, const std::string& table, const std::string& column,
                           const std::string& counter) {
        std::set<std::string> seen;
        std::uint32_t largest = 0;
        for (const auto& row : tools::ReadTargetRows(tools::TargetDir(target, sub), table)) {
            const std::string& id = row.at(column);
            EXPECT_TRUE(seen.insert(id).second) << table << ": " << column << " " << id << " twice";
            largest = std::max(largest, Hex(id));
        }
        for (const auto& row : tools::ReadTargetRows(tools::TargetDir(target, "ADMIN"), "Dostep.dbf"))
            if (row.at("TABLENAME") == counter) {
                EXPECT_GT(std::stoul(row.at("NEXTVAL")), largest) << counter;
            }
    };
    check("OSOBY", "Osoby.dbf", "ID_OSOBY", "OSOBY");
    check("KERG", "dz.dbf", "ID_DZIALKI", "DZ");
    check("KERG", "Asortym.dbf", "ID_ASORT", "ASORTYM");
}

class InterruptedImport : public ::testing::Test
{
protected:
    // A sample office; the uninterrupted import of a copy of it is the reference.
    void MakeOffice(int works, unsigned seed, int worksPerCommit)
    {
        archive = dir.File("ARCH") + platform::kSeparator;
        pristine = dir.File("CEL") + platform::kSeparator;
        batch = worksPerCommit;
        ASSERT_TRUE(tools::WriteSampleOffice(archive, pristine, {works, seed}));
        const std::string target = Copy("reference");
        const std::uint64_t before = platform::FileChanges();
        const Outcome outcome = Import(archive, target, batch);
        changes = platform::FileChanges() - before;
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        reference = Digest(target);
        referenceLines = outcome.lines;
        ExpectIdsSound(target);
    }

    // A fresh copy of the office's target.
    std::string Copy(const std::string& name)
    {
        const std::string target = dir.File(name) + platform::kSeparator;
        fs::copy(platform::NativePath(pristine), platform::NativePath(target), fs::copy_options::recursive);
        return target;
    }

    // Runs the import again to its end: the target must be the reference, sound, and the run must
    // have said what it withdrew.
    void ExpectRerunFinishes(const std::string& target)
    {
        const bool journal = engine::JournalPending(convert::JournalDirectory(target));
        const Outcome outcome = Import(archive, target, batch);
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        const std::string withdrawn = std::string("Komunikat: ") + convert::messages::kInterruptedWithdrawn;
        const bool told =
            std::find(outcome.lines.begin(), outcome.lines.end(), withdrawn) != outcome.lines.end();
        EXPECT_TRUE(journal || !told) << Joined(outcome.lines);
        withdrawnTold += told ? 1 : 0;
        EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
        EXPECT_EQ(Digest(target), reference);
        EXPECT_EQ(engine::VerifyDirectory(target), std::vector<std::string>{});
        ExpectIdsSound(target);
    }

    // The import in a second process, ended at change k; returns its exit code.
    int DiesAt(const std::string& target, std::uint64_t k, const char* mode = "exit")
    {
        test_support::ChildProcess child("import_dies",
                                         {archive, target, std::to_string(k), mode, std::to_string(batch)});
        return child.Wait();
    }

    test_support::TempDir dir;
    std::string archive, pristine, reference;
    std::vector<std::string> referenceLines;
    std::uint64_t changes = 0;
    int batch = 0;
    int withdrawnTold = 0; // reruns that said they withdrew an interrupted import's changes
};

// About thirty works with persons, assortments, parcels and raster ranges, committed four works
// at a time: the import dies at every change it makes to a file, once before the change and once
// tearing a write at a sector boundary, and is run again.
TEST_F(InterruptedImport, EveryCrashPointOfASmallImportRerunsToTheSameFiles)
{
    MakeOffice(30, 11, 4);
    ASSERT_GT(changes, 50u);
    for (const char* mode : {"exit", "tear"}) {
        for (std::uint64_t k = 1; k <= changes; k += kStride) {
            SCOPED_TRACE(std::string(mode) + " at change " + std::to_string(k) + " of " +
                         std::to_string(changes));
            const std::string target = Copy(std::string(mode) + std::to_string(k));
            ASSERT_EQ(DiesAt(target, k, mode), platform::kFaultExitCode);
            ExpectRerunFinishes(target);
            fs::remove_all(platform::NativePath(target));
        }
    }
    EXPECT_GT(withdrawnTold, static_cast<int>(changes / kStride)) << "most deaths leave changes to withdraw";
}

// A larger office, at sampled crash points spread over the whole import.
TEST_F(InterruptedImport, SampledCrashPointsOfALargerImportRerunToTheSameFiles)
{
    MakeOffice(500, 4, 40);
    ASSERT_GT(changes, 200u);
    constexpr std::uint64_t kSamples = 12;
    for (std::uint64_t i = 0; i < kSamples; ++i) {
        // Spread evenly, shifted by a fixed odd step so that the samples fall on different kinds of
        // change (journal, table, index, flush).
        const std::uint64_t k = 1 + (i * changes + i * 7919) / kSamples % changes;
        SCOPED_TRACE("at change " + std::to_string(k) + " of " + std::to_string(changes));
        const std::string target = Copy("sample" + std::to_string(i));
        ASSERT_EQ(DiesAt(target, k), platform::kFaultExitCode);
        ExpectRerunFinishes(target);
        fs::remove_all(platform::NativePath(target));
    }
}

// The rerun itself dies while it withdraws what the first run left: at every change it makes
// until the withdrawal is done. A third run finishes the job all the same.
TEST_F(InterruptedImport, AWithdrawalThatDiesIsWithdrawnAgain)
{
    MakeOffice(30, 12, 4);
    const std::uint64_t k = changes / 2;
    bool withdrawn = false;
    for (std::uint64_t j = 1; j < 200 && !withdrawn; j += kStride) {
        SCOPED_TRACE("first run dies at " + std::to_string(k) + ", the second at " + std::to_string(j));
        const std::string target = Copy("twice" + std::to_string(j));
        ASSERT_EQ(DiesAt(target, k), platform::kFaultExitCode);
        ASSERT_TRUE(engine::JournalPending(convert::JournalDirectory(target)));
        ASSERT_EQ(DiesAt(target, j), platform::kFaultExitCode);
        // Once the second run has withdrawn the journal, its own changes begin.
        withdrawn = !engine::JournalPending(convert::JournalDirectory(target));
        ExpectRerunFinishes(target);
        fs::remove_all(platform::NativePath(target));
    }
    EXPECT_TRUE(withdrawn);
}

// A write or a flush that fails (a full disk) ends the run with a message that says so; what the
// run committed before stays, the batch under way is withdrawn, and the next run finishes the
// job. For every change of the small import; and with a disk that stays full, for a sample.
TEST_F(InterruptedImport, AFailedWriteEndsTheRunAndTheNextRunFinishes)
{
    MakeOffice(30, 13, 4);
    for (const bool stays : {false, true}) {
        for (std::uint64_t k = 1; k <= changes; k += stays ? 7 * kStride : kStride) {
            SCOPED_TRACE((stays ? "disk full from change " : "change fails: ") + std::to_string(k));
            const std::string target = Copy((stays ? "full" : "fail") + std::to_string(k));
            platform::InjectFault(k, platform::FaultAction::Fail, stays);
            const Outcome failed = Import(archive, target, batch);
            platform::ClearFault();
            if (failed.done) {
                // Only the removal of a journal already made void may fail unnoticed: the next
                // commit, or the next run, removes it.
                EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
                ExpectRerunFinishes(target);
                continue;
            }
            ASSERT_FALSE(failed.lines.empty());
            const std::string& last = failed.lines.back();
            EXPECT_EQ(last.rfind("error: ", 0), 0u) << Joined(failed.lines);
            EXPECT_TRUE(last.find("zapisu") != std::string::npos ||
                        last.find("dziennika") != std::string::npos ||
                        last.find("zapis") != std::string::npos)
                << last;
            if (!stays) {
                // The rollback went through: nothing is left to withdraw.
                EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target))) << last;
                ExpectIdsSound(target);
            }
            ExpectRerunFinishes(target);
            fs::remove_all(platform::NativePath(target));
        }
    }
}

} // namespace
