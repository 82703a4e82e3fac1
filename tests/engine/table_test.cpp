// The table object: fields by name, values and their limits, code pages, append and edit read
// back, keyed search over several fields, errors that name table and field.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/table.h"
#include "engine/transaction.h"
#include "tests/engine/support.h"

namespace {

using namespace enginetest;

class TableTest : public ::testing::Test
{
protected:
    // A parcel-like table in code page 852 (db852po0) with a tag over three fields.
    void CreateParcels(std::uint8_t driver = 0x23)
    {
        engine::CreateTable(dir.Path(), "dz.dbf",
                            {{"ID_DZIALKI", 'C', 8, 0},
                             {"ID_OBR", 'C', 4, 0},
                             {"DZIALKA", 'C', 15, 0},
                             {"NR_ARKUSZA", 'C', 5, 0},
                             {"POW", 'N', 10, 2},
                             {"ILOSC", 'N', 4, 0},
                             {"DATA", 'D', 8, 0},
                             {"AKTYWNY", 'L', 1, 0}},
                            {{"OBR_DZ_ARK", "ID_OBR+DZIALKA+NR_ARKUSZA", false, false},
                             {"UPP_DZ", "UPPER(DZIALKA)", false, false}},
                            driver);
    }

    void AddParcel(engine::Table& t, const std::string& id, const std::string& obr, const std::string& dz,
                   const std::string& ark)
    {
        t.Append();
        t.FieldByName("id_dzialki").SetString(id);
        t.FieldByName("ID_OBR").SetString(obr);
        t.FieldByName("DZIALKA").SetString(dz);
        t.FieldByName("NR_ARKUSZA").SetString(ark);
        t.Post();
    }

    TempDir dir;
};

TEST_F(TableTest, AppendedRowsReadBackWithTheirValues)
{
    CreateParcels();
    {
        engine::Table t(dir.Path(), "DZ.DBF");
        t.Open();
        EXPECT_TRUE(t.Eof());
        EXPECT_EQ(t.RecordCount(), 0);
        t.Append();
        t.FieldByName("DZIALKA").SetString("15/3");
        t.FieldByName("POW").SetString("12.345"); // rounded to the field's two decimals
        t.FieldByName("ILOSC").SetInteger(-42);
        t.FieldByName("DATA").SetString("2024.02.29");
        t.FieldByName("AKTYWNY").SetVariant(true);
        t.Post();
        EXPECT_EQ(t.RecordCount(), 1); // in the header at once
    }
    engine::Table t(dir.Path(), "dz.dbf");
    t.Open();
    ASSERT_FALSE(t.Eof());
    EXPECT_EQ(t.FieldByName("DZIALKA").AsString(), "15/3");
    EXPECT_EQ(t.FieldByName("POW").AsString(), "12.35");
    EXPECT_EQ(t.FieldByName("ILOSC").AsInteger(), -42);
    EXPECT_EQ(std::get<std::int64_t>(t.FieldByName("ILOSC").AsVariant()), -42);
    EXPECT_EQ(t.FieldByName("DATA").AsString(), "2024.02.29");
    EXPECT_EQ(std::get<bool>(t.FieldByName("AKTYWNY").AsVariant()), true);
    EXPECT_EQ(t.FieldByName("ID_OBR").AsString(), ""); // all blank reads as empty text
    EXPECT_EQ(t.FieldByName("ID_OBR").AsInteger(), 0);
    t.Next();
    EXPECT_TRUE(t.Eof());

    // The bytes on disk: right-aligned numbers, YYYYMMDD, the end marker after the record.
    const std::string bytes = ReadFileBytes(dir.File("dz.dbf"));
    EXPECT_NE(bytes.find("     12.35 -4220240229T"), std::string::npos);
    EXPECT_EQ(bytes.back(), '\x1A');
}

TEST_F(TableTest, ValuesThatDoNotFitAreRefusedNamingFieldAndTable)
{
    CreateParcels();
    engine::Table t(dir.Path(), "dz.dbf");
    t.Open();
    t.Append();
    auto expectRefused = [&](const std::function<void()>& write, const std::string& field) {
        try {
            write();
            ADD_FAILURE() << "accepted a value for " << field;
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadValue);
            EXPECT_NE(std::string(e.what()).find(field), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("dz.dbf"), std::string::npos) << e.what();
        }
    };
    expectRefused([&] { t.FieldByName("ILOSC").SetInteger(12345); }, "ILOSC");
    expectRefused([&] { t.FieldByName("ILOSC").SetInteger(-1000); }, "ILOSC");
    expectRefused([&] { t.FieldByName("POW").SetString("12345678.5"); }, "POW");
    expectRefused([&] { t.FieldByName("POW").SetString("12x"); }, "POW");
    expectRefused([&] { t.FieldByName("DATA").SetString("2023.02.29"); }, "DATA");
    // Eight digits among other bytes are no date either, wherever the foreign byte stands.
    for (const char* text : {"x2024022", "2024022x", "2024.02.2x", "20 40229", "2024,02,29"})
        expectRefused([&] { t.FieldByName("DATA").SetString(text); }, "DATA");
    expectRefused([&] { t.FieldByName("AKTYWNY").SetString("maybe"); }, "AKTYWNY");
    expectRefused([&] { t.FieldByName("NIEMA"); }, "NIEMA");
    // Text is cut to the field's width, not refused.
    t.FieldByName("ID_OBR").SetString("123456");
    EXPECT_EQ(t.FieldByName("ID_OBR").AsString(), "1234");
    t.FieldByName("ILOSC").SetInteger(-999);
    t.Post();
    EXPECT_EQ(t.FieldByName("ILOSC").AsInteger(), -999);
}

