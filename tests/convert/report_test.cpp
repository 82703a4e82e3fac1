// The import report: its counts on a hand-made office and on a sample office with damage done to
// its archive, its file, its place under the final message and in kerg-inspect's output.
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "convert/import_report.h"
#include "convert/import_run.h"
#include "engine/table.h"
#include "platform/paths.h"
#include "tests/convert/damage.h"
#include "tests/convert/office.h"
#include "tools/dbf_writer.h"
#include "tools/inspect.h"
#include "tools/sample_office.h"

namespace fs = std::filesystem;

namespace {

using office::Office;

const convert::DateTime kWhen{2026, 12, 7, 15, 30, 12};

tools::ArchivePerson Person(const std::string& name, std::int16_t firstName = 0)
{
    tools::ArchivePerson p;
    p.nazwa = name;
    p.imie = firstName;
    return p;
}

tools::ArchiveKerg Kerg(std::int32_t id, std::int32_t contractor, std::int32_t orderer)
{
    tools::ArchiveKerg k;
    k.idKerg = id;
    k.nrG = 7;
    k.wykon = contractor;
    k.zlecen = orderer;
    return k;
}

void TargetWork(Office& o, const std::string& id, int number, const std::string& contractor = "")
{
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf",
                           {{"ID_ROBOTY", id},
                            {"JEDN_SEG", "P"},
                            {"NR_PORZ", std::to_string(number)},
                            {"ROK", "2000"},
                            {"LP", "1"},
                            {"WYKON", contractor}});
}

// Something of every kind the report counts:
//   target works 00000001 and 00000002 are completed; 00000003's register row has a damaged
//   commune number; 00000004's archive work is not in the register, 00000005's points at no
//   register row; 00000007 has no archive work; 00000008 was completed before. The archive's
//   work 9 has no target work.
//   Work 1: contractor Kowalski (added), orderer Nowak (found); three assortment lines, the middle
//   one with a damaged quantity; a parcel to add and one whose precinct the target lacks; a raster
//   range; commune 7 renumbered to 12.
//   Work 2: contractor a person record with a damaged number, no orderer; the parcel of work 1.
void ReportOffice(Office& o, const std::string& secondWorkQuantity = "")
{
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    o.archive.AddPrecinct("14003", "0001", "B", "01");
    o.archive.AddFirstName("Jan");
    o.archive.AddPerson(Person("Kowalski", 1));
    o.archive.AddPerson(Person("Nowak"));
    o.archive.AddPerson(Person("Zielinski"));
    o.archive.AddAssortment("ab", "Mapa zasadnicza");
    o.archive.AddAssortment("MZ", "Mapa");
    for (int number = 1; number <= 3; ++number)
        o.archive.AddWork({"P", number, 2000, 1, "", true, number});
    o.archive.AddWork({"P", 4, 2000, 1, "", false, 4});
    o.archive.AddWork({"P", 5, 2000, 1, "", true, 55});
    o.archive.AddWork({"P", 9, 2000, 1, "", true, 4});
    o.archive.AddKerg(Kerg(1, 1, 2));
    o.archive.AddKerg(Kerg(2, 3, 0));
    o.archive.AddKerg(Kerg(3, 1, 0));
    o.archive.AddKerg(Kerg(4, 1, 0));
    o.archive.AddWorkAssortment(1, 1, "12.50");
    o.archive.AddWorkAssortment(1, 2, "2.00");
    o.archive.AddWorkAssortment(1, 2, "3.00");
    const int parcel = o.archive.AddParcel(1, 15, 0, 2);
    o.archive.AddParcelLink(1, parcel, "P");
    o.archive.AddParcelLink(1, o.archive.AddParcel(2, 7, 0, 1), "P");
    o.archive.AddParcelLink(2, parcel, "O");
    o.archive.AddRaster(1, "1", "6.115.27.01", std::string("\x80\0\0\0\0\0", 6));
    if (!secondWorkQuantity.empty())
        o.archive.AddWorkAssortment(2, 1, secondWorkQuantity);
    o.WriteArchive();
    damage::SetField(o.archiveDir + "KERGASOR.DBF", 2, "WIELKOSC", "2.0.0");
    damage::SetField(o.archiveDir + "OSOBY.DBF", 3, "O", "x");
    damage::SetField(o.archiveDir + "KERG.DBF", 3, "NR_G", "  1 2");
    damage::SetField(o.archiveDir + "KERG.DBF", 1, "D_P_ZAK", "20261399");

    o.CreateTarget({5, 10, 10});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf",
                           {{"ID_OSOBY", "00000001"}, {"KLUCZ", "Nowak"}, {"NAZWA1", "Nowak"}});
    tools::AppendTargetRow(o.Kerg(), "Asortym.dbf",
                           {{"ID_ASORT", "0001"}, {"ASORT", "MZ"}, {"NAZWA_A", "Mapa"}});
    for (int number : {1, 2, 3, 4, 5, 7})
        TargetWork(o, "0000000" + std::to_string(number), number);
    TargetWork(o, "00000008", 1, "00000004");
    writers::WriteFile(o.renumberingFile, "7|12\r\n");
    o.ui.commune = true;
    o.Runner().SetClock([] { return kWhen; });
}

