// The report of an import kept beside its progress table while the import runs, so that the run
// which finishes an interrupted import can report the whole import, not only its own part.
//
// At each commit the run appends to the log what its report gained since the last commit; the
// log's rows take part in the same transaction as the works, so that the log always tells what
// the committed works did, whatever instant the run ends at. Each line of the log is one fact:
//   C|n|n|...           every count (the last such line holds)
//   P|precinct|count    parcels left out for want of that precinct (the last line of it holds)
//   R|old|new|count     works of a renumbered commune (likewise)
//   S|file|record|field|what, and D, W, L the same way: an entry of the skipped records, the
//                       dates that are no dates, the communes too wide and the works left, in
//                       their order
//   O|n,n,...           archive persons the report counted, found or added
//   E|text              the last precinct problem told at the walk's end
// Fields are ASCII: a space stands as '_'; any other byte outside '!'..'~', and '%', '|' and '_',
// as %XX.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/import_report.h"

namespace engine {
class Table;
}

namespace convert {

// The log's name beside the progress table.
inline constexpr const char* kReportLogFileName = "kerg-import.rap";

// The lines that bring a log which adds up to `committed` to `now` (the counts always; of the
// rest what changed or came after).
std::vector<std::string> ReportLogLines(const ImportReport& now, const ImportReport& committed);

// The report that `lines` add up to, from an empty one; nullopt when a line is not one this
// program writes (a log of another version, or damaged).
std::optional<ImportReport> ReplayReportLog(const std::vector<std::string>& lines);

// Makes an empty log table `name` in `directory`.
void CreateReportLog(const std::string& directory, const std::string& name);

// Appends `lines` to the open log table, a row per 160 characters.
void AppendReportLog(engine::Table& table, const std::vector<std::string>& lines);

// The lines of the open log table. Throws std::runtime_error when the table is not such a log.
std::vector<std::string> ReadReportLog(engine::Table& table);

// The report of the interrupted import whose log `directory` (the target's BAZA) holds, as its last
// commit left it; nullopt when there is no log, or it does not read.
std::optional<ImportReport> InterruptedImportReport(const std::string& directory);

} // namespace convert
