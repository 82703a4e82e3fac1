// Damage done on purpose to archive files the builder wrote: a field's text replaced, an index
// entry pointed beyond its table. For the tests of what the import does with damaged records.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"

namespace damage {

// Writes `text` (cut or blank-padded to the field's width) over field `field` of the 1-based
// `record` of a dBase table.
inline void SetField(const std::string& path, int record, const std::string& field, const std::string& text)
{
    std::string bytes = test_support::ReadWholeFile(path);
    ASSERT_GT(bytes.size(), 32u) << path;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const std::size_t headerLength = byte(8) | byte(9) << 8;
    const std::size_t recordLength = byte(10) | byte(11) << 8;
    std::size_t offset = 1;
    for (std::size_t at = 32; at + 32 <= headerLength && bytes[at] != '\r'; at += 32) {
        const std::string name = bytes.substr(at, 11).c_str();
        const std::size_t width = byte(at + 16);
        if (name == field) {
            std::string value = text.substr(0, width);
            value.resize(width, ' ');
            const std::size_t where =
                headerLength + static_cast<std::size_t>(record - 1) * recordLength + offset;
            ASSERT_LE(where + width, bytes.size()) << path << " record " << record;
            bytes.replace(where, width, value);
            ASSERT_TRUE(writers::WriteFile(path, bytes));
            return;
        }
        offset += width;
    }
    FAIL() << "no field " << field << " in " << path;
}

// Points the index entry for (`key`, `record`) of an NTX file at `newRecord` instead.
inline void PointEntry(const std::string& path, const std::string& key, std::uint32_t record,
                       std::uint32_t newRecord)
{
    std::string bytes = test_support::ReadWholeFile(path);
    auto le = [](std::uint32_t v) {
        return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
                           static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24 & 0xFF)};
    };
    const std::string entry = le(record) + key;
    const auto at = bytes.find(entry, 1024); // past the header page
    ASSERT_NE(at, std::string::npos) << "no entry for record " << record << " in " << path;
    ASSERT_EQ(bytes.find(entry, at + 1), std::string::npos) << "two entries alike in " << path;
    bytes.replace(at, 4, le(newRecord));
    ASSERT_TRUE(writers::WriteFile(path, bytes));
}

} // namespace damage