// The number's first 15 significant digits as plain decimal text, built from printf's "%.14e".
std::string FifteenDigits(double x)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.14e", x);
    std::string s(text);
    const bool negative = s[0] == '-';
    if (negative)
        s.erase(0, 1);
    const int exponent = std::atoi(s.c_str() + s.find('e') + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, s.find('e') - 2); // 15 digits
    std::string out;
    if (exponent >= 0) {
        if (static_cast<std::size_t>(exponent) + 1 >= digits.size())
            out = digits + std::string(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
        else
            out = digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
                  digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    return (negative ? "-" : "") + out;
}

// A number given as a double is stored as its 15 significant digits would be as text: the field
// rounds once, half away from zero, on those decimal digits, as STR and ROUND do (2.675, a little
// less as a double, is 2.68; 0.12496 is 0.12, never first 0.1250 and then 0.13).
TEST_F(TableTest, DoublesAreStoredAsTheirDecimalDigitsRoundedOnce)
{
    CreateParcels();
    engine::Table t(dir.Path(), "dz.dbf");
    t.Open();
    t.Append();
    engine::Field pow = t.FieldByName("POW");     // N(10,2)
    engine::Field ilosc = t.FieldByName("ILOSC"); // N(4,0)
    const std::pair<double, const char*> byHand[] = {
        {0.12496, "0.12"},
        {1.23496, "1.23"},
        {-0.12496, "-0.12"},
        {0.0049999, "0.00"},
        {2.675, "2.68"},
        {1.005, "1.01"},
        {-1.005, "-1.01"},
        {0.005, "0.01"},
        {99.995, "100.00"},
        {1.0 / 3, "0.33"},
        {2.0 / 3, "0.67"},
        {1e-320, "0.00"},
        {-1e-9, "0.00"},
        {-0.0, "0.00"},
        {1234567.8, "1234567.80"},
        {-99999.994, "-99999.99"},
        {0.1 + 0.2, "0.30"},
        // Just below a half: 1.0049999999999997 and 0.12499999999999999 round to 1.00500000000000
        // and 0.125000000000000 on 15 digits, and from there up.
        {std::nextafter(1.005, 0.0), "1.01"},
        {std::nextafter(0.125, 0.0), "0.13"},
        {std::nextafter(-2.5, 0.0), "-2.50"}};
    for (const auto& [x, text] : byHand) {
        pow.SetVariant(x);
        EXPECT_EQ(pow.AsString(), text) << x;
    }
    std::vector<double> values = {0.0,       -0.0,       0.125,  2.675,  1.005,  -1.005,  0.5,    1.5,
                                  2.5,       -2.5,       12.345, 99.995, 0.0049, 0.005,   1e-320, -1e-9,
                                  1234567.8, -99999.994, 9999.5, -999.5, 0.3,    1.0 / 3, 2.0 / 3};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> wide(-999999.0, 999999.0), narrow(-9.99, 9.99);
    // Numbers of few decimals, as quantities are: their short exact forms, halves of the last
    // decimal kept (x.xx5) included, must round as their full digits do.
    std::uniform_int_distribution<std::int64_t> few(-99999999, 99999999);
    for (int i = 0; i < 6000; ++i) {
        switch (i % 4) {
        case 0:
            values.push_back(wide(random));
            break;
        case 1:
            values.push_back(narrow(random));
            break;
        case 2:
            values.push_back(static_cast<double>(few(random)) / 100);
            break;
        default:
            values.push_back(static_cast<double>(few(random)) / 1000);
            break;
        }
    }
    for (const double x : values) {
        for (engine::Field* field : {&pow, &ilosc}) {
            const std::string text = FifteenDigits(x);
            std::string expected, got;
            try {
                field->SetString(text);
                expected = field->AsString();
            } catch (const engine::Error&) {
                expected = "(refused)";
            }
            try {
                field->SetVariant(x);
                got = field->AsString();
            } catch (const engine::Error&) {
                got = "(refused)";
            }
            ASSERT_EQ(got, expected) << text << " into " << field->Name();
        }
    }
    // Numbers far too large for any field are refused, naming the field; nothing is cut short.
    for (const double x : {1e300, -std::numeric_limits<double>::max()}) {
        try {
            pow.SetVariant(x);
            ADD_FAILURE() << "accepted " << x;
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadValue);
            EXPECT_NE(std::string(e.what()).find("POW"), std::string::npos) << e.what();
        }
    }
    t.Cancel();
}

