// The operating-system layer as the program meets it on each system: separators and drive
// letters, names found without regard to case, directory names with Polish letters, time stamps
// of open files, the program file's own path, arguments handed to another process, the share
// modes of table files, and small files read and replaced whole, with their failures in Polish.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "archive/code_page.h"
#include "archive/reader.h"
#include "engine/table.h"
#include "platform/file.h"
#include "platform/file_errors.h"
#include "platform/file_operations.h"
#include "platform/locked_file.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/whole_file.h"
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

// Every operation is counted once, with the bytes it asked for: benchmarks state by these what an
// import costs in file requests and in bytes.
TEST(Files, OperationsAreCountedWithTheirBytes)
{
    test_support::TempDir dir;
    const std::string path = dir.File("OBREB.DBF");
    platform::ResetFileOperations();
    auto file = platform::CreateLocked(path, nullptr);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->WriteAt(0, std::string(1000, 'a').data(), 1000));
    ASSERT_TRUE(file->WriteAt(2000, "bc", 2));
    ASSERT_TRUE(file->Resize(1500));
    char buffer[300];
    EXPECT_EQ(file->ReadAt(100, buffer, sizeof buffer), 300);
    EXPECT_EQ(file->ReadAt(1400, buffer, sizeof buffer), 100) << "asked 300, the file ends after 100";
    ASSERT_TRUE(file->Flush());
    const platform::FileOperationCounts counts = platform::FileOperations();
    EXPECT_EQ(counts.opens, 1u);
    EXPECT_EQ(counts.writes, 3u) << "two writes and a change of size";
    EXPECT_EQ(counts.bytesWritten, 1002u);
    EXPECT_EQ(counts.reads, 2u);
    EXPECT_EQ(counts.bytesRead, 600u) << "the bytes asked for";
    EXPECT_EQ(counts.flushes, 1u);
    // The exclusive open is a lock of its own on Linux, a share mode of the open on Windows.
    EXPECT_EQ(counts.Total() - counts.locks, 7u) << "bytes are no operations";
    platform::ResetFileOperations();
    EXPECT_EQ(platform::FileOperations().bytesWritten, 0u);
    EXPECT_EQ(platform::FileOperations().bytesRead, 0u);
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

// Whole-file reads and replaces fail with a Polish text that names the file and the reason.
TEST(WholeFiles, FailuresNameTheFileAndTheReason)
{
    test_support::TempDir dir;
    platform::FileFailure failure;
    const std::string missing = dir.File("brak.gm");
    EXPECT_FALSE(platform::ReadWholeFile(missing, &failure));
    EXPECT_EQ(platform::FileErrorMessage(missing, failure),
              "Nie można otworzyć pliku " + missing + ": plik nie istnieje");

    const std::string inMissingDirectory = dir.File("brak") + kSep + "plik.gm";
    EXPECT_FALSE(platform::ReplaceWholeFile(inMissingDirectory, "x", &failure));
    EXPECT_EQ(platform::FileErrorMessage(inMissingDirectory, failure),
              "Nie można zapisać pliku " + inMissingDirectory + ": katalog nie istnieje");

    // A directory where the file should be: neither read nor replaced, and left as it is.
#ifdef _WIN32
    const std::string directoryReason = "brak dostępu";
#else
    const std::string directoryReason = "to jest katalog, nie plik";
#endif
    const std::string folder = dir.File("KATALOG");
    ASSERT_TRUE(platform::CreateDirectories(folder));
    EXPECT_FALSE(platform::ReadWholeFile(folder, &failure));
    EXPECT_EQ(platform::FileErrorMessage(folder, failure),
              "Nie można otworzyć pliku " + folder + ": " + directoryReason);
    EXPECT_FALSE(platform::ReplaceWholeFile(folder, "x", &failure));
    EXPECT_EQ(platform::FileErrorMessage(folder, failure),
              "Nie można zapisać pliku " + folder + ": " + directoryReason);
    EXPECT_TRUE(platform::IsDirectory(folder));
    EXPECT_FALSE(platform::Exists(platform::ReplacementPath(folder)));

    // A code without words of its own.
    EXPECT_EQ(platform::FileErrorReason(platform::FileAction::Read, 123456),
              "błąd systemu plików (kod 123456)");
}

#ifndef _WIN32
// A named pipe where a file is expected (an archive table, the renumbering file) is refused at
// once: opened the usual way, it would wait for a writer for ever.
TEST(Files, ANamedPipeIsRefusedWithoutWaiting)
{
    test_support::TempDir dir;
    const std::string pipe = dir.File("ROBOTY.DBF");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] {
        platform::FileFailure failure;
        return platform::OpenForReading(pipe) == nullptr && !platform::ReadWholeFile(pipe, &failure);
    });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the open waits for a writer";
        // Let each waiting open go (a writer's open), so that the test ends.
        while (opened.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
    }
    EXPECT_TRUE(opened.get());
}
#endif

