// The person rows the import creates, field by field: the codes and numbers copied from the archive,
// the name lines gathered into the two names, the first name put in front, and the longest names.
#include <gtest/gtest.h>

#include "convert/text.h"
#include "tests/convert/office.h"
#include "tools/cp852.h"

namespace {

using office::Office;

// Archive text is given in UTF-8 here and written in code page 852; the target holds code page 1250.
std::string Dos(const std::string& utf8)
{
    const auto bytes = tools::Utf8ToCp852(utf8);
    EXPECT_TRUE(bytes.has_value()) << utf8;
    return bytes.value_or(std::string());
}

std::string Win(const std::string& utf8)
{
    return convert::Utf8ToCp1250(utf8);
}

// A first name as long as the dictionary's field, and a surname as long as the person's.
const std::string kLongFirstName = "Aleksandra Małgorzata Kry";    // 25 characters
const std::string kLongSurname = "Wierzbicka-Żółtowska Dąbrowska"; // 30
const std::string kLongLine1 = "Miejskie Przedsiębiorstwo Geod";   // 30, no space at the end
const std::string kLongLine2 = "ezyjno-Kartograficzne w Łodzi.";   // 30
const std::string kPermission = "Uprawnienia zawodowe Łódź";       // 25, the field's width

// Five persons, created in this order by three works (contractor, then orderer):
//  1 (id 00000010): o 2, the long first name, the long surname, no name lines, every code filled;
//  2 (00000011): o 1, a first name that is not used, name lines 1 to 4, no codes;
//  3 (00000012): o 2, first name Jan, name lines 1 and 2 of 30 characters each, line 3 alone;
//  4 (00000013): o 2, no first name, name line 4 alone;
//  5 (00000014): o 2, no first name, name line 1 alone.
class PersonFields : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(Win(kLongFirstName).size(), 25u);
        ASSERT_EQ(Win(kLongSurname).size(), 30u);
        ASSERT_EQ(Win(kLongLine1).size(), 30u);
        ASSERT_EQ(Win(kLongLine2).size(), 30u);
        ASSERT_EQ(Win(kPermission).size(), 25u);

        o.archive.AddFirstName("Jan");
        o.archive.AddFirstName(Dos(kLongFirstName));

        tools::ArchivePerson first;
        first.nazwa = Dos(kLongSurname);
        first.imie = 2;
        first.rodzaj = "F";
        first.nip = "PL1234567890123";
        first.konto = "1234567890";
        first.uprawnienia = Dos(kPermission);
        o.archive.AddPerson(first);

        tools::ArchivePerson company;
        company.nazwa = "GEOPOL";
        company.o = 1;
        company.imie = 1;
        company.rodzaj = "P";
        const int companyId = o.archive.AddPerson(company);
        o.archive.AddNameLine(companyId, 1, Dos("Przedsiębiorstwo"));
        o.archive.AddNameLine(companyId, 2, Dos("Geodezyjno-Kartograficzne"));
        o.archive.AddNameLine(companyId, 3, Dos("Spółka z ograniczoną"));
        o.archive.AddNameLine(companyId, 4, Dos("odpowiedzialnością"));

        tools::ArchivePerson longLines;
        longLines.nazwa = "MPGK";
        longLines.imie = 1;
        longLines.rodzaj = "S";
        longLines.nip = "123-45";
        longLines.konto = "12";
        longLines.uprawnienia = "nr 7";
        const int longLinesId = o.archive.AddPerson(longLines);
        // Lines stored out of order: the index puts them in order.
        o.archive.AddNameLine(longLinesId, 3, Dos("Spółka Cywilna  "));
        o.archive.AddNameLine(longLinesId, 2, Dos(kLongLine2));
        o.archive.AddNameLine(longLinesId, 1, Dos(kLongLine1));

        tools::ArchivePerson fourthLine;
        fourthLine.nazwa = "BP";
        const int fourthLineId = o.archive.AddPerson(fourthLine);
        o.archive.AddNameLine(fourthLineId, 4, Dos("Biuro Projektów"));

        tools::ArchivePerson firstLine;
        firstLine.nazwa = "ZUG";
        const int firstLineId = o.archive.AddPerson(firstLine);
        o.archive.AddNameLine(firstLineId, 1, Dos("Zakład Usług Geodezyjnych"));

        const std::pair<int, int> persons[] = {{1, 2}, {3, 4}, {5, 0}};
        for (int work = 1; work <= 3; ++work) {
            o.archive.AddWork({"P", work, 2000, 1, "", true, work});
            tools::ArchiveKerg kerg;
            kerg.idKerg = work;
            kerg.wykon = persons[work - 1].first;
            kerg.zlecen = persons[work - 1].second;
            o.archive.AddKerg(kerg);
        }
        o.WriteArchive();
        o.CreateTarget({0x10, 1, 1});
        for (int work = 1; work <= 3; ++work)
            o.AddTargetWork(work);
        o.Run();
        ASSERT_TRUE(o.ui.closed) << (o.ui.errors.empty() ? std::string() : o.ui.errors.front());
        rows = o.Rows(o.Persons(), "Osoby.dbf");
        ASSERT_EQ(rows.size(), 5u);
    }

    const std::map<std::string, std::string>& Person(std::size_t i) const { return rows.at(i); }

    Office o;
    std::vector<std::map<std::string, std::string>> rows;
};

