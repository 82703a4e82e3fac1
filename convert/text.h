// Small text helpers of the import: code page 1250 upper case, UTF-8 for messages, hex ids.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace convert {

// Upper case of code page 1250 text as the Windows locale gives it (ASCII and the Central European
// letters); other bytes unchanged.
std::string Upper1250(std::string_view text);

// Code page 1250 text in UTF-8, for messages.
std::string Cp1250ToUtf8(std::string_view text);

// UTF-8 text in code page 1250 (characters the code page lacks become '?'), for paths typed by the
// user that go into data-side messages.
std::string Utf8ToCp1250(std::string_view text);

// A new id: the counter in upper-case hexadecimal with leading zeros to `digits` (more digits when
// the value needs them).
std::string HexId(std::int32_t counter, int digits);

// The decimal form of a value, right-aligned with spaces to `width` (0: unpadded; never cut).
std::string FormatNumber(std::int32_t value, int width);

// Appends the UTF-8 form of a code point of the Basic Multilingual Plane.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Text without trailing spaces.
std::string TrimRight(std::string_view text);

} // namespace convert
