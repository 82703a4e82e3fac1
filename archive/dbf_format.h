// The dBase III table as the archive reader sees it; see docs/formats.md for the full layout.
#pragma once

#include <cstdint>

namespace archive::dbf {

// File header: the reader reads its first 12 bytes.
inline constexpr int kHeaderBytes = 12;
inline constexpr int kVersionOffset = 0;       // 1 byte, kept
inline constexpr int kRecordCountOffset = 4;   // 4 bytes, compared as a signed 32-bit number
inline constexpr int kHeaderLengthOffset = 8;  // 2 bytes: file offset of record 0
inline constexpr int kRecordLengthOffset = 10; // 2 bytes: deletion mark included

// Field descriptors: 32 bytes each, descriptor i (1-based) at 32 * i; 18 bytes are used.
inline constexpr int kDescriptorBytes = 32;
inline constexpr int kDescriptorUsedBytes = 18;
inline constexpr int kNameOffset = 0; // 11 bytes, NUL-padded; the first 10 are the name
inline constexpr int kNameLength = 10;
inline constexpr int kTypeOffset = 11;     // dBase type letter
inline constexpr int kWidthOffset = 16;    // field width in bytes
inline constexpr int kDecimalsOffset = 17; // decimal count
inline constexpr std::uint8_t kDescriptorTerminator = 0x0D;

// Records: byte 0 is the deletion mark, the fields follow without gaps.
inline constexpr char kDeletedMark = '*';

} // namespace archive::dbf
