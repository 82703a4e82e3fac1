// Code page 852 (DOS Latin 2) to and from UTF-8, for the tools' input and output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tools {

// Decodes code page 852 bytes to UTF-8. With `showControls`, bytes below 0x20 and 0x7F are
// shown as '.'.
std::string Cp852ToUtf8(std::string_view bytes, bool showControls = false);

// Encodes UTF-8 text in code page 852; nothing when a character has no code there or the text
// is not valid UTF-8.
std::optional<std::string> Utf8ToCp852(std::string_view text);

} // namespace tools