// A report file as the program wrote it, its lines ended as text files are on this system; read
// back with "\n" line ends. A line feed without the system's line end fails the test.
std::string ReadReport(const std::string& path)
{
    const std::string bytes = test_support::ReadWholeFile(path);
    std::string text;
    const std::string end = platform::kTextLineEnd;
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.compare(at, end.size(), end) == 0) {
            text += '\n';
            at += end.size();
        } else {
            EXPECT_NE(bytes[at], '\n') << "a line feed alone at byte " << at << " of " << path;
            text += bytes[at++];
        }
    }
    return text;
}

const char* const kReportSummary =
    "Prace bazy docelowej przejrzane przez ten import: 7\n"
    "  uzupełnione teraz: 2\n"
    "  uzupełnione już wcześniej (mają wykonawcę): 1\n"
    "  bez pracy w archiwum: 1\n"
    "  w archiwum, ale poza rejestrem KERG: 2\n"
    "  pozostawione z powodu uszkodzonych rekordów archiwum: 1\n"
    "Prace rejestru KERG w archiwum: 5, w tym bez pracy w bazie docelowej: 1\n"
    "Osoby: znalezione w bazie 1, dopisane 1, nieznane w archiwum (pole pozostawione puste) 1\n"
    "Asortymenty: dopisane do słownika 1, dopisane pozycje prac 2\n"
    "Działki: dopisane do bazy 1, dopisane powiązania z pracami 2\n"
    "Zakresy rastrowe: dopisane 1\n"
    "Identyfikatory dopisanych wierszy: osoby 00000005, asortymenty 000A, działki 0000000A\n"
    "Działki pominięte z powodu braku obrębu: 1\n"
    "  obręb 003000101: 1\n"
    "Przenumerowane gminy: 2 prace\n"
    "  007 → 012: 2\n"
    "Rekordy archiwum pominięte z powodu uszkodzenia: 3\n"
    "  kergasor.dbf, rekord 2, pole WIELKOSC: pozycja asortymentu pracy 00000001 pominięta\n"
    "  osoby.dbf, rekord 3, pole O: osoba pozostawiona pusta w pracy 00000002 (i w innych pracach tej "
    "osoby)\n"
    "  kerg.dbf, rekord 3, pole NR_G: praca 00000003 pozostawiona nieuzupełniona\n"
    "Nieprawidłowe daty w archiwum, zapisane jako 1900-01-01: 1\n"
    "  kerg.dbf, rekord 1, pole D_P_ZAK: \u201E20261399\u201D w pracy 00000001\n"
    "Prace bazy docelowej pozostawione nieuzupełnione, bo archiwum nie ma ich pracy albo ma ją poza "
    "rejestrem KERG: 3\n"
    "  Roboty.dbf, rekord 4: praca 00000004 (P 4/2000, lp. 1): w archiwum jest poza rejestrem KERG\n"
    "  Roboty.dbf, rekord 5: praca 00000005 (P 5/2000, lp. 1): w archiwum nie ma jej rekordu rejestru KERG "
    "(kerg.dbf)\n"
    "  Roboty.dbf, rekord 6: praca 00000007 (P 7/2000, lp. 1): brak jej w archiwum\n"
    "Prace rejestru KERG w archiwum, których nie ma w bazie docelowej: 1\n"
    "  roboty.dbf, rekord 6: praca P 9/2000, lp. 1\n";

