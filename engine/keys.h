// Index key values: the 12-byte BCD of numeric keys, the Julian-day doubles of date keys, and the
// comparison of keys in a tag's order. Byte facts: docs/engine-formats.md, "Keys".
#pragma once

#include <string>
#include <string_view>

#include "engine/collation.h"

namespace engine {

inline constexpr std::size_t kNumericKeyLength = 12;
inline constexpr std::size_t kDateKeyLength = 8;
// The double one writer stores for a blank date; it sorts after every real date.
inline constexpr double kBlankDateKey = 21474835648.0;

// The BCD key of a number given as text ("-12.50", "  7", "" for blank = 0). Returns false for
// text that is not a number or has more than 20 significant digits.
bool EncodeNumericKey(std::string_view text, std::string* key);

// Compares two BCD keys by value (writers disagree about the digit count, so bytes will not do).
int CompareNumericKeys(std::string_view a, std::string_view b);

// The value of a BCD key as text ("-12.5", "0"), for listings.
std::string NumericKeyText(std::string_view key);

// The date key of "YYYYMMDD" (blank text gives the blank-date key). False for an invalid date.
bool EncodeDateKey(std::string_view yyyymmdd, std::string* key);
double DateKeyValue(std::string_view key);
int CompareDateKeys(std::string_view a, std::string_view b);

// Julian day number of a Gregorian date, and back.
long JulianDay(int year, int month, int day);
void FromJulianDay(long jdn, int* year, int* month, int* day);

// The order of one tag: key type C, N or D, descending or not, and for C the character order.
struct KeyOrderOfTag
{
    char type = 'C';
    bool descending = false;
    CharCompare compareChars = &CompareBytes;

    // Compares two keys in the tag's order: negative when `a` comes first.
    int operator()(std::string_view a, std::string_view b) const
    {
        int c = 0;
        if (type == 'N')
            c = CompareNumericKeys(a, b);
        else if (type == 'D')
            c = CompareDateKeys(a, b);
        else
            c = compareChars(a, b);
        return descending ? -c : c;
    }
};

} // namespace engine
