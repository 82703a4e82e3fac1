// The steps of the conversion one case at a time: precincts, persons, assortments, parcels.
#include <gtest/gtest.h>

#include "convert/import_run.h"
#include "engine/table.h"
#include "tests/convert/office.h"
#include "tools/dbf_writer.h"

namespace {

using convert::Answer;
using office::Office;

// An office with one work (kerg record 1) whose contractor is `person` and no orderer.
int OneWork(Office& o, std::int32_t contractor, std::int32_t orderer = 0)
{
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 1;
    kerg.nrG = 2;
    kerg.wykon = contractor;
    kerg.zlecen = orderer;
    return o.archive.AddKerg(kerg);
}

void TargetWork(Office& o)
{
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "0000AAAA"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "1"}, {"ROK", "2000"}, {"LP", "1"}});
}

std::string Contractor(Office& o)
{
    return o.Rows(o.Kerg(), "Roboty.dbf").at(0).at("WYKON");
}

tools::ArchivePerson Person(const std::string& name, const std::string& nip = "")
{
    tools::ArchivePerson p;
    p.nazwa = name;
    p.nip = nip;
    return p;
}

TEST(Precincts, KeysMatchWithoutRegardToCaseAndQuestionsStopTheRun)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01"); // key 002000501
    o.archive.AddPrecinct("14002", "0006", "B", "ab"); // key 0020006ab
    o.archive.AddPrecinct("14002", "0005", "C", "01"); // a second record of the same key
    o.archive.AddPrecinct("14", "0007", "D", "01");    // too short a commune: key 000701
    o.WriteArchive();
    o.CreateTarget();
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0001"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0002"}, {"NR_G", "002"}, {"NR_OBR", "0006"}, {"KOD_OBR", "AB"}});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0003"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0009"}, {"NR_G", "009"}, {"NR_OBR", "0001"}, {"KOD_OBR", "01"}});
    o.ui.answers = {Answer::Yes, Answer::No};
    o.Run();

    const convert::PrecinctList& list = o.run->State().Precincts;
    ASSERT_EQ(list.Size(), 5u);
    EXPECT_EQ(list.At(1).text, "002000501");
    EXPECT_EQ(list.At(1).value, "0003") << "the later target row wins";
    EXPECT_EQ(list.At(2).value, "0002") << "letter case does not matter";
    EXPECT_FALSE(list.At(3).value) << "only the first archive record of a key";
    EXPECT_EQ(list.At(4).text, "000701");

    // The backup question, the precinct question (answered No), the final message.
    ASSERT_EQ(o.ui.messages.size(), 3u);
    const convert::Message& q = o.ui.messages[1];
    EXPECT_EQ(q.caption, "Błąd");
    EXPECT_EQ(
        q.text,
        "W aktualnej bazie występuje obręb: 009000101 ,którego brak w archiwum\r\nKontynuować konwersję ?");
    EXPECT_EQ(q.buttons, convert::Buttons::YesNo);
    EXPECT_EQ(q.defaultButton, Answer::Yes);
    EXPECT_EQ(o.ui.messages[2].text,
              "Wystąpił błąd podczas importu:\r\nBłąd podczas łączenia obrębów\r\nW karotece "
              "wynikowej znajdują się tylko częściowo skonwertowane dane.");
}

TEST(Precincts, RenumberedCommunesWhenTicked)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01");
    o.WriteArchive();
    o.CreateTarget();
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0001"}, {"NR_G", "017"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    writers::WriteFile(o.renumberingFile, "2|17\r\n");
    o.ui.commune = true;
    o.Run();
    EXPECT_EQ(o.run->State().Precincts.At(1).text, "017000501");
    EXPECT_EQ(o.run->State().Precincts.At(1).value, "0001");
    EXPECT_TRUE(o.ui.closed) << "no question: the renumbered precinct is known";
}