TEST(ImportReport, CountsEverythingTheRunDidAndNamesEveryRecordItSkipped)
{
    Office o;
    ReportOffice(o);
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_TRUE(o.ui.messages.back().detailsShown) << "what was left out is shown before the program closes";

    // The rows agree with the counts.
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("WYKON"), "00000005");
    EXPECT_EQ(works[0].at("NR_G"), "012");
    EXPECT_EQ(works[0].at("D_P_ZAK"), "1900.01.01") << "a date that is no date, as it always was";
    EXPECT_EQ(works[1].at("WYKON"), "");
    EXPECT_EQ(works[1].at("W_TOKU"), "0") << "the work is completed, its contractor left empty";
    EXPECT_EQ(works[2].at("W_TOKU"), "") << "a damaged register row leaves its work alone";
    const auto links = o.Rows(o.Kerg(), "Kergasor.dbf");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].at("WIELKOSC"), "12.50");
    EXPECT_EQ(links[1].at("WIELKOSC"), "3.00") << "the line after the damaged one is imported";
    EXPECT_EQ(o.Rows(o.Kerg(), "obdg.dbf").size(), 2u);
    EXPECT_EQ(o.Rows(o.Kerg(), "dz.dbf").size(), 1u);
    EXPECT_EQ(o.Rows(o.Persons(), "Osoby.dbf").size(), 2u);

    // The final message keeps its text and carries the summary.
    const std::string path = o.targetDir + "kerg-import-20261207-153012.txt";
    const convert::Message& done = o.ui.messages.back();
    EXPECT_EQ(done.text, "Import został zakończony.");
    EXPECT_EQ(done.details, "Raport zapisano w pliku: " + path + "\n\n" + kReportSummary);
    EXPECT_EQ(o.run->ReportPath(), path);

    // The file: UTF-8 with a byte-order mark, a heading, the same summary.
    EXPECT_EQ(ReadReport(path), "\xEF\xBB\xBF"
                                "Raport importu z 2026-12-07 15:30:12\n"
                                "Kartoteka z danymi wejściowymi: " +
                                    o.archiveDir + "\nKartoteka z danymi wyjściowymi: " + o.targetDir +
                                    "\nWynik: Import został zakończony.\n\n" + kReportSummary);
}

TEST(ImportReport, ASecondRunInTheSameSecondWritesAFileOfItsOwn)
{
    Office o;
    ReportOffice(o);
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    o.ui.closed = false;
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const std::string second = o.targetDir + "kerg-import-20261207-153012-2.txt";
    EXPECT_EQ(o.run->ReportPath(), second);
    // Only the work whose contractor stayed empty is completed again; the damaged records are met
    // again and named again.
    const std::string text = ReadReport(second);
    EXPECT_NE(text.find("  uzupełnione teraz: 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  uzupełnione już wcześniej (mają wykonawcę): 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  kerg.dbf, rekord 3, pole NR_G: praca 00000003 pozostawiona nieuzupełniona\n"),
              std::string::npos)
        << text;
    EXPECT_NE(ReadReport(o.targetDir + "kerg-import-20261207-153012.txt"), text);
}

