// Order of keys: character keys under each language driver, numeric keys by value, date keys.
#include <algorithm>
#include <random>

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

// Keys that begin alike are ordered by what follows, whatever the length of the common
// beginning; a difference in a letter decides before any difference of case or accent that
// comes earlier, also far into long keys.
TEST(KeyOrder, Db852Po0LongKeysWithCommonBeginnings)
{
    const std::string alphabet = "aAbBzZ09 /.-\xA5\xA4\x88\x9D\xB5\xA0"; // ą Ą ł Ł Á á
    std::mt19937 rng(852);
    const auto random = [&](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i)
            s.push_back(alphabet[rng() % alphabet.size()]);
        return s;
    };
    const auto sign = [](int c) { return (c > 0) - (c < 0); };
    for (int round = 0; round < 2000; ++round) {
        const std::string a = random(1 + rng() % 12), b = random(1 + rng() % 12);
        const int expected = sign(engine::CompareDb852Po0(a, b));
        for (const std::size_t common : {1u, 7u, 8u, 9u, 16u, 23u}) {
            const std::string p = random(common);
            ASSERT_EQ(sign(engine::CompareDb852Po0(p + a, p + b)), expected)
                << common << " " << a << " " << b;
            ASSERT_EQ(sign(engine::CompareDb852Po0(p + b, p + a)), -expected);
        }
    }
    // Case early, letters late: the letters decide.
    const std::string head(13, 'K');
    EXPECT_LT(engine::CompareDb852Po0("a" + head + "B", "A" + head + "C"), 0);
    EXPECT_GT(engine::CompareDb852Po0("a" + head + "C", "A" + head + "B"), 0);
    EXPECT_LT(engine::CompareDb852Po0("a" + head + "B", "A" + head + "B"), 0) << "then the case";
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

// UPPER() in a tag's expression over a page 852 table gives what the db852po0 driver's own
// upper-case table gives (its published data), for every byte: keys the engine forms match the
// keys the driver forms.
TEST(KeyOrder, UpperCaseOfPage852AsTheDriverHasIt)
{
    // clang-format off
    constexpr unsigned char kDriverUpper[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, // 0x00
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, // 0x10
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, // 0x20
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, // 0x30
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, // 0x40
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, // 0x50
    0x60, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, // 0x60
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F, // 0x70
    0x80, 0x9A, 0x90, 0xB6, 0x8E, 0xDE, 0x8F, 0x80, 0x9D, 0xD3, 0x8A, 0x8A, 0xD7, 0x8D, 0x8E, 0x8F, // 0x80
    0x90, 0x91, 0x91, 0xE2, 0x99, 0x95, 0x95, 0x97, 0x97, 0x99, 0x9A, 0x9B, 0x9B, 0x9D, 0x9E, 0xAC, // 0x90
    0xB5, 0xD6, 0xE0, 0xE9, 0xA4, 0xA4, 0xA6, 0xA6, 0xA8, 0xA8, 0xAA, 0x8D, 0xAC, 0xB8, 0xAE, 0xAF, // 0xA0
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBD, 0xBF, // 0xB0
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC6, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, // 0xC0
    0xD1, 0xD1, 0xD2, 0xD3, 0xD2, 0xD5, 0xD6, 0xD7, 0xB7, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, // 0xD0
    0xE0, 0xE1, 0xE2, 0xE3, 0xE3, 0xD5, 0xE6, 0xE6, 0xE8, 0xE9, 0xE8, 0xEB, 0xED, 0xED, 0xDD, 0xEF, // 0xE0
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xEB, 0xFC, 0xFC, 0xFE, 0xFF, // 0xF0
    };
    // clang-format on
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(static_cast<unsigned char>(
                      engine::UpperCase(std::string(1, static_cast<char>(b)), engine::CodePage::Cp852)[0]),
                  kDriverUpper[b])
            << "byte " << b;
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
