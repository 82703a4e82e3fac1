// The KERG conversion: completes the target's works that lack a contractor from the archive's
// register, with their persons and, by option, assortments, parcels and raster ranges.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include "convert/import_run.h"

namespace engine {
class Field;
}

namespace convert {

// The hexadecimal digits of the ids the counters give (zeros in front up to that many).
inline constexpr int kPersonIdDigits = 8;
inline constexpr int kAssortmentIdDigits = 4;
inline constexpr int kParcelIdDigits = 8;

// Opens ArchiveDir + `fileName` into a work area with a 32,000-byte read buffer. On failure sets
// ImportErrorText (when `report`) to "Błąd podczas otwarcia pliku: " and the path.
bool OpenArchiveTable(RunContext& context, const std::string& fileName, std::uint8_t& area, bool report);

// Opens ArchiveDir + `fileName` as an index. Any failure to open is reported like a table's, and
// so is an index the import cannot search (ArchiveIndexProblem), with the reason after the path.
bool OpenArchiveIndex(RunContext& context, const std::string& fileName, archive::IndexHandle& handle,
                      bool report);

// The records of an archive table that its file holds whole: a damaged header, or a file cut
// short, may claim more, which lie past the file's end and cannot be read.
std::int32_t ArchiveRecordsInFile(const archive::WorkArea& table);

// Why the open index `handle` cannot serve the import as its `fileName` (lower case): a key size
// other than its keys', a descending order, a FOR condition that leaves records out, or, where a
// work has many entries of one key, a unique index that keeps only the first. Empty when it can.
std::string ArchiveIndexProblem(const std::string& fileName, const archive::IndexHandle& handle);

// One field binding of an archive table. `read`: whether the import reads the field; one it
// only binds may be missing from the table.
struct ArchiveBinding
{
    const char* name;
    std::function<void()> bind;
    bool read = true;
};

// Calls each binding in order; at the first whose field the table lacks and the import reads, sets
// ImportErrorText to the open-failure message for `path` naming the field, and returns false (its
// variable would otherwise keep a value of no record).
bool BindArchiveFields(RunContext& context, const std::string& path,
                       std::initializer_list<ArchiveBinding> bindings);

// The whole conversion. False when an archive file failed to open (ImportErrorText says which);
// errors of the table engine are thrown.
bool ConvertKerg(RunContext& context, const std::string& targetDir);

// The key of a works row in the archive's roboty.ntx (code page 852): JEDN_SEG ("#" counts as
// empty) filled on the left to 4, NR_PORZ in 4, ROK in 4, LP in 3, then INNA_NAZWA recoded from
// code page 1250; cut to 50 characters after every step.
std::string WorksKey(const std::string& jednSeg, std::int32_t nrPorz, std::int32_t rok, std::int32_t lp,
                     const std::string& innaNazwa);

// Writes an archive date (eight digits: year, month, day) into a date field; an empty text leaves
// the field unchanged, and a text that is no valid date stores 1900-01-01. False when it did that.
bool ArchiveDateToField(const std::string& archiveDate, engine::Field& field);

// The progress bar: one step per works row.
class Progress
{
public:
    explicit Progress(RunUi& ui) : ui_(ui) {}
    void Start(std::int64_t rows);
    void Step();

private:
    RunUi& ui_;
    std::int64_t counter_ = 0;
    int last_ = 0;
    double scale_ = 1.0;
    int position_ = 0;
};

// The raster grid: 40 rows of 30 cells, cell (r, p) at 30 * r + p; 0 = not covered.
using RasterGrid = std::array<std::uint8_t, 1200>;

// Each of the mask's six bytes is a column band, each of its bits a row band: a set bit covers a
// block of 5 x 5 cells. A mask shorter than six bytes is filled with spaces.
RasterGrid ExpandRasterBits(std::string_view mask);

// Packs the grid column by column, six cells a character from "!" up; trailing empty groups are
// dropped (an empty grid gives the empty text).
std::string PackRaster(const RasterGrid& grid);

// PackRaster(ExpandRasterBits(mask)) without the grid.
std::string PackRasterBits(std::string_view mask);

} // namespace convert
