// The import run: from the checks of the two directories to the final message. It completes the
// works of the target database from the archive through the archive reader and the table engine,
// and reaches the user only through RunUi.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "convert/import_report.h"
#include "convert/run_ui.h"
#include "engine/transaction.h"
#include "renumber/commune_renumbering.h"

namespace convert {

struct Date
{
    int year = 2000;
    int month = 1;
    int day = 1;
};

// "0001" followed by the date packed as the DOS file system packs it, in four upper-case
// hexadecimal digits: (year - 1980) * 512 + month * 32 + day. 6 December 2026 gives 00015D86.
std::string BuildCreatorStamp(const Date& date);

// The bridge from archive precincts (entry n = record n of the archive's obreb.dbf) to the
// target's precinct ids. Entry 0 is empty and has no value.
class PrecinctList
{
public:
    struct Entry
    {
        std::string text;                 // the archive precinct key (code page 1250)
        std::optional<std::string> value; // the target's id_obr, when the target has the precinct
    };

    PrecinctList() { Clear(); }
    void Clear() { entries_.assign(1, Entry{}); }
    void Add(std::string text) { entries_.push_back({std::move(text), std::nullopt}); }
    // The first entry from 1 on whose text equals `key` without regard to letter case, or -1.
    int Find(const std::string& key) const;
    std::size_t Size() const { return entries_.size(); }
    Entry& At(std::size_t i) { return entries_.at(i); }
    const Entry& At(std::size_t i) const { return entries_.at(i); }

private:
    std::vector<Entry> entries_;
};

// State that lives across one run (and the counters across runs of the same program).
struct RunState
{
    std::string ArchiveDir;      // ends with the directory separator (UTF-8)
    std::string ImportErrorText; // empty = no error so far (UTF-8)
    std::int32_t PersonCounter = 0;
    std::int32_t AssortmentCounter = 0;
    std::int32_t ParcelCounter = 0;
    std::string CreatorStamp; // the creator id of the rows the run adds
    PrecinctList Precincts;
};

// What the steps of a run share.
struct RunContext
{
    RunUi& ui;
    archive::Reader& reader;
    RunState& state;
    renumber::CommuneRenumbering& renumbering;
    ImportReport& report; // what the run did, counted as it goes
    // The transaction the target tables join (none: every post reaches the files at once).
    engine::Transaction* transaction = nullptr;
    // Called after each completed work (false) and after the last (true): the points where the
    // run may commit, since the target then holds whole works only.
    std::function<void(bool last)> workDone;
    // Rows 1 to resumeAfter of the works table were walked by an earlier import that was
    // interrupted, and what it did with them is committed: the walk does not complete them again
    // (a work completed without a contractor would look uncompleted still).
    std::int64_t resumeAfter = 0;
    // The row of the works table the walk is at (1-based), for the commit points.
    std::int64_t walked = 0;
    // The rows of the target tables the walk changes (kProgressTables), as its transaction sees
    // them: set by the conversion while its tables are open, for the commit points.
    std::function<std::vector<std::int64_t>()> targetRows;
    // The same as the interrupted import's last commit left them: a run that finds other numbers
    // cannot tell what that import did (the target was put back from a copy, or worked on).
    std::vector<std::int64_t> resumeRows;
    // Called before the walk once nothing stops the run from going on (and a target the run is to
    // finish an interrupted import on is found to be what that import left): only then is the
    // user told what this run does about an interrupted import.
    std::function<void()> resumeConfirmed;
};

// Works per commit unless set otherwise (CommitSettings). Measured by BM_ImportBatchSize on the
// 100,000-work sample office: 20000 writes a third less than 10000 with two tags more on every
// table (the index blocks and their former bytes go out once per commit), and is faster; larger
// batches gain little more and need more memory.
inline constexpr int kWorksPerCommit = 20000;

// How the run commits its transactions.
struct CommitSettings
{
    // Without transactions every post goes straight to the files; only for comparisons in the
    // benchmarks: an import killed then leaves ids twice and rows doubled.
    bool transactions = true;
    // A commit after this many completed works, or after this long, whichever comes first: the
    // second bounds what an interruption takes back. An index block that many works change is
    // written (and its former bytes journaled) once a commit rather than in each smaller one, so
    // larger batches write fewer bytes, which a shared folder carries over the network: against
    // 5000, 10000 writes 109 MB instead of 131 for the import of 100,000 works (184 → 139 MB with
    // two more tags on each indexed table) and is 5-8 % faster, for about 20 MB more peak memory;
    // the changes waiting at a commit stay at 8-10 MB (20 MB with two more tags on every table),
    // far below memoryLimit (bench/import_bench, "BM_ImportBatchSize").
    int worksPerCommit = kWorksPerCommit;
    std::chrono::milliseconds interval{1000};
    // Changes kept in memory before they are written ahead of the commit (journal first).
    std::size_t memoryLimit = std::size_t{64} << 20;
    // Called after each commit of a batch of works, while the run holds no update lock of a
    // table it writes (the counters table stays held): a test may let another program look at
    // the target there.
    std::function<void()> afterCommit;
};

// The messages of the run, exactly as the office knows them.
namespace messages {
inline constexpr const char* kNoTargetDatabase = "We wskazanej kartotece brak danych systemu MERKAT WINDOWS.";
inline constexpr const char* kRenumberingFileFaulty = "Błąd w pliku z przenumerowaniem gmin";
inline constexpr const char* kRenumberingFaultyLine = "Plik ";
inline constexpr const char* kRenumberingFaultyLineTail =
    "Każdy wiersz z kreską musi mieć po obu jej stronach liczbę od 0 do 9999. Popraw ten wiersz albo "
    "go usuń w oknie \u201EPrzenumerowanie numerów statystycznych gmin\u201D (opcja \u201EKonwersja "
    "numerów gmin\u201D) albo w edytorze tekstu; plik bez przenumerowań można też po prostu usunąć.";
inline constexpr const char* kBackupQuestion =
    "Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)";
inline constexpr const char* kBackupNeeded = "Przed wykonaniem importu należy utworzyć kopię danych";
inline constexpr const char* kCountersLocked =
    "Nie można otworzyć danych w trybie wyłączności. Prawdopodobnie ktoś pracuje w systemie MERKAT";
// Under a message that says nothing was written, when the run withdrew an interrupted import's
// unfinished changes before it stopped.
inline constexpr const char* kOnlyWithdrawn =
    "Wycofano tylko niedokończone zmiany przerwanego wcześniej importu, jak mówił poprzedni komunikat.";
inline constexpr const char* kCountersUnreadable =
    "Nie można otworzyć ani odczytać tabeli liczników Dostep.dbf. Import niczego nie zapisał.";
inline constexpr const char* kCounterMissing = "W tabeli liczników Dostep.dbf brak wiersza ";
// Followed by the counter's name and value ("OSOBY ma wartość -3") and the tail.
inline constexpr const char* kCounterOutOfRange = "W tabeli liczników Dostep.dbf licznik ";
inline constexpr const char* kCounterOutOfRangeTail =
    ", spoza zakresu, jaki może mieć licznik (od 0 do 2147483647). Import niczego nie zapisał.";
inline constexpr const char* kRerunAfterError =
    "Usuń przyczynę błędu i uruchom import ponownie: prace zapisane do tej chwili zostaną zachowane, a "
    "import dokończy pozostałe.";
// Shown as soon as the withdrawal is done: the run may still stop before writing (a target to
// mend, other settings), so what it will do is said only once it may go on.
inline constexpr const char* kInterruptedWithdrawn =
    "Poprzedni import został przerwany przed zakończeniem. Jego niedokończone zmiany zostały wycofane z "
    "bazy.";
// When that import had committed no work yet.
inline constexpr const char* kInterruptedRestarted =
    "Przerwany import nie zatwierdził jeszcze żadnej pracy; ten import wykona go od początku.";
inline constexpr const char* kInterruptedResumed =
    "Poprzedni import został przerwany po zatwierdzeniu części prac; ten import dokończy pracę.";
inline constexpr const char* kInterruptedNotWithdrawn =
    "Poprzedni import został przerwany, a jego niedokończonych zmian nie można wycofać:";
inline constexpr const char* kProgressUnreadable =
    "Nie można odczytać pliku, w którym import zapisuje, dokąd doszedł przerwany import:";
inline constexpr const char* kProgressStale =
    "Baza docelowa zmieniła się od przerwania poprzedniego importu, więc nie wiadomo, które prace tamten "
    "import uzupełnił.";
// Followed by the progress file's path and kProgressStaleTail.
inline constexpr const char* kProgressStaleHint =
    "Jeżeli całą bazę (wszystkie jej tabele) odtworzono z kopii sprzed tamtego importu, usuń plik ";
inline constexpr const char* kProgressStaleTail =
    " i uruchom import ponownie. Jeżeli odtworzono tylko niektóre tabele, nie usuwaj jeszcze pliku (import "
    "bez niego uzupełniłby część prac po raz drugi): najpierw odtwórz z tej samej kopii pozostałe tabele.";
// When that import had walked the whole works table: followed by the file's path and the tail.
inline constexpr const char* kProgressEndedHint =
    "Tamten import przejrzał jednak wszystkie prace, więc nie ma czego dokończyć. Usuń plik ";
inline constexpr const char* kProgressEndedTail = ": importu nie trzeba uruchamiać ponownie.";
inline constexpr const char* kSettingsDiffer =
    "Ten import ma dokończyć import przerwany wcześniej, ale tamten działał z innymi ustawieniami:";
inline constexpr const char* kSettingsDifferTail =
    "Ustaw je tak jak wtedy i uruchom import ponownie: dokończony z innymi ustawieniami dałby bazę, której "
    "nie daje żaden import.";
inline constexpr const char* kOptionRenumbering = "Konwersja numerów gmin";
inline constexpr const char* kOptionAssortments = "Uzupełnij asortymenty robót";
inline constexpr const char* kOptionParcels = "Uzupełnij zakresy działkowe";
inline constexpr const char* kOptionRasters = "Uzupełnij zakresy rastrowe";
inline constexpr const char* kArchiveSettingHead = "Kartoteka z danymi wejściowymi: ";
inline constexpr const char* kArchiveSettingUnchanged = ", z tabelami niezmienionymi od tamtego importu";
inline constexpr const char* kRenumberingSettingTail = ", z tą samą tabelą konwersji numerów gmin";
inline constexpr const char* kRenumberingChanged = "Tabela konwersji numerów gmin jest inna niż wtedy.";
inline constexpr const char* kArchiveChanged = "Kartoteka z danymi wejściowymi była wtedy inna: ";
// Followed by kArchiveTableChanged or kArchiveTablesChanged, the changed tables' names, ")." and the
// tail.
inline constexpr const char* kArchiveContentsChanged =
    "Dane w kartotece z danymi wejściowymi zmieniły się od tamtego importu (";
inline constexpr const char* kArchiveTableChanged = "zmieniona tabela: ";
inline constexpr const char* kArchiveTablesChanged = "zmienione tabele: ";
inline constexpr const char* kArchiveContentsChangedTail =
    "Dokończenie importu z innych danych niż te, od których się zaczął, dałoby w bazie mieszaninę obu "
    "kartotek: przywróć kartotekę taką, jaka była wtedy.";
inline constexpr const char* kProgressNotRemoved = "Nie można usunąć pliku ";
inline constexpr const char* kProgressNotRemovedTail =
    ", w którym import zapisuje, dokąd doszedł. Usuń go przed następnym importem: dopóki jest, "
    "następny import uzna się za dokończenie tego i pominie prace, które ten przejrzał.";
inline constexpr const char* kTargetNeedsMending =
    "Baza docelowa wymaga naprawy. Import niczego w niej nie zapisał.";
inline constexpr const char* kIndexMendingHint =
    "Odbuduj indeksy wymienionych tabel (na przykład poleceniem \u201Ekerg-inspect reindex\u201D) i "
    "uruchom import ponownie. Dopóki indeks jest uszkodzony, nowy wiersz mógłby zostać zapisany na "
    "miejscu istniejącego albo nie zostać znaleziony.";
// When an index cannot even be opened, its tags cannot be rebuilt from it either.
inline constexpr const char* kIndexUnreadableHint =
    "Indeksu, którego nie da się otworzyć, nie da się też odbudować: odtwórz jego plik z kopii zapasowej "
    "bazy, odbuduj indeksy wymienionych tabel (na przykład poleceniem \u201Ekerg-inspect reindex\u201D) i "
    "uruchom import ponownie.";
// A tag the import finds persons, assortments or parcels by that does not hold every row under a
// key of the searched fields.
inline constexpr const char* kSearchedTagHint =
    "Import wyszukuje po tym znaczniku osoby, asortymenty i działki, które już są w bazie. Znacznik, który "
    "nie zawiera każdego wiersza albo którego klucz zależy od innych pól, nie pozwoliłby następnemu "
    "importowi znaleźć wierszy dopisanych przez ten, więc dopisałby je drugi raz. Przywróć zwykłą "
    "definicję znacznika (UPP_KLUCZ: UPPER(KLUCZ), UPP_ASORT: UPPER(ASORT), UPP_NAZ_A: UPPER(NAZWA_A), "
    "OBR_DZ_ARK: ID_OBR+DZIALKA+NR_ARKUSZA; bez UNIQUE i bez warunku FOR innego niż .NOT. DELETED()) "
    "i uruchom import ponownie.";
inline constexpr const char* kCounterMendingHint =
    "Sprawdź, czy tabela liczników Dostep.dbf pochodzi z tej samej kopii bazy co pozostałe tabele "
    "(na przykład czy nie odtworzono jej osobno z kopii zapasowej), i popraw licznik, zanim "
    "ktokolwiek dopisze dane: nowe wiersze dostałyby identyfikatory już używane.";
inline constexpr const char* kDone = "Import został zakończony.";
inline constexpr const char* kFailedHead = "Wystąpił błąd podczas importu:";
inline constexpr const char* kFailedTail =
    "W karotece wynikowej znajdują się tylko częściowo skonwertowane dane.";
inline constexpr const char* kOpenFailed = "Błąd podczas otwarcia pliku: ";
inline constexpr const char* kReadFailed = "Błąd podczas odczytu pliku: ";
inline constexpr const char* kPrecinctsStopped = "Błąd podczas łączenia obrębów";
inline constexpr const char* kPrecinctMissingHead = "W aktualnej bazie występuje obręb: ";
inline constexpr const char* kPrecinctMissingTail = " ,którego brak w archiwum";
inline constexpr const char* kContinueQuestion = "Kontynuować konwersję ?";
inline constexpr const char* kPrecinctNumberError = "Wystąpił błąd podczas ustalania numeru obrębu.";
inline constexpr const char* kBadPrecinctNumber = "Niewłaściwy numer obrębu";
inline constexpr const char* kNoPrecinct = "Brak obrębu: ";
inline constexpr const char* kCaptionInfo = "Komunikat";
inline constexpr const char* kCaptionNoDatabase = "komunikat";
inline constexpr const char* kCaptionQuestion = "Pytanie";
inline constexpr const char* kCaptionError = "Błąd";
inline constexpr const char* kCaptionConversionError = "Błąd konwersji";
} // namespace messages

// The directory joined with a name and the separator: `dir` ends with a separator already.
std::string TargetSubdirectory(const std::string& targetDir, const std::string& name);

// What keeps the tags the import finds rows by from finding every row it may look for, in plain
// words, one line a problem: UPP_KLUCZ of Osoby.dbf always, UPP_ASORT and UPP_NAZ_A of
// Asortym.dbf with `assortments`, OBR_DZ_ARK of dz.dbf with `parcels`. Each must hold every row
// that is not deleted, under a key of the fields the import searches by alone; otherwise the rows
// one import added would be hidden from the next, which would add them a second time.
std::vector<std::string> SearchedTagProblems(const std::string& targetDir, bool assortments, bool parcels);

// True when the target's works table (BAZA/KERG/Roboty.dbf) opens through the table engine, or
// when BAZA holds the journal of an interrupted import (its tables may be half written until the
// import withdraws the journal's changes). When it does not open, `why` (if given) takes the
// engine's reason.
bool TargetDatabaseExists(const std::string& targetDir, std::string* why = nullptr);

// The directory of the target's journal: targetDir + "BAZA".
std::string JournalDirectory(const std::string& targetDir);

// The import's own table beside the journal that says how far an unfinished import got: one row
// whose field WIERSZ names the last row of the works table that the committed part of the import
// walked (0: no import is unfinished). It changes in the import's transaction, together with the
// works it covers; the file is made at the first commit of completed works. When the walk has
// ended, its last commit leaves the last row there, and the file is removed after the final
// message: an import ended before that is still finished by the next run, not done again.
inline constexpr const char* kProgressFileName = "kerg-import.pos";

// The tables whose rows the progress table counts, each in a field named as the table (upper
// case, no extension): a run resumes only where they hold what the interrupted import left.
inline constexpr const char* kProgressTables[] = {"Roboty.dbf", "Kergasor.dbf", "obdg.dbf", "zakr_ras.dbf",
                                                  "dz.dbf",     "Asortym.dbf",  "Osoby.dbf"};

// The progress table's field beside the rows: how many of the works table's rows up to the one it
// names have a contractor. The works table keeps its row count through an import; this number
// tells a copy of it put back from before the import.
inline constexpr const char* kCompletedField = "WYKONANE";

// The last row of the works table that an unfinished import of the target walked and committed
// (nothing: no import is unfinished). Throws engine::Error when its progress table cannot be read.
std::optional<std::int64_t> InterruptedImportRow(const std::string& targetDir);

// The settings a run needs to finish the interrupted import InterruptedImportRow names, one line
// each for the user (the archive directory, then the four options); none when no import is
// unfinished or its progress table keeps no settings. Throws engine::Error when the table cannot
// be read.
std::vector<std::string> InterruptedImportSettings(const std::string& targetDir);

// Builds the precinct list from the archive's and the target's precinct tables; may ask the user
// and set ImportErrorText.
void ReconcilePrecincts(RunContext& context, const std::string& targetDir);

// A rerun that would finish an interrupted import in a target changed since: refused before the
// walk changes anything, with a message that says what to do instead of running the import again.
struct ResumeRefused : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

class ImportRun
{
public:
    // `renumberingFile` is the commune renumbering file beside the program; `today` gives the
    // date of the creator stamp.
    ImportRun(RunUi& ui, std::string renumberingFile, std::function<Date()> today);
    ~ImportRun();
    ImportRun(const ImportRun&) = delete;
    ImportRun& operator=(const ImportRun&) = delete;

