// The sample office: written the same way for the same seed, imported end to end, every tag
// sound afterwards and read alike by Perl XBase, and a second run that changes nothing.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "platform/paths.h"
#include "tests/convert/office.h"
#include "tests/engine/support.h"
#include "tools/inspect.h"
#include "tools/sample_office.h"

namespace fs = std::filesystem;

namespace {

// Every file under `dir` with its bytes; the last-update dates of tables and indexes blanked.
std::map<std::string, std::string> Snapshot(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(platform::NativePath(dir))) {
        if (!entry.is_regular_file() ||
            convert::IsReportFileName(platform::Utf8Path(entry.path().filename())))
            continue;
        std::string bytes = test_support::ReadWholeFile(platform::Utf8Path(entry.path()));
        std::string ext = platform::Utf8Path(entry.path().extension());
        for (char& c : ext)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if ((ext == ".DBF" || ext == ".MDX") && bytes.size() > 4)
            bytes.replace(1, 3, "###");
        if (ext == ".MDX" && bytes.size() > 47)
            bytes.replace(44, 3, "###");
        files[platform::Utf8Path(fs::relative(entry.path(), platform::NativePath(dir)))] = bytes;
    }
    return files;
}

int Import(const std::string& archive, const std::string& target, std::string* output = nullptr)
{
    std::ostringstream out, err;
    const int status = tools::RunInspect({"import", archive, target, "--backup-done"}, out, err);
    if (output != nullptr)
        *output = out.str();
    return status;
}

TEST(SampleOffice, SameSeedSameBytes)
{
    test_support::TempDir a, b;
    tools::WriteSampleOffice(a.File("ARCH"), a.File("CEL"), {120, 7});
    tools::WriteSampleOffice(b.File("ARCH"), b.File("CEL"), {120, 7});
    const auto first = Snapshot(a.Path());
    EXPECT_EQ(first, Snapshot(b.Path()));
    EXPECT_GT(first.size(), 30u);
    test_support::TempDir c;
    tools::WriteSampleOffice(c.File("ARCH"), c.File("CEL"), {120, 8});
    EXPECT_NE(first, Snapshot(c.Path())) << "another seed, another office";
}

TEST(SampleOffice, ImportsAndASecondRunChangesNothing)
{
    test_support::TempDir dir;
    const std::string archive = dir.File("ARCH");
    const std::string target = dir.File("CEL");
    ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {300, 1}));
    const std::string kerg = tools::TargetDir(target + "/", "KERG");
    const auto before = tools::ReadTargetRows(kerg, "Roboty.dbf");

    std::string output;
    ASSERT_EQ(Import(archive, target, &output), 0) << output;
    // The messages as the run shows them, then the report's summary under the last one.
    const std::string messages =
        "Pytanie: Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)\n"
        "Błąd: W aktualnej bazie występuje obręb: 009000101 ,którego brak w archiwum / "
        "Kontynuować konwersję ?\n"
        "Błąd: Wystąpił błąd podczas ustalania numeru obrębu.Brak obrębu: 001001201\n"
        "Komunikat: Import został zakończony.\n"
        "    Raport zapisano w pliku: ";
    EXPECT_EQ(output.substr(0, messages.size()), messages);
    EXPECT_NE(
        output.find(
            "\n    Prace bazy docelowej przejrzane przez ten import: 277\n      uzupełnione teraz: 226\n"),
        std::string::npos)
        << output;

    // The works the archive knows were completed; the others, and the completed ones, were not.
    const auto after = tools::ReadTargetRows(kerg, "Roboty.dbf");
    ASSERT_EQ(after.size(), before.size());
    int completed = 0;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (!before[i].at("WYKON").empty()) {
            EXPECT_EQ(after[i], before[i]) << "row " << i;
        } else if (!after[i].at("WYKON").empty()) {
            ++completed;
            EXPECT_EQ(after[i].at("W_TOKU"), "0");
            EXPECT_EQ(after[i].at("NR_G").size(), 3u);
        }
    }
    EXPECT_GT(completed, 200);
    EXPECT_LT(completed, 300);

    // Every tag holds its rows' keys, and Perl XBase walks each one in the engine's order.
    EXPECT_EQ(engine::VerifyDirectory(target), std::vector<std::string>{});
    const std::pair<std::string, std::string> tags[] = {
        {kerg + "/Asortym.mdx", "UPP_ASORT"},
        {kerg + "/Asortym.mdx", "UPP_NAZ_A"},
        {kerg + "/dz.mdx", "OBR_DZ_ARK"},
        {tools::TargetDir(target + "/", "OSOBY") + "/Osoby.mdx", "UPP_KLUCZ"}};
    for (const auto& [mdx, tag] : tags) {
        const auto walk = enginetest::EngineWalk(mdx, tag);
        EXPECT_FALSE(walk.empty()) << tag;
#ifndef _WIN32 // no Perl beside the Windows build
        EXPECT_EQ(enginetest::PerlWalk(mdx, tag), enginetest::Records(walk)) << tag;
#endif
    }

    // A second run finds nothing left to do.
    const auto snapshot = Snapshot(target);
    ASSERT_EQ(Import(archive, target), 0);
    auto again = Snapshot(target);
    EXPECT_EQ(again, snapshot);
}

