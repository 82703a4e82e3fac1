// A damaged archive record costs only itself: a work's assortment line, parcel or raster range
// that cannot be read, or whose index entry points beyond its table, is skipped and named in the
// report, and the work's other entries are imported with their own values; a damaged works
// index entry leaves its work uncompleted and says so.
#include <cctype>
#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "convert/kerg_conversion.h"
#include "tests/convert/damage.h"
#include "tests/convert/office.h"
#include "tools/archive_builder.h"

namespace {

using office::Office;

// The target of the archive's work "P 1/2000/1": its precinct and its works row, without a
// contractor.
void TargetOfOneWork(Office& o)
{
    o.CreateTarget();
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000001"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2000"}, {"LP", "1"}});
}

// One work (kerg record 1) with three assortment lines, three parcels and three raster ranges,
// each telling itself apart: quantities 1.25, 2.25, 3.25; parcels 11, 12, 13; sheets A, B, C.
void WorkWithThreeOfEach(Office& o)
{
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    o.archive.AddAssortment("ab", "Mapa");
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    tools::ArchiveKerg k;
    k.idKerg = 1;
    k.nrG = 2;
    o.archive.AddKerg(k);
    for (int i = 1; i <= 3; ++i) {
        o.archive.AddWorkAssortment(1, 1, std::to_string(i) + ".25");
        o.archive.AddParcelLink(1, o.archive.AddParcel(1, 10 + i, 0, 1), "P");
        o.archive.AddRaster(1, "1", std::string(1, static_cast<char>('A' + i - 1)), std::string(6, '\0'));
    }
    o.WriteArchive();
    TargetOfOneWork(o);
}

std::vector<std::string> Column(Office& o, const std::string& table, const std::string& field)
{
    std::vector<std::string> values;
    for (const auto& row : o.Rows(o.Kerg(), table))
        values.push_back(row.at(field));
    return values;
}

// The three values with the `position`-th (1-based) left out.
std::vector<std::string> Without(std::vector<std::string> values, int position)
{
    values.erase(values.begin() + position - 1);
    return values;
}

std::vector<std::string> Skipped(const convert::ImportRun& run)
{
    std::vector<std::string> lines;
    for (const convert::SkippedRecord& s : run.Report().skipped)
        lines.push_back(s.file + ", rekord " + std::to_string(s.record) +
                        (s.field.empty() ? "" : ", pole " + s.field) + ": " + s.what);
    return lines;
}

class AtEveryPlace : public ::testing::TestWithParam<int>
{};

TEST_P(AtEveryPlace, ADamagedQuantityCostsItsAssortmentLineAlone)
{
    const int position = GetParam();
    Office o;
    WorkWithThreeOfEach(o);
    damage::SetField(o.archiveDir + "KERGASOR.DBF", position, "WIELKOSC", "2.0.0");
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(Column(o, "Kergasor.dbf", "WIELKOSC"), Without({"1.25", "2.25", "3.25"}, position));
    EXPECT_EQ(Column(o, "dz.dbf", "DZIALKA"), (std::vector<std::string>{"11", "12", "13"}));
    EXPECT_EQ(Skipped(*o.run), std::vector<std::string>{"kergasor.dbf, rekord " + std::to_string(position) +
                                                        ", pole WIELKOSC: pozycja asortymentu pracy 00000001 "
                                                        "pominięta"});
    EXPECT_EQ(o.run->Report().completed, 1);
    o.ExpectTargetSound();
}

TEST_P(AtEveryPlace, ADamagedParcelNumberCostsThatParcelAlone)
{
    const int position = GetParam();
    Office o;
    WorkWithThreeOfEach(o);
    damage::SetField(o.archiveDir + "DZ.DBF", position, "M_DZIALKI", "x");
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(Column(o, "dz.dbf", "DZIALKA"), Without({"11", "12", "13"}, position));
    EXPECT_EQ(o.Rows(o.Kerg(), "obdg.dbf").size(), 2u);
    EXPECT_EQ(Skipped(*o.run),
              std::vector<std::string>{"dz.dbf, rekord " + std::to_string(position) +
                                       ", pole M_DZIALKI: działka pracy 00000001 pominięta"});
    o.ExpectTargetSound();
}

