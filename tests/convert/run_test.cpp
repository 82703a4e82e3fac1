// The import run end to end over a small office: its checks, its messages, the completed works
// and everything hanging on them, the counters, and its failures.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "platform/locked_file.h"
#include "tests/convert/damage.h"
#include "tests/convert/office.h"
#include "tests/support/child_process.h"
#include "tools/dbf_writer.h"

namespace {

using convert::Answer;
using office::Office;

// Code page 852 bytes of the Polish letters used below.
const std::string kSs852 = "\x98";  // ś
const std::string kSs1250 = "\x9C"; // ś
const std::string kOo852 = "\xA2";  // ó
const std::string kOo1250 = "\xF3"; // ó

// The target of the offices below: counters 5, 10 and 10, precinct 0005 as 0A01, and the works row
// 00000001 (P 12/1998/3) without a contractor.
void TargetWithOpenWork(Office& o)
{
    o.CreateTarget({5, 10, 10});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000001"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "12"}, {"ROK", "1998"}, {"LP", "3"}});
}

// One work with everything: a contractor and an orderer to create, an assortment, a parcel and
// a raster mask; a second works row already completed and a third the archive does not know.
void BasicOffice(Office& o)
{
    o.archive.AddPrecinct("14002", "0005", "Zalesie", "01");
    o.archive.AddFirstName("Jan");
    o.archive.AddCommune("Gmina Kr" + kOo852 + "lewo");
    o.archive.AddStreet("Polna");
    tools::ArchivePerson kowalski;
    kowalski.nazwa = "Kowalski";
    kowalski.imie = 1;
    kowalski.gmina = 1;
    kowalski.ulica = 1;
    kowalski.kod = "12345";
    kowalski.nrDomu = "7";
    kowalski.nrLokalu = "2";
    kowalski.pesel = "12345678901";
    kowalski.rodzaj = "F";
    o.archive.AddPerson(kowalski);
    tools::ArchivePerson company;
    company.nazwa = "GEOPOL";
    company.o = 1;
    company.pesel = std::string(10, ' ') + "0";
    const int companyRecord = o.archive.AddPerson(company);
    o.archive.AddNameLine(companyRecord, 1,
                          "Przedsi\xA9"
                          "biorstwo");
    o.archive.AddNameLine(companyRecord, 2, "Geodezyjne");
    o.archive.AddAssortment("ab", "Mapa zasadnicza");
    o.archive.AddWork({"P", 12, 1998, 3, "", true, 100});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 100;
    kerg.nrG = 7;
    kerg.nrWyk = "1/98";
    kerg.wykon = 1;
    kerg.zlecen = 2;
    kerg.uwagi = "Uwagi " + kSs852;
    kerg.polWl = "Zalesie";
    kerg.dPZak = "19980105";
    kerg.dPrzO = "19981305";
    kerg.opis = "Opis";
    const int k = o.archive.AddKerg(kerg);
    o.archive.AddWorkAssortment(k, 1, "12.50");
    const int parcel = o.archive.AddParcel(1, 15, 3, 2);
    o.archive.AddParcelLink(k, parcel, "P");
    o.archive.AddRaster(k, "1", "6.115.27.01", std::string("\x80\0\0\0\0\0", 6));
    o.WriteArchive();

    TargetWithOpenWork(o);
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf",
                           {{"ID_ROBOTY", "00000002"},
                            {"JEDN_SEG", "P"},
                            {"NR_PORZ", "12"},
                            {"ROK", "1998"},
                            {"LP", "3"},
                            {"WYKON", "00000004"}});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000003"}, {"JEDN_SEG", "Z"}, {"NR_PORZ", "1"}, {"ROK", "2001"}, {"LP", "1"}});
}

