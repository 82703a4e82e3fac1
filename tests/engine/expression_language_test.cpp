// The dBase expression language, function by function and operator by operator, against values
// worked out by hand from dBase's rules: blank and full-width fields, Polish letters of both code
// pages, negative and decimal numbers, blank dates, widths at their limits, and the expressions
// the engine refuses rather than guesses.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/error.h"
#include "engine/expression.h"

namespace {

using engine::CodePage;
using engine::Value;

// Record: flag, T C(10), P C(8), N N(8,2), I N(5), D D, E D (blank), L L, F L, K C(3), M M(10),
// Z N(3) holding 0, B N(4,1) blank.
std::vector<engine::FieldInfo> Fields()
{
    return {{"T", 'C', 1, 10, 0, false},  {"P", 'C', 11, 8, 0, false}, {"N", 'N', 19, 8, 2, false},
            {"I", 'N', 27, 5, 0, false},  {"D", 'D', 32, 8, 0, false}, {"E", 'D', 40, 8, 0, false},
            {"L", 'L', 48, 1, 0, false},  {"F", 'L', 49, 1, 0, false}, {"K", 'C', 50, 3, 0, false},
            {"M", 'M', 53, 10, 0, false}, {"Z", 'N', 63, 3, 0, false}, {"B", 'N', 66, 4, 1, false}};
}

// "żółw Ąę " in the page: ż ó ł w, blank, Ą ę, blank.
std::string Polish(CodePage page)
{
    return page == CodePage::Cp852 ? std::string("\xBE\xA2\x88w \xA4\xA9 ")
                                   : std::string("\xBF\xF3\xB3w \xA5\xEA ");
}

std::string Record(CodePage page, char flag = ' ')
{
    return std::string(1, flag) + "Kowal     " + Polish(page) + "  -12.35" + "   42" + "20241123" +
           "        " + "y" + "?" + "A12" + "         7" + "  0" + "    ";
}

class Language : public ::testing::Test
{
protected:
    Value Eval(const std::string& text, CodePage page = CodePage::Cp852, char flag = ' ',
               std::uint32_t recno = 17)
    {
        std::string why;
        engine::ExpressionSettings settings;
        settings.page = page;
        settings.dateFormat = dateFormat;
        const auto e = engine::Expression::Compile(text, fields, settings, &why);
        if (!e) {
            ADD_FAILURE() << text << " refused: " << why;
            return Value{};
        }
        const std::string record = Record(page, flag);
        return e->Evaluate(reinterpret_cast<const unsigned char*>(record.data()), recno);
    }

    std::string Text(const std::string& text, CodePage page = CodePage::Cp852)
    {
        const Value v = Eval(text, page);
        EXPECT_EQ(v.type, Value::Type::Char) << text;
        return v.text;
    }

    double Number(const std::string& text)
    {
        const Value v = Eval(text);
        EXPECT_EQ(v.type, Value::Type::Num) << text;
        return v.number;
    }

    bool Logical(const std::string& text, char flag = ' ')
    {
        const Value v = Eval(text, CodePage::Cp852, flag);
        EXPECT_EQ(v.type, Value::Type::Logical) << text;
        return v.number != 0;
    }

    // The date's "YYYYMMDD" ("        " for a blank date).
    std::string Date(const std::string& text)
    {
        const Value v = Eval(text);
        EXPECT_EQ(v.type, Value::Type::Date) << text;
        return v.text;
    }

    // Why the engine will not evaluate `text` ("" when it will).
    std::string Refused(const std::string& text)
    {
        std::string why;
        const auto e = engine::Expression::Compile(text, fields, CodePage::Cp852, &why);
        return e ? std::string() : why;
    }

    // The error an evaluation stops with ("" when none).
    std::string Stops(const std::string& text)
    {
        try {
            Eval(text);
        } catch (const engine::Error& e) {
            EXPECT_EQ(e.Kind(), engine::ErrorKind::BadValue);
            return e.what();
        }
        return std::string();
    }