TEST_P(AtEveryPlace, ALinkEntryBeyondItsTableCostsThatEntryAlone)
{
    const int position = GetParam();
    // A raster range's entry, an assortment line's entry, a parcel link's entry.
    for (const char* index : {"OB_RR.NTX", "KERGASOR.NTX", "OBDG.NTX"}) {
        SCOPED_TRACE(index);
        Office o;
        WorkWithThreeOfEach(o);
        damage::PointEntry(o.archiveDir + index, tools::ArchiveBuilder::Link4(1), position, 99);
        o.Run();
        ASSERT_TRUE(o.ui.closed);
        const std::string name = index == std::string("OB_RR.NTX")      ? "ob_rr"
                                 : index == std::string("KERGASOR.NTX") ? "kergasor"
                                                                        : "obdg";
        const bool rasters = name == "ob_rr", assortments = name == "kergasor";
        const std::vector<std::string> sheets{"A", "B", "C"}, quantities{"1.25", "2.25", "3.25"};
        EXPECT_EQ(Column(o, "zakr_ras.dbf", "GODLO"), rasters ? Without(sheets, position) : sheets);
        EXPECT_EQ(Column(o, "Kergasor.dbf", "WIELKOSC"),
                  assortments ? Without(quantities, position) : quantities);
        EXPECT_EQ(Column(o, "obdg.dbf", "ID_DZIALKI").size(), !rasters && !assortments ? 2u : 3u);
        const std::string lost = rasters       ? "zakres rastrowy pracy 00000001 pominięty"
                                 : assortments ? "pozycja asortymentu pracy 00000001 pominięta"
                                               : "działka pracy 00000001 pominięta";
        EXPECT_EQ(Skipped(*o.run), std::vector<std::string>{name +
                                                            ".ntx, rekord 99: wpis indeksu wskazuje rekord "
                                                            "spoza " +
                                                            name + ".dbf; " + lost});
        o.ExpectTargetSound();
    }
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, AtEveryPlace, ::testing::Values(1, 2, 3));

TEST(DamagedArchive, AWorksIndexEntryBeyondItsTableLeavesTheWorkAndSaysSo)
{
    Office o;
    WorkWithThreeOfEach(o);
    std::string key = convert::WorksKey("P", 1, 2000, 1, "");
    key.resize(35, ' '); // the index's key: JEDN_SEG, three numbers and INNA_NAZWA
    damage::PointEntry(o.archiveDir + "ROBOTY.NTX", key, 1, 7);
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("W_TOKU"), "");
    EXPECT_TRUE(o.Rows(o.Kerg(), "Kergasor.dbf").empty());
    EXPECT_EQ(Skipped(*o.run),
              std::vector<std::string>{"roboty.ntx, rekord 7: wpis indeksu wskazuje rekord spoza "
                                       "roboty.dbf; praca 00000001 pozostawiona nieuzupełniona"});
    EXPECT_EQ(o.run->Report().damaged, 1);
}

// A works table whose header claims two thousand million records (its file holds one): the records
// past the file's end are not there to count, and the run ends at once instead of reading nothing
// two thousand million times.
TEST(DamagedArchive, AWorksTableClaimingMoreRecordsThanItsFileHoldsCountsThoseItHolds)
{
    Office o;
    WorkWithThreeOfEach(o);
    std::string bytes = test_support::ReadWholeFile(o.archiveDir + "ROBOTY.DBF");
    ASSERT_GT(bytes.size(), 8u);
    bytes.replace(4, 4, "\xFF\xFF\xFF\x7F");
    ASSERT_TRUE(writers::WriteFile(o.archiveDir + "ROBOTY.DBF", bytes));
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(o.run->Report().completed, 1);
    EXPECT_EQ(o.run->Report().archiveWorks, 1);
    EXPECT_EQ(o.run->Report().archiveWorksNotInTarget, 0);
    EXPECT_EQ(Column(o, "Kergasor.dbf", "WIELKOSC").size(), 3u);
}

TEST(DamagedArchive, ARegisterIndexEntryBeyondItsTableLeavesTheWorkAndSaysSo)
{
    Office o;
    WorkWithThreeOfEach(o);
    damage::PointEntry(o.archiveDir + "KERG.NTX", tools::ArchiveBuilder::Link4(1), 1, 5);
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("W_TOKU"), "");
    EXPECT_EQ(Skipped(*o.run),
              std::vector<std::string>{"kerg.ntx, rekord 5: wpis indeksu wskazuje rekord spoza "
                                       "kerg.dbf; praca 00000001 pozostawiona nieuzupełniona"});
}

