// A damaged archive record costs only itself: a work's assortment line, parcel or raster range
// that cannot be read, or whose index entry points beyond its table, is skipped and named in the
// report, and the work's other entries are imported with their own values; a damaged works
// index entry leaves its work uncompleted and says so.
#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "convert/kerg_conversion.h"
#include "tests/convert/damage.h"
#include "tests/convert/office.h"
#include "tools/archive_builder.h"

namespace {

using office::Office;

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
    o.CreateTarget();
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000001"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2000"}, {"LP", "1"}});
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

} // namespace