TEST_F(TableTest, WritingOutsideEditStateIsAnError)
{
    CreateParcels();
    engine::Table t(dir.Path(), "dz.dbf");
    t.Open();
    EXPECT_THROW(t.Post(), engine::Error);
    EXPECT_THROW(t.Edit(), engine::Error); // no current row
    AddParcel(t, "1", "0001", "1", "");
    EXPECT_THROW(t.FieldByName("DZIALKA").SetString("2"), engine::Error);
    EXPECT_THROW(t.EditKey(), engine::Error); // no tag chosen
}

// Code page 852 and 1250 tables: the program's 1250 text is stored in the table's own page,
// over the whole upper half, not only the Polish letters.
TEST_F(TableTest, TextIsConvertedToAndFromTheTablesCodePage)
{
    const std::string polish1250 = "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
    const std::string polish852 = "\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE";
    const std::string other1250 = "\xE4\xF6\xDF\xE8"; // ä ö ß č
    const std::string other852 = "\x84\x94\xE1\x9F";
    for (std::uint8_t driver : {std::uint8_t{0x23}, std::uint8_t{0xC8}}) {
        SCOPED_TRACE(driver);
        engine::CreateTable(dir.Path(), "t.dbf", {{"NAZWA", 'C', 30, 0}}, {}, driver);
        {
            engine::Table t(dir.Path(), "t.dbf");
            t.Open();
            t.Append();
            t.FieldByName("NAZWA").SetString(polish1250 + other1250);
            t.Post();
        }
        const std::string bytes = ReadFileBytes(dir.File("t.dbf"));
        const std::string stored = driver == 0x23 ? polish852 + other852 : polish1250 + other1250;
        EXPECT_NE(bytes.find(stored), std::string::npos);
        engine::Table t(dir.Path(), "T.DBF");
        t.Open();
        EXPECT_EQ(t.FieldByName("nazwa").AsString(), polish1250 + other1250);
    }
}

TEST_F(TableTest, UnknownCodePageIsRefusedAtOpen)
{
    engine::CreateTable(dir.Path(), "t.dbf", {{"NAZWA", 'C', 10, 0}}, {}, 0x23);
    std::string bytes = ReadFileBytes(dir.File("t.dbf"));
    bytes[29] = '\x99';
    WriteFileBytes(dir.File("t.dbf"), bytes);
    engine::Table t(dir.Path(), "t.dbf");
    try {
        t.Open();
        FAIL() << "opened";
    } catch (const engine::Error& e) {
        EXPECT_NE(std::string(e.what()).find("0x99"), std::string::npos) << e.what();
    }
}

