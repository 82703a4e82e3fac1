// The target database of the Windows records system as the import finds it: the tables under
// BAZA/KERG, BAZA/OSOBY and BAZA/ADMIN with their layouts, code pages and index tags. Used by the
// sample office and the tests (the import itself never creates tables).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tools {

struct CounterStart
{
    std::int32_t persons = 1;
    std::int32_t assortments = 1;
    std::int32_t parcels = 1;
};

// Which tables get tags beyond the records system's own, as an office's own staff might have made
// them: a conditional one and one over an expression of DTOS, STR, IIF and the like.
enum class ExtraTags
{
    None,    // the records system's tags alone
    Indexed, // two more on every table that already has an index
    All,     // two more on every table (tables that had no index get one)
};

// Creates every table of the target, empty but for the counters table's rows, replacing tables
// already there; the indexes in blocks of `indexPagesPerBlock` pages of 512 bytes (2 to 63). Throws
// engine::Error when a table cannot be written.
void CreateTargetDatabase(const std::string& targetDir, const CounterStart& counters = {},
                          ExtraTags extra = ExtraTags::None, std::size_t indexPagesPerBlock = 2);

// The directory of a target table: targetDir (ending with a separator) + "BAZA" + sub.
std::string TargetDir(const std::string& targetDir, const std::string& sub);

// Appends one row through the table engine: field name -> value (code page 1250 text).
void AppendTargetRow(const std::string& directory, const std::string& table,
                     const std::map<std::string, std::string>& values);

// Every row of a table in physical order, each field read as text (code page 1250).
std::vector<std::map<std::string, std::string>> ReadTargetRows(const std::string& directory,
                                                               const std::string& table);

} // namespace tools