TEST(Persons, MatchedByNameAndNip)
{
    struct Case
    {
        const char* name;
        std::string archiveNip;
        std::vector<std::pair<std::string, std::string>> target; // id, nip of persons named KOWALSKI
        std::string expected;
    };
    const Case cases[] = {
        {"without NIP the first of the name", "", {{"00000001", "124"}, {"00000002", "123"}}, "00000001"},
        {"the one with the same NIP", "123", {{"00000001", "124"}, {"00000002", "123"}}, "00000002"},
        {"no such NIP: a new person", "125", {{"00000001", "124"}, {"00000002", "123"}}, "00000064"},
        {"no person of the name: a new one", "", {}, "00000064"},
    };
    for (const Case& c : cases) {
        Office o;
        o.archive.AddPerson(Person("Kowalski", c.archiveNip));
        OneWork(o, 1);
        o.WriteArchive();
        o.CreateTarget({100, 1, 1});
        for (const auto& [id, nip] : c.target)
            tools::AppendTargetRow(o.Persons(), "Osoby.dbf",
                                   {{"ID_OSOBY", id}, {"KLUCZ", "KOWALSKI"}, {"NIP", nip}});
        TargetWork(o);
        o.Run();
        EXPECT_EQ(Contractor(o), c.expected) << c.name;
    }
}

TEST(Persons, OnePersonForManyWorks)
{
    // The same archive person as contractor of two works and orderer of one: one new row.
    Office o;
    o.archive.AddPerson(Person("Kowalski", "123"));
    o.archive.AddPerson(Person("Kowalski", "456"));
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    o.archive.AddWork({"P", 2, 2000, 1, "", true, 2});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 1;
    kerg.wykon = 1;
    kerg.zlecen = 2;
    o.archive.AddKerg(kerg);
    kerg.idKerg = 2;
    kerg.wykon = 2;
    kerg.zlecen = 1;
    o.archive.AddKerg(kerg);
    o.WriteArchive();
    o.CreateTarget({20, 1, 1});
    TargetWork(o);
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "0000BBBB"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "2"}, {"ROK", "2000"}, {"LP", "1"}});
    o.Run();
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("WYKON"), "00000014");
    EXPECT_EQ(works[0].at("ZLECEN"), "00000015");
    EXPECT_EQ(works[1].at("WYKON"), "00000015");
    EXPECT_EQ(works[1].at("ZLECEN"), "00000014");
    EXPECT_EQ(o.Rows(o.Persons(), "Osoby.dbf").size(), 2u);
    EXPECT_EQ(o.Counter("OSOBY"), "22");
}

TEST(Persons, EachNumberResolvesOnceAndNumbersNamingNoRecordStayEmpty)
{
    // Two archive persons named by five works, beside numbers no record has: zero, negative, one
    // past the table, the largest a table by number keeps, one past that and the largest there is.
    // The two persons are added once each and named alike by every work; every other number
    // leaves its field empty and is counted each time it is met.
    const std::pair<std::int32_t, std::int32_t> named[] = {{1, 2},         {2, 1},  {1, 1 << 20},
                                                           {0, INT32_MAX}, {3, -4}, {(1 << 20) + 1, 2}};
    Office o;
    o.archive.AddPerson(Person("Kowalski", "123"));
    o.archive.AddPerson(Person("Nowak"));
    tools::ArchiveKerg kerg;
    int work = 0;
    for (const auto& [contractor, orderer] : named) {
        ++work;
        o.archive.AddWork({"P", work, 2000, 1, "", true, work});
        kerg.idKerg = work;
        kerg.wykon = contractor;
        kerg.zlecen = orderer;
        o.archive.AddKerg(kerg);
    }
    o.WriteArchive();
    o.CreateTarget({20, 1, 1});
    for (int n = 1; n <= work; ++n)
        o.AddTargetWork(n);
    o.Run();
    ASSERT_TRUE(o.ui.closed) << (o.ui.errors.empty() ? std::string() : o.ui.errors.front());
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    ASSERT_EQ(works.size(), 6u);
    const std::pair<const char*, const char*> expected[] = {
        {"00000014", "00000015"}, {"00000015", "00000014"}, {"00000014", ""}, {"", ""}, {"", ""},
        {"", "00000015"}};
    for (std::size_t i = 0; i < works.size(); ++i) {
        EXPECT_EQ(works[i].at("WYKON"), expected[i].first) << i;
        EXPECT_EQ(works[i].at("ZLECEN"), expected[i].second) << i;
    }
    EXPECT_EQ(o.Rows(o.Persons(), "Osoby.dbf").size(), 2u);
    EXPECT_EQ(o.run->Report().personsAdded, 2);
    EXPECT_EQ(o.run->Report().personsFound, 0);
    EXPECT_EQ(o.run->Report().personsMissing, 6);
}

