// Recoding of the 18 Polish letters between the code pages the archive and the target use.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace archive {

// Rows of CodePageTable. Each row lists the codes of the letters
// Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż in that order.
inline constexpr int kCodePageRows = 7;
inline constexpr int kRowAscii = 1; // the letters without diacritics
inline constexpr int kRowMazovia = 2;
inline constexpr int kRowCp852 = 3;  // DOS Latin 2, the archive's code page
inline constexpr int kRowCp1250 = 4; // Windows Central European, the target's code page

extern const std::array<std::array<std::uint8_t, 18>, kCodePageRows> CodePageTable;

// Recodes `length` bytes of `buffer` in place: a byte found in row `from` (first occurrence)
// becomes the byte at the same position of row `to`; every other byte stays. Nothing is
// replaced when `from` is the ASCII row 1, or when either row is outside 0..6.
void ConvertBuffer(char* buffer, std::uint16_t length, std::uint16_t from, std::uint16_t to);

// A recoded copy of `text` (any length), as ConvertBuffer.
std::string ConvertText(std::string_view text, std::uint16_t from, std::uint16_t to);

// The 256-byte map ConvertBuffer applies for (from, to): identity where nothing changes.
const std::array<std::uint8_t, 256>& RecodeMap(std::uint16_t from, std::uint16_t to);

} // namespace archive