    std::vector<engine::FieldInfo> fields = Fields();
    std::string dateFormat = "MM/DD/YY";
};

TEST_F(Language, TextOperatorsAndLiterals)
{
    EXPECT_EQ(Text("T+K"), "Kowal     A12");
    EXPECT_EQ(Text("T-K"), "KowalA12     ") << "the left side's trailing blanks go to the end";
    EXPECT_EQ(Text("K-T"), "A12Kowal     ");
    EXPECT_EQ(Text("[a'b]+'c\"d'+\"e\""), "a'bc\"de");
    EXPECT_EQ(Text("t->t+k"), "Kowal     A12") << "names in any case, the alias ignored";
    EXPECT_TRUE(Logical("\"wa\" $ T"));
    EXPECT_FALSE(Logical("\"WA\" $ T"));
    EXPECT_TRUE(Logical("\"\" $ T"));
}

TEST_F(Language, CaseOfPolishLettersInBothPages)
{
    EXPECT_EQ(Text("UPPER(P)"), "\xBD\xE0\x9DW \xA4\xA8 ");
    EXPECT_EQ(Text("LOWER(UPPER(P))"), "\xBE\xA2\x88w \xA5\xA9 ");
    EXPECT_EQ(Text("UPPER(P)", CodePage::Cp1250), "\xAF\xD3\xA3W \xA5\xCA ");
    EXPECT_EQ(Text("LOWER(UPPER(P))", CodePage::Cp1250), "\xBF\xF3\xB3w \xB9\xEA ");
    EXPECT_EQ(Text("TRANSFORM(P,\"@!\")"), Text("UPPER(P)"));
    EXPECT_TRUE(Logical("ISALPHA(P)"));
    EXPECT_TRUE(Logical("ISLOWER(P)"));
    EXPECT_FALSE(Logical("ISUPPER(P)"));
    EXPECT_TRUE(Logical("ISUPPER(SUBSTR(P,6))")) << "Ą";
    EXPECT_TRUE(Logical("ISUPPER(T)"));
    EXPECT_FALSE(Logical("ISALPHA(\"1\")"));
    EXPECT_FALSE(Logical("ISDIGIT(K)"));
    EXPECT_TRUE(Logical("ISDIGIT(SUBSTR(K,2))"));
    EXPECT_FALSE(Logical("ISALPHA(\"\")"));
}

TEST_F(Language, TextFunctions)
{
    EXPECT_EQ(Text("TRIM(T)"), "Kowal");
    EXPECT_EQ(Text("RTRIM(T)"), "Kowal");
    EXPECT_EQ(Text("LTRIM(\"  ab \")"), "ab ");
    EXPECT_EQ(Text("ALLTRIM(\"  ab \")"), "ab");
    EXPECT_EQ(Text("LEFT(T,3)"), "Kow");
    EXPECT_EQ(Text("LEFT(T,0)"), "");
    EXPECT_EQ(Text("LEFT(T,20)"), "Kowal     ");
    EXPECT_EQ(Text("RIGHT(TRIM(T),2)"), "al");
    EXPECT_EQ(Text("RIGHT(T,2)"), "  ");
    EXPECT_EQ(Text("SUBSTR(T,2,3)"), "owa");
    EXPECT_EQ(Text("SUBSTR(T,4)"), "al     ");
    EXPECT_EQ(Text("SUBSTR(T,11,2)"), "");
    EXPECT_EQ(Text("SPACE(3)+\"x\""), "   x");
    EXPECT_EQ(Text("REPLICATE(\"ab\",3)"), "ababab");
    EXPECT_EQ(Text("REPLICATE(\"ab\",0)"), "");
    EXPECT_EQ(Text("STUFF(\"abcdef\",2,3,\"XY\")"), "aXYef");
    EXPECT_EQ(Text("STUFF(\"abc\",5,0,\"Z\")"), "abcZ");
    EXPECT_EQ(Text("CHR(65)+CHR(97)"), "Aa");
    EXPECT_EQ(Text("DESCEND(\"AB\")"), "\xBE\xBD") << "each byte b becomes 255 - b";
    EXPECT_EQ(Number("AT(\"wa\",T)"), 3);
    EXPECT_EQ(Number("AT(\"zz\",T)"), 0);
    EXPECT_EQ(Number("AT(\"\",T)"), 0);
    EXPECT_EQ(Number("LEN(T)"), 10);
    EXPECT_EQ(Number("LEN(TRIM(T))"), 5);
    EXPECT_EQ(Number("ASC(T)"), 75);
    EXPECT_EQ(Number("ASC(\"\")"), 0);
}

TEST_F(Language, NumbersAndArithmetic)
{
    EXPECT_EQ(Eval("N").text, "-12.35");
    EXPECT_DOUBLE_EQ(Number("N"), -12.35);
    EXPECT_EQ(Number("I*2+1"), 85);
    EXPECT_EQ(Number("I/4"), 10.5);
    EXPECT_EQ(Number("2+3*4^2"), 50);
    EXPECT_EQ(Number("2^3**2"), 64) << "powers group from the left";
    EXPECT_EQ(Number("-I+2"), -40);
    EXPECT_EQ(Number("(I+8)%7"), 1);
    EXPECT_EQ(Number("MOD(-5,3)"), 1) << "the remainder takes the divisor's sign";
    EXPECT_EQ(Number("MOD(5,-3)"), -1);
    EXPECT_EQ(Number("MOD(-6,3)"), 0);
    EXPECT_EQ(Number("INT(N)"), -12);
    EXPECT_EQ(Number("INT(2.9)"), 2);
    EXPECT_DOUBLE_EQ(Number("ABS(N)"), 12.35);
    EXPECT_DOUBLE_EQ(Number("ROUND(N,1)"), -12.4) << "half away from zero";
    EXPECT_DOUBLE_EQ(Number("ROUND(2.675,2)"), 2.68) << "as the digits read, not as the double is";
    EXPECT_EQ(Number("ROUND(1234.5,-2)"), 1200);
    EXPECT_EQ(Eval("ROUND(-0.4,0)").text, "0");
    EXPECT_EQ(Number("MAX(I,50)"), 50);
    EXPECT_DOUBLE_EQ(Number("MIN(N,I)"), -12.35);
    EXPECT_DOUBLE_EQ(Number("VAL(\"  -12.5abc\")"), -12.5);
    EXPECT_EQ(Number("VAL(\"abc\")"), 0);
    EXPECT_EQ(Number("VAL(\"\")"), 0);
    EXPECT_DOUBLE_EQ(Number("VAL(\"1.2.3\")"), 1.2);
    EXPECT_EQ(Number("VAL(\"+7\")"), 7);
    EXPECT_EQ(Eval("VAL(\"-0\")").text, "0") << "no negative zero";
    EXPECT_EQ(Eval("I*2+1").text, "85") << "the text a numeric key is made from";
    EXPECT_EQ(Eval("I/8").text, "5.25");
    // Decimal arithmetic, as dBase does it on numbers: no binary remainders to cross a boundary.
    EXPECT_EQ(Number("INT(0.29*100)"), 29);
    EXPECT_EQ(Number("INT(4.1-2.1)"), 2);
    EXPECT_EQ(Number("INT(N*-100)"), 1235);
    EXPECT_TRUE(Logical("0.1+0.2 = 0.3"));
    EXPECT_TRUE(Logical("0.57*100 = 57"));
    EXPECT_EQ(Eval("0.3-0.1-0.2").text, "0");
    EXPECT_EQ(Eval("STR(INT(1.15*100),5)").text, "  115");
    EXPECT_EQ(Number("1/3"), 0.333333333333333) << "15 significant digits are kept";
    EXPECT_EQ(Number("123456789012*1000"), 123456789012000.0);
}

TEST_F(Language, StrAndTransform)
{
    EXPECT_EQ(Text("STR(I)"), "        42") << "ten wide by default";
    EXPECT_EQ(Text("STR(N,8,2)"), "  -12.35");
    EXPECT_EQ(Text("STR(N,6)"), "   -12");
    EXPECT_EQ(Text("STR(2.5,3)"), "  3");
    EXPECT_EQ(Text("STR(-2.5,3)"), " -3");
    EXPECT_EQ(Text("STR(1.005,6,2)"), "  1.01");
    EXPECT_EQ(Text("STR(123456,4)"), "****");
    EXPECT_EQ(Text("STR(123.456,5,2)"), "123.5") << "fewer decimals where they do not fit";
    EXPECT_EQ(Text("STR(-0.4,3)"), "  0");
    EXPECT_EQ(Text("STR(99.96,5,1)"), "100.0");
    EXPECT_EQ(Text("TRANSFORM(N,\"9999.99\")"), " -12.35");
    EXPECT_EQ(Text("TRANSFORM(1234.5,\"9,999.99\")"), "1,234.50");
    EXPECT_EQ(Text("TRANSFORM(12,\"9,999\")"), "   12");
    EXPECT_EQ(Text("TRANSFORM(0,\"@Z 999\")"), "   ");
    EXPECT_EQ(Text("TRANSFORM(12,\"@B 9999\")"), "12  ");
    EXPECT_EQ(Text("TRANSFORM(0.5,\".99\")"), ".50") << "a zero integer part needs no digit";
    EXPECT_EQ(Text("TRANSFORM(0.5,\"9.99\")"), "0.50");
    EXPECT_EQ(Text("TRANSFORM(123456,\"999\")"), "***");
}

TEST_F(Language, Dates)
{
    EXPECT_EQ(Text("DTOS(D)"), "20241123");
    EXPECT_EQ(Text("DTOS(E)"), "        ");
    EXPECT_EQ(Text("DTOC(D)"), "11/23/24");
    EXPECT_EQ(Text("DTOC(E)"), "  /  /  ");
    EXPECT_EQ(Date("CTOD(\"12/31/99\")"), "19991231") << "two-digit years are 19YY";
    EXPECT_EQ(Date("CTOD(\"12/31/1999\")"), "19991231") << "a year is taken as typed";
    EXPECT_EQ(Date("CTOD(\"01/01/2005\")"), "20050101");
    EXPECT_EQ(Date("CTOD(\"1/2/3\")"), "19030102");
    EXPECT_EQ(Date("CTOD(\"02/30/99\")"), "        ");
    EXPECT_EQ(Date("CTOD(\"\")"), "        ");
    EXPECT_EQ(Number("YEAR(D)"), 2024);
    EXPECT_EQ(Number("MONTH(D)"), 11);
    EXPECT_EQ(Number("DAY(D)"), 23);
    EXPECT_EQ(Number("DOW(D)"), 7) << "Saturday";
    EXPECT_EQ(Text("CDOW(D)"), "Saturday");
    EXPECT_EQ(Text("CMONTH(D)"), "November");
    EXPECT_EQ(Number("YEAR(E)"), 0);
    EXPECT_EQ(Number("DOW(E)"), 0);
    EXPECT_EQ(Text("CDOW(E)"), "");
    EXPECT_EQ(Date("D+8"), "20241201");
    EXPECT_EQ(Date("8+D"), "20241201");
    EXPECT_EQ(Date("D-23"), "20241031");
    EXPECT_EQ(Number("D-(D-3)"), 3);
    EXPECT_EQ(Number("D-CTOD(\"11/23/24\")"), 36525) << "CTOD's 24 is 1924: a hundred years of days";
    EXPECT_EQ(Date("E+1"), "        ");
    EXPECT_TRUE(Logical("D > CTOD(\"01/01/24\")"));
    EXPECT_TRUE(Logical("E < D")) << "a blank date comes before every date";

    dateFormat = "DD.MM.YYYY";
    EXPECT_EQ(Text("DTOC(D)"), "23.11.2024");
    EXPECT_EQ(Date("CTOD(\"01.02.2003\")"), "20030201");
    EXPECT_EQ(Date("CTOD(\"01.02.03\")"), "19030201") << "two digits are 19YY whatever the format's width";
    dateFormat = "YYYYMMDD";
    EXPECT_EQ(Date("CTOD(\"20240102\")"), "20240102") << "without separators the format's widths hold";
    EXPECT_EQ(Text("DTOC(D)"), "20241123");
}

TEST_F(Language, LogicalsAndComparisons)
{
    EXPECT_TRUE(Logical("L")) << "y is true";
    EXPECT_FALSE(Logical("F")) << "? is false";
    EXPECT_TRUE(Logical(".NOT. F"));
    EXPECT_FALSE(Logical("L .AND. F"));
    EXPECT_TRUE(Logical("L .OR. F"));
    EXPECT_TRUE(Logical(".t. .and. .T."));
    EXPECT_TRUE(Logical("L = .T."));
    EXPECT_EQ(Text("IIF(L,\"tak\",\"nie\")"), "tak");
    EXPECT_EQ(Number("IIF(F,1,2)"), 2);
    // Text with SET EXACT OFF: the left side over the right side's length.
    EXPECT_TRUE(Logical("T = \"Kow\""));
    EXPECT_FALSE(Logical("\"Kow\" = T"));
    EXPECT_TRUE(Logical("T = \"\""));
    // == compares the whole texts as SET EXACT ON does: trailing blanks aside.
    EXPECT_TRUE(Logical("T == \"Kowal\""));
    EXPECT_TRUE(Logical("TRIM(T) == \"Kowal\""));
    EXPECT_FALSE(Logical("T == \"Kow\""));
    EXPECT_FALSE(Logical("\"Kow\" == T"));
    EXPECT_FALSE(Logical("\" Kowal\" == T")) << "leading blanks count";
    EXPECT_TRUE(Logical("T <> \"Kox\""));
    EXPECT_FALSE(Logical("T # \"Kowal\""));
    EXPECT_TRUE(Logical("\"a\" < \"b\""));
    EXPECT_TRUE(Logical("K >= \"A\""));
    EXPECT_TRUE(Logical("I = 42"));
    EXPECT_FALSE(Logical("I # 42"));
    EXPECT_TRUE(Logical("N < 0"));
    EXPECT_FALSE(Logical("DELETED()"));
    EXPECT_TRUE(Logical("DELETED()", '*'));
    EXPECT_TRUE(Logical(".NOT. DELETED() .AND. (I > 40 .OR. K = \"B\")"));
    EXPECT_EQ(Number("RECNO()"), 17);
    // Operators written against numbers without blanks.
    EXPECT_TRUE(Logical("I>0.AND.N<0"));
    EXPECT_FALSE(Logical("I<0.OR.N>0"));
    EXPECT_TRUE(Logical("I=42.AND..NOT.F"));
    EXPECT_TRUE(Logical("N<-12.3.AND.I>41."));
}

TEST_F(Language, BlankAndEmptyValues)
{
    // ISBLANK: blanks only, a blank date, a numeric field without digits (0 is a value).
    EXPECT_FALSE(Logical("ISBLANK(T)"));
    EXPECT_TRUE(Logical("ISBLANK(SUBSTR(T,6))"));
    EXPECT_TRUE(Logical("ISBLANK(\"\")"));
    EXPECT_TRUE(Logical("isblank(SPACE(3))"));
    EXPECT_FALSE(Logical("ISBLANK(D)"));
    EXPECT_TRUE(Logical("ISBLANK(E)"));
    EXPECT_TRUE(Logical("ISBLANK(E+30)")) << "a blank date stays blank";
    EXPECT_TRUE(Logical("ISBLANK(B)"));
    EXPECT_FALSE(Logical("ISBLANK(Z)")) << "a field holding 0 is not blank";
    EXPECT_FALSE(Logical("ISBLANK(I)"));
    EXPECT_TRUE(Logical(".NOT. ISBLANK(Z) .AND. ISBLANK(B)"));
    // EMPTY: blanks, 0 (held or blank), a blank date, .F.
    EXPECT_FALSE(Logical("EMPTY(T)"));
    EXPECT_TRUE(Logical("EMPTY(SUBSTR(T,6))"));
    EXPECT_TRUE(Logical("EMPTY(\"\")"));
    EXPECT_TRUE(Logical("EMPTY(Z)"));
    EXPECT_TRUE(Logical("EMPTY(B)"));
    EXPECT_FALSE(Logical("EMPTY(N)"));
    EXPECT_TRUE(Logical("EMPTY(I-42)")) << "a computed 0";
    EXPECT_TRUE(Logical("EMPTY(E)"));
    EXPECT_FALSE(Logical("EMPTY(D)"));
    EXPECT_TRUE(Logical("EMPTY(F)"));
    EXPECT_FALSE(Logical("EMPTY(L)"));
    EXPECT_FALSE(Logical("EMPTY(CHR(9)+\"x\")")) << "a tab beside other text is no question";
    // Writers disagree on whether tabs and line ends are blank: such a text stops, never guessed.
    EXPECT_NE(Stops("EMPTY(CHR(9))").find("EMPTY()"), std::string::npos);
    EXPECT_NE(Stops("EMPTY(\" \"+CHR(13)+CHR(10))").find("EMPTY()"), std::string::npos);
    // A computed number is never "blank" in the field's sense, and writers disagree there.
    EXPECT_NE(Refused("ISBLANK(I+0)").find("tylko dla pola"), std::string::npos);
    EXPECT_NE(Refused("ISBLANK(L)").find("zły typ argumentu"), std::string::npos);
    EXPECT_NE(Refused("EMPTY(T,T)").find("zła liczba argumentów"), std::string::npos);
    EXPECT_NE(Refused("EMPTY(M)").find("memo"), std::string::npos);
}

TEST_F(Language, WidthsOfCharacterResults)
{
    auto width = [&](const std::string& text) {
        const auto e = engine::Expression::Compile(text, fields, CodePage::Cp852, nullptr);
        return e ? e->ResultWidth() : 0u;
    };
    EXPECT_EQ(width("T+K"), 13u);
    EXPECT_EQ(width("TRIM(T)+K"), 13u) << "trimmed texts keep the field's width in a key";
    EXPECT_EQ(width("SUBSTR(T,4)"), 7u);
    EXPECT_EQ(width("SUBSTR(T,2,3)+LEFT(K,2)"), 5u);
    EXPECT_EQ(width("STR(I)"), 10u);
    EXPECT_EQ(width("STR(N,8,2)+DTOS(D)"), 16u);
    EXPECT_EQ(width("DTOC(D)"), 8u);
    EXPECT_EQ(width("IIF(L,\"T\",\"NN\")+K"), 5u);
    EXPECT_EQ(width("CDOW(D)"), 9u);
    // DTOC's width (the date format's) inside the functions that cut or repeat it.
    EXPECT_EQ(width("LEFT(DTOC(D),5)"), 5u);
    EXPECT_EQ(width("SUBSTR(DTOC(D),4)+T"), 15u);
    EXPECT_EQ(width("REPLICATE(DTOC(D),2)"), 16u);
    EXPECT_EQ(width("STUFF(DTOC(D),1,0,\"x\")"), 9u);
    EXPECT_EQ(width("I"), 0u);
}

TEST_F(Language, WhatTheEngineRefusesItSaysWhy)
{
    EXPECT_NE(Refused("FOO(T)").find("nieobsługiwana funkcja FOO"), std::string::npos);
    EXPECT_NE(Refused("T+I").find("niezgodne typy"), std::string::npos);
    EXPECT_NE(Refused("BRAK").find("nieznane pole BRAK"), std::string::npos);
    EXPECT_NE(Refused("\"abc").find("niezamknięty"), std::string::npos);
    EXPECT_NE(Refused("LEFT(T)").find("zła liczba argumentów"), std::string::npos);
    EXPECT_NE(Refused("UPPER(I)").find("zły typ argumentu"), std::string::npos);
    EXPECT_NE(Refused("TRANSFORM(T,\"@R 999\")").find("TRANSFORM"), std::string::npos);
    EXPECT_NE(Refused("TRANSFORM(I,T)").find("stałym napisem"), std::string::npos);
    EXPECT_NE(Refused("DESCEND(D)").find("DESCEND"), std::string::npos);
    EXPECT_NE(Refused("TRANSFORM(N,\"@( 999.99\")").find("@("), std::string::npos);
    std::string chain = "I";
    for (int i = 0; i < 299; ++i)
        chain += "+I";
    EXPECT_EQ(Refused(chain), "") << "300 operands";
    EXPECT_EQ(Number(chain), 300 * 42);
    EXPECT_NE(Refused(chain + "+I+I").find("zbyt złożone"), std::string::npos);
    EXPECT_NE(Refused("M").find("memo"), std::string::npos);
    EXPECT_NE(Refused("I .AND. L").find(".AND."), std::string::npos);
    EXPECT_NE(Refused("T = I").find("różnych typów"), std::string::npos);
    EXPECT_NE(Refused(std::string(500, '(') + "I" + std::string(500, ')')).find("zbyt głęboko"),
              std::string::npos);
    EXPECT_NE(Refused("").find("niepełne"), std::string::npos);
    EXPECT_NE(Refused("T +").find("niepełne"), std::string::npos);
    EXPECT_NE(Refused("{11/23/24}").find("nieoczekiwany znak"), std::string::npos);
    EXPECT_EQ(Refused("UPPER(T)+DTOS(D)+STR(I,5)"), "");
    // A width STR cannot give is refused, not guessed.
    for (const char* str : {"STR(I,0)", "STR(I,-1)", "STR(I,256)", "STR(I,300,2)"})
        EXPECT_NE(Refused(str).find("STR"), std::string::npos) << str;
    EXPECT_EQ(Refused("STR(I,255)"), "");
    EXPECT_EQ(Refused("STR(I,I)"), "") << "a width read from a field is known only at run time";
}

TEST_F(Language, EvaluationsThatStopWithAnError)
{
    EXPECT_NE(Stops("I/0").find("dzielenie przez zero"), std::string::npos);
    EXPECT_NE(Stops("MOD(I,0)").find("dzielenie przez zero"), std::string::npos);
    EXPECT_NE(Stops("LEN(CHR(300))").find("CHR"), std::string::npos);
    EXPECT_NE(Stops("10^400").find("skończoną"), std::string::npos);
    EXPECT_NE(Stops("LEN(REPLICATE(\"ab\",40000))").find("REPLICATE"), std::string::npos);
    EXPECT_EQ(Stops("I/2"), "");
}

} // namespace