TEST(ImportReport, AReportThatCannotBeWrittenIsSaidAndTheRunStillEnds)
{
    Office o;
    ReportOffice(o);
    // A directory where the report's file would go.
    fs::create_directories(platform::NativePath(o.targetDir + "kerg-import-20261207-153012.txt"));
    for (int n = 2; n <= 99; ++n)
        fs::create_directories(
            platform::NativePath(o.targetDir + "kerg-import-20261207-153012-" + std::to_string(n) + ".txt"));
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const std::string& details = o.ui.messages.back().details;
    EXPECT_EQ(details.rfind("Raportu nie zapisano: ", 0), 0u) << details;
    EXPECT_NE(details.find(kReportSummary), std::string::npos) << details;
    EXPECT_EQ(o.run->ReportPath(), "");
}

TEST(ImportReport, FailedRunsReportWhatTheTargetHolds)
{
    // An archive file missing: the conversion never starts; the report says nothing was done.
    Office o;
    ReportOffice(o);
    fs::remove(platform::NativePath(o.archiveDir + "OB_RR.DBF"));
    o.Run();
    ASSERT_FALSE(o.ui.closed);
    const convert::Message& failed = o.ui.messages.back();
    EXPECT_EQ(failed.caption, "Błąd konwersji");
    EXPECT_NE(failed.details.find("Prace bazy docelowej przejrzane przez ten import: 0\n"), std::string::npos)
        << failed.details;
    const std::string text = ReadReport(o.targetDir + "kerg-import-20261207-153012.txt");
    EXPECT_NE(text.find("Wynik: błąd: Błąd podczas otwarcia pliku: " + o.archiveDir + "ob_rr.dbf\n"),
              std::string::npos)
        << text;

    // The engine refuses a post of the second work: the first work was committed alone, and the
    // report counts it alone, beside the error.
    Office p;
    ReportOffice(p, "99999.00");
    engine::CreateTable(p.Kerg(), "Kergasor.dbf",
                        {{"ID_ROBOTY", 'C', 8, 0}, {"ID_ASORT", 'C', 4, 0}, {"WIELKOSC", 'N', 6, 2}}, {});
    p.Runner().Commits().worksPerCommit = 1;
    p.Run();
    ASSERT_EQ(p.ui.errors.size(), 1u);
    const std::string& details = p.ui.errorDetails.at(0);
    EXPECT_NE(details.find("  uzupełnione teraz: 1\n"), std::string::npos) << details;
    EXPECT_NE(details.find("Asortymenty: dopisane do słownika 1, dopisane pozycje prac 2\n"),
              std::string::npos)
        << details;
    EXPECT_NE(details.find("Raport zapisano w pliku: "), std::string::npos) << details;
    EXPECT_EQ(p.Rows(p.Kerg(), "Kergasor.dbf").size(), 2u);
    // The box says what to do; the report, that the batch under way was withdrawn.
    const std::string& error = p.ui.errors[0];
    EXPECT_EQ(error.substr(error.size() - std::string(convert::messages::kRerunAfterError).size()),
              convert::messages::kRerunAfterError);
    const std::string report = ReadReport(p.targetDir + "kerg-import-20261207-153012.txt");
    EXPECT_NE(report.find(" (zmiany niezatwierdzonej partii prac wycofano)\n"), std::string::npos) << report;
}

TEST(ImportReport, TheImportCommandPrintsTheSummaryUnderItsLastMessage)
{
    Office o;
    ReportOffice(o);
    std::ostringstream out, err;
    const int status = tools::RunInspect(
        {"import", o.archiveDir, o.targetDir, "--backup-done", "--renumber", o.renumberingFile}, out, err);
    EXPECT_EQ(status, tools::kInspectOk) << out.str() << err.str();
    const std::string output = out.str();
    const auto last = output.find("Komunikat: Import został zakończony.\n");
    ASSERT_NE(last, std::string::npos) << output;
    const std::string after = output.substr(last);
    EXPECT_NE(after.find("\n    Raport zapisano w pliku: " + o.targetDir + "kerg-import-"), std::string::npos)
        << after;
    EXPECT_NE(
        after.find("\n    Prace bazy docelowej przejrzane przez ten import: 7\n      uzupełnione teraz: 2\n"),
        std::string::npos)
        << after;
    EXPECT_NE(
        after.find("\n      kerg.dbf, rekord 3, pole NR_G: praca 00000003 pozostawiona nieuzupełniona\n"),
        std::string::npos)
        << after;
}

