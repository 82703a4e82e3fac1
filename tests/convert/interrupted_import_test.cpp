// An import that is interrupted at any instant, then run again, leaves the target exactly as one
// uninterrupted import does: no id given twice, no row doubled, every tag sound. The import runs
// in a second process that ends at the k-th change of a file (the file layer's fault hook), for
// every k of a small office; failed writes end the run with a message in this process; the
// import command is killed for real; and what a power cut, which also loses the writes not yet
// flushed, could leave on the disk is rebuilt from the changes an import made.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "convert/report_log.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/file_operations.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "tests/convert/damage.h"
#include "tests/convert/office.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"
#include "tools/inspect.h"
#include "tools/sample_office.h"

#ifndef _WIN32
#include <fcntl.h>
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
    bool done = false;        // "Import został zakończony." and the program closed
    std::string details;      // under the last message box (the report's summary)
    std::string errorDetails; // under the last error box
};

// The import as "Importuj" runs it, answering Yes to every question; a commit after every
// `worksPerCommit` works (the time limit set far off, so that the same works make the same
// commits every time).
// What a run may be given otherwise than the first time: the options, the renumbering file (the
// commune conversion ticked when one is named) and the day.
// The day every run stamps its rows with unless told otherwise, kerg-inspect import too: a run and
// the reference it is compared with may fall either side of midnight.
constexpr convert::Date kDay{2026, 3, 16};
constexpr const char* kDayText = "2026-03-16";

struct Settings
{
    bool assortments = true;
    std::string renumberingFile;
    std::optional<convert::Date> today;
    bool transactions = true; // off: every post straight to the files, as the benchmarks compare
};

Settings Renumbered(const std::string& file)
{
    Settings settings;
    settings.renumberingFile = file;
    return settings;
}

Settings OnDay(const convert::Date& day)
{
    Settings settings;
    settings.today = day;
    return settings;
}

Outcome Import(const std::string& archive, const std::string& target, int worksPerCommit,
               const Settings& settings = {})
{
    office::ScriptedUi ui;
    ui.archiveText = archive;
    ui.targetText = target;
    ui.assortments = settings.assortments;
    ui.commune = !settings.renumberingFile.empty();
    convert::ImportRun run(ui, ui.commune ? settings.renumberingFile : target + "brak.gm",
                           [settings] { return settings.today.value_or(kDay); });
    run.Commits().worksPerCommit = worksPerCommit;
    run.Commits().interval = std::chrono::hours(1);
    run.Commits().transactions = settings.transactions;
    run.BitBtn1Click();
    Outcome outcome;
    for (const convert::Message& m : ui.messages)
        outcome.lines.push_back(m.caption + ": " + m.text);
    for (const std::string& e : ui.errors)
        outcome.lines.push_back("error: " + e);
    outcome.done = ui.closed;
    if (!ui.messages.empty())
        outcome.details = ui.messages.back().details;
    if (!ui.errorDetails.empty())
        outcome.errorDetails = ui.errorDetails.back();
    return outcome;
}

// The report's summary under a final message without what tells one run from another: the
// report file's name, and what the run says about an interrupted import it finished.
std::string Summary(const std::string& details)
{
    std::istringstream lines(details);
    std::string out, line;
    while (std::getline(lines, line))
        if (!line.empty() && line.rfind("Raport zapisano w pliku: ", 0) != 0 &&
            line.rfind("Ten import dokończył import przerwany", 0) != 0)
            out += line + "\n";
    return out;
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
    Settings settings;
    if (args.size() > 5)
        settings.renumberingFile = args.at(5);
    const Outcome outcome = Import(args.at(0), args.at(1), std::stoi(args.at(4)), settings);
    return outcome.done ? 0 : 1;
}

