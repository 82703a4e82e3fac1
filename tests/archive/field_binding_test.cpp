// Field binding by kind letter and the conversion of field text into the callers' variables.
#include <gtest/gtest.h>

#include "archive/reader.h"
#include "tests/support/test_files.h"
#include "tools/dbf_writer.h"

namespace {

using archive::Reader;
using archive::ShortString;
using writers::DbfWriter;

// Opens a one-record table whose only field F holds `text` (exactly, width = its length).
class OneField
{
public:
    explicit OneField(const std::string& text, char type = 'C') : reader_(files_.Opener())
    {
        DbfWriter table({{"F", type, static_cast<std::uint8_t>(text.size()), 0}});
        table.AddRaw(text);
        files_.Add("T.DBF", table.Bytes());
        reader_.ResetWorkAreas();
        reader_.OpenTable("T.DBF", area_);
    }
    Reader& R() { return reader_; }
    void Read() { reader_.ReadRecord(area_, 0); }

private:
    test_support::MemoryFiles files_;
    Reader reader_;
    std::uint8_t area_ = 0;
};

struct NumberCase
{
    std::string text;
    std::int32_t asLong; // expected value, when error == 0
    int error;           // expected error position as l, 0 = none
};

class NumberTextTest : public ::testing::TestWithParam<NumberCase>
{};

TEST_P(NumberTextTest, ParsesAsLong)
{
    const NumberCase& c = GetParam();
    OneField t(c.text, 'N');
    std::int32_t value = 12345;
    t.R().BindLong("f", value);
    t.Read();
    if (c.error == 0) {
        EXPECT_EQ(t.R().TableResult(), 0);
        EXPECT_EQ(t.R().ConversionErrorPos(), 0);
        EXPECT_EQ(value, c.asLong);
    } else {
        EXPECT_EQ(t.R().TableResult(), archive::kTableBadNumber);
        EXPECT_EQ(t.R().ConversionErrorPos(), c.error);
        EXPECT_EQ(value, 12345);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberTextTest,
    ::testing::Values(NumberCase{"   12  ", 12, 0}, NumberCase{"     ", 0, 0}, NumberCase{"1 2", 0, 2},
                      NumberCase{"12.5", 0, 3}, NumberCase{"-17", -17, 0}, NumberCase{"+8", 8, 0},
                      NumberCase{"2147483647", 2147483647, 0}, NumberCase{"-2147483648", -2147483647 - 1, 0},
                      NumberCase{"2147483648", 0, 10}, NumberCase{"-", 0, 2}, NumberCase{"1e3", 0, 2},
                      NumberCase{"$1F", 0, 1}, NumberCase{"0007", 7, 0}));

TEST(FieldBinding, RealNumbers)
{
    struct Case
    {
        std::string text;
        double value;
        int error;
    };
    const Case cases[] = {{"  12.5", 12.5, 0}, {"-0.25", -0.25, 0}, {"1,5", 0, 2},  {"1.5E3", 1500, 0},
                          {"2e-2", 0.02, 0},   {"     ", 0, 0},     {"12.", 12, 0}, {".5", 0.5, 0},
                          {"1E", 0, 3},        {"E5", 0, 1},        {"--1", 0, 2},  {"1.2.3", 0, 4}};
    for (const Case& c : cases) {
        OneField t(c.text, 'N');
        double value = -1;
        t.R().BindReal("F", value);
        t.Read();
        if (c.error == 0) {
            EXPECT_EQ(t.R().TableResult(), 0) << c.text;
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        } else {
            EXPECT_EQ(t.R().TableResult(), archive::kTableBadNumber) << c.text;
            EXPECT_EQ(t.R().ConversionErrorPos(), c.error) << c.text;
            EXPECT_EQ(value, -1) << c.text;
        }
    }
}

TEST(FieldBinding, ByteAndWordKeepTheLowBits)
{
    {
        OneField t("300");
        std::uint8_t b = 0;
        t.R().BindByte("F", b);
        t.Read();
        EXPECT_EQ(b, 44);
    }
    {
        OneField t("-1");
        std::uint16_t w = 0;
        t.R().BindWord("F", w);
        t.Read();
        EXPECT_EQ(w, 65535);
    }
    {
        OneField t("70000");
        std::uint16_t w = 0;
        t.R().BindWord("F", w);
        t.Read();
        EXPECT_EQ(w, 70000 - 65536);
    }
}

TEST(FieldBinding, BinaryIntegers)
{
    {
        OneField t(std::string("\x01\x02\x00\x00", 4));
        std::int32_t m = 0;
        t.R().BindBin4("F", m);
        t.Read();
        EXPECT_EQ(m, 513);
    }
    {
        OneField t(std::string("\xFF\xFF\xFF\xFF", 4));
        std::int32_t m = 0;
        t.R().BindBin4("F", m);
        t.Read();
        EXPECT_EQ(m, -1);
    }
    {
        // Narrower than the integer: the missing bytes are NUL.
        OneField t(std::string("\x07", 1));
        std::int16_t n = -1;
        t.R().BindBin2("F", n);
        t.Read();
        EXPECT_EQ(n, 7);
        std::int32_t m = -1;
        t.R().BindBin4("F", m);
        t.Read();
        EXPECT_EQ(m, 7);
    }
    {
        OneField t(std::string("\x34\x12\x99", 3));
        std::int16_t n = 0;
        t.R().BindBin2("F", n);
        t.Read();
        EXPECT_EQ(n, 0x1234);
    }
}

TEST(FieldBinding, Logicals)
{
    for (const char* yes : {"T", "y", "Y", "t"}) {
        OneField t(yes, 'L');
        bool v = false;
        t.R().BindLogical("F", v);
        t.Read();
        EXPECT_TRUE(v) << yes;
    }
    for (const char* no : {"F", "N", " ", "1", "?"}) {
        OneField t(no, 'L');
        bool v = true;
        t.R().BindLogical("F", v);
        t.Read();
        EXPECT_FALSE(v) << no;
    }
    OneField t(" T", 'C'); // no space skipping
    bool v = true;
    t.R().BindLogical("F", v);
    t.Read();
    EXPECT_FALSE(v);
}

TEST(FieldBinding, TextKinds)
{
    OneField t("ABC       ");
    ShortString a, c;
    t.R().BindString("F", a, 30);
    t.Read();
    EXPECT_EQ(a.View(), "ABC");
    t.R().BindRawString("F", c, 30);
    t.Read();
    EXPECT_EQ(c.View(), "ABC       ");
    // Binding again replaces the binding: `a` is no longer written.
    a.Assign("old");
    t.Read();
    EXPECT_EQ(a.View(), "old");
}

TEST(FieldBinding, TextNeverExceedsTheCapacity)
{
    OneField t("ABCDEFGHIJ");
    ShortString a, c;
    t.R().BindString("F", a, 4);
    t.Read();
    EXPECT_EQ(a.View(), "ABCD");
    t.R().BindRawString("F", c, 6);
    t.Read();
    EXPECT_EQ(c.View(), "ABCDEF");
}

TEST(FieldBinding, TextIsRecodedWhenTheSourcePageIsSet)
{
    // ŁÓdŹ in code page 852 with two trailing spaces.
    OneField t("\x9D\xA2\x64\xAB  ");
    ShortString a;
    t.R().BindString("F", a, 10);
    t.Read();
    EXPECT_EQ(a.View(), "\x9D\xA2\x64\xAB") << "no recoding by default";
    t.R().SourceCodePage = 3;
    t.Read();
    EXPECT_EQ(a.View(), "\xA3\xF3\x64\x9F");
    t.R().TrimTextFields = false;
    t.Read();
    EXPECT_EQ(a.View(), "\xA3\xF3\x64\x9F  ");
}

TEST(FieldBinding, NamesAreMatchedUpperCased)
{
    DbfWriter table({{"ID_KERG", 'C', 4, 0}, {"lower", 'C', 2, 0}});
    table.Add({"abcd", "xy"});
    test_support::MemoryFiles files;
    files.Add("T.DBF", table.Bytes());
    Reader r(files.Opener());
    r.ResetWorkAreas();
    std::uint8_t area = 0;
    r.OpenTable("T.DBF", area);
    ShortString s;
    r.BindString("id_kerg", s, 10);
    EXPECT_EQ(r.TableResult(), 0);
    // A stored name in lower case can never be bound.
    r.BindString("lower", s, 10);
    EXPECT_EQ(r.TableResult(), archive::kTableNoSuchField);
    r.BindString("LOWER", s, 10);
    EXPECT_EQ(r.TableResult(), archive::kTableNoSuchField);
    r.BindString("nothing", s, 10);
    EXPECT_EQ(r.TableResult(), archive::kTableNoSuchField);
    // Binding with no table open fails the same way, without touching anything.
    Reader empty(files.Opener());
    empty.ResetWorkAreas();
    empty.BindString("id_kerg", s, 10);
    EXPECT_EQ(empty.TableResult(), archive::kTableNoSuchField);
}

TEST(FieldBinding, ErrorStopsTheRecordAtThatField)
{
    DbfWriter table({{"A", 'N', 3, 0}, {"B", 'N', 3, 0}, {"C", 'N', 3, 0}, {"D", 'N', 3, 0}});
    table.Add({"1", "2", "3", "4"});
    table.Add({"10", "20", "x", "40"});
    test_support::MemoryFiles files;
    files.Add("T.DBF", table.Bytes());
    Reader r(files.Opener());
    r.ResetWorkAreas();
    std::uint8_t area = 0;
    r.OpenTable("T.DBF", area);
    std::int32_t a = 0, b = 0, c = 0, d = 0;
    r.BindLong("A", a);
    r.BindLong("B", b);
    r.BindLong("C", c);
    r.BindLong("D", d);
    r.ReadRecord(area, 0);
    ASSERT_EQ(r.TableResult(), 0);
    r.NextRecord(area);
    r.ReadRecord(area, 0);
    EXPECT_EQ(r.TableResult(), archive::kTableBadNumber);
    EXPECT_EQ(r.ConversionErrorPos(), 1);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(d, 4);
    // A later good read clears the position.
    r.GotoRecord(area, 0);
    r.ReadRecord(area, 0);
    EXPECT_EQ(r.ConversionErrorPos(), 0);
}

TEST(FieldBinding, GroupsAreFilledSeparately)
{
    DbfWriter table({{"A", 'N', 3, 0}, {"B", 'N', 3, 0}});
    table.Add({"1", "2"});
    test_support::MemoryFiles files;
    files.Add("T.DBF", table.Bytes());
    Reader r(files.Opener());
    r.ResetWorkAreas();
    std::uint8_t area = 0;
    r.OpenTable("T.DBF", area);
    std::int32_t a = 0, b = 0;
    r.BindLong("A", a, 0, 0);
    r.BindLong("B", b, 0, 1);
    r.ReadRecord(area, 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
    r.ReadRecord(area, 1);
    EXPECT_EQ(b, 2);
}

// Group 255 marks the fields nobody bound: asking for it, or binding into it, converts nothing
// (and never writes through the missing variable of an unbound field).
TEST(FieldBinding, UnboundGroupConvertsNothing)
{
    DbfWriter table({{"A", 'N', 3, 0}, {"B", 'N', 3, 0}, {"S", 'C', 4, 0}, {"L", 'L', 1, 0}});
    table.Add({"1", "2", "abc", "T"});
    test_support::MemoryFiles files;
    files.Add("T.DBF", table.Bytes());
    Reader r(files.Opener());
    r.ResetWorkAreas();
    std::uint8_t area = 0;
    r.OpenTable("T.DBF", area);

    // Nothing bound at all.
    r.ReadRecord(area, archive::kUnbound);
    EXPECT_EQ(r.TableResult(), 0);
    EXPECT_EQ(r.ConversionErrorPos(), 0);

    // A field bound into group 255 stays unread, by that group and by every other.
    std::int32_t a = -7, b = -7;
    r.BindLong("A", a, 0, 0);
    r.BindLong("B", b, 0, archive::kUnbound);
    r.ReadRecord(area, archive::kUnbound);
    EXPECT_EQ(r.TableResult(), 0);
    EXPECT_EQ(a, -7);
    EXPECT_EQ(b, -7);
    r.ReadRecord(area, 0);
    EXPECT_EQ(r.TableResult(), 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, -7);
}

TEST(FieldBinding, FinishTextField)
{
    Reader r;
    EXPECT_EQ(r.FinishTextField("AB    "), "AB");
    EXPECT_EQ(r.FinishTextField("      "), "");
    EXPECT_EQ(r.FinishTextField("  AB"), "  AB");
    EXPECT_EQ(r.FinishTextField(std::string("AB\t\0 ", 5)), std::string("AB\t\0", 4));
    r.SourceCodePage = 3;
    EXPECT_EQ(r.FinishTextField("\x9D\xA2\x64\xAB  "), "\xA3\xF3\x64\x9F");
    r.TargetCodePage = 1;
    EXPECT_EQ(r.FinishTextField("\xBE\xA2\x88\x86"), "zolc");
}

} // namespace
