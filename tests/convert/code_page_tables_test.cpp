// Every cell of the program's code-page tables against code pages 852 and 1250 as an independent
// source gives them (tests/data/code-pages, made by Python's codecs): the archive reader's recoding
// of the Polish letters, the table engine's conversions between 852 and 1250, and the decoding of
// 1250 for messages and of 852 for kerg-inspect.
#include <array>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "archive/code_page.h"
#include "convert/text.h"
#include "engine/code_page.h"
#include "tests/support/test_files.h"
#include "tools/cp852.h"

namespace {

// The upper half of a code page: the code point of every byte 0x80..0xFF, nothing where the page
// defines no character.
using UpperHalf = std::array<std::optional<std::uint32_t>, 128>;

UpperHalf Load(const std::string& name)
{
    UpperHalf half{};
    std::istringstream in(test_support::ReadWholeFile(std::string(KERG_TEST_DATA) + "/code-pages/" + name));
    std::string line;
    int expected = 0x80;
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        EXPECT_NE(tab, std::string::npos) << line;
        if (tab == std::string::npos)
            continue;
        const int byte = std::stoi(line.substr(0, tab), nullptr, 16);
        EXPECT_EQ(byte, expected) << name << ": the bytes in order";
        const std::string point = line.substr(tab + 1);
        if (point != "undefined") {
            EXPECT_EQ(point.rfind("U+", 0), 0u) << line;
            half[static_cast<std::size_t>(byte - 0x80)] =
                static_cast<std::uint32_t>(std::stoul(point.substr(2), nullptr, 16));
        }
        ++expected;
    }
    EXPECT_EQ(expected, 0x100) << name << ": every byte from 80 to FF";
    return half;
}

const UpperHalf& Cp852()
{
    static const UpperHalf half = Load("cp852.txt");
    return half;
}

const UpperHalf& Cp1250()
{
    static const UpperHalf half = Load("cp1250.txt");
    return half;
}

std::optional<std::uint32_t> At(const UpperHalf& half, int byte)
{
    return half[static_cast<std::size_t>(byte - 0x80)];
}

// The byte of `point` in the page, nothing when the page lacks it.
std::optional<int> ByteOf(const UpperHalf& half, std::uint32_t point)
{
    for (std::size_t i = 0; i < half.size(); ++i) {
        if (half[i] == point)
            return static_cast<int>(0x80 + i);
    }
    return std::nullopt;
}

std::string Utf8(std::uint32_t point)
{
    std::string text;
    convert::AppendUtf8(text, point);
    return text;
}

std::string Byte(int byte)
{
    return std::string(1, static_cast<char>(byte));
}

std::string Hex(int byte)
{
    std::ostringstream out;
    out << std::hex << std::uppercase << byte;
    return out.str();
}

TEST(CodePageTables, TheDataHoldBothPages)
{
    // Both files are whole: every byte of 852 is a character, 1250 leaves five bytes undefined.
    int undefined852 = 0, undefined1250 = 0;
    for (int b = 0x80; b <= 0xFF; ++b) {
        undefined852 += At(Cp852(), b) ? 0 : 1;
        undefined1250 += At(Cp1250(), b) ? 0 : 1;
    }
    EXPECT_EQ(undefined852, 0);
    EXPECT_EQ(undefined1250, 5);
}

// kerg-inspect's decoding and encoding of 852.
TEST(CodePageTables, Cp852ForTheTools)
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::uint32_t point = *At(Cp852(), b);
        EXPECT_EQ(tools::Cp852ToUtf8(Byte(b)), Utf8(point)) << Hex(b);
        EXPECT_EQ(tools::Utf8ToCp852(Utf8(point)), Byte(b)) << Hex(b);
    }
    // A character 852 lacks has no code there.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const auto point = At(Cp1250(), b);
        if (point && !ByteOf(Cp852(), *point)) {
            EXPECT_FALSE(tools::Utf8ToCp852(Utf8(*point))) << "1250 byte " << Hex(b);
        }
    }
}

// The decoding of 1250 for messages, and the encoding of typed paths into 1250.
TEST(CodePageTables, Cp1250ForMessages)
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const auto point = At(Cp1250(), b);
        EXPECT_EQ(convert::Cp1250ToUtf8(Byte(b)), Utf8(point.value_or(0xFFFD))) << Hex(b);
        if (point) {
            EXPECT_EQ(convert::Utf8ToCp1250(Utf8(*point)), Byte(b)) << Hex(b);
        }
    }
    // A character 1250 lacks becomes '?'.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::uint32_t point = *At(Cp852(), b);
        if (!ByteOf(Cp1250(), point)) {
            EXPECT_EQ(convert::Utf8ToCp1250(Utf8(point)), "?") << "852 byte " << Hex(b);
        }
    }
}