TEST(ImportReport, LongListsOfSkippedRecordsAreCutInTheMessageOnly)
{
    convert::ImportReport report;
    for (int record = 1; record <= 25; ++record)
        report.Skip({"kerg.dbf", record, "NR_G", "praca pozostawiona nieuzupełniona"});
    report.Skip({"kerg.dbf", 3, "NR_G", "again"}); // the same record once only
    const std::string cut = convert::ReportSummary(report, 20);
    EXPECT_NE(cut.find("Rekordy archiwum pominięte z powodu uszkodzenia: 25\n"), std::string::npos);
    EXPECT_NE(cut.find("  kerg.dbf, rekord 20, pole NR_G"), std::string::npos);
    EXPECT_EQ(cut.find("  kerg.dbf, rekord 21, pole NR_G"), std::string::npos);
    EXPECT_NE(cut.find("  … i 5 dalszych (pełna lista w pliku raportu)\n"), std::string::npos);
    const std::string whole = convert::ReportSummary(report);
    EXPECT_NE(whole.find("  kerg.dbf, rekord 25, pole NR_G"), std::string::npos);
    EXPECT_EQ(whole.find("again"), std::string::npos);
    // The word after the rest's count agrees with it.
    for (const auto& [rest, words] : std::vector<std::pair<int, std::string>>{{1, "1 dalszy"},
                                                                              {2, "2 dalsze"},
                                                                              {4, "4 dalsze"},
                                                                              {5, "5 dalszych"},
                                                                              {12, "12 dalszych"},
                                                                              {22, "22 dalsze"}}) {
        convert::ImportReport more;
        for (int record = 1; record <= 20 + rest; ++record)
            more.Skip({"kerg.dbf", record, "", "pominięty"});
        EXPECT_NE(
            convert::ReportSummary(more, 20).find("  … i " + words + " (pełna lista w pliku raportu)\n"),
            std::string::npos)
            << rest;
    }
}

// The final message shows its details at once when something of the archive did not reach the
// target as it stood; counts of what was done, and works the archive lacks, are no problems.
TEST(ImportReport, ProblemsAreWhatDidNotReachTheTarget)
{
    convert::ImportReport report;
    report.works = 10;
    report.completed = 7;
    report.notInArchive = 2;
    report.notInRegister = 1;
    report.personsMissing = 3;
    EXPECT_FALSE(report.HasProblems());
    const std::vector<std::function<void(convert::ImportReport&)>> problems = {
        [](convert::ImportReport& r) { r.damaged = 1; },
        [](convert::ImportReport& r) {
            r.Skip({"kerg.dbf", 1, "", "pominięty"});
        },
        [](convert::ImportReport& r) {
            r.badDates.push_back({"kerg.dbf", 1, "D_P_ZAK", "x"});
        },
        [](convert::ImportReport& r) { r.parcelsWithoutPrecinct["003000101"] = 1; },
        [](convert::ImportReport& r) { r.parcelsBadPrecinct = 1; },
        [](convert::ImportReport& r) { r.assortmentsStopped = 1; },
        [](convert::ImportReport& r) { r.parcelsStopped = 1; },
    };
    for (std::size_t i = 0; i < problems.size(); ++i) {
        convert::ImportReport with = report;
        problems[i](with);
        EXPECT_TRUE(with.HasProblems()) << i;
    }
}

TEST(ImportReport, OnlyReportNamesAreLeftOutOfComparisons)
{
    EXPECT_TRUE(convert::IsReportFileName("kerg-import-20261207-153012.txt"));
    EXPECT_TRUE(convert::IsReportFileName("kerg-import-20261207-153012-12.txt"));
    EXPECT_FALSE(convert::IsReportFileName("kerg-import-20261207-153012-.txt"));
    EXPECT_FALSE(convert::IsReportFileName("kerg-import-2026127-153012.txt"));
    EXPECT_FALSE(convert::IsReportFileName("kerg-import-20261207-153012.dbf"));
    EXPECT_FALSE(convert::IsReportFileName("Roboty.dbf"));
    EXPECT_EQ(convert::ReportFileName({2027, 1, 2, 3, 4, 5}), "kerg-import-20270102-030405.txt");
}

