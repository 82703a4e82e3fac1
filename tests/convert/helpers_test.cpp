// The pure parts of the conversion: keys, dates, progress, raster masks, stamps and texts.
#include <cerrno>
#include <cmath>
#include <new>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "convert/kerg_conversion.h"
#include "convert/text.h"
#include "engine/table.h"
#include "tests/convert/office.h"

namespace {

TEST(WorksKey, Examples)
{
    EXPECT_EQ(convert::WorksKey("P", 12, 1998, 3, ""), "   P  121998  3");
    EXPECT_EQ(convert::WorksKey("#", 1, 2000, 0, ""), "       12000  0");
    EXPECT_EQ(convert::WorksKey("ABCDE", 1, 2000, 1, ""), "ABCDE   12000  1")
        << "a long segment enters whole";
    // The other name is recoded to code page 852, where the archive's keys are.
    EXPECT_EQ(convert::WorksKey("P", 1, 2000, 1,
                                "\xA3\xF3"
                                "d\x9F"),
              "   P   12000  1\x9D\xA2"
              "d\xAB");
    EXPECT_EQ(convert::WorksKey("P", 1, 2000, 1, std::string(60, 'x')).size(), 50u);
}

TEST(ArchiveDate, ValidInvalidAndEmpty)
{
    office::Office o;
    o.CreateTarget();
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf", {{"ID_ROBOTY", "1"}, {"D_P_ZAK", "2001.02.03"}});
    engine::Table works(o.Kerg(), "Roboty.dbf");
    works.Open();
    works.Edit();
    engine::Field date = works.FieldByName("D_P_ZAK");
    const std::pair<std::string, std::string> cases[] = {
        {"", "2001.02.03"},         {"19980105", "1998.01.05"}, {"19981305", "1900.01.01"},
        {"19980230", "1900.01.01"}, {"20000229", "2000.02.29"}, {"19000229", "1900.01.01"},
        {"1998", "1900.01.01"},     {"1998ab05", "1900.01.01"}, {"00000101", "1900.01.01"},
    };
    for (const auto& [archive, expected] : cases) {
        convert::ArchiveDateToField(archive, date);
        EXPECT_EQ(date.AsString(), expected) << archive;
    }
    works.Cancel();
}

struct Bar : office::ScriptedUi
{};

TEST(Progress, OneStepPerRow)
{
    Bar ui;
    convert::Progress progress(ui);
    progress.Start(100);
    for (int i = 0; i < 100; ++i)
        progress.Step();
    EXPECT_EQ(ui.rangeMax, 100);
    ASSERT_EQ(ui.positions.size(), 101u);
    EXPECT_EQ(ui.positions.back(), 100);

    Bar big;
    convert::Progress scaled(big);
    scaled.Start(250);
    for (int i = 0; i < 250; ++i)
        scaled.Step();
    EXPECT_EQ(big.rangeMax, 100);
    // Positions are i / 2.5 to the nearest integer (halves to even), each set once when it changes.
    std::vector<int> expected{0};
    int last = 0;
    for (int i = 0; i < 250; ++i) {
        const int p = static_cast<int>(std::nearbyint(i / 2.5));
        if (p != last) {
            expected.push_back(p);
            last = p;
        }
    }
    EXPECT_EQ(big.positions, expected);
    EXPECT_EQ(big.positions.back(), 100);
}

TEST(Raster, ExpandAndPack)
{
    EXPECT_EQ(convert::PackRaster(convert::ExpandRasterBits(std::string("\x80\0\0\0\0\0", 6))),
              "!!!!!A0!!!!!Y$!!!!!_!!!!!A0!!!!!Y$");
    EXPECT_EQ(convert::PackRaster(convert::ExpandRasterBits(std::string(6, '\0'))), "");
    EXPECT_EQ(convert::PackRaster(convert::ExpandRasterBits(std::string(6, '\xFF'))), std::string(200, '`'));
    const std::string sixth =
        convert::PackRaster(convert::ExpandRasterBits(std::string("\0\0\0\0\0\x01", 6)));
    EXPECT_EQ(sixth.size(), 195u);
    EXPECT_EQ(sixth.substr(0, 166), std::string(166, '!'));
    // A short mask is filled with spaces (bit 5: rows 25..29) before expansion.
    const convert::RasterGrid grid = convert::ExpandRasterBits(std::string("\0", 1));
    for (int r = 0; r < 40; ++r) {
        for (int p = 0; p < 30; ++p) {
            const bool covered = grid[static_cast<std::size_t>(30 * r + p)] != 0;
            EXPECT_EQ(covered, r >= 25 && r <= 29 && p >= 5) << r << "," << p;
        }
    }
}

// Any grid, not only the 5 x 5 blocks a mask gives, packs cell by cell: column after column, six
// cells a character from "!" up, the trailing empty characters dropped.
TEST(Raster, PackFollowsTheCellOrderOnAnyGrid)
{
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        convert::RasterGrid grid{};
        const unsigned density = round % 4; // from empty to every cell covered
        const std::size_t lastCell = random() % 1200;
        for (std::size_t cell = 0; cell < 1200; ++cell)
            grid[cell] = static_cast<std::uint8_t>(
                density == 3 || (density > 0 && random() % 3 < density) ? 1 + random() % 255 : 0);
        if (round % 5 == 0) // nothing after a random cell of the packed order
            for (std::size_t k = lastCell + 1; k < 1200; ++k)
                grid[30 * (k % 40) + k / 40] = 0;
        std::string expected(200, '!');
        for (std::size_t k = 0; k < 1200; ++k)
            if (grid[30 * (k % 40) + k / 40] != 0)
                expected[k / 6] = static_cast<char>(expected[k / 6] + (1 << (k % 6)));
        expected.erase(expected.find_last_not_of('!') + 1);
        ASSERT_EQ(convert::PackRaster(grid), expected) << "round " << round;
    }
}

