// Another program reading the target while an import runs: a second process holds the tables it
// reads (shared, for reading only) and takes snapshots again and again; every snapshot must be the
// state of some commit: each work completed with all its rows and persons, or not at all, and
// every tag of every table sound.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "tests/convert/office.h"
#include "tests/support/child_process.h"
#include "tools/sample_office.h"

namespace fs = std::filesystem;

namespace {

// What a work looks like in one state of the target: its row's contractor and in-progress flag,
// and how many assortment, parcel and raster rows name it.
struct WorkState
{
    std::string contractor, inProgress;
    int assortments = 0, parcels = 0, rasters = 0;
    bool operator==(const WorkState&) const = default;
};

using TargetState = std::map<std::string, WorkState>; // ID_ROBOTY -> state

struct Snapshot
{
    TargetState works;
    std::set<std::string> persons;     // id_osoby of every person row
    std::vector<std::string> problems; // what the engine's check found
};

struct Tables
{
    engine::Table works, assortments, parcels, rasters, persons, parcelTable, assortmentTable;
    explicit Tables(const std::string& target)
        : works(tools::TargetDir(target, "KERG"), "Roboty.dbf"),
          assortments(tools::TargetDir(target, "KERG"), "Kergasor.dbf"),
          parcels(tools::TargetDir(target, "KERG"), "obdg.dbf"),
          rasters(tools::TargetDir(target, "KERG"), "zakr_ras.dbf"),
          persons(tools::TargetDir(target, "OSOBY"), "Osoby.dbf"),
          parcelTable(tools::TargetDir(target, "KERG"), "dz.dbf"),
          assortmentTable(tools::TargetDir(target, "KERG"), "Asortym.dbf")
    {}
    std::vector<engine::Table*> All()
    {
        return {&works, &assortments, &parcels, &rasters, &persons, &parcelTable, &assortmentTable};
    }
};

// Reads everything of the state the snapshot needs; the tables are held (or nobody writes).
Snapshot Read(Tables& t)
{
    Snapshot s;
    for (t.works.First(); !t.works.Eof(); t.works.Next())
        s.works[t.works.FieldByName("ID_ROBOTY").AsString()] = {t.works.FieldByName("WYKON").AsString(),
                                                                t.works.FieldByName("W_TOKU").AsString()};
    const std::pair<engine::Table*, int WorkState::*> links[] = {{&t.assortments, &WorkState::assortments},
                                                                 {&t.parcels, &WorkState::parcels},
                                                                 {&t.rasters, &WorkState::rasters}};
    for (const auto& [table, count] : links) {
        engine::Field id = table->FieldAt(0); // ID_ROBOTY, id_roboty, id_rodzica
        for (table->First(); !table->Eof(); table->Next())
            ++(s.works[id.AsString()].*count);
    }
    for (t.persons.First(); !t.persons.Eof(); t.persons.Next())
        s.persons.insert(t.persons.FieldByName("ID_OSOBY").AsString());
    for (engine::Table* table : {&t.persons, &t.parcelTable, &t.assortmentTable})
        for (const std::string& problem : table->Verify())
            s.problems.push_back(problem);
    return s;
}

void Write(std::ostream& out, const Snapshot& s)
{
    out << "snapshot " << s.works.size() << ' ' << s.persons.size() << ' ' << s.problems.size() << '\n';
    for (const auto& [id, w] : s.works)
        out << id << '\t' << (w.contractor.empty() ? "-" : w.contractor) << '\t'
            << (w.inProgress.empty() ? "-" : w.inProgress) << '\t' << w.assortments << '\t' << w.parcels
            << '\t' << w.rasters << '\n';
    for (const std::string& p : s.persons)
        out << "person\t" << p << '\n';
    for (const std::string& p : s.problems)
        out << "problem\t" << p << '\n';
}

std::vector<Snapshot> ReadSnapshots(const std::string& path)
{
    std::vector<Snapshot> all;
    std::ifstream in(platform::NativePath(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("snapshot ", 0) == 0) {
            all.emplace_back();
            continue;
        }
        std::istringstream fields(line);
        std::string first;
        std::getline(fields, first, '\t');
        std::string rest;
        std::getline(fields, rest);
        if (first == "person") {
            all.back().persons.insert(rest);
        } else if (first == "problem") {
            all.back().problems.push_back(rest);
        } else {
            std::istringstream values(rest);
            WorkState w;
            values >> w.contractor >> w.inProgress >> w.assortments >> w.parcels >> w.rasters;
            w.contractor = w.contractor == "-" ? "" : w.contractor;
            w.inProgress = w.inProgress == "-" ? "" : w.inProgress;
            all.back().works[first] = w;
        }
    }
    return all;
}

// How many snapshots the file holds so far (each begins with its line once it is read whole).
std::size_t CountSnapshots(const std::string& path)
{
    std::ifstream in(platform::NativePath(path));
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.rfind("snapshot ", 0) == 0 ? 1 : 0;
    return count;
}

// The reader: holds every table (waiting for the first, trying the others, letting go of all and
// starting again when one is taken), takes a snapshot, lets go, and again, until the stop file is
// there.
KERG_CHILD_TASK(read_snapshots)
{
    const std::string target = channel.Args().at(0), out = channel.Args().at(1), stop = channel.Args().at(2);
    Tables t(target);
    for (engine::Table* table : t.All())
        table->Open();
    std::ofstream file(platform::NativePath(out));
    channel.Report("opened");
    int taken = 0;
    while (!fs::exists(platform::NativePath(stop)) && taken < 200) {
        std::vector<engine::Table*> held;
        bool all = true;
        for (engine::Table* table : t.All()) {
            if (!table->Hold(held.empty())) {
                all = false;
                break;
            }
            held.push_back(table);
        }
        if (all) {
            Write(file, Read(t));
            file.flush();
            ++taken;
        }
        for (engine::Table* table : held)
            table->ReleaseHold();
        std::this_thread::sleep_for(std::chrono::milliseconds(all ? 15 : 1));
    }
    return 0;
}

TEST(ConcurrentReader, SeesTheStateOfSomeCommitAtEveryMoment)
{
    test_support::TempDir dir;
    const std::string archive = dir.File("ARCH") + platform::kSeparator;
    const std::string target = dir.File("CEL") + platform::kSeparator;
    ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {3000, 5}));
    Snapshot initial;
    {
        Tables t(target);
        for (engine::Table* table : t.All())
            table->Open();
        initial = Read(t);
    }

    const std::string snapshots = dir.File("snapshots.txt"), stop = dir.File("stop");
    test_support::ChildProcess reader("read_snapshots", {target, snapshots, stop});
    ASSERT_EQ(reader.Report(), "opened");
    office::ScriptedUi ui;
    ui.archiveText = archive;
    ui.targetText = target;
    convert::ImportRun run(ui, dir.File("brak.gm"), [] { return convert::Date{2026, 12, 6}; });
    run.Commits().worksPerCommit = 10; // many commits for the reader to fall between
    // Every 25th commit the run waits (a few seconds at most) until the reader has taken one more
    // snapshot, so that it surely looks in the middle of the import however fast the import is.
    int commits = 0;
    std::size_t taken = 0;
    run.Commits().afterCommit = [&] {
        if (++commits % 25 != 0)
            return;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (CountSnapshots(snapshots) <= taken && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        taken = CountSnapshots(snapshots);
    };
    run.BitBtn1Click();
    EXPECT_GE(commits, 100);
    ASSERT_TRUE(ui.closed);
    std::ofstream(platform::NativePath(stop)) << "stop";
    EXPECT_EQ(reader.Wait(), 0);

    Snapshot final;
    {
        Tables t(target);
        for (engine::Table* table : t.All())
            table->Open();
        final = Read(t);
    }
    ASSERT_EQ(final.works.size(), initial.works.size());
    int changed = 0;
    for (const auto& [id, w] : final.works)
        changed += w == initial.works.at(id) ? 0 : 1;
    ASSERT_GT(changed, 1000);

    const std::vector<Snapshot> seen = ReadSnapshots(snapshots);
    int between = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE("snapshot " + std::to_string(i));
        const Snapshot& s = seen[i];
        EXPECT_EQ(s.problems, std::vector<std::string>{});
        ASSERT_EQ(s.works.size(), final.works.size());
        int done = 0;
        for (const auto& [id, w] : s.works) {
            const WorkState& before = initial.works.at(id);
            const WorkState& after = final.works.at(id);
            // All of the work's rows, or none.
            ASSERT_TRUE(w == before || w == after) << "work " << id;
            done += w == after && !(after == before) ? 1 : 0;
            // Its persons came with it.
            if (!w.contractor.empty()) {
                ASSERT_TRUE(s.persons.count(w.contractor)) << "work " << id << " names " << w.contractor;
            }
        }
        between += done > 0 && done < changed ? 1 : 0;
    }
    // The reader did look in the middle of the import, more than once.
    EXPECT_GE(between, 3) << seen.size() << " snapshots";
}

} // namespace