// A sample office whose archive was damaged in every way the report names: the counts agree with
// the rows the import wrote, and the damaged records are named, each once.
TEST(ImportReport, SampleOfficeCountsAgreeWithTheRowsWritten)
{
    test_support::TempDir dir;
    const std::string archive = dir.File("ARCH") + platform::kSeparator;
    const std::string target = dir.File("CEL") + platform::kSeparator;
    ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {300, 4}));
    damage::SetField(archive + "KERG.DBF", 5, "NR_G", "x");
    damage::SetField(archive + "KERGASOR.DBF", 7, "WIELKOSC", "1.2.3");
    damage::SetField(archive + "DZ.DBF", 3, "M_DZIALKI", "x");
    damage::SetField(archive + "OSOBY.DBF", 2, "O", "?");

    const std::string kerg = tools::TargetDir(target, "KERG");
    const std::string persons = tools::TargetDir(target, "OSOBY");
    const auto before = tools::ReadTargetRows(kerg, "Roboty.dbf");
    const std::size_t personsBefore = tools::ReadTargetRows(persons, "Osoby.dbf").size();
    const std::size_t parcelsBefore = tools::ReadTargetRows(kerg, "dz.dbf").size();
    const std::size_t assortmentsBefore = tools::ReadTargetRows(kerg, "Asortym.dbf").size();

    office::ScriptedUi ui;
    ui.archiveText = archive;
    ui.targetText = target;
    convert::ImportRun run(ui, dir.File("brak.gm"), [] { return convert::Date{2026, 12, 6}; });
    run.BitBtn1Click();
    ASSERT_TRUE(ui.closed);
    const convert::ImportReport& r = run.Report();

    const auto after = tools::ReadTargetRows(kerg, "Roboty.dbf");
    std::int64_t completed = 0, already = 0;
    for (std::size_t i = 0; i < after.size(); ++i) {
        already += before[i].at("WYKON").empty() ? 0 : 1;
        completed += before[i].at("W_TOKU") != "0" && after[i].at("W_TOKU") == "0" ? 1 : 0;
    }
    EXPECT_EQ(r.works, static_cast<std::int64_t>(after.size()));
    EXPECT_EQ(r.completed, completed);
    EXPECT_EQ(r.alreadyCompleted, already);
    EXPECT_EQ(r.works, r.completed + r.alreadyCompleted + r.notInArchive + r.notInRegister + r.damaged);
    EXPECT_GT(r.notInArchive, 0);
    EXPECT_GT(r.notInRegister, 0);
    // Each work left for want of its archive work is named by its row, which the run left alone.
    ASSERT_EQ(static_cast<std::int64_t>(r.worksLeft.size()), r.notInArchive + r.notInRegister);
    for (const convert::SkippedRecord& left : r.worksLeft) {
        ASSERT_GE(left.record, 1);
        ASSERT_LE(left.record, static_cast<std::int64_t>(after.size()));
        const auto& row = after[static_cast<std::size_t>(left.record - 1)];
        EXPECT_EQ(row, before[static_cast<std::size_t>(left.record - 1)]) << left.what;
        EXPECT_EQ(left.what.rfind("praca " + row.at("ID_ROBOTY") + " (", 0), 0u) << left.what;
    }
    EXPECT_EQ(static_cast<std::int64_t>(r.archiveWorksLeft.size()), r.archiveWorksNotInTarget);
    EXPECT_EQ(r.personsAdded,
              static_cast<std::int64_t>(tools::ReadTargetRows(persons, "Osoby.dbf").size() - personsBefore));
    EXPECT_GT(r.personsFound, 0);
    EXPECT_EQ(r.assortmentLinks,
              static_cast<std::int64_t>(tools::ReadTargetRows(kerg, "Kergasor.dbf").size()));
    EXPECT_EQ(r.assortmentsAdded, static_cast<std::int64_t>(
                                      tools::ReadTargetRows(kerg, "Asortym.dbf").size() - assortmentsBefore));
    EXPECT_EQ(r.parcelLinks, static_cast<std::int64_t>(tools::ReadTargetRows(kerg, "obdg.dbf").size()));
    EXPECT_EQ(r.parcelsAdded,
              static_cast<std::int64_t>(tools::ReadTargetRows(kerg, "dz.dbf").size() - parcelsBefore));
    EXPECT_EQ(r.rasterRanges, static_cast<std::int64_t>(tools::ReadTargetRows(kerg, "zakr_ras.dbf").size()));
    EXPECT_FALSE(r.parcelsWithoutPrecinct.empty());

    std::set<std::string> skipped;
    for (const convert::SkippedRecord& s : r.skipped)
        skipped.insert(s.file + " " + std::to_string(s.record) + " " + s.field);
    // Each damaged record is named once when a completed work reaches it (the sample's works reach
    // all four).
    EXPECT_EQ(skipped, (std::set<std::string>{"kerg.dbf 5 NR_G", "kergasor.dbf 7 WIELKOSC",
                                              "dz.dbf 3 M_DZIALKI", "osoby.dbf 2 O"}));
    EXPECT_EQ(r.damaged, 1);
}

