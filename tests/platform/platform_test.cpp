// The operating-system layer as the program meets it on each system: separators and drive
// letters, names found without regard to case, directory names with Polish letters, time stamps
// of open files, the program file's own path, arguments handed to another process, and the
// share modes of table files.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "archive/code_page.h"
#include "archive/reader.h"
#include "engine/table.h"
#include "platform/file.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "renumber/commune_renumbering.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"

namespace fs = std::filesystem;

namespace {

const std::string kSep(1, platform::kSeparator);

// A small archive table (upper-case DOS name) with one Polish name in code page 852.
void WriteArchiveTable(const std::string& path)
{
    writers::DbfWriter table({{"NR", 'N', 5, 0}, {"NAZWA", 'C', 12, 0}});
    table.Add({"17", "\x9d\xa2"
                     "d\xab"}); // "ŁÓdŹ" in code page 852
    ASSERT_TRUE(table.Write(path)) << path;
}

// Reads the first record's NAZWA through the archive reader, recoded to code page 1250.
std::string ReadArchiveName(const std::string& path)
{
    archive::Reader reader;
    reader.SourceCodePage = archive::kRowCp852;
    reader.TargetCodePage = archive::kRowCp1250;
    std::uint8_t area = 0;
    reader.OpenTable(path, area);
    if (reader.TableResult() != 0)
        return "open failed: " + std::to_string(reader.TableResult());
    archive::ShortString name{};
    reader.BindString("NAZWA", name, 20);
    reader.GotoRecord(area, 0);
    reader.ReadRecord(area, 0);
    return name.Str();
}

TEST(Paths, SeparatorsAndDirectoryParts)
{
#ifdef _WIN32
    EXPECT_EQ(platform::kSeparator, '\\');
    EXPECT_TRUE(platform::IsSeparator('/')) << "Windows takes both";
    EXPECT_EQ(platform::DirectoryPart("D:\\DANE\\ARCH\\ROBOTY.DBF"), "D:\\DANE\\ARCH\\");
    EXPECT_EQ(platform::DirectoryPart("D:/DANE/ARCH"), "D:/DANE/");
#else
    EXPECT_EQ(platform::kSeparator, '/');
    EXPECT_FALSE(platform::IsSeparator('\\')) << "a backslash is part of a name here";
    EXPECT_EQ(platform::DirectoryPart("D:\\DANE\\ARCH\\ROBOTY.DBF"), "");
#endif
    EXPECT_TRUE(platform::IsSeparator(platform::kSeparator));
    EXPECT_EQ(platform::DirectoryPart("ROBOTY.DBF"), "");
}

TEST(Paths, NamesAreFoundWithoutRegardToCase)
{
    test_support::TempDir dir;
    ASSERT_TRUE(platform::CreateDirectories(dir.File("BAZA" + kSep + "KERG")));
    const std::string upper = dir.File("BAZA" + kSep + "KERG" + kSep + "ROBOTY.DBF");
    WriteArchiveTable(upper);

    const std::string lower = dir.File("baza" + kSep + "Kerg" + kSep + "roboty.dbf");
    EXPECT_TRUE(platform::Exists(lower));
    EXPECT_TRUE(platform::IsDirectory(dir.File("Baza")));
    EXPECT_FALSE(platform::IsDirectory(lower)) << "a file is not a directory";
    auto file = platform::OpenForReading(lower);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Size(), static_cast<std::int64_t>(fs::file_size(platform::NativePath(upper))));
    EXPECT_EQ(ReadArchiveName(lower), "\xa3\xf3"
                                      "d\x9f"); // the same in code page 1250

    platform::OpenFailure failure = platform::OpenFailure::None;
    EXPECT_NE(platform::OpenLocked(lower, platform::ShareMode::Shared, &failure), nullptr);
    EXPECT_EQ(
        platform::OpenLocked(dir.File("baza" + kSep + "brak.dbf"), platform::ShareMode::Shared, &failure),
        nullptr);
    EXPECT_EQ(failure, platform::OpenFailure::NotFound);
    EXPECT_EQ(platform::OpenForReading(dir.File("BAZA")), nullptr) << "a directory is not a file";
}