TEST_F(TableTest, MissingDirectoryFileOrTagFailsOpen)
{
    CreateParcels();
    engine::Table noDir(dir.File("nie_ma"), "dz.dbf");
    EXPECT_THROW(noDir.Open(), engine::Error);
    engine::Table noFile(dir.Path(), "roboty.dbf");
    EXPECT_THROW(noFile.Open(), engine::Error);
    engine::Table noTag(dir.Path(), "dz.dbf");
    noTag.SetIndexName("UPP_KLUCZ");
    try {
        noTag.Open();
        FAIL() << "opened";
    } catch (const engine::Error& e) {
        EXPECT_EQ(e.Kind(), engine::ErrorKind::NotFound);
        EXPECT_NE(std::string(e.what()).find("UPP_KLUCZ"), std::string::npos);
    }
    EXPECT_FALSE(noTag.Active());
}

TEST_F(TableTest, GotoKeyOverThreeFieldsFindsTheFirstMatchInTagOrder)
{
    CreateParcels();
    engine::Table t(dir.Path(), "dz.dbf");
    t.SetIndexName("OBR_DZ_ARK");
    t.Open();
    AddParcel(t, "A", "0002", "15/3", "");
    AddParcel(t, "B", "0001", "15/3", "2");
    AddParcel(t, "C", "0001", "15", "");
    AddParcel(t, "D", "0001", "15/3", "");
    AddParcel(t, "E", "0001", "15/3", ""); // same key as D: D comes first
    std::vector<std::string> order;
    for (t.First(); !t.Eof(); t.Next())
        order.push_back(t.FieldByName("ID_DZIALKI").AsString());
    // db852po0: "15 " before "15/" (space below punctuation), blank sheet before "2".
    EXPECT_EQ(order, (std::vector<std::string>{"C", "D", "E", "B", "A"}));

    auto find = [&](const std::string& obr, const std::string& dz, const std::string& ark) {
        t.EditKey();
        t.FieldByName("ID_OBR").SetString(obr);
        t.FieldByName("DZIALKA").SetString(dz);
        t.FieldByName("NR_ARKUSZA").SetString(ark);
        return t.GotoKey();
    };
    ASSERT_TRUE(find("0001", "15/3", ""));
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "D");
    t.Next();
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "E"); // the walk goes on from the match
    ASSERT_TRUE(find("0001", "15/3", "2"));
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "B");
    EXPECT_FALSE(find("0001", "15/4", ""));
    EXPECT_FALSE(find("0001", "15", "2"));

    // Changing the tag keeps the current row; UPPER() applies to the search value as well.
    ASSERT_TRUE(find("0002", "15/3", ""));
    t.SetIndexName("UPP_DZ");
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "A");
    t.Next(); // equal keys in record order: A (1), B (2), D (4), E (5)
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "B");
}

TEST_F(TableTest, EditChangesTheKeyInEveryTag)
{
    CreateParcels();
    engine::Table t(dir.Path(), "dz.dbf");
    t.SetIndexName("OBR_DZ_ARK");
    t.Open();
    for (int i = 0; i < 300; ++i)
        AddParcel(t, std::to_string(i), "0001", std::to_string(i), "");
    t.EditKey();
    t.FieldByName("ID_OBR").SetString("0001");
    t.FieldByName("DZIALKA").SetString("150");
    ASSERT_TRUE(t.GotoKey());
    t.Edit();
    t.FieldByName("ID_OBR").SetString("0000");
    t.Post();
    t.First();
    EXPECT_EQ(t.FieldByName("ID_DZIALKI").AsString(), "150");
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
}