TEST(ImportRun, CompletesAWorkWithEverythingThatHangsOnIt)
{
    Office o;
    BasicOffice(o);
    o.Run();

    ASSERT_TRUE(o.ui.errors.empty()) << o.ui.errors.front();
    ASSERT_EQ(o.ui.Captions(), (std::vector<std::string>{"Pytanie", "Komunikat"}));
    EXPECT_EQ(o.ui.messages[1].text, "Import został zakończony.");
    // The archive's date of month 13 was stored as 1900-01-01: the report names it, at once.
    EXPECT_TRUE(o.ui.messages[1].detailsShown);
    EXPECT_NE(o.ui.messages[1].details.find(
                  "  kerg.dbf, rekord 1, pole D_PRZ_O: \u201E19981305\u201D w pracy 00000001\n"),
              std::string::npos)
        << o.ui.messages[1].details;
    EXPECT_TRUE(o.ui.closed);
    // The message first, then the cursor and the bar put back, then the window closes.
    const auto& e = o.ui.events;
    ASSERT_GE(e.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(e.end() - 4, e.end()),
              (std::vector<std::string>{"message:Komunikat", "busy:0", "position:0", "close"}));

    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    ASSERT_EQ(works.size(), 3u);
    const auto& w = works[0];
    EXPECT_EQ(w.at("NR_G"), "007");
    EXPECT_EQ(w.at("WYKON"), "00000005");
    EXPECT_EQ(w.at("ZLECEN"), "00000006");
    EXPECT_EQ(w.at("UWAGI"), "Uwagi " + kSs1250);
    EXPECT_EQ(w.at("POL_WL"), "Zalesie");
    EXPECT_EQ(w.at("NR_WYK"), "1/98");
    EXPECT_EQ(w.at("D_P_ZAK"), "1998.01.05");
    EXPECT_EQ(w.at("D_ROZ_P"), "") << "an empty archive date leaves the field";
    EXPECT_EQ(w.at("D_PRZ_O"), "1900.01.01") << "month 13";
    EXPECT_EQ(w.at("OPIS"), "Opis");
    EXPECT_EQ(w.at("W_TOKU"), "0");
    EXPECT_EQ(works[1].at("WYKON"), "00000004");
    EXPECT_EQ(works[1].at("NR_G"), "") << "a completed work is not touched";
    EXPECT_EQ(works[2].at("WYKON"), "") << "a work the archive lacks stays as it was";

    const auto persons = o.Rows(o.Persons(), "Osoby.dbf");
    ASSERT_EQ(persons.size(), 2u);
    EXPECT_EQ(persons[0].at("ID_OSOBY"), "00000005");
    EXPECT_EQ(persons[0].at("KLUCZ"), "Kowalski");
    EXPECT_EQ(persons[0].at("NAZWA1"), "Jan Kowalski");
    EXPECT_EQ(persons[0].at("KOD"), "12-345");
    EXPECT_EQ(persons[0].at("NR_DL"), "7/2");
    EXPECT_EQ(persons[0].at("PESEL"), "12345678901");
    EXPECT_EQ(persons[0].at("ULICA"), "Polna");
    EXPECT_EQ(persons[0].at("MIEJSC"), "Gmina Kr" + kOo1250 + "lewo");
    EXPECT_EQ(persons[0].at("ID_TWORZ"), "00015D86");
    EXPECT_EQ(persons[1].at("ID_OSOBY"), "00000006");
    // Line 1 keeps the spaces that fill it; the name stands alone (o = 1).
    EXPECT_EQ(persons[1].at("NAZWA1"), "Przedsi\xEA"
                                       "biorstwo" +
                                           std::string(14, ' ') + "Geodezyjne");
    EXPECT_EQ(persons[1].at("PESEL"), "");

    const auto assortments = o.Rows(o.Kerg(), "Asortym.dbf");
    ASSERT_EQ(assortments.size(), 1u);
    EXPECT_EQ(assortments[0].at("ID_ASORT"), "000A");
    EXPECT_EQ(assortments[0].at("ASORT"), "ab") << "the archive's own letter case";
    const auto links = o.Rows(o.Kerg(), "Kergasor.dbf");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].at("ID_ROBOTY"), "00000001");
    EXPECT_EQ(links[0].at("ID_ASORT"), "000A");
    EXPECT_EQ(links[0].at("WIELKOSC"), "12.50");

    const auto parcels = o.Rows(o.Kerg(), "dz.dbf");
    ASSERT_EQ(parcels.size(), 1u);
    EXPECT_EQ(parcels[0].at("ID_DZIALKI"), "0000000A");
    EXPECT_EQ(parcels[0].at("ID_OBR"), "0A01");
    EXPECT_EQ(parcels[0].at("DZIALKA"), "15/3");
    EXPECT_EQ(parcels[0].at("NR_ARKUSZA"), "2");
    EXPECT_EQ(parcels[0].at("ID_TWORZ"), "00015D86");
    const auto parcelLinks = o.Rows(o.Kerg(), "obdg.dbf");
    ASSERT_EQ(parcelLinks.size(), 1u);
    EXPECT_EQ(parcelLinks[0].at("ID_DZIALKI"), "0000000A");
    EXPECT_EQ(parcelLinks[0].at("PRZED_PO"), "P");

    const auto rasters = o.Rows(o.Kerg(), "zakr_ras.dbf");
    ASSERT_EQ(rasters.size(), 1u);
    EXPECT_EQ(rasters[0].at("ID_RODZICA"), "00000001");
    EXPECT_EQ(rasters[0].at("GODLO"), "6.115.27.01");
    EXPECT_EQ(rasters[0].at("RASTRY"), "!!!!!A0!!!!!Y$!!!!!_!!!!!A0!!!!!Y$");

    EXPECT_EQ(o.Counter("OSOBY"), "7");
    EXPECT_EQ(o.Counter("ASORTYM"), "11");
    EXPECT_EQ(o.Counter("DZ"), "11");
    EXPECT_EQ(o.Counter("ROBOTY"), "1") << "other rows are not touched";

    o.ExpectTargetSound();
}

TEST(ImportRun, OptionsOffSkipTheirSteps)
{
    Office o;
    BasicOffice(o);
    o.ui.assortments = o.ui.parcels = o.ui.rasters = false;
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "00000005");
    EXPECT_TRUE(o.Rows(o.Kerg(), "Kergasor.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "obdg.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "zakr_ras.dbf").empty());
    EXPECT_EQ(o.Counter("ASORTYM"), "10");
}

TEST(ImportRun, ChecksBeforeTheRun)
{
    Office o;
    BasicOffice(o);

    // Empty edits: nothing at all.
    o.ui.archiveText = "";
    o.Run();
    EXPECT_TRUE(o.ui.messages.empty());

    // A missing separator is added to the edit even when a later check fails.
    o.ui.archiveText = o.archiveDir.substr(0, o.archiveDir.size() - 1);
    o.ui.targetText = o.dir.File("nowhere");
    o.Run();
    EXPECT_EQ(o.ui.archiveText, o.archiveDir);
    EXPECT_EQ(o.ui.targetText, o.dir.File("nowhere") + platform::kSeparator);
    ASSERT_EQ(o.ui.messages.size(), 1u);
    EXPECT_EQ(o.ui.messages[0].text, "We wskazanej kartotece brak danych systemu MERKAT WINDOWS.");
    EXPECT_EQ(o.ui.messages[0].caption, "komunikat");
    EXPECT_EQ(o.ui.messages[0].details.rfind("Brak katalogu", 0), 0u) << o.ui.messages[0].details;

    // A faulty renumbering file stops the run before the backup question, ticked or not.
    o.ui.messages.clear();
    o.ui.targetText = o.targetDir;
    writers::WriteFile(o.renumberingFile, "12|345\r\n\r\n|\r\n");
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 1u);
    EXPECT_EQ(o.ui.messages[0].text, "Błąd w pliku z przenumerowaniem gmin");
    EXPECT_EQ(o.ui.messages[0].caption, "Komunikat");
    // The file and its faulty line are under the message.
    EXPECT_EQ(o.ui.messages[0].details.rfind("Plik " + o.renumberingFile + ", wiersz 3: \u201E|\u201D\n", 0),
              0u)
        << o.ui.messages[0].details;
    std::filesystem::remove(o.renumberingFile);

    // No backup: the question, then the reminder; nothing written.
    o.ui.messages.clear();
    o.ui.answers = {Answer::No};
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    EXPECT_EQ(o.ui.messages[0].text, "Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)");
    EXPECT_EQ(o.ui.messages[0].buttons, convert::Buttons::YesNo);
    EXPECT_EQ(o.ui.messages[0].icon, convert::Icon::Question);
    EXPECT_EQ(o.ui.messages[0].defaultButton, Answer::No);
    EXPECT_EQ(o.ui.messages[1].text, "Przed wykonaniem importu należy utworzyć kopię danych");
    o.ui.messages.clear();
    o.ui.answers = {Answer::Closed};
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
    EXPECT_FALSE(o.ui.busy);
}

