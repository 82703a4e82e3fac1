// The dBase table file (.dbf) as this engine reads and writes it. Byte facts: docs/engine-formats.md.
//
// Header, 32 bytes:
//   0      version (0x03 no memo, 0x83 / 0x8B with a .DBT memo file; 0x43, 0x63, 0xCB dBase IV SQL)
//   1-3    date of last update: year - 1900, month, day
//   4-7    record count
//   8-9    header length (32 + 32 x fields + 1, some writers add a byte)
//   10-11  record length, deletion flag included
//   28     0x01 when a production index <name>.MDX belongs to the table
//   29     language driver id
// Field descriptors of 32 bytes follow, ended by 0x0D: name (0-10), type (11), length (16),
// decimals (17), byte 31 = 1 when the field has a tag of its own. Records: a flag byte (' ' live,
// '*' deleted) and the fields without separators; 0x1A after the last record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

inline constexpr std::size_t kDbfHeaderSize = 32;
inline constexpr std::size_t kDbfFieldSize = 32;
inline constexpr char kDbfFieldEnd = 0x0D;
inline constexpr char kDbfFileEnd = 0x1A;
inline constexpr std::size_t kDbfMaxFields = 1024; // dBase 5 (dBase IV: 255)

// One field of a table, as its descriptor gives it.
struct FieldInfo
{
    std::string name;       // upper case, as stored
    char type = 'C';        // C, N, F, D, L, or M, B, G (a block number of the memo file)
    std::size_t offset = 0; // within the record, after the flag byte's position (flag is byte 0)
    std::size_t width = 0;
    int decimals = 0;
    bool ownTag = false; // descriptor byte 31
};

// Everything the engine keeps of a table's header, checked against the file's size.
struct DbfHeader
{
    std::uint8_t version = 0x03;
    std::uint32_t recordCount = 0;
    std::size_t headerLength = 0;
    std::size_t recordLength = 0;
    bool hasProductionIndex = false;
    std::uint8_t languageDriver = 0;
    std::vector<FieldInfo> fields;
};

// True when dBase's PROTECT encrypted the table's records (byte 15 of the header): this engine can
// neither read them nor write rows dBase would read.
bool DbfEncrypted(const std::vector<unsigned char>& headerBytes);

// Parses and checks the header bytes of a file of `fileSize` bytes. On a fault (an encrypted table
// among them) returns false and a Polish reason in `why`.
bool ParseDbfHeader(const std::vector<unsigned char>& bytes, std::int64_t fileSize, DbfHeader* header,
                    std::string* why);

// The header bytes (header, descriptors, 0x0D) for a new table; the record count and date are
// those given.
std::vector<unsigned char> BuildDbfHeader(const DbfHeader& header, int year, int month, int day);

} // namespace engine