// Directory names outside the ANSI code page of an English system: every kind of file the program
// touches is written and read back there, and the names on disk are the names asked for.
TEST(Paths, DirectoryNamesWithPolishLetters)
{
    test_support::TempDir dir;
    const std::string name = "Archiwum \xc5\x81\xc3\xb3\x64\xc5\xba"; // "Archiwum Łódź" in UTF-8
    const std::string sub = "\xc5\xbb\xc3\xb3\xc5\x82\xc4\x87 \xc4\x98\xc4\x84"; // "Żółć ĘĄ"
    const std::string folder = dir.File(name + kSep + sub);
    ASSERT_TRUE(platform::CreateDirectories(folder));
    ASSERT_TRUE(platform::IsDirectory(folder));

    std::vector<std::string> onDisk;
    for (const auto& entry : fs::directory_iterator(platform::NativePath(dir.Path())))
        onDisk.push_back(platform::Utf8Path(entry.path().filename()));
    EXPECT_EQ(onDisk, std::vector<std::string>{name});

    // An archive table and its reading.
    WriteArchiveTable(folder + kSep + "ROBOTY.DBF");
    EXPECT_EQ(ReadArchiveName(folder + kSep + "roboty.dbf"), "\xa3\xf3"
                                                             "d\x9f");

    // A target table with a production index, written, searched and checked.
    engine::CreateTable(folder, "Gminy.dbf", {{"NR", 'N', 5, 0}, {"NAZWA", 'C', 20, 0}},
                        {{"UPP_NAZ", "UPPER(NAZWA)", false, false}});
    {
        engine::Table table(folder, "GMINY.DBF");
        table.SetExclusive(true);
        table.Open();
        table.Append();
        table.FieldByName("NR").SetInteger(5);
        table.FieldByName("NAZWA").SetString("\xa3\xf3"
                                             "d\x9f");
        table.Post();
        table.SetIndexName("UPP_NAZ");
        table.EditKey();
        table.FieldByName("NAZWA").SetString("\xa3\xf3"
                                             "d\x9f");
        ASSERT_TRUE(table.GotoKey());
        EXPECT_EQ(table.FieldByName("NR").AsInteger(), 5);
    }
    EXPECT_EQ(engine::VerifyDirectory(dir.Path()), std::vector<std::string>{});

    // The renumbering file.
    const std::string renumbering = folder + kSep + "kerg-import.gm";
    renumber::WriteRenumberingRows(renumbering, {{"12", "112"}, {"7", "8"}});
    const auto rows = renumber::ReadRenumberingRows(renumbering);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(rows->size(), 2u);
    renumber::CommuneRenumbering table([] { return true; });
    EXPECT_TRUE(table.LoadCommuneRenumbering(renumbering));
    EXPECT_EQ(table.FormatCommuneNumber("12"), "112");
}

// A drive letter and backslashes, as the office types them. The test scripts map a drive to a
// scratch folder and name it in KERG_TEST_DRIVE.
#ifdef _WIN32
TEST(Paths, DriveLetterAndBackslashes)
{
    const char* drive = std::getenv("KERG_TEST_DRIVE");
    if (drive == nullptr || *drive == '\0')
        GTEST_SKIP() << "KERG_TEST_DRIVE names no drive";
    const std::string arch = std::string(drive) + "\\DANE\\ARCH\\";
    ASSERT_TRUE(platform::CreateDirectories(arch));
    WriteArchiveTable(arch + "ROBOTY.DBF");
    EXPECT_TRUE(platform::Exists(std::string(drive) + "\\dane\\arch\\roboty.dbf"));
    EXPECT_EQ(ReadArchiveName(std::string(drive) + "\\dane/arch\\Roboty.dbf"), "\xa3\xf3"
                                                                               "d\x9f");
    std::error_code ec;
    fs::remove_all(platform::NativePath(std::string(drive) + "\\DANE"), ec);
}
#endif

TEST(Files, LastWriteStampOfAnOpenFileFollowsTheFile)
{
    test_support::TempDir dir;
    const std::string path = dir.File("ROBOTY.NTX");
    ASSERT_TRUE(writers::WriteFile(path, std::string(1024, 'x')));
    auto file = platform::OpenForReading(path);
    ASSERT_NE(file, nullptr);
    const std::int64_t before = file->LastWriteStamp();
    ASSERT_NE(before, -1);
    EXPECT_EQ(file->LastWriteStamp(), before) << "unchanged while the file is";

    test_support::ShiftLastWriteTime(path, 10);
    // The standard library sets file times in whole seconds on Windows: within a second of 10.
    EXPECT_NEAR(static_cast<double>(file->LastWriteStamp() - before) / 1e9, 10.0, 1.0);

    // Another open writes more: the open file sees the new size and bytes.
    {
        auto writer = platform::OpenLocked(path, platform::ShareMode::Shared, nullptr);
        ASSERT_NE(writer, nullptr);
        ASSERT_TRUE(writer->WriteAt(1024, "yz", 2));
    }
    EXPECT_EQ(file->Size(), 1026);
    char tail[2] = {};
    EXPECT_EQ(file->ReadAt(1024, tail, 2), 2);
    EXPECT_EQ(std::string(tail, 2), "yz");
}

