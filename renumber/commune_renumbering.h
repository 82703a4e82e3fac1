// The commune renumbering table: old commune numbers of the archive mapped to the new numbers
// of the target, kept in a small text file beside the program ("12|345" lines).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace renumber {

// The new number of every old commune number 0..9999; 0 = not renumbered.
using CommuneRenumberingTable = std::array<std::uint16_t, 10000>;

// One row of the renumbering dialog: the old and the new number as typed (code page 1250).
using RenumberingRow = std::pair<std::string, std::string>;

// The renumbering file is there but cannot be read, or a write failed; what() says in Polish which
// file and what failed ("Nie można zapisać pliku ...: brak miejsca na dysku").
class RenumberingIoError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The renumbering file of a program file: its path with the extension replaced by ".gm"
// (".gm" appended where the file name has no extension).
std::string RenumberingFilePath(const std::string& programFile);

// Parses a whole number written with decimal digits and an optional sign; nothing when the text
// is anything else or the number lies outside 0..9999.
std::optional<int> ParseCommuneNumber(std::string_view text);

class CommuneRenumbering
{
public:
    // `ticked` tells, at every FormatCommuneNumber, whether renumbering is to be applied (the
    // main window's "Konwersja numerów gmin").
    explicit CommuneRenumbering(std::function<bool()> ticked = [] { return false; });

    // Clears the table and fills it from the file. True when the file does not exist (an empty
    // table), or when every line with a "|" holds two numbers 0..9999; false at the first faulty
    // line (the entries of earlier lines stay set; FaultyLine names it). A file that is there but
    // cannot be opened or read throws RenumberingIoError: taking it for no file would import the
    // communes unrenumbered, for good.
    bool LoadCommuneRenumbering(const std::string& path);

    // The faulty line the last load stopped at: its number in the file (from 1; 0 after a load
    // that succeeded) and its text as read (code page 1250, blanks at its start skipped).
    int FaultyLineNumber() const { return faultyLineNumber_; }
    const std::string& FaultyLineText() const { return faultyLineText_; }

    // The commune number as written into the target: at least three digits with leading zeros,
    // renumbered while ticked; an empty text, or one that is not a number 0..9999, unchanged.
    std::string FormatCommuneNumber(std::string_view text) const;

    const CommuneRenumberingTable& Table() const { return table_; }
    void Set(int oldNumber, std::uint16_t newNumber)
    {
        table_.at(static_cast<std::size_t>(oldNumber)) = newNumber;
    }

private:
    std::function<bool()> ticked_;
    CommuneRenumberingTable table_{};
    int faultyLineNumber_ = 0;
    std::string faultyLineText_;
};

// Writes the dialog's rows anew: old "|" new, lines ended by CR LF, every row (empty ones too).
// The new file takes the old one's place only when it is complete on the disk. Throws
// RenumberingIoError when the file cannot be written; the old file is then as it was.
void WriteRenumberingRows(const std::string& path, const std::vector<RenumberingRow>& rows);

// The dialog's reading: nothing when the file does not exist; otherwise one row per line with a
// "|": all before the first "|", and at most ten characters after it, both as they stand. A file
// that is there but cannot be opened or read throws RenumberingIoError.
std::optional<std::vector<RenumberingRow>> ReadRenumberingRows(const std::string& path);

} // namespace renumber