// Another user of the records system: a second process that keeps a table open (folder, name).
KERG_CHILD_TASK(hold_table)
{
    engine::Table table(channel.Args().at(0), channel.Args().at(1));
    table.Open();
    channel.Report("holding");
    channel.WaitForRelease();
    return 0;
}

TEST(ImportRun, CountersHeldByAnotherProcess)
{
    Office o;
    BasicOffice(o);
    test_support::ChildProcess other("hold_table", {o.Admin(), "Dostep.dbf"});
    ASSERT_EQ(other.Report(), "holding");
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    EXPECT_EQ(
        o.ui.messages[1].text,
        "Nie można otworzyć danych w trybie wyłączności. Prawdopodobnie ktoś pracuje w systemie MERKAT");
    // The reason under it names the table and who keeps it out.
    EXPECT_NE(o.ui.messages[1].details.find("Dostep.dbf jest otwarta przez inny program"), std::string::npos)
        << o.ui.messages[1].details;
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "") << "nothing written";
}

TEST(ImportRun, CountersHeldByAnotherUser)
{
    Office o;
    BasicOffice(o);
    engine::Table other(o.Admin(), "Dostep.dbf");
    other.Open(); // a shared open elsewhere keeps an exclusive one out
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    EXPECT_EQ(
        o.ui.messages[1].text,
        "Nie można otworzyć danych w trybie wyłączności. Prawdopodobnie ktoś pracuje w systemie MERKAT");
    EXPECT_FALSE(o.ui.busy);
    EXPECT_EQ(o.ui.positions.back(), 0);
    other.Close();
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "") << "nothing written";
    EXPECT_TRUE(o.Rows(o.Persons(), "Osoby.dbf").empty());
}

TEST(ImportRun, LowerCaseCounterNamesAndAMissingCounter)
{
    Office o;
    BasicOffice(o);
    {
        engine::Table counters(o.Admin(), "Dostep.dbf");
        counters.Open();
        for (counters.First(); !counters.Eof(); counters.Next()) {
            counters.Edit();
            engine::Field name = counters.FieldByName("tablename");
            std::string lower = name.AsString();
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            name.SetString(lower);
            counters.Post();
        }
    }
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Counter("osoby"), "7");

    // Without a DZ row the ids of new parcels could repeat ids in use: the run refuses.
    Office p;
    BasicOffice(p);
    {
        engine::Table counters(p.Admin(), "Dostep.dbf");
        counters.Open();
        for (counters.First(); !counters.Eof(); counters.Next()) {
            if (counters.FieldByName("TABLENAME").AsString() == "DZ") {
                counters.Edit();
                counters.FieldByName("TABLENAME").SetString("DZX");
                counters.Post();
            }
        }
    }
    p.Run();
    ASSERT_EQ(p.ui.messages.size(), 2u);
    EXPECT_EQ(p.ui.messages[1].text, "W tabeli liczników Dostep.dbf brak wiersza DZ.");
    EXPECT_EQ(p.Rows(p.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
}

TEST(ImportRun, AMissingArchiveFileIsNamedAndNothingIsWritten)
{
    Office o;
    BasicOffice(o);
    std::filesystem::remove(o.archiveDir + "OB_RR.DBF");
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    const convert::Message& m = o.ui.messages[1];
    EXPECT_EQ(m.caption, "Błąd konwersji");
    EXPECT_EQ(m.icon, convert::Icon::Stop);
    EXPECT_EQ(m.text,
              "Wystąpił błąd podczas importu:\r\nBłąd podczas otwarcia pliku: " + o.archiveDir +
                  "ob_rr.dbf\r\nW karotece wynikowej znajdują się tylko częściowo skonwertowane dane.");
    EXPECT_FALSE(o.ui.closed);
    EXPECT_EQ(o.Counter("OSOBY"), "5");
    // Everything opened before the failure is closed at once.
    for (int area = 1; area <= archive::kAreaCount; ++area)
        EXPECT_TRUE(o.run->Reader().Area(area)->free) << area;
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
}

// Renames a field in an archive table's header, as an archive of another layout would have it.
void RenameArchiveField(const std::string& path, const std::string& from, const std::string& to)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::size_t headerLength = static_cast<unsigned char>(bytes.at(8)) |
                                     static_cast<std::size_t>(static_cast<unsigned char>(bytes.at(9))) << 8;
    const std::size_t at = bytes.find(from);
    ASSERT_LT(at, headerLength) << from << " in " << path;
    bytes.replace(at, to.size(), to);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Fields the import binds but never reads may be missing from an archive of another layout: the
// import runs as over the usual one. A field it reads stops the run before anything is written,
// naming the field.
TEST(ImportRun, AnArchiveMayLackAFieldTheImportDoesNotReadButNotOneItReads)
{
    Office o;
    BasicOffice(o);
    RenameArchiveField(o.archiveDir + "ROBOTY.DBF", "JEDN_SEG", "JEDN_SEX");
    RenameArchiveField(o.archiveDir + "ROBOTY.DBF", "INNA_NAZWA", "INNA_NAZWX");
    RenameArchiveField(o.archiveDir + "DZ.DBF", "ID_DZIALKI", "ID_DZIALKX");
    RenameArchiveField(o.archiveDir + "OBREB.DBF", "NAZWA", "NAZWX");
    o.Run();
    ASSERT_EQ(o.ui.messages.size(), 2u);
    EXPECT_EQ(o.ui.messages[1].text, "Import został zakończony.");
    EXPECT_TRUE(o.ui.closed);
    EXPECT_NE(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
    EXPECT_EQ(o.Rows(o.Kerg(), "dz.dbf").size(), 1u) << "the parcel came all the same";

    struct Read
    {
        const char* file;
        std::string field;
        const char* named;
    };
    for (const Read& r : {Read{"KERG.DBF", "WYKON", "wykon"}, Read{"DZ.DBF", "ID_OBREBU", "id_obrebu"},
                          Read{"OBREB.DBF", "KOD_OBR", "kod_obr"}}) {
        Office p;
        BasicOffice(p);
        RenameArchiveField(p.archiveDir + r.file, r.field, r.field.substr(0, r.field.size() - 1) + "X");
        p.Run();
        ASSERT_EQ(p.ui.messages.size(), 2u) << r.field;
        EXPECT_NE(p.ui.messages[1].text.find("(brak pola " + std::string(r.named) + ")"), std::string::npos)
            << p.ui.messages[1].text;
        EXPECT_EQ(p.Rows(p.Kerg(), "Roboty.dbf")[0].at("WYKON"), "") << r.field;
    }
}

// The link table's quantity is too narrow for the second work's quantity: the engine refuses
// that row after the first work and its persons are posted.
void OfficeWhoseSecondWorkIsRefused(Office& o)
{
    BasicOffice(o);
    o.archive.AddWork({"P", 13, 1998, 3, "", true, 101});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 101;
    kerg.nrG = 7;
    kerg.wykon = 1;
    const int k = o.archive.AddKerg(kerg);
    o.archive.AddWorkAssortment(k, 1, "999999.00");
    o.WriteArchive();
    engine::CreateTable(o.Kerg(), "Kergasor.dbf",
                        {{"ID_ROBOTY", 'C', 8, 0}, {"ID_ASORT", 'C', 4, 0}, {"WIELKOSC", 'N', 6, 2}}, {});
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "00000004"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "13"}, {"ROK", "1998"}, {"LP", "3"}});
}