TEST(Process, ProgramFilePathNamesThisProgram)
{
    const std::string path = platform::ProgramFilePath();
    ASSERT_FALSE(path.empty());
    const std::string directory = platform::DirectoryPart(path);
    ASSERT_FALSE(directory.empty());
#ifdef _WIN32
    EXPECT_EQ(path.substr(directory.size()), "platform_tests.exe");
    EXPECT_EQ(path[1], ':') << path;
#else
    EXPECT_EQ(path.substr(directory.size()), "platform_tests");
    EXPECT_EQ(path[0], '/') << path;
#endif
    EXPECT_TRUE(platform::Exists(path));
}

// Today's date is kept between calls; what it gives must still be the local calendar's date,
// call after call (the check allows for midnight passing during the test).
TEST(Process, TodayIsTheLocalDate)
{
    const auto local = [] {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
#ifdef _WIN32
        localtime_s(&tm, &now);
#else
        localtime_r(&now, &tm);
#endif
        return std::tuple(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    };
    for (int i = 0; i < 3; ++i) {
        const auto before = local();
        const platform::LocalDate today = platform::Today();
        const auto after = local();
        const auto got = std::tuple(today.year, today.month, today.day);
        EXPECT_TRUE(got == before || got == after)
            << today.year << "-" << today.month << "-" << today.day << " is not today";
    }
}

KERG_CHILD_TASK(echo_arguments)
{
    std::string all;
    for (const std::string& arg : channel.Args())
        all += "[" + arg + "]";
    channel.Report(all);
    return 0;
}

// Arguments reach another program whole: Polish letters, blanks, quotes, trailing backslashes.
TEST(Process, ArgumentsReachAnotherProcessUnchanged)
{
    const std::vector<std::string> args = {"\xc5\xbb\xc3\xb3\xc5\x82\xc4\x87 \xc4\x98\xc4\x84",
                                           "D:\\DANE\\ARCH\\", "a \"quoted\" word", "", "\\\\server\\dane"};
    test_support::ChildProcess child("echo_arguments", args);
    std::string expected;
    for (const std::string& arg : args)
        expected += "[" + arg + "]";
    EXPECT_EQ(child.Report(), expected);
    EXPECT_EQ(child.Wait(), 0);
}

// Share modes between opens of one process; other processes are kept out the same way (the
// table engine's tests hold tables from a second process).
TEST(Files, ShareModes)
{
    test_support::TempDir dir;
    const std::string path = dir.File("DOSTEP.DBF");
    ASSERT_TRUE(writers::WriteFile(path, "data"));
    platform::OpenFailure failure = platform::OpenFailure::None;
    {
        auto exclusive = platform::OpenLocked(path, platform::ShareMode::Exclusive, &failure);
        ASSERT_NE(exclusive, nullptr);
        EXPECT_EQ(platform::OpenLocked(path, platform::ShareMode::Shared, &failure), nullptr);
        EXPECT_EQ(failure, platform::OpenFailure::Locked);
        EXPECT_EQ(platform::OpenLocked(path, platform::ShareMode::Exclusive, &failure), nullptr);
        EXPECT_EQ(failure, platform::OpenFailure::Locked);
    }
    {
        auto shared = platform::OpenLocked(path, platform::ShareMode::Shared, &failure);
        ASSERT_NE(shared, nullptr);
        EXPECT_NE(platform::OpenLocked(path, platform::ShareMode::Shared, &failure), nullptr);
        EXPECT_EQ(platform::OpenLocked(path, platform::ShareMode::Exclusive, &failure), nullptr);
        EXPECT_EQ(failure, platform::OpenFailure::Locked);
        // The update lock is taken and given back between shared opens.
        ASSERT_TRUE(shared->LockForUpdate());
        shared->UnlockForUpdate();
    }
    EXPECT_NE(platform::OpenLocked(path, platform::ShareMode::Exclusive, &failure), nullptr) << "all closed";
}

} // namespace