TEST(DamagedArchive, AnAssortmentNumberBeyondTheDictionaryStillEndsTheWorksLinesAndSaysSo)
{
    // A line that converts but names no assortment: as before, it and the lines after it are left
    // (the record is whole; only its link is wrong), and the report says so.
    Office o;
    WorkWithThreeOfEach(o);
    damage::SetField(o.archiveDir + "KERGASOR.DBF", 2, "RO_ROBOTY", tools::ArchiveBuilder::Link2(9));
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(Column(o, "Kergasor.dbf", "WIELKOSC"), std::vector<std::string>{"1.25"});
    EXPECT_EQ(Skipped(*o.run),
              std::vector<std::string>{
                  "kergasor.dbf, rekord 2, pole RO_ROBOTY: asortyment nr 9 spoza asortym.dbf; ta "
                  "i dalsze pozycje asortymentu pracy 00000001 pominięte"});
    EXPECT_EQ(o.run->Report().assortmentsStopped, 1);
}

// `works` works (kerg records 1..works), each with three assortment lines 1.25, 2.25 and 3.25: the
// assortments' index has a root and several pages below it.
void WorksWithThreeAssortments(Office& o, int works)
{
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    o.archive.AddAssortment("ab", "Mapa");
    o.CreateTarget();
    for (int i = 1; i <= works; ++i) {
        o.archive.AddWork({"P", i, 2000, 1, "", true, i});
        tools::ArchiveKerg k;
        k.idKerg = i;
        k.nrG = 2;
        o.archive.AddKerg(k);
        for (int line = 1; line <= 3; ++line)
            o.archive.AddWorkAssortment(i, 1, std::to_string(line) + ".25");
        char id[16];
        std::snprintf(id, sizeof id, "%08X", i);
        tools::AppendTargetRow(o.Kerg(), "Roboty.dbf",
                               {{"ID_ROBOTY", id},
                                {"JEDN_SEG", "P"},
                                {"NR_PORZ", std::to_string(i)},
                                {"ROK", "2000"},
                                {"LP", "1"}});
    }
    o.WriteArchive();
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The offset of the last page of an index file that is not its root.
std::size_t PageBelowTheRoot(const std::string& bytes)
{
    std::size_t page = bytes.size() / 1024 - 1;
    if (page * 1024 == Le32(bytes, 4))
        --page;
    return page * 1024;
}

// Every work the import completed has its three assortment lines: none has fewer.
void ExpectCompletedWorksWhole(Office& o)
{
    std::map<std::string, int> lines;
    for (const auto& row : o.Rows(o.Kerg(), "Kergasor.dbf"))
        ++lines[row.at("ID_ROBOTY")];
    for (const auto& row : o.Rows(o.Kerg(), "Roboty.dbf")) {
        if (!row.at("W_TOKU").empty()) {
            EXPECT_EQ(lines[row.at("ID_ROBOTY")], 3) << row.at("ID_ROBOTY");
        }
    }
}

// The texts of the run's final message and errors, one after another.
std::string Shown(const Office& o)
{
    std::string all;
    for (const convert::Message& m : o.ui.messages)
        all += m.text + "\n";
    for (const std::string& e : o.ui.errors)
        all += e + "\n";
    return all;
}

// A page of an index that cannot be read, met halfway through the import, stops it with the
// index's name: taken for "no entry", it left works uncompleted, or completed them without some of
// their lines, and the run said it had succeeded. What was committed holds whole works only.
TEST(DamagedArchive, ADamagedIndexPageStopsTheImportAndNamesTheIndex)
{
    for (const char* index : {"KERGASOR.NTX", "ROBOTY.NTX", "KERG.NTX"}) {
        SCOPED_TRACE(index);
        Office o;
        WorksWithThreeAssortments(o, 200);
        const std::string path = o.archiveDir + index;
        std::string bytes = test_support::ReadWholeFile(path);
        ASSERT_GE(bytes.size(), 3u * 1024) << "the index needs pages below its root: " << bytes.size();
        // A page below the root: its item count made larger than a page holds.
        const std::size_t page = PageBelowTheRoot(bytes);
        bytes[page] = '\xFF';
        bytes[page + 1] = '\xFF';
        ASSERT_TRUE(writers::WriteFile(path, bytes));
        o.Run();
        EXPECT_FALSE(o.ui.closed);
        const std::string shown = Shown(o);
        EXPECT_NE(shown.find(std::string("Błąd podczas odczytu pliku: ") + o.archiveDir), std::string::npos)
            << shown;
        EXPECT_NE(shown.find(Lower(index) + " (uszkodzona strona indeksu)"), std::string::npos) << shown;
        ExpectCompletedWorksWhole(o);
        EXPECT_EQ(o.run->Report().notInArchive, 0);
        o.ExpectTargetSound();
    }
}

// An index whose keys are out of byte order on a page (built with a national sort module, or
// damaged) may miss keys it holds: the search that meets such a page stops the import, with the
// reason, whether the index is read whole or page by page.
TEST(DamagedArchive, AnIndexPageWithItsKeysOutOfOrderStopsTheImport)
{
    for (const bool wholeInMemory : {true, false}) {
        SCOPED_TRACE(wholeInMemory ? "read whole" : "read page by page");
        Office o;
        WorksWithThreeAssortments(o, 200);
        const std::string path = o.archiveDir + "KERGASOR.NTX";
        std::string bytes = test_support::ReadWholeFile(path);
        // The keys (and records) of two entries of a page swapped.
        const std::size_t at = PageBelowTheRoot(bytes);
        const auto item = [&](int slot) {
            return at + (static_cast<unsigned char>(bytes[at + 2 * slot]) |
                         static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 2 * slot + 1])) << 8);
        };
        const std::size_t a = item(1), b = item(4); // three lines a work: 4 is the next work's
        const std::string first = bytes.substr(a + 4, 8), second = bytes.substr(b + 4, 8);
        ASSERT_LT(first.substr(4), second.substr(4)) << "the page's first keys are in order";
        bytes.replace(a + 4, 8, second);
        bytes.replace(b + 4, 8, first);
        ASSERT_TRUE(writers::WriteFile(path, bytes));
        if (!wholeInMemory)
            o.Runner().Reader().IndexImageLimit = 0;
        o.Run();
        EXPECT_FALSE(o.ui.closed);
        EXPECT_NE(Shown(o).find("kergasor.ntx (klucze na stronie indeksu nie są w kolejności rosnącej"),
                  std::string::npos)
            << Shown(o);
        ExpectCompletedWorksWhole(o);
    }
}