// The import in a second process without the rights of an administrator (on this system, where
// the tests may run as root, whom file modes do not stop); it writes what it showed to the file
// named third (the channel's folder is root's).
KERG_CHILD_TASK(import_without_rights)
{
#ifndef _WIN32
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return 3;
#endif
    const Outcome outcome = Import(channel.Args().at(0), channel.Args().at(1), 4);
    std::ofstream shown(platform::NativePath(channel.Args().at(2)), std::ios::binary);
    for (const std::string& line : outcome.lines)
        shown << line << "\n";
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
    // A sample office; the uninterrupted import of a copy of it is the reference. With
    // `noContractorEvery`, every such register row names no contractor (number 0).
    // `indexPages` and `extraTags` shape the target's indexes as kerg-sample's options do.
    void MakeOffice(int works, unsigned seed, int worksPerCommit, int noContractorEvery = 0,
                    std::size_t indexPages = 2, tools::ExtraTags extraTags = tools::ExtraTags::None)
    {
        archive = dir.File("ARCH") + platform::kSeparator;
        pristine = dir.File("CEL") + platform::kSeparator;
        batch = worksPerCommit;
        withoutContractors = noContractorEvery > 0;
        tools::SampleOfficeOptions options{works, seed, 0, extraTags};
        options.indexPagesPerBlock = indexPages;
        ASSERT_TRUE(tools::WriteSampleOffice(archive, pristine, options));
        for (int record = noContractorEvery; noContractorEvery > 0 && record <= works;
             record += noContractorEvery)
            damage::SetField(archive + "KERG.DBF", record, "WYKON", std::string(4, '\0'));
        if (damageArchive)
            damageArchive();
        const std::string target = Copy("reference");
        const std::uint64_t before = platform::FileChanges();
        const Outcome outcome = Import(archive, target, batch);
        changes = platform::FileChanges() - before;
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        reference = Digest(target);
        referenceLines = outcome.lines;
        referenceSummary = Summary(outcome.details);
        ExpectIdsSound(target);
    }

    // A fresh copy of the office's target.
    std::string Copy(const std::string& name) { return CopyOf(dir.File("CEL"), name); }

    // A copy of a target folder, named `name` (the folders named without their trailing separator:
    // the Windows library refuses to copy them otherwise).
    std::string CopyOf(std::string folder, const std::string& name)
    {
        while (!folder.empty() && folder.back() == platform::kSeparator)
            folder.pop_back();
        fs::copy(platform::NativePath(folder), platform::NativePath(dir.File(name)),
                 fs::copy_options::recursive);
        return dir.File(name) + platform::kSeparator;
    }

    // Runs the import again to its end: the target must be the reference, sound, and the run must
    // have said what it withdrew.
    void ExpectRerunFinishes(const std::string& target)
    {
        const bool journal = engine::JournalPending(convert::JournalDirectory(target));
        // The import had finished, and shown its report, before it ended: the run goes over a
        // finished import.
        const bool finished = !journal && !platform::Exists(ProgressFile(target)) &&
                              tools::WithoutRunLeftovers(Digest(target)) == reference;
        const Outcome outcome = Import(archive, target, batch);
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        const std::string withdrawn = std::string("Komunikat: ") + convert::messages::kInterruptedWithdrawn;
        const bool told =
            std::find(outcome.lines.begin(), outcome.lines.end(), withdrawn) != outcome.lines.end();
        EXPECT_TRUE(journal || !told) << Joined(outcome.lines);
        withdrawnTold += told ? 1 : 0;
        // And then, once it may go on, what it does about the interrupted import.
        if (told) {
            const auto at = std::find(outcome.lines.begin(), outcome.lines.end(), withdrawn);
            // (The report says when the other import had committed works.)
            const bool resumed =
                outcome.details.find("Ten import dokończył import przerwany") != std::string::npos;
            EXPECT_NE(
                std::find(at, outcome.lines.end(),
                          std::string("Komunikat: ") + (resumed ? convert::messages::kInterruptedResumed
                                                                : convert::messages::kInterruptedRestarted)),
                outcome.lines.end())
                << Joined(outcome.lines);
        }
        EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
        EXPECT_EQ(Digest(target), reference);
        EXPECT_EQ(engine::VerifyDirectory(target), std::vector<std::string>{});
        ExpectIdsSound(target);
        // The report tells the whole import, as the uninterrupted one does, whatever part of it the
        // interrupted run did.
        if (!finished) {
            EXPECT_EQ(Summary(outcome.details), referenceSummary);
        }
    }

    // ExpectRerunFinishes, then the target goes; false once any check of the test has failed.
    bool RerunFinishesAndGoes(const std::string& target)
    {
        ExpectRerunFinishes(target);
        fs::remove_all(platform::NativePath(target));
        return !HasFailure();
    }

    // The import in a second process, ended at change k; returns its exit code.
    int DiesAt(const std::string& target, std::uint64_t k, const char* mode = "exit",
               const std::string& renumberingFile = {})
    {
        test_support::ChildProcess child("import_dies", {archive, target, std::to_string(k), mode,
                                                         std::to_string(batch), renumberingFile});
        return child.Wait();
    }

    // A copy of the target whose import died in the middle of a commit, leaving a journal to
    // withdraw: the first such death from the middle of the import on.
    std::string DiesWithJournal(const std::string& name)
    {
        for (std::uint64_t k = changes / 2; k < changes; ++k) {
            const std::string target = Copy(name + std::to_string(k));
            EXPECT_EQ(DiesAt(target, k), platform::kFaultExitCode);
            if (engine::JournalPending(convert::JournalDirectory(target))) {
                journalDeath = k;
                return target;
            }
            fs::remove_all(platform::NativePath(target));
        }
        ADD_FAILURE() << "no death left a journal";
        return Copy(name);
    }

    // A copy of the target whose import died between two commits after the first: no journal to
    // withdraw, and a progress file that names a row.
    std::string DiesBetweenCommits(const std::string& name, const std::string& renumberingFile = {})
    {
        for (std::uint64_t k = changes / 2; k < changes; ++k) {
            const std::string target = Copy(name + std::to_string(k));
            EXPECT_EQ(DiesAt(target, k, "exit", renumberingFile), platform::kFaultExitCode);
            if (convert::InterruptedImportRow(target) &&
                !engine::JournalPending(convert::JournalDirectory(target)))
                return target;
            fs::remove_all(platform::NativePath(target));
        }
        ADD_FAILURE() << "no death between commits left the progress file";
        return Copy(name);
    }

    static std::string ProgressFile(const std::string& target)
    {
        return convert::JournalDirectory(target) + platform::kSeparator + convert::kProgressFileName;
    }

    static std::string ReportLog(const std::string& target)
    {
        return convert::JournalDirectory(target) + platform::kSeparator + convert::kReportLogFileName;
    }

    // Runs the import, which must stop without finishing; returns the last thing it showed, which
    // must begin with `head`.
    // Flips one bit of a row of an archive table, in the middle of the file or in its last row,
    // leaving the header as it was (the merging tool run again over other data of the same size on
    // the same day); returns the path and the table's former bytes, to put back.
    std::pair<std::string, std::string> ChangeArchiveBit(const std::string& table, bool middle)
    {
        const std::string path = platform::ResolveCaseInsensitive(archive + table);
        std::string bytes = test_support::ReadWholeFile(path);
        EXPECT_GT(bytes.size(), 600u) << path;
        std::string original = bytes;
        const std::size_t at = middle ? bytes.size() / 2 : bytes.size() - 3;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        EXPECT_TRUE(writers::WriteFile(path, bytes)) << path;
        return {path, std::move(original)};
    }

    std::string ImportStops(const std::string& target, const std::string& head)
    {
        const Outcome outcome = Import(archive, target, batch);
        EXPECT_FALSE(outcome.done);
        if (outcome.lines.empty()) {
            ADD_FAILURE() << "the run showed nothing";
            return std::string();
        }
        EXPECT_EQ(outcome.lines.back().rfind(head, 0), 0u) << Joined(outcome.lines);
        return outcome.lines.back();
    }

    // Makes each change of the import fail in turn (once, or from then on: a full disk).
    void FailEachChange()
    {
        for (const bool stays : {false, true}) {
            for (std::uint64_t k = 1; k <= changes; k += stays ? 7 * kStride : kStride) {
                SCOPED_TRACE((stays ? "disk full from change " : "change fails: ") + std::to_string(k));
                const std::string target = Copy((stays ? "full" : "fail") + std::to_string(k));
                platform::InjectFault(k, platform::FaultAction::Fail, stays);
                const Outcome failed = Import(archive, target, batch);
                platform::ClearFault();
                if (failed.done) {
                    // Only the removal of a journal already made void, or of a file the run no longer
                    // needs, may fail unnoticed: the next commit, or the next run, removes it.
                    EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
                    if (withoutContractors) {
                        // A second run over a finished import completes the works without a
                        // contractor again: the files are compared as the finished run left them.
                        EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), reference);
                    } else {
                        ExpectRerunFinishes(target);
                    }
                    continue;
                }
                ASSERT_FALSE(failed.lines.empty());
                const std::string& last = failed.lines.back();
                EXPECT_EQ(last.rfind("error: ", 0), 0u) << Joined(failed.lines);
                EXPECT_TRUE(last.find("zapisu") != std::string::npos ||
                            last.find("dziennika") != std::string::npos ||
                            last.find("zapis") != std::string::npos)
                    << last;
                // The reason, and what to do.
                EXPECT_NE(last.find("brak miejsca na dysku"), std::string::npos) << last;
                EXPECT_NE(last.find(convert::messages::kRerunAfterError), std::string::npos) << last;
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

    // The import of `target` to its end (it must give the reference), with every change it made to a
    // file, in order.
    std::vector<platform::RecordedChange> ImportRecorded(const std::string& target)
    {
        std::vector<platform::RecordedChange> made;
        platform::RecordChanges([&made](const platform::RecordedChange& c) { made.push_back(c); });
        const Outcome outcome = Import(archive, target, batch);
        platform::RecordChanges({});
        EXPECT_TRUE(outcome.done) << Joined(outcome.lines);
        EXPECT_EQ(Digest(target), reference);
        return made;
    }

    test_support::TempDir dir;
    std::string archive, pristine, reference;
    std::vector<std::string> referenceLines;
    std::string referenceSummary;        // of the uninterrupted import's report
    std::function<void()> damageArchive; // set before MakeOffice: done to the archive it writes
    std::uint64_t changes = 0;
    int batch = 0;
    bool withoutContractors = false; // some register rows name no contractor
    int withdrawnTold = 0;           // reruns that said they withdrew an interrupted import's changes
    std::uint64_t journalDeath = 0;  // the change DiesWithJournal's import died at
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

#ifndef _WIN32
// What a disk may hold after a power cut, rebuilt from the changes an import made: a file's writes
// since its last flush may or may not have reached the disk, and so may the names made, replaced
// or removed in a folder since that folder was last flushed.
class PowerCut
{
public:
    PowerCut(std::string pristine, std::string recordedTarget)
        : pristine_(std::move(pristine)), recorded_(std::move(recordedTarget))
    {}

    // Which of the writes not yet flushed a cut keeps, and whether it keeps the names.
    struct Keeps
    {
        enum class Writes
        {
            None,
            OfTablesNotJournal, // the tables' and indexes' writes reach the disk, the journal's do not
            OfJournalNotTables,
            // Any part of them, 512-byte sector by sector: each sector holds what some of the
            // writes to it left, in their order, and each file the size of some of its changes;
            // the draw is made by `seed`.
            Scattered,
        } writes = Writes::None;
        bool names = true;
        unsigned seed = 0;
    };
    // Each way a cut is tried, with its name for the messages.
    static std::vector<std::pair<Keeps, std::string>> Ways()
    {
        using W = Keeps::Writes;
        return {{{W::None, true}, "every unflushed write lost"},
                {{W::OfTablesNotJournal, true}, "the journal's unflushed writes lost, the tables' kept"},
                {{W::OfJournalNotTables, true}, "the tables' unflushed writes lost, the journal's kept"},
                {{W::None, false}, "every unflushed write and name lost"},
                {{W::OfTablesNotJournal, false}, "unflushed names and the journal's unflushed writes lost"}};
    }

    // The target as the disk holds it after a cut following the first `count` changes, written over
    // `target` (a copy of the pristine target).
    void Write(const std::vector<platform::RecordedChange>& changes, std::size_t count, Keeps keeps,
               const std::string& target)
    {
        // Files by identity, and the names that lead to them (-1: no file), as the program sees them
        // and as the disk holds them since each folder's last flush.
        std::vector<File> files;
        std::map<std::string, int> seen, durable;
        const auto known = [&](const std::string& name) -> int& {
            if (!seen.count(name)) {
                int id = -1;
                if (fs::exists(platform::NativePath(pristine_ + name))) {
                    id = static_cast<int>(files.size());
                    files.push_back({ReadFile(pristine_ + name), {}});
                }
                seen[name] = durable[name] = id;
            }
            return seen[name];
        };
        using Kind = platform::RecordedChange::Kind;
        for (std::size_t i = 0; i < count; ++i) {
            const platform::RecordedChange& c = changes[i];
            const std::string name = Relative(c.path);
            if (c.kind == Kind::SyncDirectory) {
                std::string folder = c.path;
                while (!folder.empty() && folder.back() == platform::kSeparator)
                    folder.pop_back();
                folder = Relative(folder + platform::kSeparator);
                for (const auto& [each, id] : seen)
                    if (each.compare(0, folder.size(), folder) == 0 &&
                        each.find(platform::kSeparator, folder.size()) == std::string::npos)
                        durable[each] = id;
                continue;
            }
            if (c.kind == Kind::Remove || c.kind == Kind::Rename) {
                const int id = known(name);
                if (c.kind == Kind::Rename)
                    known(Relative(c.newPath)) = id;
                known(name) = -1;
                continue;
            }
            if (c.kind == Kind::Create && known(name) < 0) {
                seen[name] = static_cast<int>(files.size());
                files.push_back({});
                continue;
            }
            const int id = known(name);
            ASSERT_GE(id, 0) << name << " changed while no file has that name";
            File& f = files[static_cast<std::size_t>(id)];
            if (c.kind == Kind::Flush) {
                f.durable = Applied(f.durable, f.pending);
                f.pending.clear();
            } else {
                f.pending.push_back(&c); // a write, a change of size, or emptied when made anew
            }
        }
        std::mt19937 random(keeps.seed);
        for (const auto& [name, id] : keeps.names ? seen : durable) {
            const std::string path = platform::NativePath(target + name);
            if (id < 0) {
                fs::remove(path);
                continue;
            }
            const File& f = files[static_cast<std::size_t>(id)];
            const bool journal = name.size() > 4 && name.compare(name.size() - 4, 4, ".jrn") == 0;
            const bool kept = keeps.writes == Keeps::Writes::OfTablesNotJournal   ? !journal
                              : keeps.writes == Keeps::Writes::OfJournalNotTables ? journal
                                                                                  : false;
            const std::string bytes = keeps.writes == Keeps::Writes::Scattered ? Scattered(f, random)
                                      : kept                                   ? Applied(f.durable, f.pending)
                                                                               : f.durable;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
    }

private:
    struct File
    {
        std::string durable;
        std::vector<const platform::RecordedChange*> pending;
    };

    std::string Relative(const std::string& path) const
    {
        EXPECT_EQ(path.compare(0, recorded_.size(), recorded_), 0) << path << " lies outside the target";
        return path.substr(std::min(path.size(), recorded_.size()));
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(platform::NativePath(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static std::string Applied(std::string bytes, const std::vector<const platform::RecordedChange*>& pending)
    {
        using Kind = platform::RecordedChange::Kind;
        for (const platform::RecordedChange* c : pending) {
            const auto offset = static_cast<std::size_t>(c->offset);
            if (c->kind != Kind::Write) {
                bytes.resize(c->kind == Kind::Create ? 0 : offset, '\0');
                continue;
            }
            if (bytes.size() < offset + c->bytes.size())
                bytes.resize(offset + c->bytes.size(), '\0');
            bytes.replace(offset, c->bytes.size(), c->bytes);
        }
        return bytes;
    }

    // What a disk may hold of `f` when any part of its unflushed changes reached it: the size after
    // some of its changes in order, and in each sector what the first few of the changes to that
    // sector left (a change of size counting for the sectors it cuts into).
    static std::string Scattered(const File& f, std::mt19937& random)
    {
        using Kind = platform::RecordedChange::Kind;
        constexpr std::size_t kSector = 512;
        std::vector<std::size_t> sizes{f.durable.size()};
        for (const platform::RecordedChange* c : f.pending) {
            const auto offset = static_cast<std::size_t>(c->offset);
            sizes.push_back(c->kind == Kind::Create   ? 0
                            : c->kind == Kind::Resize ? offset
                                                      : std::max(sizes.back(), offset + c->bytes.size()));
        }
        const std::size_t size =
            sizes[std::uniform_int_distribution<std::size_t>(0, f.pending.size())(random)];
        std::string bytes(size, '\0');
        for (std::size_t begin = 0; begin < size; begin += kSector) {
            const std::size_t end = begin + kSector;
            std::string sector(kSector, '\0');
            if (begin < f.durable.size())
                sector.replace(0, std::min(kSector, f.durable.size() - begin), f.durable, begin, kSector);
            std::vector<const platform::RecordedChange*> touching;
            for (const platform::RecordedChange* c : f.pending) {
                const auto offset = static_cast<std::size_t>(c->offset);
                if (c->kind == Kind::Write ? offset < end && offset + c->bytes.size() > begin
                                           : c->kind == Kind::Create || offset < end)
                    touching.push_back(c);
            }
            const std::size_t reached =
                std::uniform_int_distribution<std::size_t>(0, touching.size())(random);
            for (std::size_t i = 0; i < reached; ++i) {
                const platform::RecordedChange* c = touching[i];
                const auto offset = static_cast<std::size_t>(c->offset);
                if (c->kind != Kind::Write) { // what lay past the new end is gone
                    const std::size_t kept = c->kind == Kind::Create ? 0 : std::max(offset, begin) - begin;
                    std::fill(sector.begin() + static_cast<std::ptrdiff_t>(kept), sector.end(), '\0');
                    continue;
                }
                const std::size_t from = std::max(offset, begin);
                const std::size_t to = std::min(offset + c->bytes.size(), end);
                sector.replace(from - begin, to - from, c->bytes, from - offset, to - from);
            }
            bytes.replace(begin, std::min(kSector, size - begin), sector, 0, std::min(kSector, size - begin));
        }
        return bytes;
    }

    std::string pristine_, recorded_;
};

// A power cut, unlike a killed program, also takes away what the system had not yet put on the
// disk. The changes of the import are recorded as it makes them; for every point between two of
// them, the target is rebuilt as a cut there could leave it: with every write not yet flushed
// lost, with the journal's lost and the tables' kept, and the other way round; and with the names
// made, replaced or removed since their folder's last flush lost too. The import run again must
// give the uninterrupted import's files.
TEST_F(InterruptedImport, APowerCutAnywhereLeavesWhatTheRerunFinishes)
{
    MakeOffice(30, 11, 4);
    const std::string recorded = Copy("recorded");
    const std::vector<platform::RecordedChange> made = ImportRecorded(recorded);
    ASSERT_FALSE(HasFailure());
    ASSERT_GT(made.size(), 50u);
    PowerCut cut(pristine, recorded);
    const auto ways = PowerCut::Ways();
    for (const auto& [keeps, way] : ways) {
        for (std::size_t count = 0; count <= made.size(); ++count) {
            SCOPED_TRACE("a cut after change " + std::to_string(count) + " of " +
                         std::to_string(made.size()) + ", " + way);
            const std::string target = Copy("cut");
            cut.Write(made, count, keeps, target);
            if (!RerunFinishesAndGoes(target))
                return;
        }
    }
    // Most cuts fall where a journal has changes to withdraw (a recording without the flushes would
    // make every cut the untouched target).
    EXPECT_GT(withdrawnTold, static_cast<int>(made.size()))
        << "of " << ways.size() * (made.size() + 1) << " cuts";
}

// A disk may also put the unflushed writes down in any order, so that a cut leaves some of them and
// not others, within one file too: a later record of the journal without an earlier one, some of
// an index's blocks and not the rest, a file grown without the rows written into it. At every
// point between two changes, three such draws (two keeping the unflushed names, one losing them).
TEST_F(InterruptedImport, APowerCutThatKeepsAnyPartOfTheUnflushedWritesLeavesWhatTheRerunFinishes)
{
    MakeOffice(30, 11, 4);
    const std::string recorded = Copy("recorded");
    const std::vector<platform::RecordedChange> made = ImportRecorded(recorded);
    ASSERT_FALSE(HasFailure());
    PowerCut cut(pristine, recorded);
    for (std::size_t count = 0; count <= made.size(); ++count) {
        for (unsigned draw = 0; draw < 3; ++draw) {
            const PowerCut::Keeps keeps{PowerCut::Keeps::Writes::Scattered, draw < 2,
                                        static_cast<unsigned>(count * 3 + draw)};
            SCOPED_TRACE("a cut after change " + std::to_string(count) + " of " +
                         std::to_string(made.size()) + ", draw " + std::to_string(keeps.seed) +
                         (keeps.names ? "" : ", unflushed names lost"));
            const std::string target = Copy("cut");
            cut.Write(made, count, keeps, target);
            if (!RerunFinishesAndGoes(target))
                return;
        }
    }
    EXPECT_GT(withdrawnTold, static_cast<int>(made.size()));
}

// A second cut while the rerun withdraws the journal the first one left: the rerun writes the
// former bytes back over the tables, flushes them and only then removes the journal, so a cut
// anywhere in that leaves the journal to withdraw once more. Five first cuts spread over the
// import, each leaving the tables' unflushed writes and not the journal's; the rerun after each is
// recorded and cut at each of its first 40 changes in each of those ways.
TEST_F(InterruptedImport, APowerCutWhileARerunWithdrawsAJournalLeavesWhatTheNextFinishes)
{
    MakeOffice(30, 11, 4);
    const std::string recorded = Copy("recorded");
    const std::vector<platform::RecordedChange> made = ImportRecorded(recorded);
    ASSERT_FALSE(HasFailure());
    PowerCut cut(pristine, recorded);
    int firstCuts = 0;
    for (std::size_t count = made.size() / 6; count < made.size() && firstCuts < 5; ++count) {
        const std::string first = Copy("first");
        cut.Write(made, count, {PowerCut::Keeps::Writes::OfTablesNotJournal, true}, first);
        if (!engine::JournalPending(convert::JournalDirectory(first))) {
            fs::remove_all(platform::NativePath(first));
            continue;
        }
        ++firstCuts;
        const std::string rerun = CopyOf(first, "rerun");
        const std::vector<platform::RecordedChange> rerunMade = ImportRecorded(rerun);
        ASSERT_FALSE(HasFailure()) << "the rerun after a cut after change " << count;
        PowerCut second(first, rerun);
        for (const auto& [keeps, way] : PowerCut::Ways()) {
            for (std::size_t again = 0; again <= std::min<std::size_t>(40, rerunMade.size()); ++again) {
                SCOPED_TRACE("a cut after change " + std::to_string(count) + ", then after change " +
                             std::to_string(again) + " of the rerun, " + way);
                const std::string target = CopyOf(first, "cut");
                second.Write(rerunMade, again, keeps, target);
                if (!RerunFinishesAndGoes(target))
                    return;
            }
        }
        fs::remove_all(platform::NativePath(rerun));
        fs::remove_all(platform::NativePath(first));
        count += made.size() / 6; // the next first cut further on
    }
    EXPECT_EQ(firstCuts, 5);
}
#endif

// The same over indexes of 4,096-byte blocks with tags of the office's own on every table, as dBase
// makes them after its index block size setting was changed: a block's before-image in the journal
// is the whole larger block.
TEST_F(InterruptedImport, EveryCrashPointOverIndexesOfLargerBlocksRerunsToTheSameFiles)
{
    MakeOffice(30, 17, 4, 0, 8, tools::ExtraTags::All);
    ASSERT_GT(changes, 50u);
    for (std::uint64_t k = 1; k <= changes; k += kStride) {
        SCOPED_TRACE("tear at change " + std::to_string(k) + " of " + std::to_string(changes));
        const std::string target = Copy("tear" + std::to_string(k));
        ASSERT_EQ(DiesAt(target, k, "tear"), platform::kFaultExitCode);
        ExpectRerunFinishes(target);
        fs::remove_all(platform::NativePath(target));
    }
}

// Works whose register row names no contractor keep an empty contractor field when they are
// completed, as the next run finds them. An import that dies after committing some of them and is
// run again does not complete them a second time: their assortments, parcels and raster ranges are
// not added twice.
TEST_F(InterruptedImport, WorksWithoutAContractorAreNotCompletedTwiceByTheRerun)
{
    MakeOffice(30, 11, 4, 3);
    ASSERT_GT(changes, 50u);
    for (std::uint64_t k = 1; k <= changes; k += kStride) {
        SCOPED_TRACE("at change " + std::to_string(k) + " of " + std::to_string(changes));
        const std::string target = Copy("nocontractor" + std::to_string(k));
        ASSERT_EQ(DiesAt(target, k), platform::kFaultExitCode);
        if (!RerunFinishesAndGoes(target))
            break;
    }
}

// A damaged archive whose person names hold NUL bytes between their trailing blanks: the target
// reads such a name back shorter, since its text ends at the last byte that is neither a blank nor
// NUL. The run that finishes an interrupted import meets again persons the other one added, and
// must find them rather than add them a second time.
TEST_F(InterruptedImport, PersonsWhoseNamesHoldNulBytesAreNotAddedTwiceByTheRerun)
{
    damageArchive = [this] {
        const std::string persons = test_support::ReadWholeFile(archive + "OSOBY.DBF");
        ASSERT_GT(persons.size(), 8u);
        const int count = static_cast<unsigned char>(persons[4]) | static_cast<unsigned char>(persons[5])
                                                                       << 8;
        for (int record = 1; record <= count; ++record)
            damage::SetField(archive + "OSOBY.DBF", record, "NAZWA",
                             "Osoba " + std::to_string(record) + std::string(12, ' ') +
                                 std::string("\0\xCF\0", 3));
    };
    MakeOffice(30, 11, 4);
    const std::string target = DiesBetweenCommits("nul");
    ExpectRerunFinishes(target);
}

// The same when the whole import is one commit, as a small office's is: a run killed after that
// commit, while it writes its report or shows its final message, is not finished again by the
// next run.
TEST_F(InterruptedImport, WorksWithoutAContractorAreNotCompletedTwiceAfterAnImportOfOneCommit)
{
    MakeOffice(30, 11, 1000, 3);
    ASSERT_GT(changes, 20u);
    for (std::uint64_t k = 1; k <= changes; ++k) {
        SCOPED_TRACE("at change " + std::to_string(k) + " of " + std::to_string(changes));
        const std::string target = Copy("onecommit" + std::to_string(k));
        ASSERT_EQ(DiesAt(target, k), platform::kFaultExitCode);
        if (!RerunFinishesAndGoes(target))
            break;
    }
}

// The run that finishes an interrupted import says so in its report, with the works it passed; the
// file that told it how far the other got is gone afterwards, as after any finished import.
TEST_F(InterruptedImport, TheRunThatFinishesAnInterruptedImportSaysWhatItPassed)
{
    MakeOffice(30, 11, 4, 3);
    EXPECT_FALSE(platform::Exists(ProgressFile(dir.File("reference") + platform::kSeparator)));
    const std::string target = DiesBetweenCommits("passed");
    // Support staff see it before the next run.
    std::ostringstream verified, verifyErr;
    EXPECT_EQ(tools::RunInspect({"verify", target}, verified, verifyErr), tools::kInspectOk)
        << verified.str();
    EXPECT_NE(verified.str().find("Import przerwany wcześniej przejrzał już wiersze 1–"), std::string::npos)
        << verified.str();
    // The settings a run needs to finish it, since a run with others is refused.
    EXPECT_NE(verified.str().find(std::string("Dokończy go tylko import z tymi samymi ustawieniami:\n  ") +
                                  convert::messages::kArchiveSettingHead + archive +
                                  convert::messages::kArchiveSettingUnchanged + ".\n  " +
                                  convert::messages::kOptionRenumbering + ": niezaznaczone.\n  " +
                                  convert::messages::kOptionAssortments + ": zaznaczone.\n"),
              std::string::npos)
        << verified.str();
    // And what it did by then.
    const std::string did = "Do przerwania uzupełnił prac: ";
    const std::size_t didAt = verified.str().find(did);
    ASSERT_NE(didAt, std::string::npos) << verified.str();
    EXPECT_GT(std::stoi(verified.str().substr(didAt + did.size())), 0) << verified.str();
    const Outcome outcome = Import(archive, target, batch);
    ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
    // It says so before it walks the works, though it had nothing to withdraw.
    EXPECT_NE(std::find(outcome.lines.begin(), outcome.lines.end(),
                        std::string("Komunikat: ") + convert::messages::kInterruptedResumed),
              outcome.lines.end())
        << Joined(outcome.lines);
    // Its report is the whole import's: the counts and lists of the uninterrupted import.
    const std::string& report = outcome.details;
    EXPECT_NE(report.find("Ten import dokończył import przerwany wcześniej, który przejrzał już wiersze 1–"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("Raport obejmuje cały import, także to, co zrobiono przed przerwaniem."),
              std::string::npos)
        << report;
    EXPECT_EQ(Summary(report), referenceSummary);
    EXPECT_FALSE(platform::Exists(ProgressFile(target)));
    EXPECT_FALSE(platform::Exists(ReportLog(target)));
    EXPECT_EQ(Digest(target), reference);
}

// A run that was to finish an interrupted import, and failed itself (a full disk), does not say
// it finished it; the run after it does, and its report is still the whole import's.
TEST_F(InterruptedImport, ARunThatFailsToFinishAnInterruptedImportDoesNotSayItFinishedIt)
{
    MakeOffice(30, 11, 4);
    const std::string interrupted = DiesBetweenCommits("failing");
    const std::string resumed = "import przerwany wcześniej, który przejrzał już wiersze 1–";
    int failedWhileFinishing = 0;
    for (std::uint64_t k = 1; k <= 60 && failedWhileFinishing < 3; k += 3) {
        SCOPED_TRACE("disk full from change " + std::to_string(k));
        const std::string target = CopyOf(interrupted, "failing-" + std::to_string(k));
        platform::InjectFault(k, platform::FaultAction::Fail, true);
        const Outcome failed = Import(archive, target, batch);
        platform::ClearFault();
        if (failed.done)
            break; // the run makes no more changes than that
        if (failed.errorDetails.find(resumed) != std::string::npos) {
            ++failedWhileFinishing;
            EXPECT_NE(failed.errorDetails.find("Ten import miał dokończyć " + resumed), std::string::npos)
                << failed.errorDetails;
            EXPECT_NE(failed.errorDetails.find("Sam nie doszedł do końca: import trzeba uruchomić ponownie."),
                      std::string::npos)
                << failed.errorDetails;
            EXPECT_EQ(failed.errorDetails.find("Ten import dokończył"), std::string::npos)
                << failed.errorDetails;
        }
        const Outcome finished = Import(archive, target, batch);
        ASSERT_TRUE(finished.done) << Joined(finished.lines);
        EXPECT_NE(finished.details.find("Ten import dokończył " + resumed), std::string::npos)
            << finished.details;
        EXPECT_EQ(finished.details.find("Ten import miał dokończyć"), std::string::npos) << finished.details;
        EXPECT_EQ(Summary(finished.details), referenceSummary);
        EXPECT_EQ(Digest(target), reference);
        fs::remove_all(platform::NativePath(target));
    }
    EXPECT_GT(failedWhileFinishing, 0);
}

// An interrupted import whose report log is lost, or is not one this program reads: the run
// finishes the import all the same, and its report says that it tells only its own part, with the
// works without a contractor it passed.
TEST_F(InterruptedImport, AReportLogThatIsLostOrDamagedLeavesAReportOfTheRerunsPartAlone)
{
    MakeOffice(30, 11, 4, 3);
    for (const char* damage : {"lost", "damaged"}) {
        SCOPED_TRACE(damage);
        const std::string target = DiesBetweenCommits(damage);
        if (std::string(damage) == "lost") {
            ASSERT_TRUE(platform::RemoveFile(ReportLog(target)));
        } else {
            engine::Table log(convert::JournalDirectory(target), convert::kReportLogFileName);
            log.Open();
            log.First();
            log.Edit();
            log.FieldByName("TRESC").SetString("C|1|2");
            log.Post();
        }
        std::ostringstream verified, verifyErr;
        tools::RunInspect({"verify", target}, verified, verifyErr);
        EXPECT_NE(
            verified.str().find("nie można odczytać: raport następnego importu obejmie tylko jego część"),
            std::string::npos)
            << verified.str();
        const Outcome outcome = Import(archive, target, batch);
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        const std::string& report = outcome.details;
        EXPECT_NE(report.find("Raport obejmuje tylko to, co zrobiono po przerwaniu."), std::string::npos)
            << report;
        const std::string passed = "  bez wykonawcy, przejrzane już przez przerwany import (nie uzupełniane "
                                   "ponownie): ";
        const std::size_t at = report.find(passed);
        ASSERT_NE(at, std::string::npos) << report;
        EXPECT_GT(std::stoi(report.substr(at + passed.size())), 0) << report;
        EXPECT_NE(Summary(report), referenceSummary);
        EXPECT_FALSE(platform::Exists(ProgressFile(target)));
        EXPECT_FALSE(platform::Exists(ReportLog(target)));
        EXPECT_EQ(Digest(target), reference);
    }
}

// Tables put back from the copy made before the import, while the progress file stayed: the run
// cannot tell which works the other import did, so it stops before writing anything and says
// what changed and what to do. Done as it says, the import gives the reference.
TEST_F(InterruptedImport, ATargetPutBackFromACopyStopsTheRunThatWouldFinishTheOldImport)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("putback");
    // (Each file removed first: the Windows library does not copy over an existing file.)
    for (const char* sub : {"KERG", "OSOBY", "ADMIN"})
        for (const auto& file :
             fs::directory_iterator(platform::NativePath(tools::TargetDir(pristine, sub)))) {
            const fs::path to = platform::NativePath(tools::TargetDir(target, sub)) / file.path().filename();
            fs::remove(to);
            fs::copy_file(file.path(), to);
        }
    const std::string before = Digest(target);
    const std::string last = ImportStops(target, std::string("error: ") + convert::messages::kProgressStale);
    EXPECT_NE(last.find("Tabela Kergasor.dbf: wierszy było "), std::string::npos) << last;
    EXPECT_NE(last.find(convert::messages::kProgressStaleHint + ProgressFile(target)), std::string::npos)
        << last;
    // Nothing written: a journal a commit had made void may go, the progress file stays as it was.
    EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
        << "nothing was written";
    const auto progressLine = [](const std::string& digest) {
        const std::size_t at = digest.find(convert::kProgressFileName);
        return at == std::string::npos
                   ? std::string()
                   : digest.substr(digest.rfind('\n', at) + 1, at - digest.rfind('\n', at));
    };
    EXPECT_FALSE(progressLine(before).empty());
    EXPECT_EQ(progressLine(Digest(target)), progressLine(before));

    ASSERT_TRUE(platform::RemoveFile(ProgressFile(target)));
    const Outcome finished = Import(archive, target, batch);
    ASSERT_TRUE(finished.done) << Joined(finished.lines);
    EXPECT_EQ(Digest(target), reference);
}

// Only the works table put back from the copy made before the import, after a death between two
// commits: its row count is the same, but fewer of the walked rows have a contractor. Resumed, the
// run would leave those works uncompleted, and a later run would add their rows a second time; it
// stops before writing anything instead.
TEST_F(InterruptedImport, AWorksTablePutBackAloneStopsTheRunThatWouldFinishTheOldImport)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("works-back");
    for (const auto& file :
         fs::directory_iterator(platform::NativePath(tools::TargetDir(pristine, "KERG")))) {
        const std::string name = file.path().filename().string();
        if (name.rfind("Roboty.", 0) != 0)
            continue;
        const fs::path to = platform::NativePath(tools::TargetDir(target, "KERG")) / file.path().filename();
        fs::remove(to);
        fs::copy_file(file.path(), to);
    }
    const std::string before = Digest(target);
    const Outcome outcome = Import(archive, target, batch);
    EXPECT_FALSE(outcome.done);
    ASSERT_FALSE(outcome.lines.empty());
    const std::string& last = outcome.lines.back();
    EXPECT_EQ(last.rfind(std::string("error: ") + convert::messages::kProgressStale, 0), 0u) << last;
    EXPECT_NE(last.find("Tabela Roboty.dbf: prac z wykonawcą w wierszach 1–"), std::string::npos) << last;
    // The advice is to put back the whole target, not to remove the file: a run without it would
    // add the link rows of the works the old import completed a second time.
    EXPECT_NE(last.find(convert::messages::kProgressStaleHint + ProgressFile(target) +
                        convert::messages::kProgressStaleTail),
              std::string::npos)
        << last;
    EXPECT_EQ(last.find(convert::messages::kRerunAfterError), std::string::npos) << last;
    // Nor was it told first that this run would finish the interrupted one.
    EXPECT_EQ(std::find(outcome.lines.begin(), outcome.lines.end(),
                        std::string("Komunikat: ") + convert::messages::kInterruptedResumed),
              outcome.lines.end())
        << Joined(outcome.lines);
    EXPECT_EQ(outcome.errorDetails.find("Ten import dokończył"), std::string::npos) << outcome.errorDetails;
    EXPECT_NE(outcome.errorDetails.find("przejrzane przez ten import: 0"), std::string::npos)
        << outcome.errorDetails;
    EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
        << "nothing was written";
}

// After a death between two commits the office gave a contractor by hand to a work the import
// had walked past: more walked works with a contractor than the progress file counted. The rerun
// does not revisit those rows, so it finishes, and the office's edit stays.
TEST_F(InterruptedImport, AContractorGivenByHandAfterTheDeathDoesNotStopTheRerun)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("by-hand");
    const std::optional<std::int64_t> walked = convert::InterruptedImportRow(target);
    ASSERT_TRUE(walked && *walked > 0);
    std::string person, edited;
    {
        engine::Table persons(tools::TargetDir(target, "OSOBY"), "Osoby.dbf");
        persons.Open();
        persons.First();
        ASSERT_FALSE(persons.Eof());
        person = persons.FieldByName("ID_OSOBY").AsString();
        engine::Table works(tools::TargetDir(target, "KERG"), "Roboty.dbf");
        works.Open();
        for (works.First(); !works.Eof() && works.RecNo() <= *walked; works.Next()) {
            if (works.FieldByName("WYKON").AsString().empty()) {
                edited = works.FieldByName("ID_ROBOTY").AsString();
                works.Edit();
                works.FieldByName("WYKON").SetString(person);
                works.Post();
                break;
            }
        }
    }
    ASSERT_FALSE(edited.empty()) << "every walked work has a contractor";
    const Outcome outcome = Import(archive, target, batch);
    ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
    bool seen = false;
    for (const auto& row : tools::ReadTargetRows(tools::TargetDir(target, "KERG"), "Roboty.dbf")) {
        if (row.at("ID_ROBOTY") == edited) {
            EXPECT_EQ(row.at("WYKON"), person);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(engine::VerifyDirectory(tools::TargetDir(target, "KERG")), std::vector<std::string>{});
}

// An import that walked every work and died before its progress file went (a cut of power during
// the final message), after which the office worked in the target: the next run stops as for any
// changed target (or a changed archive), but tells that nothing is left to finish and that the
// import need not run again.
TEST_F(InterruptedImport, AnImportThatWalkedEveryWorkIsNotToBeRunAgainWhenOnlyItsFileIsLeft)
{
    MakeOffice(30, 11, 4, 3);
    std::string target;
    for (std::uint64_t k = changes; k > changes / 2 && target.empty(); --k) {
        const std::string copy = Copy("ended" + std::to_string(k));
        EXPECT_EQ(DiesAt(copy, k, "exit"), platform::kFaultExitCode);
        engine::Table works(tools::TargetDir(copy, "KERG"), "Roboty.dbf");
        works.Open();
        const std::optional<std::int64_t> row = convert::InterruptedImportRow(copy);
        if (row && *row == static_cast<std::int64_t>(works.RecordCount()) &&
            !engine::JournalPending(convert::JournalDirectory(copy)))
            target = copy;
    }
    ASSERT_FALSE(target.empty()) << "no death left the file of a walk that had ended";
    // A run over an archive written anew since is refused as well, and told the same: it has
    // nothing to finish, so the archive need not be put back.
    {
        const auto [kerg, original] = ChangeArchiveBit("kerg.dbf", true);
        const std::string before = Digest(target);
        const std::string last =
            ImportStops(target, std::string("error: ") + convert::messages::kSettingsDiffer);
        EXPECT_NE(last.find(convert::messages::kArchiveContentsChanged), std::string::npos) << last;
        EXPECT_NE(last.find(convert::messages::kProgressEndedHint + ProgressFile(target) +
                            convert::messages::kProgressEndedTail),
                  std::string::npos)
            << last;
        EXPECT_EQ(last.find(convert::messages::kSettingsDifferTail), std::string::npos) << last;
        EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
            << "nothing was written";
        ASSERT_TRUE(writers::WriteFile(kerg, original));
    }
    // A work registered since.
    tools::AppendTargetRow(tools::TargetDir(target, "KERG"), "Roboty.dbf",
                           {{"ID_ROBOTY", "7FFFFFF0"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2026"}});
    const std::string before = Digest(target);
    const std::string last = ImportStops(target, std::string("error: ") + convert::messages::kProgressStale);
    EXPECT_NE(last.find("Tabela Roboty.dbf: wierszy było "), std::string::npos) << last;
    EXPECT_NE(last.find(convert::messages::kProgressEndedHint + ProgressFile(target) +
                        convert::messages::kProgressEndedTail),
              std::string::npos)
        << last;
    EXPECT_EQ(last.find(convert::messages::kProgressStaleHint), std::string::npos) << last;
    EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
        << "nothing was written";
}

// A run that withdraws an interrupted import's journal and then finds a damaged index stops, and
// does not claim it wrote nothing at all: the withdrawal is named.
TEST_F(InterruptedImport, ARefusalAfterTheWithdrawalSaysWhatWasWithdrawn)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesWithJournal("withdrawn-refused");
    ASSERT_TRUE(engine::JournalPending(convert::JournalDirectory(target)));
    // Damage the withdrawal leaves alone: a header field of an index the batch left as it was
    // (the bytes in a block, made to disagree with the pages in a block).
    const std::string index = tools::TargetDir(target, "KERG") + platform::kSeparator + "Asortym.mdx";
    std::string bytes = test_support::ReadWholeFile(index);
    ASSERT_GT(bytes.size(), 36u);
    bytes[23] = static_cast<char>(bytes[23] + 1);
    ASSERT_TRUE(writers::WriteFile(index, bytes));
    const Outcome outcome = Import(archive, target, batch);
    EXPECT_FALSE(outcome.done);
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), std::string("Błąd: ") + convert::messages::kTargetNeedsMending)
        << Joined(outcome.lines);
    EXPECT_NE(outcome.details.find(convert::messages::kOnlyWithdrawn), std::string::npos) << outcome.details;
    EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
    // Told what was withdrawn, and never that this run would finish the job.
    EXPECT_NE(std::find(outcome.lines.begin(), outcome.lines.end(),
                        std::string("Komunikat: ") + convert::messages::kInterruptedWithdrawn),
              outcome.lines.end())
        << Joined(outcome.lines);
    for (const std::string& line : outcome.lines) {
        EXPECT_EQ(line.find("dokończy"), std::string::npos) << line;
        EXPECT_EQ(line.find("wykona go"), std::string::npos) << line;
    }
}

// Without transactions the run neither reads nor writes how far an interrupted import got: after
// the withdrawal it says nothing of finishing that import or doing it anew.
TEST_F(InterruptedImport, ARunWithoutTransactionsClaimsNothingOfTheInterruptedImport)
{
    MakeOffice(30, 11, 4);
    const std::string target = DiesWithJournal("no-transactions");
    ASSERT_TRUE(convert::InterruptedImportRow(target).value_or(0) > 0) << "the death followed a commit";
    Settings settings;
    settings.transactions = false;
    const Outcome outcome = Import(archive, target, batch, settings);
    EXPECT_NE(std::find(outcome.lines.begin(), outcome.lines.end(),
                        std::string("Komunikat: ") + convert::messages::kInterruptedWithdrawn),
              outcome.lines.end())
        << Joined(outcome.lines);
    for (const std::string& line : outcome.lines) {
        EXPECT_EQ(line.find(convert::messages::kInterruptedRestarted), std::string::npos) << line;
        EXPECT_EQ(line.find(convert::messages::kInterruptedResumed), std::string::npos) << line;
    }
}

// A run that would finish an interrupted import with other options, another renumbering or
// another archive stops before writing anything and names each difference: finished so, the
// target would be that of no import at all. Set as before, the run finishes to the reference.
TEST_F(InterruptedImport, ARunWithOtherSettingsDoesNotFinishTheInterruptedImport)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("settings");
    const std::string before = Digest(target);
    const std::string otherArchive = dir.File("ARCH2") + platform::kSeparator;
    fs::copy(platform::NativePath(dir.File("ARCH")), platform::NativePath(dir.File("ARCH2")),
             fs::copy_options::recursive);
    const std::string gm = dir.File("gminy.gm");
    ASSERT_TRUE(writers::WriteFile(gm, "3|33\r\n"));
    const auto expectRefused = [&](const std::string& archiveDir, const Settings& settings,
                                   const std::string& difference) {
        SCOPED_TRACE(difference);
        const Outcome outcome = Import(archiveDir, target, batch, settings);
        EXPECT_FALSE(outcome.done);
        ASSERT_FALSE(outcome.lines.empty());
        const std::string& last = outcome.lines.back();
        EXPECT_EQ(last.rfind(std::string("error: ") + convert::messages::kSettingsDiffer, 0), 0u) << last;
        EXPECT_NE(last.find("\r\n" + difference + "\r\n"), std::string::npos) << last;
        EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
            << "nothing was written";
    };
    Settings unticked;
    unticked.assortments = false;
    expectRefused(archive, unticked, "Uzupełnij asortymenty robót: wtedy zaznaczone, teraz niezaznaczone.");
    Settings renumbering;
    renumbering.renumberingFile = gm;
    expectRefused(archive, renumbering, "Konwersja numerów gmin: wtedy niezaznaczone, teraz zaznaczone.");
    expectRefused(otherArchive, Settings{}, std::string(convert::messages::kArchiveChanged) + archive + ".");
    // The same archive named in other letter case is the same archive: names are found without
    // regard to case.
    archive = dir.File("arch") + platform::kSeparator;
    ExpectRerunFinishes(target);
}

// An archive written anew since the interrupted import (the merging tool run again into the same
// folder) stops the rerun, naming the tables that changed, even when their sizes and header dates
// are as they were: finished from other data, the target would mix two archives. Put back as it
// was, the archive lets the rerun finish to the reference.
TEST_F(InterruptedImport, ARunWithTheArchiveWrittenAnewDoesNotFinishTheInterruptedImport)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("archive-anew");
    const std::string before = Digest(target);
    const auto expectRefused = [&](const std::string& tables) {
        SCOPED_TRACE(tables);
        const Outcome outcome = Import(archive, target, batch);
        EXPECT_FALSE(outcome.done);
        ASSERT_FALSE(outcome.lines.empty());
        const std::string& last = outcome.lines.back();
        EXPECT_EQ(last.rfind(std::string("error: ") + convert::messages::kSettingsDiffer, 0), 0u) << last;
        EXPECT_NE(last.find(std::string("\r\n") + convert::messages::kArchiveContentsChanged + tables +
                            "). " + convert::messages::kArchiveContentsChangedTail + "\r\n"),
                  std::string::npos)
            << last;
        EXPECT_EQ(last.find(convert::messages::kArchiveChanged), std::string::npos)
            << "the folder is the same";
        EXPECT_EQ(tools::WithoutRunLeftovers(Digest(target)), tools::WithoutRunLeftovers(before))
            << "nothing was written";
    };
    // A bit of the last row of one table, then of the middle of another.
    const auto [kerg, kergBefore] = ChangeArchiveBit("kerg.dbf", false);
    expectRefused(std::string(convert::messages::kArchiveTableChanged) + "KERG.DBF");
    const auto [persons, personsBefore] = ChangeArchiveBit("osoby.dbf", true);
    expectRefused(std::string(convert::messages::kArchiveTablesChanged) + "KERG.DBF, OSOBY.DBF");
    ASSERT_TRUE(writers::WriteFile(kerg, kergBefore));
    ASSERT_TRUE(writers::WriteFile(persons, personsBefore));
    ExpectRerunFinishes(target);
}

// The renumbering an interrupted import used is kept as a digest: a run with the file changed
// meanwhile stops, and one with the file as it was finishes to that import's files.
TEST_F(InterruptedImport, ARunWithAnotherRenumberingDoesNotFinishTheInterruptedImport)
{
    const std::string gm = dir.File("gminy.gm");
    ASSERT_TRUE(writers::WriteFile(gm, "3|33\r\n"));
    MakeOffice(30, 11, 4, 3);
    const std::string renumbered = Copy("renumbered");
    ASSERT_TRUE(Import(archive, renumbered, batch, Renumbered(gm)).done);
    ASSERT_NE(Digest(renumbered), reference) << "the renumbering changes nothing";
    const std::string target = DiesBetweenCommits("renumbering", gm);
    ASSERT_TRUE(writers::WriteFile(gm, "3|44\r\n"));
    const Outcome changed = Import(archive, target, batch, Renumbered(gm));
    EXPECT_FALSE(changed.done);
    ASSERT_FALSE(changed.lines.empty());
    EXPECT_NE(changed.lines.back().find(convert::messages::kRenumberingChanged), std::string::npos)
        << changed.lines.back();
    ASSERT_TRUE(writers::WriteFile(gm, "3|33\r\n"));
    ASSERT_TRUE(Import(archive, target, batch, Renumbered(gm)).done);
    EXPECT_EQ(Digest(target), Digest(renumbered));
}

// The rows a rerun adds on another day take the interrupted import's creator stamp, as those of an
// uninterrupted run that went on past midnight would.
TEST_F(InterruptedImport, ARerunOnAnotherDayStampsItsRowsAsTheInterruptedImport)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = DiesBetweenCommits("nextday");
    const convert::Date later{kDay.year + 1, kDay.month, kDay.day};
    ASSERT_TRUE(Import(archive, target, batch, OnDay(later)).done);
    EXPECT_EQ(Digest(target), reference);
}

// The progress file of a finished import that cannot be removed (its last change) is named to the
// user, who must remove it: left, it would make the next import pass every work this one walked.
TEST_F(InterruptedImport, AProgressFileThatCannotBeRemovedIsNamedToTheUser)
{
    MakeOffice(30, 11, 4, 3);
    const std::string target = Copy("notremoved");
    // The progress file goes last but one, before its report log.
    platform::InjectFault(changes - 1, platform::FaultAction::Fail);
    const Outcome outcome = Import(archive, target, batch);
    platform::ClearFault();
    ASSERT_TRUE(platform::Exists(ProgressFile(target))) << "the removal was not the last change but one";
    EXPECT_TRUE(platform::Exists(ReportLog(target))) << "the log went without its progress file";
    EXPECT_TRUE(outcome.done);
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), std::string("error: ") + convert::messages::kProgressNotRemoved +
                                        ProgressFile(target) + convert::messages::kProgressNotRemovedTail);

    // A report log left alone, its progress file gone, is nobody's: the next run removes it
    // unasked and imports as over any finished import.
    const std::string logLeft = Copy("lognotremoved");
    platform::InjectFault(changes, platform::FaultAction::Fail);
    const Outcome first = Import(archive, logLeft, batch);
    platform::ClearFault();
    EXPECT_TRUE(first.done) << Joined(first.lines);
    EXPECT_EQ(first.lines.size(), referenceLines.size()) << Joined(first.lines);
    EXPECT_FALSE(platform::Exists(ProgressFile(logLeft)));
    ASSERT_TRUE(platform::Exists(ReportLog(logLeft))) << "the log's removal was not the last change";
    EXPECT_EQ(tools::WithoutRunLeftovers(Digest(logLeft)), reference);
    const Outcome second = Import(archive, logLeft, batch);
    EXPECT_TRUE(second.done) << Joined(second.lines);
    EXPECT_EQ(second.lines.size(), referenceLines.size()) << Joined(second.lines);
    EXPECT_FALSE(platform::Exists(ReportLog(logLeft)));
}

// A progress file that cannot be read stops the run before anything is written: which works the
// interrupted import did is unknown, and guessing could complete some twice.
TEST_F(InterruptedImport, AnUnreadableProgressFileStopsTheRunAndSaysSo)
{
    MakeOffice(30, 11, 4, 3);
    for (const std::string& bytes : {std::string("to nie jest tabela"), std::string()}) {
        const std::string target = Copy("unreadable" + std::to_string(bytes.size()));
        ASSERT_TRUE(writers::WriteFile(ProgressFile(target), bytes));
        const std::string before = Digest(target);
        std::ostringstream verified, verifyErr;
        EXPECT_EQ(tools::RunInspect({"verify", target}, verified, verifyErr), tools::kInspectProblems);
        EXPECT_NE(verified.str().find(convert::messages::kProgressUnreadable), std::string::npos)
            << verified.str();
        const std::string last =
            ImportStops(target, std::string("error: ") + convert::messages::kProgressUnreadable);
        EXPECT_NE(last.find(convert::kProgressFileName), std::string::npos) << last;
        EXPECT_EQ(Digest(target), before) << "nothing was written";
        fs::remove_all(platform::NativePath(target));
    }
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
    DiesWithJournal("probe");
    const std::uint64_t k = journalDeath;
    bool withdrawn = false;
    for (std::uint64_t j = 1; j < 200 && !withdrawn; j += kStride) {
        SCOPED_TRACE("first run dies at " + std::to_string(k) + ", the second at " + std::to_string(j));
        const std::string target = Copy("twice" + std::to_string(j));
        ASSERT_EQ(DiesAt(target, k), platform::kFaultExitCode);
        ASSERT_TRUE(engine::JournalPending(convert::JournalDirectory(target)));
        const int second = DiesAt(target, j);
        // Once the second run has withdrawn the journal, its own changes begin (it may even end
        // before its j-th change, where the crash points are taken in strides).
        if (second != 0) {
            ASSERT_EQ(second, platform::kFaultExitCode);
        }
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
    FailEachChange();
}

// The same over works whose register rows name no contractor: the run that finishes the job does
// not complete again those that the failed run committed.
TEST_F(InterruptedImport, AFailedWriteOverWorksWithoutAContractorNeverCompletesThemTwice)
{
    MakeOffice(30, 13, 4, 4);
    FailEachChange();
}

TEST_F(InterruptedImport, TheRecoverCommandWithdrawsWhatTheImportLeft)
{
    MakeOffice(30, 14, 4);
    const std::string target = DiesWithJournal("recover");
    std::ostringstream out, err;
    EXPECT_EQ(tools::RunInspect({"recover", target}, out, err), tools::kInspectOk) << err.str();
    EXPECT_NE(out.str().find("Wycofano niedokończone zmiany przerwanego importu."), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("KERG/"), std::string::npos) << "the restored files are named: " << out.str();
    EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
    ExpectRerunFinishes(target);

    // The works table put back from an old copy while the journal waited: not the import's bytes.
    const std::string replaced = DiesWithJournal("replaced");
    const std::string works = tools::TargetDir(replaced, "KERG") + platform::kSeparator + "Roboty.dbf";
    fs::remove(platform::NativePath(works));
    fs::copy_file(
        platform::NativePath(tools::TargetDir(pristine, "KERG") + platform::kSeparator + "Roboty.dbf"),
        platform::NativePath(works));
    std::ostringstream refusedOut, refusedErr;
    EXPECT_EQ(tools::RunInspect({"recover", replaced}, refusedOut, refusedErr), tools::kInspectProblems);
    EXPECT_NE(refusedOut.str().find("Roboty.dbf zmienił się"), std::string::npos) << refusedOut.str();
    EXPECT_TRUE(engine::JournalPending(convert::JournalDirectory(replaced)));
    // The import refuses as well, before anything is written, and says why.
    ImportStops(replaced, std::string("Błąd: ") + convert::messages::kInterruptedNotWithdrawn);
    std::ostringstream forcedOut, forcedErr;
    EXPECT_EQ(tools::RunInspect({"recover", replaced, "--force"}, forcedOut, forcedErr), tools::kInspectOk);
    EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(replaced)));
}