void ExpectErrorShownAndTableReleased(Office& o)
{
    ASSERT_EQ(o.ui.errors.size(), 1u);
    EXPECT_NE(o.ui.errors[0].find("WIELKOSC"), std::string::npos) << o.ui.errors[0];
    EXPECT_FALSE(o.ui.closed);
    EXPECT_FALSE(o.ui.busy);
    o.ExpectReleasedAndSound();
}

TEST(ImportRun, EngineErrorWithdrawsTheBatchUnderWay)
{
    // Both works in one batch: the error withdraws the first work too, with its persons, and the
    // counters keep the values that cover what stays.
    Office o;
    OfficeWhoseSecondWorkIsRefused(o);
    o.Run();
    ExpectErrorShownAndTableReleased(o);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
    EXPECT_TRUE(o.Rows(o.Persons(), "Osoby.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "Kergasor.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "Asortym.dbf").empty());
    EXPECT_TRUE(o.Rows(o.Kerg(), "dz.dbf").empty());
    // The ids the withdrawn batch drew are given back with it.
    EXPECT_EQ(o.Counter("OSOBY"), "5");
    EXPECT_EQ(o.Counter("ASORTYM"), "10");
    EXPECT_EQ(o.Counter("DZ"), "10");
}

TEST(ImportRun, EngineErrorKeepsTheWorksCommittedBefore)
{
    // A commit after every work: the first work and its persons stay, the counters say so, and
    // nothing of the refused work is left.
    Office o;
    OfficeWhoseSecondWorkIsRefused(o);
    o.Runner().Commits().worksPerCommit = 1;
    o.Run();
    ExpectErrorShownAndTableReleased(o);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "00000005");
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[3].at("WYKON"), "");
    ASSERT_EQ(o.Rows(o.Kerg(), "Kergasor.dbf").size(), 1u);
    EXPECT_EQ(o.Rows(o.Kerg(), "Kergasor.dbf")[0].at("ID_ROBOTY"), "00000001");
    // The committed work drew the persons 5 and 6, the assortment 000A and the parcel 0000000A from
    // counters that stood at 5, 10 and 10: the counters hold exactly the next ids after them (a run
    // that wrote nothing back would have left 5, 10 and 10).
    const auto ids = [&](const std::string& directory, const std::string& table, const std::string& field) {
        std::vector<std::string> values;
        for (const auto& row : o.Rows(directory, table))
            values.push_back(row.at(field));
        return values;
    };
    EXPECT_EQ(ids(o.Persons(), "Osoby.dbf", "ID_OSOBY"), (std::vector<std::string>{"00000005", "00000006"}));
    EXPECT_EQ(ids(o.Kerg(), "Asortym.dbf", "ID_ASORT"), std::vector<std::string>{"000A"});
    EXPECT_EQ(ids(o.Kerg(), "dz.dbf", "ID_DZIALKI"), std::vector<std::string>{"0000000A"});
    EXPECT_EQ(o.Counter("OSOBY"), "7");
    EXPECT_EQ(o.Counter("ASORTYM"), "11");
    EXPECT_EQ(o.Counter("DZ"), "11");
    EXPECT_EQ(o.Counter("ROBOTY"), "1") << "other rows are not touched";
}

TEST(ImportRun, SecondRunDoesNotHandOutIdsAgain)
{
    Office o;
    BasicOffice(o);
    // A work whose contractor is emptied again is completed a second time.
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    {
        engine::Table works(o.Kerg(), "Roboty.dbf");
        works.Open();
        works.Edit();
        works.FieldByName("WYKON").SetString("");
        works.Post();
    }
    office::ScriptedUi& ui = o.ui;
    ui.closed = false;
    o.Run();
    ASSERT_TRUE(ui.closed);
    // The persons are found by name now; the rows of the work's assortments, parcels and raster
    // ranges are there already, and are not added a second time.
    EXPECT_EQ(o.Rows(o.Persons(), "Osoby.dbf").size(), 2u);
    EXPECT_EQ(o.Rows(o.Kerg(), "Kergasor.dbf").size(), 1u);
    EXPECT_EQ(o.Rows(o.Kerg(), "Asortym.dbf").size(), 1u) << "dictionary rows are found, not duplicated";
    EXPECT_EQ(o.Rows(o.Kerg(), "obdg.dbf").size(), 1u);
    EXPECT_EQ(o.Rows(o.Kerg(), "zakr_ras.dbf").size(), 1u);
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "00000005");
    EXPECT_EQ(o.Counter("OSOBY"), "7");
    EXPECT_NE(
        ui.messages.back().details.find("Już obecne w pracach uzupełnianych ponownie (niedopisane drugi "
                                        "raz): pozycje asortymentu 1, powiązania z działkami 1, "
                                        "zakresy rastrowe 1"),
        std::string::npos)
        << ui.messages.back().details;
    o.ExpectTargetSound();
}