// A table cut short (a copy that broke off) holds fewer records than its header counts. Those
// records are not read as blanks: a line cut in half is named as damaged, and one past the end as
// pointed to from beyond the table; the work's whole lines are imported with their own values.
TEST(DamagedArchive, ATableCutShortIsNotReadAsBlanks)
{
    Office o;
    WorkWithThreeOfEach(o);
    std::string bytes = test_support::ReadWholeFile(o.archiveDir + "KERGASOR.DBF");
    if (!bytes.empty() && bytes.back() == '\x1A')
        bytes.pop_back();
    bytes.resize(bytes.size() - 4); // the last line loses the end of its quantity
    ASSERT_TRUE(writers::WriteFile(o.archiveDir + "KERGASOR.DBF", bytes));
    o.Run();
    ASSERT_TRUE(o.ui.closed) << Shown(o);
    EXPECT_EQ(Column(o, "Kergasor.dbf", "WIELKOSC"), (std::vector<std::string>{"1.25", "2.25"}));
    EXPECT_EQ(Skipped(*o.run), std::vector<std::string>{"kergasor.dbf, rekord 3: pozycja asortymentu pracy "
                                                        "00000001 pominięta"});
}

TEST(DamagedArchive, APersonsTableCutShortLeavesTheContractorUnknownNotBlank)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    for (const char* name : {"Nowak", "Kowalski", "Wisniewski"}) {
        tools::ArchivePerson person;
        person.nazwa = name;
        person.o = 1;
        o.archive.AddPerson(person);
    }
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    tools::ArchiveKerg k;
    k.idKerg = 1;
    k.nrG = 2;
    k.wykon = 3;
    k.zlecen = 1;
    o.archive.AddKerg(k);
    o.WriteArchive();
    TargetOfOneWork(o);
    std::string bytes = test_support::ReadWholeFile(o.archiveDir + "OSOBY.DBF");
    const std::size_t recordLength = static_cast<unsigned char>(bytes[10]) |
                                     static_cast<std::size_t>(static_cast<unsigned char>(bytes[11])) << 8;
    const std::size_t headerLength = static_cast<unsigned char>(bytes[8]) |
                                     static_cast<std::size_t>(static_cast<unsigned char>(bytes[9])) << 8;
    bytes.resize(headerLength + 2 * recordLength); // the third person is gone, the header counts 3
    ASSERT_TRUE(writers::WriteFile(o.archiveDir + "OSOBY.DBF", bytes));
    o.Run();
    ASSERT_TRUE(o.ui.closed) << Shown(o);
    std::vector<std::string> names;
    for (const auto& row : o.Rows(o.Persons(), "Osoby.dbf"))
        names.push_back(row.at("NAZWA1"));
    EXPECT_EQ(names, std::vector<std::string>{"Nowak"}); // the orderer only; no person without a name
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works.at(0).at("WYKON"), "");
    EXPECT_NE(works.at(0).at("ZLECEN"), "");
    EXPECT_EQ(o.run->Report().personsMissing + static_cast<std::int64_t>(o.run->Report().skipped.size()), 1);
}

