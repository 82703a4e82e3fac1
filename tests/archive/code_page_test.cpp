// Recoding of the Polish letters between the rows of the code page table.
#include <gtest/gtest.h>

#include "archive/code_page.h"

namespace {

using archive::ConvertBuffer;
using archive::ConvertText;

TEST(CodePage, RecodesTheLettersBetweenRows)
{
    // Łódź from 1250 to 852.
    EXPECT_EQ(ConvertText("\xA3\xF3\x64\x9F", 4, 3), "\x9D\xA2\x64\xAB");
    // żółć from 852 to 1250 and to plain ASCII.
    EXPECT_EQ(ConvertText("\xBE\xA2\x88\x86", 3, 4), "\xBF\xF3\xB3\xE6");
    EXPECT_EQ(ConvertText("\xBE\xA2\x88\x86", 3, 1), "zolc");
    // Other accented letters pass with their codes unchanged.
    EXPECT_EQ(ConvertText("\xE9", 4, 3), "\xE9");
    EXPECT_EQ(ConvertText("", 4, 3), "");
}

TEST(CodePage, EveryLetterRoundTripsBetweenEveryPairOfDistinctRows)
{
    // Rows 0, 2, 3, 4, 5 and 6 give each letter its own code, so recoding there and back is exact.
    for (int from : {0, 2, 3, 4, 5, 6}) {
        for (int to : {0, 2, 3, 4, 5, 6}) {
            for (int p = 0; p < 18; ++p) {
                const char letter = static_cast<char>(archive::CodePageTable[from][p]);
                const std::string there = ConvertText(
                    std::string(1, letter), static_cast<std::uint16_t>(from), static_cast<std::uint16_t>(to));
                EXPECT_EQ(static_cast<std::uint8_t>(there[0]), archive::CodePageTable[to][p]);
            }
        }
    }
}

TEST(CodePage, AsciiRowAndSameRowChangeNothing)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    for (std::uint16_t row = 0; row < 7; ++row) {
        EXPECT_EQ(ConvertText(all, 1, row), all) << "from the ASCII row to " << row;
        EXPECT_EQ(ConvertText(all, row, row), all) << row;
    }
}

TEST(CodePage, FirstOccurrenceDecides)
{
    // In row 2 (Mazovia) 0x86 is ą; in row 3 (852) 0x86 is ć. A byte is looked up in the source
    // row only, so 852's ć (0x86) becomes 1250's ć, never ą.
    EXPECT_EQ(ConvertText("\x86", 3, 4), "\xE6");
    EXPECT_EQ(ConvertText("\x86", 2, 4), "\xB9");
    // Recoding bytes in place, each independently of its neighbours.
    std::string text = "\x9D\x9D\xA2x";
    ConvertBuffer(text.data(), 3, 3, 4);
    EXPECT_EQ(text, "\xA3\xA3\xF3x") << "only the first three bytes";
    ConvertBuffer(text.data(), 0, 4, 3);
    EXPECT_EQ(text, "\xA3\xA3\xF3x");
}

TEST(CodePage, RowsOutsideTheTableChangeNothing)
{
    EXPECT_EQ(ConvertText("\x9D\xA2", 7, 4), "\x9D\xA2");
    EXPECT_EQ(ConvertText("\x9D\xA2", 3, 65535), "\x9D\xA2");
}

} // namespace