// The works a run left for want of their archive work, and the archive's works that no target
// work took, are named so that the office can find them: by segment (none for "#"), number, year,
// item and other name (Polish letters from either code page), or by record alone when the archive's
// record no longer reads.
TEST(ImportReport, NamesTheWorksLeftAndTheArchiveWorksNoTargetWorkTook)
{
    Office o;
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    o.archive.AddWork({"KM", 2, 2001, 3,
                       "\x9D\xA5"
                       "ka",
                       true, 1});                       // "Łąka" in 852; no target work
    o.archive.AddWork({"KM", 3, 2002, 4, "", true, 1}); // its number damaged below
    o.archive.AddWork({"O", 4, 2003, 5, "", false, 1}); // not in the register: not counted
    o.archive.AddKerg(Kerg(1, 0, 0));
    o.WriteArchive();
    damage::SetField(o.archiveDir + "ROBOTY.DBF", 3, "NR_PORZ", "x");
    o.CreateTarget();
    TargetWork(o, "00000001", 1);
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf",
                           {{"ID_ROBOTY", "0000001F"},
                            {"JEDN_SEG", "#"},
                            {"NR_PORZ", "77"},
                            {"ROK", "1998"},
                            {"LP", "12"},
                            {"INNA_NAZWA", "Pole \xA3\xB9ki"}}); // "Pole Łąki" in 1250
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const convert::ImportReport& r = o.run->Report();
    ASSERT_EQ(r.worksLeft.size(), 1u);
    EXPECT_EQ(r.worksLeft[0].file, "Roboty.dbf");
    EXPECT_EQ(r.worksLeft[0].record, 2);
    EXPECT_EQ(r.worksLeft[0].what,
              "praca 0000001F (77/1998, lp. 12, \u201EPole Łąki\u201D): brak jej w archiwum");
    ASSERT_EQ(r.archiveWorksLeft.size(), 2u);
    EXPECT_EQ(r.archiveWorksLeft[0].file, "roboty.dbf");
    EXPECT_EQ(r.archiveWorksLeft[0].record, 2);
    EXPECT_EQ(r.archiveWorksLeft[0].what, "praca KM 2/2001, lp. 3, \u201EŁąka\u201D");
    EXPECT_EQ(r.archiveWorksLeft[1].record, 3);
    EXPECT_EQ(r.archiveWorksLeft[1].what, "rekordu nie można odczytać");
    // The message carries them too, as the report file does.
    EXPECT_NE(o.ui.messages.back().details.find("Prace rejestru KERG w archiwum, których nie ma w bazie "
                                                "docelowej: 2\n  roboty.dbf, rekord 2: praca KM 2/2001"),
              std::string::npos)
        << o.ui.messages.back().details;
}

