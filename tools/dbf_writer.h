// Writes small dBase III tables byte by byte, for tests, benchmarks and sample data. It writes
// exactly what it is given: no conversion of code pages, no checks beyond the field widths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace writers {

struct DbfField
{
    std::string name;       // at most 10 characters
    char type = 'C';        // C, N, D, L, ...
    std::uint8_t width = 1; // bytes in the record
    std::uint8_t decimals = 0;
};

class DbfWriter
{
public:
    explicit DbfWriter(std::vector<DbfField> fields, std::uint8_t languageDriver = 0);

    // Appends a record. Each value is fitted to its field: C values and raw bytes are cut or
    // padded with spaces on the right, N and F values right-aligned; values missing at the end
    // are blank.
    void Add(const std::vector<std::string>& values, bool deleted = false);
    // Appends a record given as its bytes after the deletion mark (cut or padded to the record).
    void AddRaw(std::string_view bytes, bool deleted = false);

    std::uint16_t RecordLength() const { return recordLength_; }
    std::uint16_t HeaderLength() const;
    std::size_t RecordCount() const { return records_.size() / recordLength_; }

    // The whole file: header, descriptors, terminator, records, end-of-file mark. `date` is
    // written as the last-update date (year - 1900, month, day).
    std::string Bytes(int year = 2026, int month = 1, int day = 1) const;
    // Writes Bytes() to `path`; false when the file cannot be written.
    bool Write(const std::string& path) const;

private:
    std::vector<DbfField> fields_;
    std::uint8_t languageDriver_;
    std::uint16_t recordLength_ = 1;
    std::string records_; // all records, deletion marks included
};

// Writes `bytes` to `path`, replacing the file. False on failure.
bool WriteFile(const std::string& path, std::string_view bytes);

} // namespace writers