TEST_F(PersonFields, RowsInTheOrderTheWorksNameThem)
{
    const char* ids[] = {"00000010", "00000011", "00000012", "00000013", "00000014"};
    const char* keys[] = {nullptr, "GEOPOL", "MPGK", "BP", "ZUG"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(Person(i).at("ID_OSOBY"), ids[i]) << i;
        EXPECT_EQ(Person(i).at("KLUCZ"), keys[i] != nullptr ? keys[i] : Win(kLongSurname)) << i;
        EXPECT_EQ(Person(i).at("ID_TWORZ"), "00015D86") << i;
    }
    const auto works = o.Rows(o.Kerg(), "Roboty.dbf");
    EXPECT_EQ(works[0].at("WYKON"), "00000010");
    EXPECT_EQ(works[0].at("ZLECEN"), "00000011");
    EXPECT_EQ(works[1].at("WYKON"), "00000012");
    EXPECT_EQ(works[1].at("ZLECEN"), "00000013");
    EXPECT_EQ(works[2].at("WYKON"), "00000014");
    EXPECT_EQ(o.Counter("OSOBY"), "21");
}

// Kind, NIP, account and permissions are copied as they stand, recoded to code page 1250, at the
// full width of their fields; empty ones stay empty.
TEST_F(PersonFields, CodesAndNumbersAreCopiedWhole)
{
    EXPECT_EQ(Person(0).at("RODZAJ"), "F");
    EXPECT_EQ(Person(0).at("NIP"), "PL1234567890123");
    EXPECT_EQ(Person(0).at("KONTO"), "1234567890");
    EXPECT_EQ(Person(0).at("UPRAWNIENI"), Win(kPermission));

    EXPECT_EQ(Person(1).at("RODZAJ"), "P");
    EXPECT_EQ(Person(1).at("NIP"), "");
    EXPECT_EQ(Person(1).at("KONTO"), "");
    EXPECT_EQ(Person(1).at("UPRAWNIENI"), "");

    EXPECT_EQ(Person(2).at("RODZAJ"), "S");
    EXPECT_EQ(Person(2).at("NIP"), "123-45");
    EXPECT_EQ(Person(2).at("KONTO"), "12");
    EXPECT_EQ(Person(2).at("UPRAWNIENI"), "nr 7");

    for (std::size_t i = 3; i < rows.size(); ++i) {
        EXPECT_EQ(Person(i).at("RODZAJ"), "") << i;
        EXPECT_EQ(Person(i).at("NIP"), "") << i;
        EXPECT_EQ(Person(i).at("KONTO"), "") << i;
        EXPECT_EQ(Person(i).at("UPRAWNIENI"), "") << i;
    }
}

// Lines 1 and 2 make the first name, lines 3 and 4 the second: each line keeps the spaces that
// fill it to 30 characters, and only the end of each name is trimmed. With o = 1 the first name of
// the dictionary is not put in front.
TEST_F(PersonFields, NameLinesFillBothNames)
{
    EXPECT_EQ(Person(1).at("NAZWA1"),
              Win("Przedsiębiorstwo" + std::string(14, ' ') + "Geodezyjno-Kartograficzne"));
    EXPECT_EQ(Person(1).at("NAZWA2"),
              Win("Spółka z ograniczoną" + std::string(10, ' ') + "odpowiedzialnością"));

    // Line 3 alone: its trailing spaces go.
    EXPECT_EQ(Person(2).at("NAZWA2"), Win("Spółka Cywilna"));
    // Line 4 alone makes the second name; the first is the prefix of no first name, one space,
    // which the table cannot tell from an empty field.
    EXPECT_EQ(Person(3).at("NAZWA1"), "");
    EXPECT_EQ(Person(3).at("NAZWA2"), Win("Biuro Projektów"));
    // Line 1 alone, no first name: one space in front.
    EXPECT_EQ(Person(4).at("NAZWA1"), Win(" Zakład Usług Geodezyjnych"));
    EXPECT_EQ(Person(4).at("NAZWA2"), "");
}

// The first name and one space go in front (a 25-character first name keeps its space: the prefix
// is cut at 26). Without name lines, prefix and surname are cut at 56, which the longest of both
// just reach; with name lines nothing is cut but the 60 characters of the field.
TEST_F(PersonFields, FirstNamePrefixAndTheLongestNames)
{
    const std::string longest = Win(kLongFirstName + " " + kLongSurname);
    ASSERT_EQ(longest.size(), 56u);
    EXPECT_EQ(Person(0).at("NAZWA1"), longest);
    EXPECT_EQ(Person(0).at("NAZWA2"), "");

    const std::string withLines = Win("Jan " + kLongLine1 + kLongLine2);
    ASSERT_EQ(withLines.size(), 64u);
    EXPECT_EQ(Person(2).at("NAZWA1"), withLines.substr(0, 60));
}

} // namespace
