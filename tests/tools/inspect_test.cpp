// kerg-inspect's commands, its archive check against damaged archives, and its helpers.
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "archive/reader.h"
#include "engine/checksum.h"
#include "engine/table.h"
#include "engine/transaction.h"
#include "platform/file_operations.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"
#include "tools/cp852.h"
#include "tools/dbf_writer.h"
#include "tools/inspect.h"
#include "tools/key_expression.h"
#include "tools/ntx_writer.h"
#include "tools/sample_archive.h"
#include "tools/sample_office.h"

namespace {

const std::string kData = KERG_TEST_DATA;

struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

Outcome Inspect(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = tools::RunInspect(args, out, err);
    return {status, out.str(), err.str()};
}

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Inspect, IndexListsEveryEntryInKeyOrder)
{
    const Outcome r = Inspect({"index", kData + "/ntx/SMALL.NTX"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2\t414C46412020\tALFA  \n"
                     "5\t414C46412020\tALFA  \n"
                     "4\t425241564F20\tBRAVO \n"
                     "1\t44454C544120\tDELTA \n"
                     "3\t4543484F2020\tECHO  \n");
}

TEST(Inspect, IndexShowsBinaryKeysSafely)
{
    const Outcome r = Inspect({"index", kData + "/ntx/BINKEY.NTX"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), 20000);
    // The first entry is the value 256: bytes 00 01 00 00, shown as four dots.
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "425\t00010000\t....");
}

TEST(Inspect, SeekByTextHexAndPolishLetters)
{
    EXPECT_EQ(Inspect({"seek", kData + "/ntx/SMALL.NTX", "BRAVO"}).out, "4\n");
    EXPECT_EQ(Inspect({"seek", kData + "/ntx/SMALL.NTX", "ALFA"}).out, "2\n");
    const Outcome miss = Inspect({"seek", kData + "/ntx/SMALL.NTX", "CHARL"});
    EXPECT_EQ(miss.status, tools::kInspectNotFound);
    EXPECT_EQ(Inspect({"seek", kData + "/ntx/BINKEY.NTX", "--hex", "20200000"}).out, "1906\n")
        << "the first of two";
    // ŁÓDŹ typed in UTF-8, searched in code page 852.
    EXPECT_EQ(Inspect({"seek", kData + "/ntx/CP852.NTX", "ŁÓDŹ"}).out, "1\n");
    const Outcome bad = Inspect({"seek", kData + "/ntx/SMALL.NTX", "--hex", "4G"});
    EXPECT_EQ(bad.status, tools::kInspectBadInput);
    EXPECT_EQ(Lines(bad.err), 1);
}

TEST(Inspect, DumpDecodesTextAndMarksDeletedRecords)
{
    const Outcome r = Inspect({"dump", kData + "/ntx/DELETED.DBF"});
    ASSERT_EQ(r.status, 0);
    std::istringstream lines(r.out);
    std::string first;
    std::getline(lines, first);
    EXPECT_EQ(first, "*\tBFD\t1");
    EXPECT_EQ(Lines(r.out), 400);
    const Outcome cp = Inspect({"dump", kData + "/ntx/CP852.DBF", "nazwa"});
    std::istringstream cpLines(cp.out);
    std::string a, b;
    std::getline(cpLines, a);
    std::getline(cpLines, b);
    EXPECT_EQ(a, "\tŁÓDŹ");
    EXPECT_EQ(b, "\tżółć");
    const Outcome missing = Inspect({"dump", kData + "/ntx/CP852.DBF", "nothing"});
    EXPECT_EQ(missing.status, tools::kInspectBadInput);
}