// The same office imported post by post (every change straight to the files), in batches of a few
// works, and as the program commits: the same bytes in every file (header dates aside).
TEST(SampleOffice, BatchedImportsWriteTheBytesOfAnImportPostByPost)
{
    std::map<std::string, std::string> reference;
    for (const int perCommit : {0, 7, convert::kWorksPerCommit}) {
        SCOPED_TRACE("works per commit " + std::to_string(perCommit));
        test_support::TempDir dir;
        const std::string archive = dir.File("ARCH") + platform::kSeparator;
        const std::string target = dir.File("CEL") + platform::kSeparator;
        ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {400, 9}));
        office::ScriptedUi ui;
        ui.archiveText = archive;
        ui.targetText = target;
        convert::ImportRun run(ui, dir.File("brak.gm"), [] { return convert::Date{2026, 12, 6}; });
        run.Commits().transactions = perCommit > 0;
        if (perCommit > 0)
            run.Commits().worksPerCommit = perCommit;
        run.BitBtn1Click();
        ASSERT_TRUE(ui.closed);
        const auto files = Snapshot(target);
        if (reference.empty())
            reference = files;
        else
            EXPECT_TRUE(files == reference);
    }
}

// Every table under `dir` (by its path below `dir`) with its rows read as text.
std::map<std::string, std::vector<std::map<std::string, std::string>>> AllRows(const std::string& dir)
{
    std::map<std::string, std::vector<std::map<std::string, std::string>>> rows;
    for (const auto& entry : fs::recursive_directory_iterator(platform::NativePath(dir))) {
        std::string ext = platform::Utf8Path(entry.path().extension());
        for (char& c : ext)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!entry.is_regular_file() || ext != ".DBF")
            continue;
        rows[platform::Utf8Path(fs::relative(entry.path(), platform::NativePath(dir)))] =
            tools::ReadTargetRows(platform::Utf8Path(entry.path().parent_path()),
                                  platform::Utf8Path(entry.path().filename()));
    }
    return rows;
}

// Tags an office's staff made beside the records system's own, on every table (a conditional one and
// one over DTOS, STR and IIF, on tables the import appends to and edits): the import gives the same
// rows as without them, and every tag holds exactly its rows' keys afterwards.
TEST(SampleOffice, TagsOfTheOfficesOwnAreKeptThroughAnImport)
{
    test_support::TempDir plain, extra;
    ASSERT_TRUE(tools::WriteSampleOffice(plain.File("ARCH"), plain.File("CEL"), {200, 3}));
    ASSERT_TRUE(
        tools::WriteSampleOffice(extra.File("ARCH"), extra.File("CEL"), {200, 3, 0, tools::ExtraTags::All}));
    ASSERT_EQ(Import(plain.File("ARCH"), plain.File("CEL")), 0);
    std::string output;
    ASSERT_EQ(Import(extra.File("ARCH"), extra.File("CEL"), &output), 0) << output;
    EXPECT_NE(output.find("Komunikat: Import został zakończony."), std::string::npos) << output;

    EXPECT_EQ(AllRows(extra.File("CEL")), AllRows(plain.File("CEL")));
    std::size_t tables = 0;
    EXPECT_EQ(engine::VerifyDirectory(extra.File("CEL"), &tables), std::vector<std::string>{});
    EXPECT_GT(tables, 5u);
    const std::string kerg = tools::TargetDir(extra.File("CEL") + "/", "KERG");
    for (const char* table : {"Roboty", "Kergasor", "Asortym"}) {
        const std::string mdx = kerg + "/" + table + ".mdx";
        for (const char* tag : {"ZYWE", "WYRAZ"}) {
            const auto walk = enginetest::EngineWalk(mdx, tag);
            EXPECT_FALSE(walk.empty()) << table << " " << tag;
#ifndef _WIN32
            EXPECT_EQ(enginetest::PerlWalk(mdx, tag), enginetest::Records(walk)) << table << " " << tag;
#endif
        }
    }
}