TEST(Persons, NamesAddressesAndDictionaries)
{
    Office o;
    o.archive.AddFirstName("Jan");
    o.archive.AddLocality("Nowa Wie\x98"); // ś in code page 852
    o.archive.AddStreet("Polna");
    o.archive.AddCommune("Gmina");
    tools::ArchivePerson p = Person("Kowalski");
    p.imie = 1;
    p.miejsc = 1;
    p.kod = "12345";
    p.nrDomu = "7";
    o.archive.AddPerson(p); // 1: the locality goes to the street, which is empty
    p.nazwa = "Kowalska";
    p.ulica = 1;
    p.gmina = 1;
    p.o = 1;
    o.archive.AddPerson(p); // 2: a street and a commune; the locality replaces the commune
    tools::ArchivePerson q = Person("Nowak");
    q.imie = 9;             // beyond the dictionary: no first name
    q.ulica = -1;           // the 16-bit -1 names nothing
    o.archive.AddPerson(q); // 3
    o.archive.AddWork({"P", 1, 2000, 1, "", true, 1});
    o.archive.AddWork({"P", 2, 2000, 1, "", true, 2});
    tools::ArchiveKerg kerg;
    kerg.idKerg = 1;
    kerg.wykon = 1;
    kerg.zlecen = 2;
    o.archive.AddKerg(kerg);
    kerg.idKerg = 2;
    kerg.wykon = 3;
    kerg.zlecen = 99; // no such person
    o.archive.AddKerg(kerg);
    o.WriteArchive();
    o.CreateTarget({4095, 1, 1});
    TargetWork(o);
    tools::AppendTargetRow(
        o.Kerg(), "Roboty.dbf",
        {{"ID_ROBOTY", "0000BBBB"}, {"JEDN_SEG", "P"}, {"NR_PORZ", "2"}, {"ROK", "2000"}, {"LP", "1"}});
    o.Run();
    ASSERT_TRUE(o.ui.closed);

    const auto persons = o.Rows(o.Persons(), "Osoby.dbf");
    ASSERT_EQ(persons.size(), 3u);
    EXPECT_EQ(persons[0].at("ID_OSOBY"), "00000FFF");
    EXPECT_EQ(persons[0].at("NAZWA1"), "Jan Kowalski");
    EXPECT_EQ(persons[0].at("KOD"), "12-345");
    EXPECT_EQ(persons[0].at("NR_DL"), "7") << "no flat number";
    EXPECT_EQ(persons[0].at("ULICA"), "NOWA WIE\x8C");
    EXPECT_EQ(persons[0].at("MIEJSC"), "");
    EXPECT_EQ(persons[1].at("NAZWA1"), "Kowalska") << "o = 1";
    EXPECT_EQ(persons[1].at("ULICA"), "Polna");
    EXPECT_EQ(persons[1].at("MIEJSC"), "NOWA WIE\x8C");
    EXPECT_EQ(persons[2].at("NAZWA1"), " Nowak") << "no first name: one space in front";
    EXPECT_EQ(persons[2].at("ULICA"), "");
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[1].at("ZLECEN"), "") << "a person number beyond the table";
    EXPECT_EQ(o.Counter("OSOBY"), "4098");
    o.ExpectTargetSound();
}