// A commune number that the target's NR_G cannot hold (here 1003 into a C(3) field) would be cut
// to another commune's number: its works are left uncompleted and named, the others completed.
TEST(ImportReport, ACommuneNumberWiderThanTheTargetsFieldLeavesItsWorksUncompleted)
{
    test_support::TempDir dir;
    const std::string archive = dir.File("ARCH") + platform::kSeparator;
    const std::string target = dir.File("CEL") + platform::kSeparator;
    ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {120, 3}));
    const std::string kerg = tools::TargetDir(target, "KERG");
    // The works table again, with a commune field of three characters.
    const auto rows = tools::ReadTargetRows(kerg, "Roboty.dbf");
    std::vector<engine::FieldDefinition> layout;
    {
        engine::Table works(kerg, "Roboty.dbf");
        works.Open();
        for (std::size_t i = 0; i < works.FieldCount(); ++i) {
            const engine::Field f = works.FieldAt(i);
            layout.push_back(
                {f.Name(), f.Type(), f.Name() == "NR_G" ? std::size_t{3} : f.Width(), f.Decimals()});
        }
    }
    engine::CreateTable(kerg, "Roboty.dbf", layout, {}, 0x23);
    for (const auto& row : rows)
        tools::AppendTargetRow(kerg, "Roboty.dbf", row);
    const std::string renumbering = dir.File("przenumerowanie.gm");
    ASSERT_TRUE(writers::WriteFile(renumbering, "3|1003\r\n5|7\r\n"));

    office::ScriptedUi ui;
    ui.archiveText = archive;
    ui.targetText = target;
    ui.commune = true;
    convert::ImportRun run(ui, renumbering, [] { return convert::Date{2026, 12, 6}; });
    run.BitBtn1Click();
    ASSERT_TRUE(ui.closed);
    const convert::ImportReport& r = run.Report();

    // Every work the report names is left as it was; no work got a cut number.
    std::set<std::string> named;
    for (const convert::SkippedRecord& k : r.communesTooWide) {
        EXPECT_EQ(k.file, "kerg.dbf");
        EXPECT_EQ(k.field, "NR_G");
        EXPECT_NE(k.what.find("\u201E1003\u201D"), std::string::npos) << k.what;
        const std::size_t at = k.what.find("praca ");
        ASSERT_NE(at, std::string::npos) << k.what;
        named.insert(k.what.substr(at + 6, 8));
    }
    ASSERT_FALSE(named.empty());
    const auto after = tools::ReadTargetRows(kerg, "Roboty.dbf");
    ASSERT_EQ(after.size(), rows.size());
    std::int64_t completed = 0;
    std::set<std::string> communes;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (named.count(after[i].at("ID_ROBOTY")) > 0) {
            EXPECT_EQ(after[i], rows[i]);
            continue;
        }
        if (rows[i].at("WYKON").empty() && after[i].at("W_TOKU") == "0") {
            ++completed;
            communes.insert(after[i].at("NR_G"));
        }
    }
    EXPECT_EQ(r.completed, completed);
    EXPECT_GT(completed, 0);
    EXPECT_EQ(communes.count("100"), 0u);
    EXPECT_EQ(communes.count("003"), 0u);
    EXPECT_EQ(r.works, r.completed + r.alreadyCompleted + r.notInArchive + r.notInRegister + r.damaged +
                           static_cast<std::int64_t>(r.communesTooWide.size()));
    EXPECT_TRUE(r.HasProblems());
    const std::string summary = convert::ReportSummary(r);
    EXPECT_NE(summary.find("pozostawione, bo numer gminy nie mieści się w polu NR_G: " +
                           std::to_string(r.communesTooWide.size())),
              std::string::npos)
        << summary;
}

} // namespace