TEST_F(TableTest, RowsOfATableWithMemoFieldsKeepTheirMemoPointers)
{
    engine::CreateTable(dir.Path(), "m.dbf", {{"NAZWA", 'C', 10, 0}, {"OPIS", 'M', 10, 0}}, {});
    std::string bytes = ReadFileBytes(dir.File("m.dbf"));
    bytes.pop_back();
    bytes += " abc" + std::string(15, ' ') + "17" + '\x1A';
    bytes[4] = 1;
    WriteFileBytes(dir.File("m.dbf"), bytes);
    engine::Table t(dir.Path(), "m.dbf");
    t.Open();
    EXPECT_EQ(t.FieldByName("OPIS").AsString(), "17");
    t.Edit();
    EXPECT_THROW(t.FieldByName("OPIS").SetString("1"), engine::Error);
    t.FieldByName("NAZWA").SetString("xyz");
    t.Post();
    EXPECT_NE(ReadFileBytes(dir.File("m.dbf")).find(" xyz" + std::string(15, ' ') + "17"), std::string::npos);
}

} // namespace

namespace {

// A unique tag indexes only the first record of a key: a second row with that key is posted and
// read back, the tag keeps pointing at the first, and an edit that frees the key hands it on.
TEST(UniqueTag, SecondRowWithAKeyIsStoredButNotIndexed)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "u.dbf", {{"KOD", 'C', 4, 0}, {"NR", 'N', 4, 0}},
                        {{"KOD_U", "KOD", false, true}}, 0x23);
    engine::Table t(dir.Path(), "u.dbf");
    t.SetIndexName("KOD_U");
    t.Open();
    for (int i = 0; i < 3; ++i) {
        t.Append();
        t.FieldByName("KOD").SetString(i == 1 ? "B" : "A");
        t.FieldByName("NR").SetInteger(i);
        t.Post(); // the third row (key A again) is not in the tag: Post must not fail on it
        EXPECT_EQ(t.FieldByName("NR").AsInteger(), i);
    }
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.EditKey();
    t.FieldByName("KOD").SetString("A");
    ASSERT_TRUE(t.GotoKey());
    EXPECT_EQ(t.FieldByName("NR").AsInteger(), 0);
    t.Edit();
    t.FieldByName("KOD").SetString("C"); // record 3 now holds the first A
    t.Post();
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.EditKey();
    t.FieldByName("KOD").SetString("A");
    ASSERT_TRUE(t.GotoKey());
    EXPECT_EQ(t.FieldByName("NR").AsInteger(), 2);
}

// The row that takes over a freed key is the first row that has the key now: not one that had it
// before another open of the table changed it, nor one that a rollback took away.
TEST(UniqueTag, TheRowThatTakesOverAKeyHasItNow)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "u.dbf", {{"NR", 'N', 4, 0}}, {{"NR_U", "NR", false, true}}, 0x23);
    const auto setNr = [](engine::Table& t, std::uint32_t record, int nr) {
        t.MoveTo(record);
        t.Edit();
        t.FieldByName("NR").SetInteger(nr);
        t.Post();
    };
    const auto expectSound = [](engine::Table& t, const char* when) {
        EXPECT_EQ(t.Verify(), std::vector<std::string>{}) << when;
    };
    {
        // Two opens in one transaction: the first learns the rows of key 7 when row 1 leaves it;
        // the second then takes row 3 away from 7, so when row 2 leaves 7 no row has it any more.
        engine::Transaction transaction(dir.Path());
        engine::Table first(dir.Path(), "u.dbf"), second(dir.Path(), "u.dbf");
        first.SetTransaction(&transaction);
        second.SetTransaction(&transaction);
        first.Open();
        second.Open();
        for (int i = 0; i < 3; ++i) {
            first.Append();
            first.FieldByName("NR").SetInteger(7);
            first.Post();
        }
        setNr(first, 1, 8);
        setNr(second, 3, 5);
        setNr(first, 2, 6);
        expectSound(first, "after the other open's change");
        transaction.Commit();
    }
    for (const bool exclusive : {true, false}) {
        // Rows 1-3 hold key 7 at the commit. The open learns its rows with row 1 leaving 7; a row
        // with 7 is appended and rows 2 and 3 leave it. The rollback takes all that back, so when
        // row 1 leaves 7 again, row 2 takes it over, not the appended row that is gone.
        engine::Transaction transaction(dir.Path());
        engine::Table t(dir.Path(), "u.dbf");
        t.SetExclusive(exclusive);
        t.SetTransaction(&transaction);
        t.Open();
        for (std::uint32_t r = 1; r <= 3; ++r)
            setNr(t, r, 7);
        transaction.Commit();
        setNr(t, 1, 8);
        t.Append();
        t.FieldByName("NR").SetInteger(7);
        t.Post();
        setNr(t, 2, 9);
        setNr(t, 3, 9);
        transaction.RollBack();
        ASSERT_EQ(t.RecordCount(), 3);
        setNr(t, 1, 6);
        expectSound(t, exclusive ? "an exclusive open after a rollback" : "a shared open after a rollback");
        transaction.Commit();
    }
}

} // namespace