// A work completed without a contractor (its person is not in the archive) stays without one, and a
// later import completes it again: the rows of its assortments, parcels and raster ranges that it
// has by then are not added a second time. What the work has of its own, and two equal lines of
// the archive, are kept as they are.
TEST(ImportRun, ASecondRunAddsNoRowTwiceToAWorkItCompletedWithoutAContractor)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "Zalesie", "01");
    o.archive.AddAssortment("ab", "Mapa zasadnicza");
    o.archive.AddWork({"P", 12, 1998, 3, "", true, 100});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 100;
    kerg.nrG = 7;
    kerg.wykon = 9; // no such person
    const int k = o.archive.AddKerg(kerg);
    o.archive.AddWorkAssortment(k, 1, "12.50");
    o.archive.AddWorkAssortment(k, 1, "12.50");
    const int parcel = o.archive.AddParcel(1, 15, 3, 2);
    o.archive.AddParcelLink(k, parcel, "P");
    o.archive.AddRaster(k, "1", "6.115.27.01", std::string("\x80\0\0\0\0\0", 6));
    o.WriteArchive();
    TargetWithOpenWork(o);
    tools::AppendTargetRow(o.Kerg(), "Kergasor.dbf",
                           {{"ID_ROBOTY", "00000001"}, {"ID_ASORT", "0009"}, {"WIELKOSC", "3"}});

    const auto rows = [&o] {
        return std::vector<std::size_t>{o.Rows(o.Kerg(), "Kergasor.dbf").size(),
                                        o.Rows(o.Kerg(), "obdg.dbf").size(),
                                        o.Rows(o.Kerg(), "zakr_ras.dbf").size()};
    };
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(rows(), (std::vector<std::size_t>{3, 1, 1}));
    EXPECT_EQ(o.Rows(o.Kerg(), "Roboty.dbf")[0].at("WYKON"), "");
    EXPECT_EQ(o.ui.messages.back().details.find("Już obecne"), std::string::npos)
        << "nothing to say when no row was there";

    o.ui.closed = false;
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    EXPECT_EQ(rows(), (std::vector<std::size_t>{3, 1, 1}));
    EXPECT_NE(o.ui.messages.back().details.find("pozycje asortymentu 2, powiązania z działkami 1, "
                                                "zakresy rastrowe 1"),
              std::string::npos)
        << o.ui.messages.back().details;
    o.ExpectTargetSound();
}

} // namespace

namespace {

std::map<std::string, std::string> FilesUnder(const std::string& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// Runs the import, which must refuse because the target needs mending, before it writes anything at
// all (not even a report); returns what it showed last.
convert::Message RefusedForMending(Office& o)
{
    const std::map<std::string, std::string> before = FilesUnder(o.targetDir);
    o.ui.messages.clear();
    o.Run();
    if (o.ui.messages.empty()) {
        ADD_FAILURE() << "the run showed nothing";
        return {};
    }
    const convert::Message m = o.ui.messages.back();
    EXPECT_EQ(m.text, convert::messages::kTargetNeedsMending);
    EXPECT_EQ(FilesUnder(o.targetDir), before) << "nothing written, not even a report";
    return m;
}

// A target that would give an id twice or write a row over another is refused before anything is
// written: a counter not above the ids in use (a counters table put back alone from a backup),
// and an index whose entries point past the table's rows (a record count cut down).
TEST(ImportRun, ATargetThatWouldGiveAnIdTwiceIsRefusedBeforeAnythingIsWritten)
{
    Office o;
    BasicOffice(o); // counters: OSOBY 5, ASORTYM 10, DZ 10
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "00000004"}, {"KLUCZ", "NOWAK"}});
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "0000000B"}, {"KLUCZ", "ADAMSKI"}});
    tools::AppendTargetRow(o.Kerg(), "Asortym.dbf", {{"ID_ASORT", "0009"}, {"ASORT", "zz"}});
    // Ids of another form are nobody's draw from a counter.
    tools::AppendTargetRow(o.Kerg(), "dz.dbf", {{"ID_DZIALKI", "X1234567"}, {"DZIALKA", "1"}});

    auto expectRefused = [&](const std::vector<std::string>& named,
                             const std::vector<std::string>& notNamed) {
        const convert::Message m = RefusedForMending(o);
        EXPECT_EQ(m.caption, "Błąd");
        EXPECT_TRUE(m.detailsShown);
        for (const std::string& text : named)
            EXPECT_NE(m.details.find(text), std::string::npos) << text << "\n" << m.details;
        for (const std::string& text : notNamed)
            EXPECT_EQ(m.details.find(text), std::string::npos) << text << "\n" << m.details;
        EXPECT_FALSE(o.ui.closed);
        EXPECT_FALSE(engine::JournalPending(convert::JournalDirectory(o.targetDir)));
    };
    expectRefused({"licznik OSOBY w tabeli Dostep.dbf (5) nie jest większy od największego identyfikatora w "
                   "tabeli Osoby.dbf (0000000B, czyli 11, wiersz 2)",
                   "Dostep.dbf pochodzi z tej samej kopii"},
                  {"ASORTYM", "DZ", "reindex"});
    {
        // The check opens its tables exclusively to read them in long stretches; with the table
        // open in another process it reads it shared, and finds the same.
        test_support::ChildProcess other("hold_table", {o.Persons(), "Osoby.dbf"});
        ASSERT_EQ(other.Report(), "holding");
        expectRefused(
            {"licznik OSOBY w tabeli Dostep.dbf (5) nie jest większy od największego identyfikatora "
             "w tabeli Osoby.dbf (0000000B, czyli 11, wiersz 2)"},
            {"reindex"});
    }

    // The persons' counter mended; the works table's row count cut below the index's entries.
    o.SetCounter("OSOBY", 12);
    {
        const std::string osoby = o.Persons() + platform::kSeparator + "Osoby.dbf";
        std::fstream f(osoby, std::ios::in | std::ios::out | std::ios::binary);
        const char one[4] = {1, 0, 0, 0};
        f.seekp(4);
        f.write(one, 4);
    }
    expectRefused({"Osoby.dbf, znacznik UPP_KLUCZ: wpis rekordu 2 spoza tabeli (rekordów: 1)", "reindex"},
                  {"licznik"});

    // An index damaged beyond opening (the bytes in a block disagree with the pages in a block):
    // the advice is then to put the file back from a copy first, since nothing can be rebuilt
    // from it.
    const std::string dzIndex = o.Kerg() + platform::kSeparator + "dz.mdx";
    char blockBytes = 0;
    {
        std::fstream f(dzIndex, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(23);
        f.read(&blockBytes, 1);
        const char other = static_cast<char>(blockBytes + 1);
        f.seekp(23);
        f.write(&other, 1);
    }
    expectRefused({"dz.mdx: niespójny rozmiar bloku", convert::messages::kIndexUnreadableHint},
                  {"licznik", convert::messages::kIndexMendingHint});
    {
        std::fstream f(dzIndex, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(23);
        f.write(&blockBytes, 1);
    }

    // The record count mended; a deleted row keeps an id at the counter: it may be recalled, or
    // still be named by a work, so the id is in use all the same.
    {
        const std::string osoby = o.Persons() + platform::kSeparator + "Osoby.dbf";
        std::fstream f(osoby, std::ios::in | std::ios::out | std::ios::binary);
        const char two[4] = {2, 0, 0, 0};
        f.seekp(4);
        f.write(two, 4);
    }
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "0000000C"}, {"KLUCZ", "USUNIETY"}});
    {
        engine::Table persons(o.Persons(), "Osoby.dbf");
        persons.Open();
        persons.MoveTo(3);
        persons.Delete();
    }
    expectRefused({"licznik OSOBY w tabeli Dostep.dbf (12) nie jest większy od największego identyfikatora w "
                   "tabeli Osoby.dbf (0000000C, czyli 12, wiersz 3); powinien wynosić co najmniej 13"},
                  {"ASORTYM", "DZ", "reindex"});

    // Mended; an id above what the counter, a 32-bit integer, can reach (a placeholder row, say) is
    // nobody's draw from it and stops nothing. The import hands out ids above those in use.
    o.SetCounter("OSOBY", 13);
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "99999999"}, {"KLUCZ", "ZASTEPCZY"}});
    o.ui.messages.clear();
    o.Run();
    EXPECT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Counter("OSOBY"), "15");
    o.ExpectTargetSound();
}