TEST(Inspect, TableDescribesHeaderAndFields)
{
    const Outcome r = Inspect({"table", kData + "/ntx/NAMES.DBF"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("rekordy\t20000\n"), std::string::npos);
    EXPECT_NE(r.out.find("długość nagłówka\t98\n"), std::string::npos);
    EXPECT_NE(r.out.find("KLUCZ\tC\t12\t0\nNR\tN\t8\t0\n"), std::string::npos);
}

TEST(Inspect, BadInputGivesOneLineAndAStatus)
{
    test_support::TempDir dir;
    writers::WriteFile(dir.File("BROKEN.DBF"), std::string("\x03\x01\x01\x01", 4));
    writers::WriteFile(dir.File("BROKEN.NTX"), std::string(100, 'x'));
    const std::vector<std::vector<std::string>> calls = {{"table", dir.File("NONE.DBF")},
                                                         {"table", dir.File("BROKEN.DBF")},
                                                         {"dump", dir.File("BROKEN.DBF")},
                                                         {"index", dir.File("BROKEN.NTX")},
                                                         {"seek", dir.File("BROKEN.NTX"), "A"},
                                                         {"check", dir.File("nowhere")},
                                                         {"frobnicate"},
                                                         {}};
    for (const auto& call : calls) {
        const Outcome r = Inspect(call);
        EXPECT_EQ(r.status, tools::kInspectBadInput) << (call.empty() ? "" : call[0]);
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
}

// An archive copied from the sample, then damaged in one way per test.
class CheckTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tools::WriteSampleArchive(dir_.Path(), 30, 7)); }

    Outcome Check() { return Inspect({"check", dir_.Path()}); }

    // Rewrites KERG.NTX from the given entries.
    void WriteKergIndex(std::vector<writers::NtxEntry> entries)
    {
        writers::NtxOptions options;
        options.keyExpression = "ID_KERG";
        options.keySize = 4;
        ASSERT_TRUE(writers::WriteFile(dir_.File("KERG.NTX"), writers::BuildNtx(entries, options)));
    }

    // The entries of a sound KERG.NTX: record r holds the link value r.
    static std::vector<writers::NtxEntry> KergEntries(int records)
    {
        std::vector<writers::NtxEntry> entries;
        for (int r = 1; r <= records; ++r)
            entries.push_back({std::string{static_cast<char>(r), 0, 0, 0}, static_cast<std::uint32_t>(r)});
        std::sort(entries.begin(), entries.end(),
                  [](const writers::NtxEntry& a, const writers::NtxEntry& b) { return a.key < b.key; });
        return entries;
    }

    test_support::TempDir dir_;
};

TEST_F(CheckTest, SoundArchivePasses)
{
    const Outcome r = Check();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Archiwum w porządku"), std::string::npos);
}

TEST_F(CheckTest, FindsAMissingFile)
{
    std::filesystem::remove(dir_.File("ULICE.DBF"));
    const Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("ulice.dbf: plik nie istnieje"), std::string::npos) << r.out;
}

TEST_F(CheckTest, FindsAMissingField)
{
    writers::DbfWriter wrong({{"NAZWISKO", 'C', 25, 0}});
    wrong.Add({"x"});
    ASSERT_TRUE(wrong.Write(dir_.File("GMINA.DBF")));
    const Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("gmina.dbf: brak pola NAZWA"), std::string::npos) << r.out;
}

TEST_F(CheckTest, FindsACutTable)
{
    std::string bytes = test_support::ReadWholeFile(dir_.File("OSOBY.DBF"));
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(writers::WriteFile(dir_.File("OSOBY.DBF"), bytes));
    const Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("osoby.dbf: plik jest krótszy, niż wynika z nagłówka"), std::string::npos) << r.out;
}

TEST_F(CheckTest, FindsAnIndexTheImportCannotSearch)
{
    std::string bytes = test_support::ReadWholeFile(dir_.File("KERGASOR.NTX"));
    bytes[278] = 1; // unique: a work's second line and those after it have no entry
    ASSERT_TRUE(writers::WriteFile(dir_.File("KERGASOR.NTX"), bytes));
    const Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("kergasor.ntx: indeks unikalny"), std::string::npos) << r.out;
}