// A target table the program may not write: the run stops with the table's name before anything
// is written, and once the table may be written again the import finishes as ever.
TEST_F(InterruptedImport, AReadOnlyTableStopsTheRunBeforeAnythingIsWritten)
{
    MakeOffice(30, 15, 4);
    const std::string target = Copy("readonly");
    const std::string before = Digest(target);
    const fs::path links =
        platform::NativePath(tools::TargetDir(target, "KERG") + platform::kSeparator + "Kergasor.dbf");
    // Everything else may be written by anybody (the run below gives up the rights of root).
    for (const auto& entry : fs::recursive_directory_iterator(platform::NativePath(target)))
        fs::permissions(entry.path(), entry.is_directory()
                                          ? fs::perms::all
                                          : fs::perms::owner_read | fs::perms::owner_write |
                                                fs::perms::group_read | fs::perms::group_write |
                                                fs::perms::others_read | fs::perms::others_write);
    fs::permissions(platform::NativePath(target), fs::perms::all);
    fs::permissions(links, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#ifdef _WIN32
    // Under wine run by root the read-only attribute stops nobody; on Windows it does.
    if (platform::OpenLocked(platform::Utf8Path(links), platform::ShareMode::Shared, nullptr) != nullptr) {
        fs::permissions(links, fs::perms::owner_write, fs::perm_options::add);
        GTEST_SKIP() << "this system lets a read-only file be written";
    }
#endif
    const std::string report = dir.File("shown");
    fs::create_directory(platform::NativePath(report));
    fs::permissions(platform::NativePath(report), fs::perms::all);
    {
        test_support::ChildProcess child("import_without_rights",
                                         {archive, target, report + platform::kSeparator + "lines"});
        EXPECT_EQ(child.Wait(), 1);
        const std::string shown = test_support::ReadWholeFile(report + platform::kSeparator + "lines");
        EXPECT_NE(shown.find("error: Nie można otworzyć tabeli"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Kergasor.dbf"), std::string::npos) << shown;
    }
    fs::permissions(links, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(Digest(target), before) << "nothing was written";
    EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
    ExpectRerunFinishes(target);
}

// A target table dBase encrypted (PROTECT) would read as noise and take rows dBase could not read:
// whichever table it is, the run names it and stops before anything is written. The works table
// and the counters table stop the run with the messages of a missing database and of a counters
// table held by somebody, with the reason under them.
TEST_F(InterruptedImport, AnEncryptedTableStopsTheRunBeforeAnythingIsWritten)
{
    MakeOffice(12, 18, 4);
    for (const auto& [sub, table] : {std::pair<const char*, const char*>{"KERG", "Roboty.dbf"},
                                     {"KERG", "Kergasor.dbf"},
                                     {"KERG", "Asortym.dbf"},
                                     {"KERG", "obdg.dbf"},
                                     {"KERG", "dz.dbf"},
                                     {"KERG", "zakr_ras.dbf"},
                                     {"KERG", "obreb.dbf"},
                                     {"OSOBY", "Osoby.dbf"},
                                     {"ADMIN", "Dostep.dbf"}}) {
        SCOPED_TRACE(table);
        const std::string target = Copy(std::string("encrypted-") + table);
        const std::string path = tools::TargetDir(target, sub) + platform::kSeparator + table;
        std::string bytes = test_support::ReadWholeFile(path);
        bytes[15] = 1;
        ASSERT_TRUE(writers::WriteFile(path, bytes));
        const std::string before = Digest(target);
        const Outcome outcome = Import(archive, target, batch);
        EXPECT_FALSE(outcome.done);
        ASSERT_FALSE(outcome.lines.empty());
        const std::string& last = outcome.lines.back();
        const std::string shown = last + "\n" + outcome.details;
        if (std::string(table) == "Roboty.dbf")
            EXPECT_EQ(last, std::string("komunikat: ") + convert::messages::kNoTargetDatabase);
        else if (std::string(table) == "Dostep.dbf")
            // Damaged, not held by anybody: the office is not sent looking for another user.
            EXPECT_EQ(last, std::string("Komunikat: ") + convert::messages::kCountersUnreadable);
        else
            EXPECT_EQ(last.rfind("error: ", 0), 0u) << last;
        EXPECT_NE(shown.find(table), std::string::npos) << shown;
        EXPECT_NE(shown.find("zaszyfrowana"), std::string::npos) << shown;
        EXPECT_EQ(Digest(target), before) << "nothing was written";
        EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(target)));
        fs::remove_all(platform::NativePath(target));
    }
}

#ifndef _WIN32
// kerg-inspect import killed for real (SIGKILL) at moments spread over its run, then run again.
// Where the commits fall (by the clock, in the office) changes no data and no report, also with
// tags of every kind on every table: the counters table, stored at every commit, has tags over NEXTVAL too.
TEST_F(InterruptedImport, CommitsWhereverTheyFallGiveTheSameFilesWithTagsOfEveryKind)
{
    MakeOffice(30, 18, 4, 0, 2, tools::ExtraTags::All);
    for (const int perCommit : {1, 3, 7, 1000}) {
        SCOPED_TRACE("a commit after every " + std::to_string(perCommit) + " works");
        const std::string target = Copy("every" + std::to_string(perCommit));
        const Outcome outcome = Import(archive, target, perCommit);
        ASSERT_TRUE(outcome.done) << Joined(outcome.lines);
        EXPECT_EQ(Digest(target), reference);
        EXPECT_EQ(engine::VerifyDirectory(target), std::vector<std::string>{});
        EXPECT_EQ(Summary(outcome.details), referenceSummary);
    }
}

TEST_F(InterruptedImport, AKilledImportCommandRerunsToTheSameFiles)
{
    MakeOffice(400, 16, 25);
    auto start = [&](const std::string& target) {
        std::vector<std::string> args = {KERG_INSPECT_PROGRAM, "import",  archive, target,
                                         "--backup-done",      "--today", kDayText};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return spawned == 0 ? pid : -1;
    };
    // How long an uninterrupted run takes here.
    const std::string timed = Copy("timed");
    const auto begin = std::chrono::steady_clock::now();
    const pid_t whole = start(timed);
    ASSERT_GT(whole, 0);
    int status = 0;
    ASSERT_EQ(waitpid(whole, &status, 0), whole);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto duration = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(Digest(timed), reference) << "the command's commits, whenever they fall, give the same files";

    int killedInTime = 0;
    for (int trial = 0; trial < 4; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const std::string target = Copy("killed" + std::to_string(trial));
        const pid_t pid = start(target);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(duration * (2 * trial + 1) / 8);
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        killedInTime += WIFSIGNALED(status) ? 1 : 0;
        ExpectRerunFinishes(target);
    }
    EXPECT_GT(killedInTime, 0) << "no run was killed before it ended";
}
#endif

} // namespace