// The table engine keeps 852 tables and converts their text to and from the program's 1250: a
// character both pages have keeps its meaning, one the other page lacks becomes '?'.
TEST(CodePageTables, EngineConversionsBetween852And1250)
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const auto into1250 = ByteOf(Cp1250(), *At(Cp852(), b));
        EXPECT_EQ(engine::ToProgramText(Byte(b), engine::CodePage::Cp852), into1250 ? Byte(*into1250) : "?")
            << "852 byte " << Hex(b);

        const auto point = At(Cp1250(), b);
        const auto into852 = point ? ByteOf(Cp852(), *point) : std::nullopt;
        EXPECT_EQ(engine::FromProgramText(Byte(b), engine::CodePage::Cp852), into852 ? Byte(*into852) : "?")
            << "1250 byte " << Hex(b);
        unsigned char inPlace = static_cast<unsigned char>(b);
        engine::FromProgramTextInPlace(&inPlace, 1, engine::CodePage::Cp852);
        EXPECT_EQ(Byte(inPlace), into852 ? Byte(*into852) : "?") << "1250 byte " << Hex(b);

        // 1250 tables are the program's own page: nothing changes.
        EXPECT_EQ(engine::ToProgramText(Byte(b), engine::CodePage::Cp1250), Byte(b));
        EXPECT_EQ(engine::FromProgramText(Byte(b), engine::CodePage::Cp1250), Byte(b));
    }
    for (int b = 0; b < 0x80; ++b) {
        EXPECT_EQ(engine::ToProgramText(Byte(b), engine::CodePage::Cp852), Byte(b));
        EXPECT_EQ(engine::FromProgramText(Byte(b), engine::CodePage::Cp852), Byte(b));
    }
}

// The archive reader recodes the 18 Polish letters alone, by its table's rows 3 (852) and 4 (1250):
// every letter's byte in each row means that letter in that page, and between the rows a letter
// keeps its meaning while every other byte passes unchanged.
TEST(CodePageTables, ArchiveRecodingOfThePolishLetters)
{
    const std::array<std::uint32_t, 18> letters = {0x0104, 0x0106, 0x0118, 0x0141, 0x0143, 0x00D3,
                                                   0x015A, 0x0179, 0x017B, 0x0105, 0x0107, 0x0119,
                                                   0x0142, 0x0144, 0x00F3, 0x015B, 0x017A, 0x017C};
    const auto& row852 = archive::CodePageTable[archive::kRowCp852];
    const auto& row1250 = archive::CodePageTable[archive::kRowCp1250];
    for (std::size_t p = 0; p < letters.size(); ++p) {
        EXPECT_EQ(At(Cp852(), row852[p]), letters[p]) << "position " << p + 1;
        EXPECT_EQ(At(Cp1250(), row1250[p]), letters[p]) << "position " << p + 1;
    }
    const auto isLetter = [&](std::optional<std::uint32_t> point) {
        for (const std::uint32_t letter : letters) {
            if (point == letter)
                return true;
        }
        return false;
    };
    const auto& to1250 = archive::RecodeMap(archive::kRowCp852, archive::kRowCp1250);
    const auto& to852 = archive::RecodeMap(archive::kRowCp1250, archive::kRowCp852);
    for (int b = 0; b <= 0xFF; ++b) {
        const std::uint8_t from852 = to1250[static_cast<std::size_t>(b)];
        const std::uint8_t from1250 = to852[static_cast<std::size_t>(b)];
        if (b >= 0x80 && isLetter(At(Cp852(), b))) {
            EXPECT_EQ(At(Cp1250(), from852), At(Cp852(), b)) << "852 byte " << Hex(b);
        } else {
            EXPECT_EQ(from852, b) << "852 byte " << Hex(b);
        }
        if (b >= 0x80 && isLetter(At(Cp1250(), b))) {
            EXPECT_EQ(At(Cp852(), from1250), At(Cp1250(), b)) << "1250 byte " << Hex(b);
        } else {
            EXPECT_EQ(from1250, b) << "1250 byte " << Hex(b);
        }
    }
}

} // namespace
