// Byte conversions between code pages 852, 437 and 1250, and the language-driver ids.
#include "engine/code_page.h"

#include <array>

#include "engine/settings.h"

namespace engine {
namespace {
#include "engine/code_page_tables.inc"

const std::array<unsigned char, 128>* ToProgramTable(CodePage page)
{
    switch (page) {
    case CodePage::Cp852:
        return &k852To1250;
    case CodePage::Cp437:
        return &k437To1250;
    case CodePage::Cp1250:
        break;
    }
    return nullptr;
}

const std::array<unsigned char, 128>* FromProgramTable(CodePage page)
{
    switch (page) {
    case CodePage::Cp852:
        return &k1250To852;
    case CodePage::Cp437:
        return &k1250To437;
    case CodePage::Cp1250:
        break;
    }
    return nullptr;
}

void TranslateInPlace(unsigned char* text, std::size_t size, const std::array<unsigned char, 128>* table)
{
    if (table == nullptr)
        return;
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] >= 0x80)
            text[i] = (*table)[text[i] - 0x80];
    }
}

std::string Translate(std::string_view text, const std::array<unsigned char, 128>* table)
{
    std::string out(text);
    TranslateInPlace(reinterpret_cast<unsigned char*>(out.data()), out.size(), table);
    return out;
}

} // namespace

std::optional<LanguageDriver> DriverFromId(std::uint8_t id)
{
    switch (id) {
    case 0x00:
        return DriverFromId(CurrentSettings().languageDriver);
    case 0x23: // db852po0, Polish
        return LanguageDriver{id, CodePage::Cp852, KeyOrder::Db852Po0};
    case 0x64: // the other 852 ids keep byte order: their collations are not Polish
    case 0x1F:
    case 0x22:
    case 0x87:
    case 0x40:
        return LanguageDriver{id, CodePage::Cp852, KeyOrder::Bytes};
    case 0xC8:
        return LanguageDriver{id, CodePage::Cp1250, KeyOrder::Bytes};
    case 0x1B: // US 437: written by libraries by default
        return LanguageDriver{id, CodePage::Cp437, KeyOrder::Bytes};
    default:
        return std::nullopt;
    }
}

std::string FromProgramText(std::string_view text1250, CodePage page)
{
    return Translate(text1250, FromProgramTable(page));
}

std::string ToProgramText(std::string_view text, CodePage page)
{
    return Translate(text, ToProgramTable(page));
}

void FromProgramTextInPlace(unsigned char* text, std::size_t size, CodePage page)
{
    TranslateInPlace(text, size, FromProgramTable(page));
}

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

std::string UpperCase(std::string_view text, CodePage page)
{
    std::string out(text);
    UpperCaseInPlace(out.data(), out.size(), page);
    return out;
}

void UpperCaseInPlace(char* text, std::size_t size, CodePage page)
{
    const auto& table = page == CodePage::Cp852    ? kUpper852
                        : page == CodePage::Cp1250 ? kUpper1250
                                                   : kUpper437;
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(table[static_cast<unsigned char>(text[i])]);
}

} // namespace engine
