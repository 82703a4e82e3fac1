// A scripted user and a small office (archive and target in a temporary folder) for the tests of
// the import.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/paths.h"
#include "tests/engine/support.h"
#include "tests/support/test_files.h"
#include "tools/archive_builder.h"
#include "tools/target_database.h"

namespace office {

// Plays the main window: answers message boxes from a queue (Yes when empty) and records
// everything the run shows.
class ScriptedUi : public convert::RunUi
{
public:
    std::string archiveText, targetText;
    bool commune = false, assortments = true, parcels = true, rasters = true;
    std::deque<convert::Answer> answers;
    std::vector<convert::Message> messages;
    std::vector<std::string> errors;
    std::vector<std::string> errorDetails; // beside each error: what the run did up to it
    std::vector<std::string>
        events; // "message:<caption>", "busy:1", "busy:0", "position:N", "close", "error"
    std::vector<int> positions;
    int rangeMin = -1, rangeMax = -1;
    bool busy = false;
    bool closed = false;

    std::string ArchiveDirText() override { return archiveText; }
    void SetArchiveDirText(const std::string& text) override { archiveText = text; }
    std::string TargetDirText() override { return targetText; }
    void SetTargetDirText(const std::string& text) override { targetText = text; }
    bool CommuneConversionTicked() override { return commune; }
    bool AssortmentsTicked() override { return assortments; }
    bool ParcelsTicked() override { return parcels; }
    bool RastersTicked() override { return rasters; }
    convert::Answer ShowMessage(const convert::Message& message) override
    {
        messages.push_back(message);
        events.push_back("message:" + message.caption);
        if (message.buttons == convert::Buttons::Ok)
            return convert::Answer::Ok;
        if (answers.empty())
            return convert::Answer::Yes;
        const convert::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowError(const std::string& text) override
    {
        errors.push_back(text);
        errorDetails.emplace_back();
        events.push_back("error");
    }
    void ShowErrorWithDetails(const std::string& text, const std::string& details) override
    {
        ShowError(text);
        errorDetails.back() = details;
    }
    void SetProgressRange(int minimum, int maximum) override
    {
        rangeMin = minimum;
        rangeMax = maximum;
    }
    void SetProgressPosition(int position) override
    {
        positions.push_back(position);
        events.push_back("position:" + std::to_string(position));
    }
    void SetBusyCursor(bool b) override
    {
        busy = b;
        events.push_back(b ? "busy:1" : "busy:0");
    }
    void CloseAfterSuccess() override
    {
        closed = true;
        events.push_back("close");
    }

    // The captions of the messages shown, in order.
    std::vector<std::string> Captions() const
    {
        std::vector<std::string> captions;
        for (const auto& m : messages)
            captions.push_back(m.caption);
        return captions;
    }
};

// An archive builder and a target database in a temporary folder.
class Office
{
public:
    Office()
    {
        archiveDir = dir.Path() + platform::kSeparator + "ARCH" + platform::kSeparator;
        targetDir = dir.Path() + platform::kSeparator + "CEL" + platform::kSeparator;
        ui.archiveText = archiveDir;
        ui.targetText = targetDir;
    }

    std::string Kerg() const { return tools::TargetDir(targetDir, "KERG"); }
    std::string Persons() const { return tools::TargetDir(targetDir, "OSOBY"); }
    std::string Admin() const { return tools::TargetDir(targetDir, "ADMIN"); }

    void CreateTarget(const tools::CounterStart& counters = {})
    {
        tools::CreateTargetDatabase(targetDir, counters);
    }
    void WriteArchive() { ASSERT_TRUE(archive.Write(archiveDir)); }

    // Runs the import as "Importuj" does, on 6 December 2026.
    void Run() { Runner().BitBtn1Click(); }

    // The program's run object, made at the first use and kept (as the main window keeps it).
    convert::ImportRun& Runner()
    {
        if (!run)
            run = std::make_unique<convert::ImportRun>(ui, renumberingFile, [] {
                return convert::Date{2026, 12, 6};
            });
        return *run;
    }

    std::vector<std::map<std::string, std::string>> Rows(const std::string& directory,
                                                         const std::string& table)
    {
        return tools::ReadTargetRows(directory, table);
    }

    // Every tag of every target table holds exactly its rows' keys (the engine's check), and Perl
    // XBase, a reader nobody here wrote, walks each tag in the engine's order.
    void ExpectTargetSound()
    {
        EXPECT_EQ(engine::VerifyDirectory(targetDir), std::vector<std::string>{});
        const std::pair<std::string, std::string> tags[] = {
            {Kerg() + platform::kSeparator + "Asortym.mdx", "UPP_ASORT"},
            {Kerg() + platform::kSeparator + "Asortym.mdx", "UPP_NAZ_A"},
            {Kerg() + platform::kSeparator + "dz.mdx", "OBR_DZ_ARK"},
            {Persons() + platform::kSeparator + "Osoby.mdx", "UPP_KLUCZ"}};
        for (const auto& [mdx, tag] : tags) {
#ifdef _WIN32 // no Perl beside the Windows build: the engine's walk must at least load
            EXPECT_NO_THROW(enginetest::EngineWalk(mdx, tag)) << tag;
#else
            EXPECT_EQ(enginetest::PerlWalk(mdx, tag), enginetest::Records(enginetest::EngineWalk(mdx, tag)))
                << tag;
#endif
        }
    }

    // The counters table held by nobody (an exclusive open works), no journal left, every tag
    // sound.
    void ExpectReleasedAndSound()
    {
        engine::Table counters(Admin(), "Dostep.dbf");
        counters.SetExclusive(true);
        EXPECT_NO_THROW(counters.Open());
        counters.Close();
        EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(targetDir)));
        ExpectTargetSound();
    }

    // Target work `number` (1 to 9) of 2000, ID_ROBOTY "0000000<number>", with no contractor yet.
    void AddTargetWork(int number)
    {
        tools::AppendTargetRow(Kerg(), "Roboty.dbf",
                               {{"ID_ROBOTY", "0000000" + std::to_string(number)},
                                {"JEDN_SEG", "P"},
                                {"NR_PORZ", std::to_string(number)},
                                {"ROK", "2000"},
                                {"LP", "1"}});
    }

    // nextval of a counters row.
    std::string Counter(const std::string& name)
    {
        for (const auto& row : Rows(Admin(), "Dostep.dbf")) {
            if (row.at("TABLENAME") == name)
                return row.at("NEXTVAL");
        }
        return "<none>";
    }

    // Sets nextval of a counters row.
    void SetCounter(const std::string& name, std::int64_t value)
    {
        engine::Table counters(Admin(), "Dostep.dbf");
        counters.Open();
        for (counters.First(); !counters.Eof(); counters.Next()) {
            if (counters.FieldByName("TABLENAME").AsString() == name) {
                counters.Edit();
                counters.FieldByName("NEXTVAL").SetInteger(value);
                counters.Post();
                return;
            }
        }
        ADD_FAILURE() << "no counter " << name;
    }

    test_support::TempDir dir;
    std::string archiveDir, targetDir;
    std::string renumberingFile = dir.File("kerg-import.gm");
    tools::ArchiveBuilder archive;
    ScriptedUi ui;
    std::unique_ptr<convert::ImportRun> run;
};

} // namespace office