// An office whose indexes dBase made of larger blocks (its index block size setting changed): the
// import writes the same tables as over indexes of the usual 1,024-byte blocks, and every tag of
// every table holds the same entries in the same order, in blocks of the file's own size.
TEST(SampleOffice, IndexesOfAnyBlockSizeAreKeptThroughAnImport)
{
    std::map<std::size_t, std::map<std::string, std::string>> files;
    std::map<std::size_t, int> split; // tags whose tree has more than one level
    for (const std::size_t pages : {std::size_t{2}, std::size_t{5}, std::size_t{63}}) {
        SCOPED_TRACE(std::to_string(pages) + " pages a block");
        test_support::TempDir office;
        tools::SampleOfficeOptions options{1000, 3, 0, tools::ExtraTags::All};
        options.indexPagesPerBlock = pages;
        ASSERT_TRUE(tools::WriteSampleOffice(office.File("ARCH"), office.File("CEL"), options));
        std::string output;
        ASSERT_EQ(Import(office.File("ARCH"), office.File("CEL"), &output), 0) << output;
        EXPECT_NE(output.find("Komunikat: Import został zakończony."), std::string::npos) << output;
        EXPECT_EQ(engine::VerifyDirectory(office.File("CEL")), std::vector<std::string>{});
        for (const auto& [name, bytes] : Snapshot(office.File("CEL"))) {
            std::string ext = name.substr(name.size() - 4);
            for (char& c : ext)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (ext == ".DBF") {
                files[pages][name] = bytes;
            } else if (ext == ".MDX") {
                EXPECT_EQ(enginetest::GetLe(bytes, 20, 2), pages) << name;
                const std::string path = office.File("CEL") + "/" + name;
                for (std::size_t tag = 0; tag < enginetest::GetLe(bytes, 28, 2); ++tag) {
                    const std::string tagName = bytes.substr(544 + 32 * tag + 4, 11).c_str();
                    // A root that is no leaf: the tree has split its blocks.
                    const std::size_t root =
                        enginetest::GetLe(bytes, enginetest::GetLe(bytes, 544 + 32 * tag) * 512) * 512;
                    const std::size_t item =
                        enginetest::GetLe(bytes, enginetest::GetLe(bytes, 544 + 32 * tag) * 512 + 18, 2);
                    if (enginetest::GetLe(bytes, root + 8 + enginetest::GetLe(bytes, root) * item) != 0)
                        ++split[pages];
                    std::string& entries = files[pages][name + ":" + tagName];
                    for (const auto& [record, key] : enginetest::EngineWalk(path, tagName))
                        entries += std::to_string(record) + "=" + key + ";";
                }
            }
        }
    }
    EXPECT_GT(files[2].size(), 20u);
    EXPECT_GT(split[5], 3) << "the larger blocks split too";
    EXPECT_EQ(files[5], files[2]);
    EXPECT_EQ(files[63], files[2]);
}

// The office's directories as typed: Polish letters in their names, a trailing separator, and on
// Windows a drive letter with backslashes (the test scripts map a drive and name it in
// KERG_TEST_DRIVE). The import gives the same files as in plain directories.
TEST(SampleOffice, ImportsFromDirectoriesWithPolishLettersAsTyped)
{
    const std::string sep(1, platform::kSeparator);
    test_support::TempDir plain;
    ASSERT_TRUE(tools::WriteSampleOffice(plain.File("ARCH"), plain.File("CEL"), {60, 5}));
    ASSERT_EQ(Import(plain.File("ARCH"), plain.File("CEL")), 0);

    test_support::TempDir dir;
    std::string archive = dir.File("Archiwum \xc5\x81\xc3\xb3\x64\xc5\xba") + sep; // "Archiwum Łódź"
    std::string driveFolder;
#ifdef _WIN32
    if (const char* drive = std::getenv("KERG_TEST_DRIVE"); drive != nullptr && *drive != '\0') {
        driveFolder = std::string(drive) + "\\DANE";
        archive = driveFolder + "\\ARCH\\";
    }
#endif
    const std::string target = dir.File("Baza \xc5\xbb\xc3\xb3\xc5\x82\xc4\x87") + sep; // "Baza Żółć"
    ASSERT_TRUE(tools::WriteSampleOffice(archive, target, {60, 5}));
    std::string output;
    EXPECT_EQ(Import(archive, target, &output), 0) << output;
    EXPECT_NE(output.find("Komunikat: Import został zakończony."), std::string::npos) << output;
    EXPECT_EQ(engine::VerifyDirectory(target), std::vector<std::string>{});
    EXPECT_EQ(Snapshot(target), Snapshot(plain.File("CEL")));
    if (!driveFolder.empty()) {
        std::error_code ec;
        fs::remove_all(platform::NativePath(driveFolder), ec);
    }
}