// The import packs a mask straight away; it must give what the grid of the mask packs to, for
// every value of each band, for random masks, and for masks shorter or longer than six bytes.
TEST(Raster, MaskPackedDirectlyAsThroughItsGrid)
{
    std::vector<std::string> masks;
    for (int band = 0; band < 6; ++band)
        for (int value = 0; value < 256; ++value) {
            std::string mask(6, '\0');
            mask[static_cast<std::size_t>(band)] = static_cast<char>(value);
            masks.push_back(mask);
        }
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        std::string mask(static_cast<std::size_t>(random() % 9), ' ');
        for (char& c : mask)
            c = static_cast<char>(random() % 256);
        masks.push_back(mask);
    }
    for (const std::string& mask : masks)
        ASSERT_EQ(convert::PackRasterBits(mask), convert::PackRaster(convert::ExpandRasterBits(mask)))
            << testing::PrintToString(mask);
}

TEST(Texts, StampsIdsAndUpperCase)
{
    EXPECT_EQ(convert::BuildCreatorStamp({2026, 12, 6}), "00015D86");
    EXPECT_EQ(convert::BuildCreatorStamp({1980, 1, 1}).size(), 8u);
    EXPECT_EQ(convert::BuildCreatorStamp({2107, 12, 31}).size(), 8u);
    EXPECT_EQ(convert::HexId(4095, 8), "00000FFF");
    EXPECT_EQ(convert::HexId(10, 4), "000A");
    EXPECT_EQ(convert::HexId(70000, 4), "11170") << "more digits past 65535";
    EXPECT_EQ(convert::FormatNumber(12, 4), "  12");
    EXPECT_EQ(convert::FormatNumber(12345, 3), "12345");
    EXPECT_EQ(convert::FormatNumber(-5, 0), "-5");
    // ąćęłńóśźż and é in code page 1250.
    EXPECT_EQ(convert::Upper1250("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xE9x"),
              "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xC9X");
    EXPECT_EQ(convert::Cp1250ToUtf8("\xA3\xF3"
                                    "d\x9F"),
              "Łódź");
    EXPECT_EQ(convert::Utf8ToCp1250("Łódź€"), "\xA3\xF3"
                                              "d\x9F\x80");
    // The replacement character stands for no byte of the page (not for its unused 0x81).
    EXPECT_EQ(convert::Utf8ToCp1250("a\xEF\xBF\xBD"), "a?");
}

// The standard library's English texts never reach the user; the program's own Polish ones do.
TEST(Texts, FailuresAreToldInPolish)
{
    EXPECT_EQ(engine::FailureText(engine::Error(engine::ErrorKind::Io, "Błąd zapisu tabeli x.dbf")),
              "Błąd zapisu tabeli x.dbf");
    EXPECT_EQ(engine::FailureText(std::runtime_error("Plik postępu jest nieczytelny")),
              "Plik postępu jest nieczytelny");
    const std::string memory = engine::FailureText(std::bad_alloc());
    EXPECT_NE(memory.find("Za mało pamięci"), std::string::npos) << memory;
    EXPECT_EQ(memory.find("std::"), std::string::npos) << memory;
    const std::string system =
        engine::FailureText(std::system_error(std::make_error_code(std::errc::io_error), "read"));
    EXPECT_EQ(system, "Błąd systemu operacyjnego (kod " + std::to_string(EIO) + ")");
    EXPECT_EQ(engine::FailureText(std::out_of_range("vector::_M_range_check")),
              "Błąd wewnętrzny programu (vector::_M_range_check)");
}

} // namespace
