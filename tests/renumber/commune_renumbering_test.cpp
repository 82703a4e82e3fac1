// The commune renumbering file: loading and its faults, formatting, the dialog's writing and reading,
// and saves and reads that fail.
#include <cerrno>
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/whole_file.h"
#include "renumber/commune_renumbering.h"
#include "tests/support/child_process.h"
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
    // The faulty line is named by its number in the file, blank lines counted.
    EXPECT_FALSE(Load("1|2\r\n\r\nStary|Nowy numer\r\n"));
    EXPECT_EQ(table_.FaultyLineNumber(), 3);
    EXPECT_EQ(table_.FaultyLineText(), "Stary|Nowy numer");
    EXPECT_FALSE(Load("\n\n   \t5|x \n"));
    EXPECT_EQ(table_.FaultyLineNumber(), 3);
    EXPECT_EQ(table_.FaultyLineText(), "5|x ");
    // Only the ten characters after the bar count.
    EXPECT_TRUE(Load("5|     12   xyz\r\n"));
    EXPECT_EQ(table_.FaultyLineNumber(), 0);
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
}

// The texts of failures are Polish and name the file.
std::string SaveError(const std::string& path, const std::vector<renumber::RenumberingRow>& rows)
{
    try {
        renumber::WriteRenumberingRows(path, rows);
    } catch (const renumber::RenumberingIoError& e) {
        return e.what();
    }
    return "saved";
}

TEST_F(RenumberingFileTest, SaveIntoAMissingDirectorySaysSo)
{
    const std::string path = dir_.File("brak") + platform::kSeparator + "kerg-import.gm";
    EXPECT_EQ(SaveError(path, {{"1", "2"}}), "Nie można zapisać pliku " + path + ": katalog nie istnieje");
}

// A save that fails at any of its changes of a file (a full disk) leaves the old file as it was,
// and no new one beside it; the message names the file and the reason.
TEST_F(RenumberingFileTest, FailedSaveKeepsTheOldFile)
{
    const std::string before = "12|345\r\n8|9\r\n";
    const std::vector<renumber::RenumberingRow> rows = {{"1", "2"}, {"3", "4"}, {"", ""}};
    const std::string after = "1|2\r\n3|4\r\n|\r\n";
    ASSERT_TRUE(writers::WriteFile(path_, before));
    const std::uint64_t start = platform::FileChanges();
    renumber::WriteRenumberingRows(path_, rows);
    const std::uint64_t changes = platform::FileChanges() - start;
    ASSERT_GE(changes, 3u) << "at least the write, the flush and the rename";

    int failed = 0;
    for (std::uint64_t n = 1; n <= changes; ++n) {
        SCOPED_TRACE("change " + std::to_string(n) + " of " + std::to_string(changes) + " fails");
        ASSERT_TRUE(writers::WriteFile(path_, before));
        platform::InjectFault(n, platform::FaultAction::Fail);
        const std::string outcome = SaveError(path_, rows);
        platform::ClearFault();
        if (outcome == "saved") {
            // Only the flush of the directory, after the new file took its place, may fail unseen.
            EXPECT_EQ(test_support::ReadWholeFile(path_), after);
            continue;
        }
        ++failed;
        EXPECT_EQ(outcome, "Nie można zapisać pliku " + path_ + ": brak miejsca na dysku");
        EXPECT_EQ(test_support::ReadWholeFile(path_), before);
        EXPECT_FALSE(platform::Exists(platform::ReplacementPath(path_))) << "the new file is removed";
    }
    EXPECT_GE(failed, 3);

    // A disk that stays full: every save fails, and the old file stays.
    ASSERT_TRUE(writers::WriteFile(path_, before));
    platform::InjectFault(1, platform::FaultAction::Fail, true);
    const std::string outcome = SaveError(path_, rows);
    platform::ClearFault();
    EXPECT_EQ(outcome, "Nie można zapisać pliku " + path_ + ": brak miejsca na dysku");
    EXPECT_EQ(test_support::ReadWholeFile(path_), before);
}

#ifndef _WIN32
// A file-size limit makes the system refuse the writes themselves (EFBIG): the old file stays
// whole and the message gives the system's code.
KERG_CHILD_TASK(save_under_a_size_limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        channel.Report("failed: getrlimit");
        return 1;
    }
    const rlimit before = limit;
    limit.rlim_cur = 16;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        channel.Report("failed: setrlimit");
        return 1;
    }
    std::vector<renumber::RenumberingRow> rows;
    for (int i = 0; i < 100; ++i)
        rows.emplace_back(std::to_string(i), std::to_string(i + 1000));
    const std::string outcome = SaveError(channel.Args().at(0), rows);
    setrlimit(RLIMIT_FSIZE, &before); // the report is a file too
    channel.Report(outcome);
    return 0;
}

TEST_F(RenumberingFileTest, SaveRefusedBySizeLimitKeepsTheOldFile)
{
    const std::string before = "12|345\r\n8|9\r\n";
    ASSERT_TRUE(writers::WriteFile(path_, before));
    test_support::ChildProcess child("save_under_a_size_limit", {path_});
    EXPECT_EQ(child.Report(), "Nie można zapisać pliku " + path_ + ": błąd systemu plików (kod " +
                                  std::to_string(EFBIG) + ")");
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(test_support::ReadWholeFile(path_), before);
    EXPECT_FALSE(platform::Exists(platform::ReplacementPath(path_)));
}
#endif

#ifdef __linux__
// A read that fails after the open (this process's memory file refuses reads at offset 0 with an
// input/output error) is reported in Polish with the file's name. So is a file that is there but
// cannot be opened (a directory, a named pipe): taken for no file, it would let a run import the
// communes unrenumbered, and the dialog write an empty table over it.
TEST_F(RenumberingFileTest, AFileThatIsThereButCannotBeReadIsNeverTakenForNoFile)
{
    const std::string memory = "/proc/self/mem";
    try {
        renumber::ReadRenumberingRows(memory);
        ADD_FAILURE() << "no error";
    } catch (const renumber::RenumberingIoError& e) {
        EXPECT_EQ(std::string(e.what()), "Nie można odczytać pliku " + memory +
                                             ": błąd systemu plików (kod " + std::to_string(EIO) + ")");
    }
    EXPECT_THROW(table_.LoadCommuneRenumbering(memory), renumber::RenumberingIoError);

    const std::string folder = dir_.File("folder.gm");
    std::filesystem::create_directory(folder);
    try {
        table_.LoadCommuneRenumbering(folder);
        ADD_FAILURE() << "a directory taken for no file";
    } catch (const renumber::RenumberingIoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Nie można otworzyć pliku " + folder + ": to jest katalog, nie plik");
    }
    EXPECT_THROW(renumber::ReadRenumberingRows(folder), renumber::RenumberingIoError);
    const std::string pipe = dir_.File("pipe.gm");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(table_.LoadCommuneRenumbering(pipe), renumber::RenumberingIoError);
    EXPECT_THROW(renumber::ReadRenumberingRows(pipe), renumber::RenumberingIoError);
    // Only a file that is not there is an empty table, also under a folder that is not there.
    EXPECT_TRUE(table_.LoadCommuneRenumbering(dir_.File("none") + "/kerg-import.gm"));
}
#endif

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
