// Code pages of the tables and the conversions between a table's page and the program's page 1250.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

enum class CodePage
{
    Cp852,
    Cp1250,
    Cp437,
};

// How character keys of a table's tags are ordered (see collation.h).
enum class KeyOrder
{
    Bytes,    // unsigned byte order
    Db852Po0, // the Polish order of the db852po0 driver
};

// What a language-driver byte (DBF header byte 29) stands for.
struct LanguageDriver
{
    std::uint8_t id = 0;
    CodePage codePage = CodePage::Cp852;
    KeyOrder keyOrder = KeyOrder::Db852Po0;
};

// The driver of a header byte; nullopt for an id the engine does not know. Id 0 (none named)
// gives the configured driver (ConfigureDbaseDriver in table.h).
std::optional<LanguageDriver> DriverFromId(std::uint8_t id);

// Converts text between the program's code page 1250 and `page`, byte for byte; characters the
// target page lacks become '?'.
std::string FromProgramText(std::string_view text1250, CodePage page);
std::string ToProgramText(std::string_view text, CodePage page);
// The same as FromProgramText, over `size` bytes in place.
void FromProgramTextInPlace(unsigned char* text, std::size_t size, CodePage page);

// Upper case of ASCII letters alone, whatever the process's locale: for the names of fields,
// tags, functions and settings, which are ASCII.
char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);

// Upper case within `page` (every letter of the page, the Polish ones included).
std::string UpperCase(std::string_view text, CodePage page);
void UpperCaseInPlace(char* text, std::size_t size, CodePage page);

} // namespace engine