TEST(SampleOffice, ImportCommandAnswersFromItsOptions)
{
    test_support::TempDir dir;
    ASSERT_TRUE(tools::WriteSampleOffice(dir.File("ARCH"), dir.File("CEL"), {40, 3}));
    std::ostringstream out, err;
    // Without --backup-done the run ends as after No.
    EXPECT_EQ(tools::RunInspect({"import", dir.File("ARCH"), dir.File("CEL")}, out, err), 1);
    EXPECT_NE(out.str().find("Komunikat: Przed wykonaniem importu należy utworzyć kopię danych"),
              std::string::npos);
    // --stop-at-precinct answers No to the precinct question; options stand anywhere.
    std::ostringstream out2, err2;
    EXPECT_EQ(
        tools::RunInspect(
            {"import", "--stop-at-precinct", dir.File("ARCH"), "--backup-done", dir.File("CEL")}, out2, err2),
        1);
    EXPECT_NE(
        out2.str().find("Błąd konwersji: Wystąpił błąd podczas importu: / Błąd podczas łączenia obrębów / "),
        std::string::npos)
        << out2.str();
    // --renumber ticks the commune conversion with that file: commune 3 becomes 033 only then.
    std::ostringstream out3, err3;
    // --today stamps the added rows with that day: 16 March 2026 is (2026 - 1980) * 512 + 3 * 32 + 16.
    // A day that does not exist, or outside what the stamp holds, stops the command before it starts.
    for (const char* wrong : {"2026-02-29", "2026-3-16", "1979-12-31", "2108-01-01", "2026-13-01", "dziś"}) {
        std::ostringstream o, e;
        EXPECT_EQ(tools::RunInspect(
                      {"import", dir.File("ARCH"), dir.File("CEL"), "--backup-done", "--today", wrong}, o, e),
                  tools::kInspectBadInput)
            << wrong;
        EXPECT_NE(e.str().find("niepoprawna data"), std::string::npos) << e.str();
        EXPECT_EQ(o.str(), "") << wrong;
    }
    // An option that takes a value, given none (at the end, or followed by another option), says
    // so rather than take the next option for its value.
    for (const char* option : {"--today", "--renumber"}) {
        for (const bool last : {true, false}) {
            std::ostringstream o, e;
            std::vector<std::string> args{"import", dir.File("ARCH"), dir.File("CEL")};
            if (last)
                args.insert(args.end(), {"--backup-done", option});
            else
                args.insert(args.end(), {option, "--backup-done"});
            EXPECT_EQ(tools::RunInspect(args, o, e), tools::kInspectBadInput) << option;
            EXPECT_EQ(e.str(), std::string("kerg-inspect: po opcji ") + option + " brak wartości\n");
            EXPECT_EQ(o.str(), "") << option;
        }
    }
    EXPECT_EQ(tools::RunInspect({"import", dir.File("ARCH"), dir.File("CEL"), "--backup-done", "--renumber",
                                 dir.File("CEL") + "/przenumerowanie.gm", "--today", "2026-03-16"},
                                out3, err3),
              0)
        << out3.str() << err3.str();
    int stamped = 0;
    for (const auto& row :
         tools::ReadTargetRows(tools::TargetDir(dir.File("CEL") + "/", "OSOBY"), "Osoby.dbf")) {
        stamped += row.at("ID_TWORZ") == "00015C70" ? 1 : 0;
    }
    EXPECT_GT(stamped, 0);
    bool renumbered = false;
    for (const auto& row :
         tools::ReadTargetRows(tools::TargetDir(dir.File("CEL") + "/", "KERG"), "Roboty.dbf")) {
        EXPECT_NE(row.at("NR_G"), "003");
        renumbered |= row.at("NR_G") == "033";
    }
    EXPECT_TRUE(renumbered);
    std::ostringstream out4, err4;
    EXPECT_EQ(tools::RunInspect({"import", dir.File("ARCH"), "--bogus", dir.File("CEL")}, out4, err4),
              tools::kInspectBadInput);
}

} // namespace