TEST_F(CheckTest, FindsIndexEntriesMissingDoubledOrWrong)
{
    auto entries = KergEntries(30);
    entries.erase(entries.begin() + 3); // one record without an entry
    WriteKergIndex(entries);
    Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("kerg.ntx: brak rekordu"), std::string::npos) << r.out;

    entries = KergEntries(30);
    entries.insert(entries.begin() + 5, entries[5]); // one record twice
    WriteKergIndex(entries);
    r = Check();
    EXPECT_NE(r.out.find("występuje 2 razy"), std::string::npos) << r.out;

    entries = KergEntries(30);
    std::swap(entries[2].record, entries[3].record); // keys that do not belong to their records
    WriteKergIndex(entries);
    r = Check();
    EXPECT_NE(r.out.find("różni się od wartości wyrażenia ID_KERG"), std::string::npos) << r.out;

    entries = KergEntries(30);
    std::swap(entries[10], entries[11]); // out of key order
    WriteKergIndex(entries);
    r = Check();
    EXPECT_NE(r.out.find("poza kolejnością"), std::string::npos) << r.out;
}

TEST_F(CheckTest, FindsADamagedIndex)
{
    std::string bytes = test_support::ReadWholeFile(dir_.File("ROBOTY.NTX"));
    bytes.resize(1500); // the root page is cut
    ASSERT_TRUE(writers::WriteFile(dir_.File("ROBOTY.NTX"), bytes));
    const Outcome r = Check();
    EXPECT_EQ(r.status, tools::kInspectProblems);
    EXPECT_NE(r.out.find("roboty.ntx: uszkodzona strona indeksu"), std::string::npos) << r.out;
}

TEST(KeyExpression, EvaluatesFieldsStrAndUpper)
{
    writers::DbfWriter table(
        {{"SEG", 'C', 4, 0}, {"NR", 'N', 4, 0}, {"NAZWA", 'C', 6, 0}, {"KWOTA", 'N', 8, 2}});
    table.Add({"   P", "12", "\xA5\x62\x63", "-3.5"}); // ąbc in code page 852
    test_support::MemoryFiles files;
    files.Add("T.DBF", table.Bytes());
    archive::Reader reader(files.Opener());
    reader.ResetWorkAreas();
    std::uint8_t area = 0;
    reader.OpenTable("T.DBF", area);
    const auto& fields = reader.Area(area)->descriptors;
    const std::string record(reader.CurrentRecordBytes(area));

    auto eval = [&](const char* text) -> std::optional<std::string> {
        const auto e = tools::KeyExpression::Parse(text, fields);
        if (!e)
            return std::string("<unparsed>");
        return e->Evaluate(record);
    };
    EXPECT_EQ(eval("SEG+STR(NR,4)"), "   P  12");
    EXPECT_EQ(eval("seg + str(nr, 6, 1)"), "   P  12.0");
    EXPECT_EQ(eval("t->NAZWA"), "\xA5\x62\x63   ");
    EXPECT_EQ(eval("UPPER(NAZWA)"), "\xA4"
                                    "BC   ");
    EXPECT_EQ(eval("STR(KWOTA,8,2)"), "   -3.50");
    EXPECT_EQ(eval("STR(NR,1)"), "*");
    EXPECT_EQ(eval("NR"), std::nullopt) << "a number is not a key text";
    EXPECT_EQ(eval("SEG+NR"), std::nullopt);
    EXPECT_EQ(eval("DTOS(SEG)"), "<unparsed>");
    EXPECT_EQ(eval("NOSUCH"), "<unparsed>");
    EXPECT_EQ(eval("SEG+"), "<unparsed>");
}

TEST(Cp852, DecodesAndEncodesEveryByte)
{
    for (int b = 0x20; b < 256; ++b) {
        if (b == 0x7F)
            continue;
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(tools::Utf8ToCp852(tools::Cp852ToUtf8(byte)), byte) << b;
    }
    EXPECT_EQ(tools::Cp852ToUtf8("\x9D\xE0\x44\x8D"), "ŁÓDŹ");
    EXPECT_EQ(tools::Cp852ToUtf8(std::string("a\0\x0A", 3), true), "a..");
    EXPECT_EQ(tools::Utf8ToCp852("€"), std::nullopt);
    EXPECT_EQ(tools::Utf8ToCp852("\xC5"), std::nullopt);
}

} // namespace

