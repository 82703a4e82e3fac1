// Order of keys: character keys under each language driver, numeric keys by value, date keys.
#include <algorithm>

#include <gtest/gtest.h>

#include "engine/collation.h"
#include "engine/keys.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> keys, engine::CharCompare compare)
{
    std::sort(keys.begin(), keys.end(),
              [&](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
    return keys;
}

// Code page 852 bytes of the Polish capitals.
const std::string kA_ = "\xA4", kC_ = "\x8F", kE_ = "\xA8", kL_ = "\x9D", kN_ = "\xE3", kO_ = "\xE0",
                  kS_ = "\x97", kZx = "\x8D", kZd = "\xBD";

TEST(KeyOrder, Db852Po0PutsPolishLettersAfterTheirBaseLetter)
{
    const std::vector<std::string> expected = {"A", kA_, "B", "C", kC_, "D", "E", kE_, "F", "L", kL_, "M",
                                               "N", kN_, "O", kO_, "P", "S", kS_, "T", "Z", kZx, kZd};
    std::vector<std::string> shuffled(expected.rbegin(), expected.rend());
    EXPECT_EQ(Sorted(shuffled, engine::CompareDb852Po0), expected);
}

TEST(KeyOrder, Db852Po0SpaceBeforeDigitsBeforeLettersBeforePunctuation)
{
    const std::vector<std::string> expected = {" 1  ", "1   ", "1 2 ", "10  ", "1A  ",
                                               "1/2 ", "A1  ", "AB  ", "A/B "};
    EXPECT_EQ(Sorted({"A/B ", "1/2 ", "AB  ", "10  ", "1A  ", "A1  ", "1 2 ", " 1  ", "1   "},
                     engine::CompareDb852Po0),
              expected);
    // The same keys by bytes: '/' (0x2F) sorts before digits and letters.
    const std::vector<std::string> bytes = {" 1  ", "1   ", "1 2 ", "1/2 ", "10  ",
                                            "1A  ", "A/B ", "A1  ", "AB  "};
    EXPECT_EQ(Sorted(expected, engine::CompareBytes), bytes);
}

TEST(KeyOrder, Db852Po0CaseAndAccentsAreOnlySecondaryDifferences)
{
    EXPECT_LT(engine::CompareDb852Po0("ab", "AC"), 0); // byte order would put "AC" first
    EXPECT_LT(engine::CompareDb852Po0("Ab", "aC"), 0);
    EXPECT_LT(engine::CompareDb852Po0("ab", "AB"), 0); // equal letters: lower case first
    EXPECT_LT(engine::CompareDb852Po0("Ab", "AB"), 0);
    EXPECT_LT(engine::CompareDb852Po0("\xA5", "B"), 0); // ą before B
    EXPECT_LT(engine::CompareDb852Po0("\xB5Z", "AZ\xA4"), 0) << "Á is an A";
    EXPECT_LT(engine::CompareDb852Po0("Z\xB5", "ZB"), 0);
    EXPECT_GT(engine::CompareBytes("\xBD", "Z"), 0); // bytes: Ż after every ASCII key

    // No two bytes weigh the same at both levels, so different keys never compare equal, and
    // the order is the same seen from either side.
    for (int x = 0; x < 256; ++x) {
        for (int y = 0; y < 256; ++y) {
            const std::string a(1, static_cast<char>(x)), b(1, static_cast<char>(y));
            const int ab = engine::CompareDb852Po0(a, b), ba = engine::CompareDb852Po0(b, a);
            ASSERT_EQ(ab == 0, x == y) << x << " " << y;
            ASSERT_EQ(ab<0, ba> 0) << x << " " << y;
        }
    }
}

TEST(KeyOrder, Db852Po0LettersOfNeighbouringLanguagesAndPunctuation)
{
    // Č, Ř, Š and Ž are letters of their own (Č after Ć, Ř after R, Š after Ś, Ž after Ż), and
    // so are Ô, Ö, Ő together (after Ó); other accented letters sort with their base letter.
    const std::string kCc = "\xAC", kRc = "\xFC", kSc = "\xE6", kZc = "\xA6", kOu = "\x99";
    const std::vector<std::string> letters = {"C", kC_, kCc, "D", "O", kO_, kOu, "P",
                                              "R", kRc, "S", kS_, kSc, "Z", kZd, kZc};
    EXPECT_EQ(Sorted(std::vector<std::string>(letters.rbegin(), letters.rend()), engine::CompareDb852Po0),
              letters);
    // Punctuation in the driver's order, not in byte order ('.' before ',', '-' before '.').
    const std::vector<std::string> marks = {"(", ")", "+", "-", ".", ",", ":", "!", "/", "&", "_"};
    EXPECT_EQ(Sorted(std::vector<std::string>(marks.rbegin(), marks.rend()), engine::CompareDb852Po0), marks);
    EXPECT_EQ(Sorted({"12-3", "12.3", "12/3", "12,3", "123 ", "12 3"}, engine::CompareDb852Po0),
              (std::vector<std::string>{"12 3", "123 ", "12-3", "12.3", "12,3", "12/3"}));
}

TEST(KeyOrder, DriversChooseTheirComparison)
{
    EXPECT_EQ(engine::DriverFromId(0x23)->keyOrder, engine::KeyOrder::Db852Po0);
    EXPECT_EQ(engine::DriverFromId(0x1B)->keyOrder, engine::KeyOrder::Bytes);
    EXPECT_EQ(engine::DriverFromId(0xC8)->codePage, engine::CodePage::Cp1250);
    EXPECT_EQ(engine::DriverFromId(0x00)->codePage, engine::CodePage::Cp852); // the configured driver
    EXPECT_FALSE(engine::DriverFromId(0x99).has_value());
}

std::string Bcd(const char* text)
{
    std::string key;
    EXPECT_TRUE(engine::EncodeNumericKey(text, &key)) << text;
    return key;
}

TEST(NumericKeys, EncodeLikeTheWritersAndCompareByValue)
{
    EXPECT_EQ(Bcd("100"), std::string("\x37\x0D\x10\0\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(Bcd("0"), std::string("\x34\x01\0\0\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(Bcd(""), Bcd("0"));
    const std::vector<const char*> ascending = {"-999999.99", "-12.5", "-0.05", "0",  "0.01", "0.25",
                                                "1",          "1.01",  "9.99",  "10", "100",  "9999999.99"};
    for (std::size_t i = 0; i + 1 < ascending.size(); ++i)
        EXPECT_LT(engine::CompareNumericKeys(Bcd(ascending[i]), Bcd(ascending[i + 1])), 0)
            << ascending[i] << " < " << ascending[i + 1];
    // dBASE counts digits differently (10 for an N(10,0) field): the value is what counts.
    std::string wide = Bcd("3");
    wide[1] = static_cast<char>((10 << 2) | 1);
    EXPECT_EQ(engine::CompareNumericKeys(wide, Bcd("3")), 0);
    EXPECT_EQ(engine::NumericKeyText(Bcd("-12.50")), "-12.5");
    std::string unused;
    EXPECT_FALSE(engine::EncodeNumericKey("12a", &unused));
}

TEST(DateKeys, JulianDaysAndBlankLast)
{
    std::string key, blank, earlier;
    ASSERT_TRUE(engine::EncodeDateKey("20000101", &key));
    EXPECT_EQ(engine::DateKeyValue(key), 2451545.0);
    ASSERT_TRUE(engine::EncodeDateKey("        ", &blank));
    EXPECT_EQ(std::string(blank), std::string("\x00\x00\x00\xF3\xFF\xFF\x13\x42", 8));
    ASSERT_TRUE(engine::EncodeDateKey("18000101", &earlier));
    EXPECT_LT(engine::CompareDateKeys(earlier, key), 0);
    EXPECT_GT(engine::CompareDateKeys(blank, key), 0);
    EXPECT_FALSE(engine::EncodeDateKey("19000229", &key)); // 1900 was no leap year
    EXPECT_TRUE(engine::EncodeDateKey("20000229", &key));
}

} // namespace