// A searched tag that still holds a row under the key it had before somebody changed the row in the
// table alone: the run would take that row for the person it looks for (here Nowak for the
// contractor Kowalski) or miss the one that is there and add it again. It is refused before anything
// is written; once the index is rebuilt, the run finds the right person.
TEST(ImportRun, AnEntryASearchedTagKeepsUnderARowsOldKeyIsRefusedBeforeAnythingIsWritten)
{
    Office o;
    BasicOffice(o); // counters: OSOBY 5; the work's contractor is Kowalski, without a tax number
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "00000001"}, {"KLUCZ", "Kowalski"}});
    tools::AppendTargetRow(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", "00000002"}, {"KLUCZ", "Kowalski"}});
    damage::SetField(o.Persons() + platform::kSeparator + "Osoby.dbf", 1, "KLUCZ", "Nowak");
    const convert::Message m = RefusedForMending(o);
    EXPECT_NE(m.details.find("Osoby.dbf, znacznik UPP_KLUCZ: klucz rekordu 1 nie zgadza się z wartościami w "
                             "tabeli"),
              std::string::npos)
        << m.details;
    EXPECT_NE(m.details.find("reindex"), std::string::npos) << m.details;
    EXPECT_FALSE(o.ui.closed);

    {
        engine::Table persons(o.Persons(), "Osoby.dbf");
        persons.SetExclusive(true);
        persons.Open();
        persons.Reindex();
    }
    o.ui.messages.clear();
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("WYKON"), "00000002");
    o.ExpectTargetSound();
}

// The persons' table made anew, empty, with `tag` in place of UPP_KLUCZ.
void PersonsWithTag(Office& o, const engine::TagDefinitionByExpression& tag)
{
    std::vector<engine::FieldDefinition> fields;
    {
        engine::Table persons(o.Persons(), "Osoby.dbf");
        persons.Open();
        for (std::size_t f = 0; f < persons.FieldCount(); ++f) {
            const engine::Field field = persons.FieldAt(f);
            fields.push_back({field.Name(), field.Type(), field.Width(), field.Decimals()});
        }
    }
    engine::CreateTable(o.Persons(), "Osoby.dbf", fields, {tag}, 0xC8);
}

// A tag the run finds persons by that leaves rows out (UNIQUE, a FOR clause other than .NOT.
// DELETED()) or keys them by more than the name would hide the persons one run added from the next,
// which would add them a second time: refused before anything is written, the tag named with what
// is wrong. The same tag over .NOT. DELETED() rows, or descending, finds them all.
TEST(ImportRun, ASearchedTagThatCannotFindEveryRowIsRefusedBeforeAnythingIsWritten)
{
    Office o;
    BasicOffice(o);
    const std::string head = o.Persons() + platform::kSeparator + "Osoby.dbf, znacznik UPP_KLUCZ: ";
    const std::pair<engine::TagDefinitionByExpression, std::string> refused[] = {
        {{"UPP_KLUCZ", "UPPER(KLUCZ)", false, true},
         "jest unikalny (UNIQUE), więc zawiera tylko pierwszy wiersz każdego klucza"},
        {{"UPP_KLUCZ", "UPPER(KLUCZ)", false, false, "LEN(TRIM(NIP)) > 0"},
         "ma warunek FOR \u201ELEN(TRIM(NIP)) > 0\u201D, więc nie zawiera każdego wiersza"},
        {{"UPP_KLUCZ", "upper(klucz) + nip"},
         "klucz \u201Eupper(klucz) + nip\u201D zależy od: NIP, a import szuka tylko po: KLUCZ"},
        {{"UPP_KLUCZ", "UPPER(KLUCZ)+STR(RECNO(),6)"},
         "klucz \u201EUPPER(KLUCZ)+STR(RECNO(),6)\u201D zależy od: numeru wiersza lub znacznika usunięcia, a "
         "import szuka tylko po: KLUCZ"}};
    for (const auto& [tag, problem] : refused) {
        SCOPED_TRACE(tag.expression + " FOR " + tag.forExpression);
        PersonsWithTag(o, tag);
        const convert::Message m = RefusedForMending(o);
        EXPECT_NE(m.details.find(head + problem), std::string::npos) << m.details;
        EXPECT_NE(m.details.find(convert::messages::kSearchedTagHint), std::string::npos) << m.details;
    }
    for (const engine::TagDefinitionByExpression& tag :
         {engine::TagDefinitionByExpression{"UPP_KLUCZ", "UPPER(KLUCZ)", false, false, ".NOT. DELETED()"},
          engine::TagDefinitionByExpression{"UPP_KLUCZ", "UPPER(KLUCZ)", true}}) {
        SCOPED_TRACE(tag.expression + (tag.descending ? " DESCENDING" : " FOR " + tag.forExpression));
        PersonsWithTag(o, tag);
        o.ui.messages.clear();
        o.Run();
        ASSERT_TRUE(o.ui.closed) << (o.ui.messages.empty() ? "" : o.ui.messages.back().details);
        o.ui.closed = false;
    }
}

