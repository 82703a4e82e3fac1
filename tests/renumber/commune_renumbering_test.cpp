// The commune renumbering file: loading and its faults, formatting, the dialog's writing and reading.
#include <gtest/gtest.h>

#include "renumber/commune_renumbering.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"

namespace {

using renumber::CommuneRenumbering;

class RenumberingFileTest : public ::testing::Test
{
protected:
    // Writes `text` as the file and loads it.
    bool Load(const std::string& text)
    {
        writers::WriteFile(path_, text);
        return table_.LoadCommuneRenumbering(path_);
    }

    test_support::TempDir dir_;
    std::string path_ = dir_.File("kerg-import.gm");
    bool ticked_ = true;
    CommuneRenumbering table_{[this] { return ticked_; }};
};

TEST_F(RenumberingFileTest, ValidLines)
{
    EXPECT_TRUE(Load("12|345\r\n  8 |  9  \r\n\tStary numer\r\n\r\n7|0\r\n12|346\r\n"));
    EXPECT_EQ(table_.Table()[12], 346) << "the last line wins";
    EXPECT_EQ(table_.Table()[8], 9);
    EXPECT_EQ(table_.Table()[7], 0);
    EXPECT_EQ(table_.Table()[0], 0);
    // A line of LF only, a sign, zero.
    EXPECT_TRUE(Load("+5|0009\n0|-0\n"));
    EXPECT_EQ(table_.Table()[5], 9);
}

TEST_F(RenumberingFileTest, FaultyLines)
{
    for (const char* line :
         {"|", "5|10000", "-1|5", "5|x", "70000|5", "5|12345678901", "5|", "|5", "1 2|3", "5|1.0"}) {
        EXPECT_FALSE(Load(std::string("1|2\r\n") + line + "\r\n3|4\r\n")) << line;
        EXPECT_EQ(table_.Table()[1], 2) << "lines before the faulty one stay set: " << line;
        EXPECT_EQ(table_.Table()[3], 0) << "lines after it are not read: " << line;
    }
    // Only the ten characters after the bar count.
    EXPECT_TRUE(Load("5|     12   xyz\r\n"));
    EXPECT_EQ(table_.Table()[5], 12);
}

TEST_F(RenumberingFileTest, MissingFileIsAnEmptyTable)
{
    EXPECT_TRUE(Load("4|5\r\n"));
    EXPECT_TRUE(table_.LoadCommuneRenumbering(dir_.File("none.gm")));
    EXPECT_EQ(table_.Table()[4], 0) << "every load starts from an empty table";
}

TEST_F(RenumberingFileTest, FormatCommuneNumber)
{
    ASSERT_TRUE(Load("7|25\r\n"));
    EXPECT_EQ(table_.FormatCommuneNumber("7"), "025");
    EXPECT_EQ(table_.FormatCommuneNumber(" 12 "), "012");
    EXPECT_EQ(table_.FormatCommuneNumber("1234"), "1234");
    EXPECT_EQ(table_.FormatCommuneNumber("abc"), "abc");
    EXPECT_EQ(table_.FormatCommuneNumber(" 12345 "), " 12345 ") << "not 0..9999: unchanged, untrimmed";
    EXPECT_EQ(table_.FormatCommuneNumber(""), "");
    ticked_ = false;
    EXPECT_EQ(table_.FormatCommuneNumber("7"), "007");
}

TEST_F(RenumberingFileTest, DialogRowsRoundTrip)
{
    renumber::WriteRenumberingRows(path_, {{"12", "345"}, {"8", "9"}});
    EXPECT_EQ(test_support::ReadWholeFile(path_), "12|345\r\n8|9\r\n");
    const auto rows = renumber::ReadRenumberingRows(path_);
    ASSERT_TRUE(rows);
    EXPECT_EQ(*rows, (std::vector<renumber::RenumberingRow>{{"12", "345"}, {"8", "9"}}));

    // An empty row is written as the bar alone, which a run then finds faulty.
    renumber::WriteRenumberingRows(path_, {{"", ""}});
    EXPECT_EQ(test_support::ReadWholeFile(path_), "|\r\n");
    EXPECT_FALSE(table_.LoadCommuneRenumbering(path_));

    // The dialog keeps cells as they stand: no trimming, ten characters after the bar.
    writers::WriteFile(path_, "  a b |  12345678901\r\nno bar\r\n");
    const auto raw = renumber::ReadRenumberingRows(path_);
    ASSERT_TRUE(raw);
    EXPECT_EQ(*raw, (std::vector<renumber::RenumberingRow>{{"a b ", "  12345678"}}));

    EXPECT_FALSE(renumber::ReadRenumberingRows(dir_.File("none.gm")));
    EXPECT_THROW(renumber::WriteRenumberingRows(dir_.File("no/such/dir.gm"), {}),
                 renumber::RenumberingIoError);
}

TEST(RenumberingFilePath, ExtensionReplacedOrAppended)
{
#ifdef _WIN32
    EXPECT_EQ(renumber::RenumberingFilePath("C:\\PROG\\IMPORT.EXE"), "C:\\PROG\\IMPORT.gm");
#endif
    EXPECT_EQ(renumber::RenumberingFilePath("/opt/kerg/kerg-import"), "/opt/kerg/kerg-import.gm");
    EXPECT_EQ(renumber::RenumberingFilePath("/opt/kerg.d/import.bin"), "/opt/kerg.d/import.gm");
    EXPECT_EQ(renumber::RenumberingFilePath("import.exe"), "import.gm");
}

} // namespace
