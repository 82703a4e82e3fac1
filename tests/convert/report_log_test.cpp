// The report log an import keeps with its commits: what it appends at each commit adds up, read
// back from its table, to the report as it stood; a log this program did not write is refused.
#include <gtest/gtest.h>

#include "convert/report_log.h"
#include "engine/table.h"
#include "tests/support/test_files.h"

namespace {

using convert::ImportReport;
using convert::SkippedRecord;

// Everything ReportSummary and the run's resumption read, as one text to compare.
std::string Everything(const ImportReport& r)
{
    std::string text = convert::ReportSummary(r) + "precinct error: " + r.precinctError + "\npersons:";
    for (const std::int32_t n : r.personsCounted)
        text += " " + std::to_string(n);
    return text;
}

// The report after a first batch of works: one of each kind, text that needs every escape.
ImportReport FirstBatch()
{
    ImportReport r;
    r.works = 12;
    r.completed = 9;
    r.alreadyCompleted = 1;
    r.notInArchive = 2;
    r.personsFound = 3;
    r.personsAdded = 4;
    r.personsMissing = 1;
    r.firstPersonId = 0x3E8;
    r.firstAssortmentId = -1;
    r.firstParcelId = 77;
    r.parcelsAdded = 5;
    r.parcelLinks = 6;
    r.parcelsWithoutPrecinct["Śródmieście | 100% _x_ "] = 2;
    r.parcelsWithoutPrecinct[""] = 1;
    r.renumbered[{7, 1207}] = 3;
    r.Skip({"kerg.dbf", 4, "NR_G", "pole \u201Ezłe\u201D; praca 00000004 pozostawiona nieuzupełniona"});
    r.badDates.push_back({"kerg.dbf", 5, "D_P_ZAK", "\u201E31.02.1999\u201D w pracy 00000005"});
    // Longer than a row of the table: it goes on in the rows after.
    r.worksLeft.push_back({"Roboty.dbf", 6, "",
                           "praca 00000007 (P 7/2000, lp. 1): brak jej w archiwum, " + std::string(300, 'x') +
                               " ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ"});
    r.personsCounted = {5, 9, 2, 100000, 3, 4, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    r.precinctError = "Brak obrębu \"Wola\"";
    return r;
}

ImportReport SecondBatch(ImportReport r)
{
    r.works += 10;
    r.completed += 10;
    r.personsAdded += 2;
    r.parcelsWithoutPrecinct["Śródmieście | 100% _x_ "] = 5; // grown
    r.parcelsWithoutPrecinct["Wola"] = 1;                    // new
    r.renumbered[{8, 1208}] = 1;
    r.Skip({"osoby.dbf", 1, "", "osoba pozostawiona pusta"});
    r.worksLeft.push_back(
        {"Roboty.dbf", 20, "", "praca 00000015 (#, lp. 2): w archiwum jest poza rejestrem KERG"});
    r.personsCounted.push_back(42);
    r.precinctError.clear();
    return r;
}

// The report as each commit of a run that ends after `batches` commits leaves its log, read back.
class ReportLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        convert::CreateReportLog(dir.Path(), convert::kReportLogFileName);
        log = std::make_unique<engine::Table>(dir.Path(), convert::kReportLogFileName);
        log->Open();
    }

    void Commit(const ImportReport& now)
    {
        convert::AppendReportLog(*log, convert::ReportLogLines(now, committed));
        committed = now;
    }

    std::optional<ImportReport> ReadBack() { return convert::ReplayReportLog(convert::ReadReportLog(*log)); }

    test_support::TempDir dir;
    std::unique_ptr<engine::Table> log;
    ImportReport committed;
};

TEST_F(ReportLog, WhatEachCommitAppendsAddsUpToTheReportAsItStood)
{
    const ImportReport first = FirstBatch();
    Commit(first);
    const auto afterFirst = ReadBack();
    ASSERT_TRUE(afterFirst);
    EXPECT_EQ(Everything(*afterFirst), Everything(first));
    const std::int64_t rows = log->RecordCount();
    EXPECT_GT(rows, 4) << "a line longer than a row goes on in the next";

    const ImportReport second = SecondBatch(first);
    Commit(second);
    // Only what changed went on: the entries of the first batch are not there twice.
    const std::int64_t added = log->RecordCount() - rows;
    EXPECT_GE(added, 7);
    EXPECT_LE(added, 9);
    const auto afterSecond = ReadBack();
    ASSERT_TRUE(afterSecond);
    EXPECT_EQ(Everything(*afterSecond), Everything(second));

    // A commit that changed nothing but the counts appends their line alone.
    Commit(second);
    EXPECT_EQ(log->RecordCount(), rows + added + 1);

    // A skipped record the read-back report holds is not listed a second time.
    ImportReport again = *afterSecond;
    again.Skip({"kerg.dbf", 4, "", "inny opis"});
    EXPECT_EQ(again.skipped.size(), second.skipped.size());
}

TEST(ReportLogLines, ALogThisProgramDidNotWriteIsRefused)
{
    const std::vector<std::string> good = convert::ReportLogLines(FirstBatch(), ImportReport{});
    ASSERT_TRUE(convert::ReplayReportLog(good));
    for (const std::string& bad : {
             std::string("C|1|2|3"),           // counts of another version
             std::string("X|1"),               // no such line
             std::string("P|Wola|dwa"),        // a count that is no number
             std::string("P|Wola%2|1"),        // an escape cut short
             std::string("P|Wola%zz|1"),       // an escape that is none
             std::string("O|1,,2"),            // an empty person number
             std::string("O|99999999999"),     // beyond any record number
             std::string("S|kerg.dbf|4|pole"), // a field missing
             std::string("R|1|2|3|4"),         // one too many
             std::string("Z|S"),               // the skipped records never begin anew
             std::string(""),
         }) {
        std::vector<std::string> lines = good;
        lines.push_back(bad);
        EXPECT_FALSE(convert::ReplayReportLog(lines)) << bad;
    }
}

TEST(ReportLogTable, RowsOfAnotherKindAreNoLog)
{
    test_support::TempDir dir;
    convert::CreateReportLog(dir.Path(), convert::kReportLogFileName);
    engine::Table log(dir.Path(), convert::kReportLogFileName);
    log.Open();
    convert::AppendReportLog(log, {"C|1"});
    log.Append();
    log.FieldByName("RODZAJ").SetString("?");
    log.FieldByName("TRESC").SetString("C|1");
    log.Post();
    EXPECT_THROW(convert::ReadReportLog(log), std::runtime_error);
}

} // namespace