// A person, an assortment or a parcel removed for good (packed away) may still be named by a work,
// its assortment lines or its parcels: its id is in use all the same, and the counter must pass it,
// or the import would give it to a new row that the old ones would then name.
TEST(ImportRun, AnIdOtherTablesStillNameIsInUseThoughItsRowIsGone)
{
    Office o;
    BasicOffice(o); // counters: OSOBY 5, ASORTYM 10, DZ 10
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf", {{"WYKON", "00000006"}, {"ZLECEN", "00000007"}});
    tools::AppendTargetRow(o.Kerg(), "Kergasor.dbf", {{"ID_ROBOTY", "00000001"}, {"ID_ASORT", "000C"}});
    tools::AppendTargetRow(o.Kerg(), "obdg.dbf", {{"ID_ROBOTY", "00000001"}, {"ID_DZIALKI", "0000000A"}});
    const convert::Message m = RefusedForMending(o);
    for (
        const char* named :
        {"licznik OSOBY w tabeli Dostep.dbf (5) nie jest większy od identyfikatora 00000007 (czyli 7), który "
         "podaje pole ZLECEN tabeli Roboty.dbf (wiersz 4), choć tabela Osoby.dbf go nie zawiera; powinien "
         "wynosić co najmniej 8",
         "licznik ASORTYM w tabeli Dostep.dbf (10) nie jest większy od identyfikatora 000C (czyli 12), który "
         "podaje pole ID_ASORT tabeli Kergasor.dbf (wiersz 1), choć tabela Asortym.dbf go nie zawiera; "
         "powinien wynosić co najmniej 13",
         "licznik DZ w tabeli Dostep.dbf (10) nie jest większy od identyfikatora 0000000A (czyli 10), który "
         "podaje pole ID_DZIALKI tabeli obdg.dbf (wiersz 1), choć tabela dz.dbf go nie zawiera; powinien "
         "wynosić co najmniej 11"})
        EXPECT_NE(m.details.find(named), std::string::npos) << named << "\n" << m.details;
    EXPECT_FALSE(o.ui.closed);

    // The counters set as the message says: the new persons take ids past those the works name.
    o.SetCounter("OSOBY", 8);
    o.SetCounter("ASORTYM", 13);
    o.SetCounter("DZ", 11);
    o.ui.messages.clear();
    o.Run();
    EXPECT_TRUE(o.ui.closed);
    EXPECT_EQ(o.Counter("OSOBY"), "10");
    o.ExpectTargetSound();
}

// An id other tables name at the end of what its counter can give (the counter stays below its
// largest value; an assortment's id has four digits): no counter value mends that, so the office is
// told to change the id, not sent to set a value the run would then refuse. And a table that did
// not open is not said to lack the id.
TEST(ImportRun, AnIdNoCounterCanPassIsToBeChangedWhereItIsNamed)
{
    Office o;
    BasicOffice(o); // counters: OSOBY 5, ASORTYM 10, DZ 10
    tools::AppendTargetRow(o.Kerg(), "Roboty.dbf", {{"WYKON", "00000004"}, {"ZLECEN", "7FFFFFFE"}});
    tools::AppendTargetRow(o.Kerg(), "Kergasor.dbf", {{"ID_ROBOTY", "00000001"}, {"ID_ASORT", "FFFF"}});
    tools::AppendTargetRow(o.Kerg(), "obdg.dbf", {{"ID_ROBOTY", "00000001"}, {"ID_DZIALKI", "7FFFFFFD"}});
    ASSERT_TRUE(platform::RemoveFile(o.Persons() + platform::kSeparator + "Osoby.dbf"));
    o.Run();
    ASSERT_FALSE(o.ui.messages.empty());
    const convert::Message& m = o.ui.messages.back();
    EXPECT_EQ(m.text, "Baza docelowa wymaga naprawy. Import niczego w niej nie zapisał.");
    for (const char* named :
         {"licznik OSOBY w tabeli Dostep.dbf (5) nie jest większy od identyfikatora 7FFFFFFE (czyli "
          "2147483646), który podaje pole ZLECEN tabeli Roboty.dbf (wiersz 4); za nim licznik nie może już "
          "dać żadnego "
          "identyfikatora (najwyżej 7FFFFFFE w polu ID_OSOBY tabeli Osoby.dbf), więc trzeba zmienić ten "
          "identyfikator w tabeli Roboty.dbf, a nie licznik",
          "licznik ASORTYM w tabeli Dostep.dbf (10) nie jest większy od identyfikatora FFFF (czyli 65535), "
          "który podaje pole ID_ASORT tabeli Kergasor.dbf (wiersz 1), choć tabela Asortym.dbf go nie "
          "zawiera; za nim "
          "licznik nie może już dać żadnego identyfikatora (najwyżej FFFF w polu ID_ASORT tabeli "
          "Asortym.dbf), więc trzeba zmienić ten identyfikator w tabeli Kergasor.dbf, a nie licznik",
          // One below the end can still be passed.
          "licznik DZ w tabeli Dostep.dbf (10) nie jest większy od identyfikatora 7FFFFFFD (czyli "
          "2147483645), który podaje pole ID_DZIALKI tabeli obdg.dbf (wiersz 1), choć tabela dz.dbf go nie "
          "zawiera; "
          "powinien wynosić co najmniej 2147483646"})
        EXPECT_NE(m.details.find(named), std::string::npos) << named << "\n" << m.details;
    EXPECT_FALSE(o.ui.closed);

    // The assortments' table gone too: the id's width is then the one the counter gives, four
    // digits, and FFFF is still past what any counter value can pass.
    ASSERT_TRUE(platform::RemoveFile(o.Kerg() + platform::kSeparator + "Asortym.dbf"));
    o.ui.messages.clear();
    o.Run();
    ASSERT_FALSE(o.ui.messages.empty());
    EXPECT_NE(
        o.ui.messages.back().details.find(
            "licznik ASORTYM w tabeli Dostep.dbf (10) nie jest większy od identyfikatora FFFF (czyli "
            "65535), który podaje pole ID_ASORT tabeli Kergasor.dbf (wiersz 1); za nim licznik nie może "
            "już dać żadnego identyfikatora (najwyżej FFFF w polu ID_ASORT tabeli Asortym.dbf), więc "
            "trzeba zmienić ten identyfikator w tabeli Kergasor.dbf, a nie licznik"),
        std::string::npos)
        << o.ui.messages.back().details;

    // A persons' id field narrower than the eight digits the counter gives holds no id it gives.
    engine::CreateTable(o.Persons(), "Osoby.dbf", {{"ID_OSOBY", 'C', 6, 0}, {"KLUCZ", 'C', 30, 0}}, {});
    o.ui.messages.clear();
    o.Run();
    ASSERT_FALSE(o.ui.messages.empty());
    EXPECT_NE(o.ui.messages.back().details.find(
                  "który podaje pole ZLECEN tabeli Roboty.dbf (wiersz 4), choć tabela Osoby.dbf go nie "
                  "zawiera; za nim licznik nie może już dać żadnego identyfikatora (żaden nie mieści się w "
                  "polu ID_OSOBY tabeli Osoby.dbf, szerokość pola: 6), więc trzeba zmienić ten identyfikator "
                  "w tabeli Roboty.dbf, a nie licznik"),
              std::string::npos)
        << o.ui.messages.back().details;
}