    // The whole run, as started by "Importuj". Never throws.
    void BitBtn1Click();

    RunState& State() { return state_; }
    // What the last run did (as far as it reached the target), and the file it was written to
    // (empty when none was written).
    const ImportReport& Report() const { return report_; }
    const std::string& ReportPath() const { return reportPath_; }
    // The clock of the report's name and heading (the local time by default).
    void SetClock(std::function<DateTime()> clock) { clock_ = std::move(clock); }
    CommitSettings& Commits() { return commits_; }
    archive::Reader& Reader() { return reader_; }
    renumber::CommuneRenumbering& Renumbering() { return renumbering_; }

private:
    void Locked(const std::string& targetDir);
    // Gives the engine's reason in `why` when it fails.
    bool OpenCounters(const std::string& targetDir, std::string& why, bool& locked);
    bool WithdrawInterrupted(const std::string& targetDir);
    // False when a counter the options draw from is missing (named in `missing`), out of the
    // counters' range (its name and value in `outOfRange`), or the table cannot be read (`why`, the
    // engine's reason).
    bool ReadCounters(std::string& missing, std::string& outOfRange, std::string& why);
    // Before anything is written: the indexes of the tables the run writes hold sound trees and
    // record numbers, and each counter the run draws ids from lies above the ids in use. False,
    // with the problems told, when the target must be mended first.
    bool TargetIsSound(const std::string& targetDir);
    // Puts the three counters into their rows of the counters table.
    void StoreCounters();
    void CommitPoint(bool last, const RunContext& context);
    // The progress table: opened when an earlier import left one (setting resumeAfter_), written
    // at each commit, closed at the end of the run (and marked for removal once it names no row,
    // or once the walk it covers has ended).
    void OpenProgress(const std::string& targetDir);
    // Throws SettingsDiffer, naming each difference, when the interrupted import the open progress
    // table covers (walked up to `resumeRow`) ran with other options, renumbering or archive; else
    // takes its creator stamp.
    void ResumeWithTheSameSettings(engine::Table& table, std::int64_t resumeRow);
    struct SettingsDiffer : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };
    void StoreProgress(std::int64_t row, const std::vector<std::int64_t>& rows);
    // The report log beside the progress table (report_log.h): opened with it, when the
    // interrupted import's report is taken over from it (row > 0), and appended to at each commit.
    void OpenReportLog(std::int64_t row);
    void StoreReportLog();
    void CloseProgress(bool committed);
    // Withdraws what the open transaction holds after an error; returns words to add to the
    // error when that fails.
    std::string RollBackAfterError();
    // Commits the transaction; a commit that fails is noted, since its message tells the outcome.
    void CommitBatch();
    // Writes the report of the run beside BAZA and returns its summary for the final message:
    // the file's path (or why it could not be written) and the counts.
    std::string FinishReport(const std::string& archiveDir, const std::string& targetDir,
                             const std::string& outcome);

    RunUi& ui_;
    std::string renumberingFile_;
    std::function<Date()> today_;
    archive::Reader reader_;
    RunState state_;
    renumber::CommuneRenumbering renumbering_;
    CommitSettings commits_;
    struct CountersTable;
    std::unique_ptr<CountersTable> counters_;
    struct ProgressTable;
    std::unique_ptr<ProgressTable> progress_;
    std::int64_t resumeAfter_ = 0;
    std::vector<std::int64_t> resumeRows_;
    bool commitFailed_ = false;           // a commit of this run failed (its message says what became of it)
    bool batchWithdrawn_ = false;         // after an error, the batch under way was withdrawn here
    bool withdrawnTold_ = false;          // the run withdrew an interrupted import's changes and said so
    const char* goingOnToTell_ = nullptr; // what a run after an interrupted import does, told once it may
    std::string progressToRemove_;        // the progress table's file, to remove after the final message
    std::string reportLogToRemove_;       // and the report log's, after it
    std::unique_ptr<engine::Transaction> transaction_;
    ImportReport report_;
    ImportReport committedReport_; // the report as the last commit left the target
    std::string reportPath_;
    std::function<DateTime()> clock_ = Now;
    int worksInBatch_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
};

} // namespace convert