namespace {

// The digest compares offices: equal data give equal lines whatever the header dates, and any
// other changed byte shows in its file's line.
TEST(Inspect, DigestComparesOfficesWithoutTheirDates)
{
    test_support::TempDir a, b;
    ASSERT_TRUE(tools::WriteSampleOffice(a.File("ARCH"), a.File("CEL"), {40, 2}));
    ASSERT_TRUE(tools::WriteSampleOffice(b.File("ARCH"), b.File("CEL"), {40, 2}));
    const Outcome first = Inspect({"digest", a.Path()});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(Inspect({"digest", b.Path()}).out, first.out);
    EXPECT_GT(Lines(first.out), 30);
    EXPECT_NE(first.out.find(" CEL/BAZA/KERG/Roboty.dbf\n"), std::string::npos) << first.out;

    const std::string works = b.File("CEL/BAZA/KERG/Roboty.dbf");
    std::string bytes = test_support::ReadWholeFile(works);
    bytes[1] = static_cast<char>(bytes[1] + 1); // another day of last update
    ASSERT_TRUE(writers::WriteFile(works, bytes));
    EXPECT_EQ(Inspect({"digest", b.Path()}).out, first.out);

    bytes[bytes.size() - 2] = static_cast<char>(bytes[bytes.size() - 2] ^ 1); // a data byte
    ASSERT_TRUE(writers::WriteFile(works, bytes));
    std::istringstream left(first.out), right(Inspect({"digest", b.Path()}).out);
    std::vector<std::string> differing;
    for (std::string l, r; std::getline(left, l) && std::getline(right, r);) {
        if (l != r)
            differing.push_back(r.substr(r.rfind(' ') + 1));
    }
    EXPECT_EQ(differing, std::vector<std::string>{"CEL/BAZA/KERG/Roboty.dbf"});
}

TEST(Inspect, DigestLinesAndFailures)
{
    test_support::TempDir dir;
    ASSERT_TRUE(writers::WriteFile(dir.File("check.txt"), "123456789"));
    EXPECT_EQ(Inspect({"digest", dir.Path()}).out, "CBF43926 9 check.txt\n")
        << "the standard CRC-32 check value";
    const Outcome missing = Inspect({"digest", dir.File("brak")});
    EXPECT_EQ(missing.status, tools::kInspectBadInput);
    EXPECT_EQ(missing.err, "kerg-inspect: katalog " + dir.File("brak") + " nie istnieje\n");
}

// A rebuild in a second process that ends at its k-th change of a file.
KERG_CHILD_TASK(reindex_dies)
{
    platform::InjectFault(std::stoull(channel.Args().at(1)), platform::FaultAction::Exit);
    std::ostringstream out, err;
    return tools::RunInspect({"reindex", channel.Args().at(0)}, out, err);
}

// A key changed in a table behind its index's back: "Nowak" becomes "Zowak" in the persons table.
void DamagePersons(const std::string& target)
{
    const std::string persons = target + "/BAZA/OSOBY/Osoby.dbf";
    std::string bytes = test_support::ReadWholeFile(persons);
    const auto at = bytes.rfind("Nowak"); // the key; the name lines come before it
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'Z';
    ASSERT_TRUE(writers::WriteFile(persons, bytes));
}

TEST(Inspect, VerifyChecksEveryTableAndTagAndReindexMendsThem)
{
    test_support::TempDir dir;
    const std::string target = dir.File("CEL");
    ASSERT_TRUE(tools::WriteSampleOffice(dir.File("ARCH"), target, {40, 2}));
    const Outcome sound = Inspect({"verify", target});
    EXPECT_EQ(sound.status, tools::kInspectOk) << sound.out;
    EXPECT_NE(sound.out.find("Sprawdzono tabel: 9."), std::string::npos) << sound.out;

    DamagePersons(target);
    const Outcome damaged = Inspect({"verify", target});
    EXPECT_EQ(damaged.status, tools::kInspectProblems);
    EXPECT_NE(damaged.out.find("Osoby.dbf, znacznik UPP_KLUCZ: klucz rekordu 1 nie zgadza się"),
              std::string::npos)
        << damaged.out;
    EXPECT_NE(damaged.out.find("Znalezione problemy: 1."), std::string::npos) << damaged.out;

    const Outcome rebuilt = Inspect({"reindex", target + "/BAZA/OSOBY/Osoby.dbf"});
    EXPECT_EQ(rebuilt.status, tools::kInspectOk) << rebuilt.out << rebuilt.err;
    EXPECT_EQ(Inspect({"verify", target}).status, tools::kInspectOk);
    EXPECT_FALSE(engine::JournalPending(target + "/BAZA/OSOBY"));

    const Outcome missing = Inspect({"reindex", target + "/BAZA/OSOBY/Brak.dbf"});
    EXPECT_EQ(missing.status, tools::kInspectBadInput);
    EXPECT_EQ(Inspect({"verify", dir.File("brak")}).status, tools::kInspectBadInput);
}

// Writes `expression` over the key expression of `tag` in an MDX file, as another program might have
// made a tag this engine cannot evaluate.
void ReplaceTagExpression(const std::string& mdx, const std::string& tag, const std::string& expression)
{
    std::string bytes = test_support::ReadWholeFile(mdx);
    ASSERT_GT(bytes.size(), 2048u);
    const int tags = static_cast<unsigned char>(bytes[28]);
    for (int i = 0; i < tags; ++i) {
        const std::size_t entry = 544 + 32 * static_cast<std::size_t>(i);
        if (bytes.compare(entry + 4, tag.size(), tag) != 0 || bytes[entry + 4 + tag.size()] != '\0')
            continue;
        const std::size_t page = static_cast<unsigned char>(bytes[entry]) |
                                 static_cast<std::size_t>(static_cast<unsigned char>(bytes[entry + 1])) << 8;
        const std::size_t at = page * 512 + 24;
        ASSERT_LT(expression.size(), 220u);
        bytes.replace(at, 221, expression + std::string(221 - expression.size(), '\0'));
        ASSERT_TRUE(writers::WriteFile(mdx, bytes));
        return;
    }
    FAIL() << "no tag " << tag << " in " << mdx;
}

TEST(Inspect, VerifyListsEveryTagAndSaysWhichOneWouldStopAnImport)
{
    test_support::TempDir dir;
    const std::string target = dir.File("CEL");
    ASSERT_TRUE(tools::WriteSampleOffice(dir.File("ARCH"), target, {40, 2, 0, tools::ExtraTags::Indexed}));
    const Outcome sound = Inspect({"verify", target});
    EXPECT_EQ(sound.status, tools::kInspectOk) << sound.out;
    EXPECT_NE(
        sound.out.find("BAZA/OSOBY/Osoby.dbf: znacznik ZYWE: KLUCZ FOR LEN(TRIM(NIP)) > 0 (klucz znakowy, "
                       "30 B): prowadzony\n"),
        std::string::npos)
        << sound.out;
    EXPECT_NE(sound.out.find("BAZA/KERG/Asortym.dbf: znacznik UPP_ASORT: UPPER(ASORT) (klucz znakowy, 2 B): "
                             "prowadzony\n"),
              std::string::npos)
        << sound.out;

    // A tag over a function this engine does not know: named with its reason, and the check fails.
    ReplaceTagExpression(target + "/BAZA/OSOBY/Osoby.mdx", "WYRAZ", "SOUNDEX(NAZWA1)");
    const Outcome refused = Inspect({"verify", target});
    EXPECT_EQ(refused.status, tools::kInspectProblems) << refused.out;
    EXPECT_NE(refused.out.find("BAZA/OSOBY/Osoby.dbf: znacznik WYRAZ: SOUNDEX(NAZWA1) (klucz znakowy"),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("nieobsługiwany: nie można obliczyć wyrażenia"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("Znalezione problemy: 1."), std::string::npos) << refused.out;

    // A tag the import finds persons by, over another field: the engine keeps it, but the import
    // would not find by it every person it added. Said as a problem, with the tag named.
    ReplaceTagExpression(target + "/BAZA/OSOBY/Osoby.mdx", "WYRAZ", "UPPER(NAZWA1)");
    ReplaceTagExpression(target + "/BAZA/OSOBY/Osoby.mdx", "UPP_KLUCZ", "LEFT(NAZWA1,30)");
    const Outcome searched = Inspect({"verify", target});
    EXPECT_EQ(searched.status, tools::kInspectProblems) << searched.out;
    EXPECT_NE(searched.out.find("Osoby.dbf, znacznik UPP_KLUCZ: klucz \u201ELEFT(NAZWA1,30)\u201D zależy od: "
                                "NAZWA1, a import szuka tylko po: KLUCZ"),
              std::string::npos)
        << searched.out;
}

TEST(Inspect, VerifyNamesAJournalWaitingToBeWithdrawnAndRecoverTakesItAway)
{
    test_support::TempDir dir;
    const std::string target = dir.File("CEL");
    ASSERT_TRUE(tools::WriteSampleOffice(dir.File("ARCH"), target, {20, 2}));
    // The beginning of a journal whose records never reached the disk.
    std::string header = "KERGJRNL";
    header += std::string("\x01\0\0\0\0\0\0\0", 8) + "12345678";
    const std::uint32_t crc = engine::Crc32(header);
    for (int i = 0; i < 4; ++i)
        header.push_back(static_cast<char>((crc >> (8 * i)) & 0xFF));
    header.append(4, '\0');
    ASSERT_TRUE(writers::WriteFile(target + "/BAZA/" + engine::kJournalFileName, header));
    const Outcome pending = Inspect({"verify", target});
    EXPECT_EQ(pending.status, tools::kInspectProblems);
    EXPECT_NE(pending.out.find("Dziennik przerwanego importu"), std::string::npos) << pending.out;

    // It names no file yet: the recovery removes it and changes nothing.
    const Outcome recovered = Inspect({"recover", target});
    EXPECT_EQ(recovered.status, tools::kInspectOk);
    EXPECT_NE(recovered.out.find("nie ma czego wycofywać"), std::string::npos) << recovered.out;
    EXPECT_EQ(Inspect({"verify", target}).status, tools::kInspectOk);
    EXPECT_EQ(Inspect({"recover"}).status, tools::kInspectBadInput);
}

// A rebuild of an index is one transaction: killed at any change of a file, it leaves the old
// index or the new one, and the next rebuild finishes the job.
TEST(Inspect, AReindexKilledAnywhereIsFinishedByTheNext)
{
    test_support::TempDir dir;
    const std::string pristine = dir.File("CEL");
    ASSERT_TRUE(tools::WriteSampleOffice(dir.File("ARCH"), pristine, {60, 2}));
    DamagePersons(pristine);
    const std::string table = "/BAZA/OSOBY/Osoby.dbf";
    std::uint64_t changes = 0;
    {
        const std::string copy = dir.File("count");
        std::filesystem::copy(pristine, copy, std::filesystem::copy_options::recursive);
        const std::uint64_t before = platform::FileChanges();
        ASSERT_EQ(Inspect({"reindex", copy + table}).status, tools::kInspectOk);
        changes = platform::FileChanges() - before;
    }
    ASSERT_GT(changes, 3u);
    const std::string records = test_support::ReadWholeFile(pristine + table);
    for (std::uint64_t k = 1; k <= changes; ++k) {
        SCOPED_TRACE("rebuild dies at change " + std::to_string(k));
        const std::string copy = dir.File("k" + std::to_string(k));
        std::filesystem::copy(pristine, copy, std::filesystem::copy_options::recursive);
        test_support::ChildProcess child("reindex_dies", {copy + table, std::to_string(k)});
        ASSERT_EQ(child.Wait(), platform::kFaultExitCode);
        const Outcome again = Inspect({"reindex", copy + table});
        EXPECT_EQ(again.status, tools::kInspectOk) << again.out << again.err;
        EXPECT_EQ(Inspect({"verify", copy}).status, tools::kInspectOk);
        EXPECT_EQ(test_support::ReadWholeFile(copy + table).substr(4), records.substr(4))
            << "the records stay as they were";
        std::filesystem::remove_all(copy);
    }
}

} // namespace