// The counters are 32-bit integers, and an assortment's id has the width of its field: a counter
// outside that range stops the run before anything is written, and one that reaches its end, or
// gives an id wider than the field (cut, it would be another row's), stops it before that row, with
// the batch withdrawn.
TEST(ImportRun, ACounterThatCannotGiveAWholeIdStopsTheRun)
{
    Office o;
    BasicOffice(o);
    const auto tables = [&o] {
        std::map<std::string, std::string> files = FilesUnder(o.targetDir);
        std::erase_if(files, [](const auto& file) { return file.first.find("BAZA") == std::string::npos; });
        return files;
    };
    for (const std::int64_t value : {std::int64_t{3000000000}, std::int64_t{-3}}) {
        o.SetCounter("OSOBY", value);
        const std::map<std::string, std::string> set = tables();
        o.ui.messages.clear();
        o.Run();
        ASSERT_FALSE(o.ui.messages.empty());
        EXPECT_EQ(o.ui.messages.back().text, "W tabeli liczników Dostep.dbf licznik OSOBY ma wartość " +
                                                 std::to_string(value) +
                                                 ", spoza zakresu, jaki może mieć licznik (od 0 do "
                                                 "2147483647). Import niczego nie zapisał.");
        EXPECT_FALSE(o.ui.closed);
        EXPECT_EQ(tables(), set);
    }
    // A counter the options do not draw from may hold anything.
    o.SetCounter("OSOBY", 5);
    o.SetCounter("DZ", 3000000000);
    o.ui.parcels = false;
    o.ui.messages.clear();
    o.Run();
    EXPECT_TRUE(o.ui.closed) << (o.ui.errors.empty() ? "" : o.ui.errors.back());
}

TEST(ImportRun, AnIdThatWouldBeCutOrACounterAtItsEndStopsTheRunBeforeThatRow)
{
    Office o;
    BasicOffice(o); // one work: two new persons, and here two new assortments
    o.archive.AddAssortment("cd", "Inna mapa");
    o.archive.AddWorkAssortment(1, 2, "1.00");
    o.WriteArchive();
    const auto tables = [&o] {
        std::map<std::string, std::string> files = FilesUnder(o.targetDir);
        std::erase_if(files, [](const auto& file) { return file.first.find("BAZA") == std::string::npos; });
        return files;
    };
    const auto expectStopped = [&](const std::string& text) {
        const std::map<std::string, std::string> before = tables();
        o.ui.errors.clear();
        o.ui.closed = false;
        o.Run();
        EXPECT_FALSE(o.ui.closed);
        ASSERT_EQ(o.ui.errors.size(), 1u);
        EXPECT_EQ(o.ui.errors[0].rfind(text, 0), 0u) << o.ui.errors[0];
        EXPECT_EQ(tables(), before) << "the batch was withdrawn";
        o.ExpectReleasedAndSound();
    };
    // FFFF is the last id of four digits: the second new assortment would be 10000, cut to 1000.
    o.SetCounter("ASORTYM", 0xFFFF);
    expectStopped("Licznik ASORTYM w tabeli Dostep.dbf (65536) daje identyfikator 10000, dłuższy niż pole "
                  "ID_ASORT tabeli Asortym.dbf (szerokość pola: 4): skrócony byłby identyfikatorem innego "
                  "wiersza.");
    EXPECT_EQ(o.Counter("ASORTYM"), "65535");
    // The second new person would need the id after the counter's largest value.
    o.SetCounter("ASORTYM", 10);
    o.SetCounter("OSOBY", 2147483646);
    expectStopped("Licznik OSOBY w tabeli Dostep.dbf (2147483647) nie daje już identyfikatorów dla nowych "
                  "wierszy tabeli Osoby.dbf.");
    EXPECT_EQ(o.Counter("OSOBY"), "2147483646");
    // Room for both: the run goes through.
    o.SetCounter("OSOBY", 2147483645);
    o.ui.errors.clear();
    o.Run();
    EXPECT_TRUE(o.ui.closed) << (o.ui.errors.empty() ? "" : o.ui.errors.back());
    EXPECT_EQ(o.Counter("OSOBY"), "2147483647");
    EXPECT_EQ(o.Counter("ASORTYM"), "12");
    // The report names the ids given, where the office finds the rows.
    ASSERT_FALSE(o.ui.messages.empty());
    EXPECT_NE(o.ui.messages.back().details.find("Identyfikatory dopisanych wierszy: osoby 7FFFFFFD–7FFFFFFE, "
                                                "asortymenty 000A–000B, działki 0000000A\n"),
              std::string::npos)
        << o.ui.messages.back().details;
    std::set<std::string> persons;
    for (const auto& row : o.Rows(o.Persons(), "Osoby.dbf"))
        persons.insert(row.at("ID_OSOBY"));
    EXPECT_TRUE(persons.count("7FFFFFFD") && persons.count("7FFFFFFE"));
}

} // namespace