TEST(WholeFiles, ReplaceTakesTheOldFilesPlace)
{
    test_support::TempDir dir;
    const std::string path = dir.File("KERG-IMPORT.GM");
    EXPECT_TRUE(platform::ReplaceWholeFile(path, "1|2\r\n"));
    EXPECT_EQ(platform::ReadWholeFile(path), "1|2\r\n");
#ifndef _WIN32
    fs::permissions(platform::NativePath(path), fs::perms::owner_read | fs::perms::owner_write);
#endif
    // The name as typed finds the file whatever its letter case; the new file takes its place.
    EXPECT_TRUE(platform::ReplaceWholeFile(dir.File("kerg-import.gm"), std::string(100000, 'x')));
    EXPECT_EQ(platform::ReadWholeFile(dir.File("Kerg-Import.gm")), std::string(100000, 'x'));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(platform::NativePath(dir.Path())))
        names.push_back(platform::Utf8Path(entry.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{"KERG-IMPORT.GM"});
#ifndef _WIN32
    EXPECT_EQ(fs::status(platform::NativePath(path)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << "the permissions of the file replaced";
#endif
    EXPECT_TRUE(platform::ReplaceWholeFile(path, ""));
    EXPECT_EQ(platform::ReadWholeFile(path), "");
}

std::string OldContents()
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "old " + std::to_string(i) + "|" + std::to_string(i + 1) + "\r\n";
    return text;
}

std::string NewContents()
{
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += "new " + std::to_string(i) + "|" + std::to_string(i + 2) + "\r\n";
    return text;
}

KERG_CHILD_TASK(replace_and_end)
{
    const std::uint64_t nth = std::stoull(channel.Args().at(1));
    platform::InjectFault(nth, channel.Args().at(2) == "tear" ? platform::FaultAction::TearThenExit
                                                              : platform::FaultAction::Exit);
    const bool replaced = platform::ReplaceWholeFile(channel.Args().at(0), NewContents());
    platform::ClearFault();
    channel.Report(replaced ? "replaced" : "failed");
    return 0;
}

// A replace cut short at any of its changes (the program ended, a power cut tearing the write)
// leaves the old contents or the new ones whole, never a mix or an empty file.
TEST(WholeFiles, AReplaceCutShortLeavesOneWholeFile)
{
    test_support::TempDir dir;
    const std::string path = dir.File("kerg-import.gm");
    ASSERT_TRUE(platform::ReplaceWholeFile(path, OldContents()));
    const std::uint64_t start = platform::FileChanges();
    ASSERT_TRUE(platform::ReplaceWholeFile(path, NewContents()));
    const std::uint64_t changes = platform::FileChanges() - start;
    ASSERT_GE(changes, 3u);

    int endedWithTheOld = 0;
    for (std::uint64_t n = 1; n <= changes; ++n) {
        for (const char* how : {"exit", "tear"}) {
            SCOPED_TRACE(std::string(how) + " at change " + std::to_string(n));
            ASSERT_TRUE(platform::ReplaceWholeFile(path, OldContents()));
            test_support::ChildProcess child("replace_and_end", {path, std::to_string(n), how});
            const int code = child.Wait();
            const auto contents = platform::ReadWholeFile(path);
            ASSERT_TRUE(contents);
            if (code == platform::kFaultExitCode) {
                EXPECT_TRUE(*contents == OldContents() || *contents == NewContents());
                endedWithTheOld += *contents == OldContents() ? 1 : 0;
            } else {
                EXPECT_EQ(code, 0);
                EXPECT_EQ(*contents, NewContents());
            }
        }
    }
    EXPECT_GE(endedWithTheOld, 4) << "ends before the rename keep the old file";
}

#ifdef _WIN32
// A file another program holds exclusively is busy: it is neither read nor replaced.
TEST(WholeFiles, AFileHeldByAnotherProgramIsBusy)
{
    test_support::TempDir dir;
    const std::string path = dir.File("kerg-import.gm");
    ASSERT_TRUE(platform::ReplaceWholeFile(path, "1|2\r\n"));
    {
        platform::OpenFailure open = platform::OpenFailure::None;
        const auto held = platform::OpenLocked(path, platform::ShareMode::Exclusive, &open);
        ASSERT_NE(held, nullptr);
        platform::FileFailure failure;
        EXPECT_FALSE(platform::ReadWholeFile(path, &failure));
        EXPECT_EQ(platform::FileErrorMessage(path, failure),
                  "Nie można otworzyć pliku " + path + ": plik jest zajęty przez inny program");
        EXPECT_FALSE(platform::ReplaceWholeFile(path, "3|4\r\n", &failure));
        EXPECT_EQ(failure.action, platform::FileAction::Write);
    }
    EXPECT_EQ(platform::ReadWholeFile(path), "1|2\r\n");
}
#endif

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