namespace {

// Every post bumps the update counter of each tag it changed: at once with a shared open (other
// opens see changes by it), at the latest on closing with an exclusive one.
TEST(UpdateCounters, EveryPostCountsInTheTagHeader)
{
    TempDir dir;
    engine::CreateTable(dir.Path(), "c.dbf", {{"KOD", 'C', 4, 0}}, {{"KOD", "KOD", false, false}}, 0x23);
    auto counter = [&] { return static_cast<unsigned char>(ReadFileBytes(dir.File("c.mdx"))[4 * 512 + 20]); };
    ASSERT_EQ(counter(), 0);
    {
        engine::Table t(dir.Path(), "c.dbf");
        t.Open();
        t.Append();
        t.FieldByName("KOD").SetString("A");
        t.Post();
        EXPECT_EQ(counter(), 1);
        t.Edit();
        t.FieldByName("KOD").SetString("B");
        t.Post();
        EXPECT_EQ(counter(), 2);
    }
    {
        engine::Table t(dir.Path(), "c.dbf");
        t.SetExclusive(true);
        t.Open();
        for (int i = 0; i < 3; ++i) {
            t.Append();
            t.FieldByName("KOD").SetString("C");
            t.Post();
        }
    }
    EXPECT_EQ(counter(), 5);

    // A check of the index halfway through an exclusive open reads the tag headers again: the
    // counts kept back until the close must be neither lost nor taken for another open's posts.
    {
        engine::Table t(dir.Path(), "c.dbf");
        t.SetExclusive(true);
        t.Open();
        for (int i = 0; i < 4; ++i) {
            t.Append();
            t.FieldByName("KOD").SetString("D");
            t.Post();
        }
        EXPECT_EQ(t.Verify(), std::vector<std::string>{});
        for (int i = 0; i < 3; ++i) {
            t.Append();
            t.FieldByName("KOD").SetString("E");
            t.Post();
        }
    }
    EXPECT_EQ(counter(), 12);
}

} // namespace

namespace {

// Counts in a tag's expression beyond any key (as a damaged index may hold) are taken as the
// largest count, on every system alike; a key they leave empty is refused plainly.
TEST(TagExpressions, HugeCountsTakeTheWholeText)
{
    TempDir dir;
    EXPECT_THROW(engine::CreateTable(
                     dir.Path(), "T.DBF", {{"NAZWA", 'C', 6, 0}, {"NR", 'N', 3, 0}},
                     {{"POZA", "SUBSTR(NAZWA, 99999999999999999999, 2)+STR(NR, 4294967299)", false, false}},
                     0x23),
                 engine::Error);
    engine::CreateTable(
        dir.Path(), "T.DBF", {{"NAZWA", 'C', 6, 0}, {"NR", 'N', 3, 0}},
        {{"DUZE", "LEFT(NAZWA, 99999999999999999999)+SUBSTR(NAZWA, 3, 4294967297)", false, false}}, 0x23);
    engine::Table t(dir.Path(), "t.dbf");
    t.SetIndexName("DUZE");
    t.Open();
    t.Append();
    t.FieldByName("NAZWA").SetString("ABCDEF");
    t.FieldByName("NR").SetInteger(7);
    t.Post();
    t.EditKey();
    t.FieldByName("NAZWA").SetString("ABCDEF");
    EXPECT_TRUE(t.GotoKey()) << "key ABCDEFCDEF";
    EXPECT_EQ(t.Verify(), std::vector<std::string>{});
    t.Close();
    const Walk walk = EngineWalk(dir.File("T.MDX"), "DUZE");
    ASSERT_EQ(walk.size(), 1u);
    EXPECT_EQ(walk[0].second, Hex("ABCDEFCDEF"));
}

} // namespace