TEST(Assortments, MatchedByCodeThenNameThenCreated)
{
    Office o;
    o.archive.AddAssortment("ab", "Mapa");        // 1: code found as AB
    o.archive.AddAssortment("zz", "tyczenie");    // 2: name found in upper case
    o.archive.AddAssortment("qq", "Nowy rodzaj"); // 3: neither: created
    o.archive.AddAssortment("qq", "Nowy rodzaj"); // 4: found now by code
    OneWork(o, 0);
    for (std::int16_t a = 1; a <= 4; ++a)
        o.archive.AddWorkAssortment(1, a, std::to_string(a) + ".25");
    o.archive.AddWorkAssortment(1, 77, "1.00"); // beyond the dictionary: the work's walk ends
    o.archive.AddWorkAssortment(1, 1, "9.00");
    o.WriteArchive();
    o.CreateTarget({1, 10, 1});
    tools::AppendTargetRow(o.Kerg(), "Asortym.dbf",
                           {{"ID_ASORT", "0001"}, {"ASORT", "AB"}, {"NAZWA_A", "MAPA"}});
    tools::AppendTargetRow(o.Kerg(), "Asortym.dbf",
                           {{"ID_ASORT", "0002"}, {"ASORT", "TY"}, {"NAZWA_A", "Tyczenie"}});
    TargetWork(o);
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const auto dictionary = o.Rows(o.Kerg(), "Asortym.dbf");
    ASSERT_EQ(dictionary.size(), 3u);
    EXPECT_EQ(dictionary[2].at("ID_ASORT"), "000A");
    EXPECT_EQ(dictionary[2].at("ASORT"), "qq");
    EXPECT_EQ(dictionary[2].at("NAZWA_A"), "Nowy rodzaj");
    const auto links = o.Rows(o.Kerg(), "Kergasor.dbf");
    std::vector<std::string> ids;
    for (const auto& l : links) {
        ids.push_back(l.at("ID_ASORT"));
        EXPECT_EQ(l.at("ID_ROBOTY"), "0000AAAA");
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"0001", "0002", "000A", "000A"}));
    o.ExpectTargetSound();
    EXPECT_EQ(links[1].at("WIELKOSC"), "2.25");
    EXPECT_EQ(o.Counter("ASORTYM"), "11");
}