TEST(DamagedArchive, APrecinctTableCutShortStopsTheImportBeforeAnythingIsWritten)
{
    Office o;
    o.archive.AddPrecinct("14002", "0006", "B", "01");
    WorkWithThreeOfEach(o);
    std::string bytes = test_support::ReadWholeFile(o.archiveDir + "OBREB.DBF");
    if (!bytes.empty() && bytes.back() == '\x1A')
        bytes.pop_back();
    bytes.resize(bytes.size() - 3);
    ASSERT_TRUE(writers::WriteFile(o.archiveDir + "OBREB.DBF", bytes));
    o.Run();
    EXPECT_FALSE(o.ui.closed);
    EXPECT_NE(Shown(o).find("obreb.dbf (plik krótszy, niż podaje jego nagłówek)"), std::string::npos)
        << Shown(o);
    EXPECT_TRUE(o.Rows(o.Kerg(), "Kergasor.dbf").empty());
}

// An index whose keys or order the import's searches cannot use is refused at open, naming the
// file and why, before anything is written: searched, it found nothing, or not every entry, and
// the run said it had succeeded.
TEST(DamagedArchive, AnIndexTheSearchesCannotUseIsRefusedAtOpen)
{
    struct Case
    {
        const char* index;
        std::size_t offset;
        std::string bytes;
        std::string why;
    };
    const Case cases[] = {
        {"KERG.NTX", 12, std::string("\x0D\x00\x05\x00", 4), "(klucze mają 5 bajtów zamiast 4)"},
        {"NAZWY.NTX", 12, std::string("\x0C\x00\x04\x00", 4), "(klucze mają 4 bajtów zamiast 5)"},
        {"KERGASOR.NTX", 278, std::string("\x01", 1),
         "(indeks unikalny, który pomija powtórzone klucze, a praca może ich mieć wiele)"},
        {"ROBOTY.NTX", 280, std::string("\x01", 1), "(indeks malejący, a import szuka w rosnących)"},
        {"OB_RR.NTX", 282, std::string("ID_ZAK>5\0", 9),
         "(indeks z warunkiem FOR ID_ZAK>5, który może pomijać rekordy)"},
        // A damaged header: the item size is not the key's and the 8 bytes before it.
        {"OBDG.NTX", 12, std::string("\x0D\x00", 2), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        Office o;
        WorkWithThreeOfEach(o);
        const std::string path = o.archiveDir + c.index;
        std::string bytes = test_support::ReadWholeFile(path);
        bytes.replace(c.offset, c.bytes.size(), c.bytes);
        ASSERT_TRUE(writers::WriteFile(path, bytes));
        o.Run();
        EXPECT_FALSE(o.ui.closed);
        EXPECT_NE(Shown(o).find("Błąd podczas otwarcia pliku: " + o.archiveDir + Lower(c.index) +
                                (c.why.empty() ? "\r\n" : " " + c.why)),
                  std::string::npos)
            << Shown(o);
        EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf").at(0).at("W_TOKU"), "");
        EXPECT_TRUE(o.Rows(o.Kerg(), "Kergasor.dbf").empty());
    }
}

} // namespace
