// What an import did, counted as it goes: the works it completed and why others were left, the
// persons, assortments, parcels and raster ranges it found or added, the parcels it left out, the
// communes it renumbered, and every archive record it skipped as damaged. The run shows the summary
// under its final message and writes the whole report beside the target's BAZA.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace convert {

// A moment in local time, for the report's name and heading.
struct DateTime
{
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// An archive record the import could not use, and what it did instead.
struct SkippedRecord
{
    std::string file;        // the archive file, as named in the archive directory ("kerg.dbf")
    std::int64_t record = 0; // 1-based record number
    std::string field;       // the field whose value could not be read; empty: the whole record
    std::string what;        // what happened instead, in Polish (UTF-8)
};

struct ImportReport
{
    // The target's works.
    std::int64_t works = 0;            // rows of Roboty.dbf walked
    std::int64_t alreadyCompleted = 0; // with a contractor before the run: not touched
    std::int64_t completed = 0;
    std::int64_t notInArchive = 0;  // no work of that key in the archive's roboty.ntx
    std::int64_t notInRegister = 0; // the archive's work is not in the KERG register (jestwkergu, kerg.ntx)
    std::int64_t damaged = 0;       // left uncompleted: an archive record of the work is damaged
    // A run that finishes an interrupted import: the rows (1 to resumedAfter) that import walked
    // and committed, and of them those without a contractor, which are not completed again.
    std::int64_t resumedAfter = 0;
    std::int64_t walkedByInterrupted = 0;

    // The archive's works of the KERG register that no target work took (-1: not counted).
    std::int64_t archiveWorks = -1;
    std::int64_t archiveWorksNotInTarget = -1;

    // Persons named by the completed works (each archive person counted once).
    std::int64_t personsFound = 0;
    std::int64_t personsAdded = 0;
    std::int64_t personsMissing = 0; // a person number naming no archive record (0 included)

    // The counters' values when the run began (-1: not read): the ids it gave are the next
    // personsAdded (assortmentsAdded, parcelsAdded) values from there, one after another.
    std::int64_t firstPersonId = -1, firstAssortmentId = -1, firstParcelId = -1;

    // Rows added.
    std::int64_t assortmentsAdded = 0; // Asortym.dbf (the dictionary)
    std::int64_t assortmentLinks = 0;  // Kergasor.dbf
    std::int64_t parcelsAdded = 0;     // dz.dbf
    std::int64_t parcelLinks = 0;      // obdg.dbf
    std::int64_t rasterRanges = 0;     // zakr_ras.dbf
    // Rows of those three a work completed again already had, from an earlier import that completed it
    // without a contractor: not added a second time.
    std::int64_t assortmentLinksKept = 0, parcelLinksKept = 0, rasterRangesKept = 0;
    std::int64_t assortmentsStopped = 0; // walks ended at an assortment number naming no record
    std::int64_t parcelsStopped = 0;     // walks ended at a parcel number naming no record

    // Parcels left out: precinct text (UTF-8; empty for precinct number 0) -> parcels.
    std::map<std::string, std::int64_t> parcelsWithoutPrecinct;
    std::int64_t parcelsBadPrecinct = 0; // a precinct number beyond the archive's precincts

    // Communes renumbered in the works completed: (old, new) -> works.
    std::map<std::pair<int, int>, std::int64_t> renumbered;

    std::vector<SkippedRecord> skipped;
    // Archive dates that are no dates, stored as 1900-01-01 (what holds the text that was read).
    std::vector<SkippedRecord> badDates;
    // Works left uncompleted because their commune number (renumbered or not) is wider than the
    // target's NR_G: one entry per work, naming its kerg record.
    std::vector<SkippedRecord> communesTooWide;
    // Works of the target left uncompleted because the archive has no work of their key, or has
    // it outside the KERG register: one entry per work, naming its row of Roboty.dbf.
    std::vector<SkippedRecord> worksLeft;
    // Works of the archive's KERG register that no target work took: one entry per work, naming
    // its roboty.dbf record (kept only when the run counted them, archiveWorks >= 0).
    std::vector<SkippedRecord> archiveWorksLeft;

    // Archive persons (record numbers) the person counts took, found or added, once each: a run
    // that finishes an interrupted import counts none of them a second time.
    std::vector<std::int32_t> personsCounted;
    // The last precinct problem of the walk, told in a message at its end.
    std::string precinctError;
    // The counts and lists include what the interrupted import this run finishes did (its report
    // was kept with its commits); walkedByInterrupted then stays 0.
    bool includesInterrupted = false;
    // The run ended with an error: it left the target as its last commit did.
    bool failed = false;

    // Records a skipped record once (a person named by several works is reported once).
    void Skip(SkippedRecord record);

    // Something of the archive did not reach the target as it stood there: a damaged record, a
    // work left uncompleted, a line or parcel left out, a date that is no date, a commune number
    // too wide for the target.
    bool HasProblems() const;

private:
    std::set<std::pair<std::string, std::int64_t>> skippedKeys_;
};

// The summary (UTF-8, lines separated by "\n"): the counts, the parcels without precinct, the
// renumbered communes and the skipped records; at most `maxSkipped` of them are listed (the rest
// counted), -1: all.
std::string ReportSummary(const ImportReport& report, int maxSkipped = -1);

// The whole report as written to its file: a heading with the moment, the directories and the
// outcome, then the summary with every skipped record.
std::string ReportText(const ImportReport& report, const DateTime& when, const std::string& archiveDir,
                       const std::string& targetDir, const std::string& outcome);

// The report's file name for a moment: "kerg-import-RRRRMMDD-GGMMSS.txt".
std::string ReportFileName(const DateTime& when);

// Whether a file name is a report's ("kerg-import-RRRRMMDD-GGMMSS.txt", perhaps with "-N" before
// ".txt"): reports carry the moment of their run, so comparisons of offices leave them out.
bool IsReportFileName(std::string_view name);

// Writes `text` as UTF-8 with a byte-order mark into a new file `directory` + the report's name
// (with "-2", "-3"... before ".txt" when a report of the same second is there). Returns the path
// written, or an empty text and the reason in `why` (Polish).
std::string WriteReportFile(const std::string& directory, const DateTime& when, const std::string& text,
                            std::string* why);

// The local time now.
DateTime Now();

} // namespace convert