TEST(Parcels, NumbersSheetsAndPrecinctErrors)
{
    Office o;
    o.archive.AddPrecinct("14002", "0005", "A", "01"); // 1, in the target
    o.archive.AddPrecinct("14003", "0001", "B", "01"); // 2, not in the target
    OneWork(o, 0);
    o.archive.AddParcelLink(1, o.archive.AddParcel(1, 15, 0, 65535), "P");
    o.archive.AddParcelLink(1, o.archive.AddParcel(1, 15, 3, 0), "O");
    o.archive.AddParcelLink(1, o.archive.AddParcel(1, 15, 3, 0), "P"); // the same parcel again: found
    o.archive.AddParcelLink(1, o.archive.AddParcel(2, 1, 0, 0), "P");  // precinct the target lacks
    o.archive.AddParcelLink(1, o.archive.AddParcel(0, 1, 0, 0), "P");  // precinct 0: no value
    o.archive.AddParcelLink(1, o.archive.AddParcel(3, 1, 0, 0), "P");  // beyond the list
    o.WriteArchive();
    o.CreateTarget({1, 1, 10});
    tools::AppendTargetRow(o.Kerg(), "obreb.dbf",
                           {{"ID_OBR", "0A01"}, {"NR_G", "002"}, {"NR_OBR", "0005"}, {"KOD_OBR", "01"}});
    TargetWork(o);
    o.Run();

    const auto parcels = o.Rows(o.Kerg(), "dz.dbf");
    ASSERT_EQ(parcels.size(), 2u);
    EXPECT_EQ(parcels[0].at("DZIALKA"), "15");
    EXPECT_EQ(parcels[0].at("NR_ARKUSZA"), "65535");
    EXPECT_EQ(parcels[0].at("ID_DZIALKI"), "0000000A");
    EXPECT_EQ(parcels[1].at("DZIALKA"), "15/3");
    EXPECT_EQ(o.Rows(o.Kerg(), "obdg.dbf").size(), 3u);
    o.ExpectTargetSound();
    // Only the last precinct error is shown, once, after the walk.
    std::vector<std::string> texts;
    for (const auto& m : o.ui.messages) {
        if (m.caption == "Błąd")
            texts.push_back(m.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Wystąpił błąd podczas ustalania numeru obrębu.Niewłaściwy numer obrębu"}));
    EXPECT_TRUE(o.ui.closed) << "precinct errors do not fail the run";
}

TEST(Parcels, MissingPrecinctNamesItsKey)
{
    Office o;
    o.archive.AddPrecinct("14003", "0001", "B", "01");
    OneWork(o, 0);
    o.archive.AddParcelLink(1, o.archive.AddParcel(1, 1, 0, 0), "P");
    o.WriteArchive();
    o.CreateTarget();
    TargetWork(o);
    o.Run();
    ASSERT_GE(o.ui.messages.size(), 2u);
    EXPECT_EQ(o.ui.messages[1].text, "Wystąpił błąd podczas ustalania numeru obrębu.Brak obrębu: 003000101");
}

TEST(Works, MatchingRules)
{
    Office o;
    // Matched through "#" and a long segment; not matched: not in the register, another id.
    o.archive.AddWork({"", 5, 1999, 2, "", true, 1});     // JEDN_SEG "#" in the target
    o.archive.AddWork({"KMZ", 6, 1999, 2, "", false, 2}); // jestwkergu false
    o.archive.AddWork({"O", 7, 1999, 2,
                       "Os. \x9D\xA2"
                       "d\xAB",
                       true, 3});                       // other name in 852
    o.archive.AddWork({"O", 8, 1999, 2, "", true, 44}); // no register row with id 44
    for (int id : {1, 2, 3}) {
        tools::ArchiveKerg kerg;
        kerg.idKerg = id;
        kerg.nrG = 12345;
        o.archive.AddKerg(kerg);
    }
    o.WriteArchive();
    o.CreateTarget();
    auto work = [&](const std::string& id, const std::string& seg, const std::string& nr,
                    const std::string& other) {
        tools::AppendTargetRow(o.Kerg(), "Roboty.dbf",
                               {{"ID_ROBOTY", id},
                                {"JEDN_SEG", seg},
                                {"NR_PORZ", nr},
                                {"ROK", "1999"},
                                {"LP", "2"},
                                {"INNA_NAZWA", other}});
    };
    work("00000001", "#", "5", "");
    work("00000002", "KMZ", "6", "");
    work("00000003", "O", "7",
         "Os. \xA3\xF3"
         "d\x9F"); // the same name in 1250
    work("00000004", "O", "8", "");
    o.Run();
    ASSERT_TRUE(o.ui.closed);
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("W_TOKU"), "0");
    EXPECT_EQ(works[0].at("NR_G"), "12345") << "beyond 9999: plain, neither filled nor renumbered";
    EXPECT_EQ(works[1].at("W_TOKU"), "");
    EXPECT_EQ(works[2].at("W_TOKU"), "0");
    EXPECT_EQ(works[3].at("W_TOKU"), "");
    // One step per row: a table of 4 rows moves the bar 1, 2, 3, 4 in a range of 0..4.
    EXPECT_EQ(o.ui.rangeMax, 4);
}

} // namespace
