// Numeric and date index keys.
#include "engine/keys.h"

#include <cmath>
#include <cstring>

namespace engine {
namespace {

// A decoded number: sign, decimal exponent and significant digits, value = 0.d1d2... x 10^exp.
struct Decimal
{
    bool negative = false;
    int exponent = 0;
    std::string digits; // no leading or trailing zeros; empty for zero
};

Decimal Decode(std::string_view key)
{
    Decimal d;
    if (key.size() < kNumericKeyLength)
        return d;
    d.exponent = static_cast<unsigned char>(key[0]) - 0x34;
    d.negative = (static_cast<unsigned char>(key[1]) & 0x80) != 0;
    for (std::size_t i = 2; i < kNumericKeyLength; ++i) {
        const auto byte = static_cast<unsigned char>(key[i]);
        d.digits.push_back(static_cast<char>('0' + ((byte >> 4) % 10)));
        d.digits.push_back(static_cast<char>('0' + ((byte & 0x0F) % 10)));
    }
    std::size_t lead = 0;
    while (lead < d.digits.size() && d.digits[lead] == '0')
        ++lead;
    d.digits.erase(0, lead);
    d.exponent -= static_cast<int>(lead);
    while (!d.digits.empty() && d.digits.back() == '0')
        d.digits.pop_back();
    if (d.digits.empty()) {
        d.negative = false;
        d.exponent = 0;
    }
    return d;
}

int CompareMagnitude(const Decimal& a, const Decimal& b)
{
    if (a.digits.empty() || b.digits.empty())
        return a.digits.empty() ? (b.digits.empty() ? 0 : -1) : 1;
    if (a.exponent != b.exponent)
        return a.exponent < b.exponent ? -1 : 1;
    const int c = a.digits.compare(b.digits); // equal prefixes: the shorter is smaller
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

bool EncodeNumericKey(std::string_view text, std::string* key)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::string integer, fraction;
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            (point ? fraction : integer).push_back(c);
            any = true;
        } else if (c == '.' && !point) {
            point = true;
        } else if (c == ' ') {
            break;
        } else {
            return false;
        }
    }
    for (; i < text.size(); ++i)
        if (text[i] != ' ')
            return false;
    if (!any && (negative || point))
        return false;
    std::size_t lead = 0;
    while (lead < integer.size() && integer[lead] == '0')
        ++lead;
    integer.erase(0, lead);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    int exponent = static_cast<int>(integer.size());
    std::string digits = integer + fraction;
    if (integer.empty()) {
        std::size_t zeros = 0;
        while (zeros < digits.size() && digits[zeros] == '0')
            ++zeros;
        digits.erase(0, zeros);
        exponent = -static_cast<int>(zeros);
    }
    std::string out(kNumericKeyLength, '\0');
    if (digits.empty()) {
        out[0] = 0x34;
        out[1] = 0x01;
        *key = out;
        return true;
    }
    if (digits.size() > 20 || exponent > 60 || exponent < -52)
        return false;
    out[0] = static_cast<char>(0x34 + exponent);
    out[1] = static_cast<char>((negative ? 0x80 : 0) | (digits.size() << 2) | 0x01);
    for (std::size_t d = 0; d < digits.size(); ++d) {
        const int nibble = digits[d] - '0';
        auto& byte = out[2 + d / 2];
        byte = static_cast<char>(static_cast<unsigned char>(byte) | (d % 2 == 0 ? nibble << 4 : nibble));
    }
    *key = out;
    return true;
}

int CompareNumericKeys(std::string_view a, std::string_view b)
{
    const Decimal x = Decode(a), y = Decode(b);
    const bool xNeg = x.negative && !x.digits.empty(), yNeg = y.negative && !y.digits.empty();
    if (xNeg != yNeg)
        return xNeg ? -1 : 1;
    const int c = CompareMagnitude(x, y);
    return xNeg ? -c : c;
}

std::string NumericKeyText(std::string_view key)
{
    const Decimal d = Decode(key);
    if (d.digits.empty())
        return "0";
    std::string text = d.negative ? "-" : "";
    if (d.exponent <= 0) {
        text += "0." + std::string(static_cast<std::size_t>(-d.exponent), '0') + d.digits;
    } else if (static_cast<std::size_t>(d.exponent) >= d.digits.size()) {
        text += d.digits + std::string(static_cast<std::size_t>(d.exponent) - d.digits.size(), '0');
    } else {
        text += d.digits.substr(0, static_cast<std::size_t>(d.exponent)) + "." +
                d.digits.substr(static_cast<std::size_t>(d.exponent));
    }
    return text;
}

long JulianDay(int year, int month, int day)
{
    const int a = (14 - month) / 12;
    const long y = year + 4800L - a;
    const long m = month + 12L * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void FromJulianDay(long jdn, int* year, int* month, int* day)
{
    const long a = jdn + 32044;
    const long b = (4 * a + 3) / 146097;
    const long c = a - 146097 * b / 4;
    const long d = (4 * c + 3) / 1461;
    const long e = c - 1461 * d / 4;
    const long m = (5 * e + 2) / 153;
    *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    *month = static_cast<int>(m + 3 - 12 * (m / 10));
    *year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

bool EncodeDateKey(std::string_view text, std::string* key)
{
    double value = kBlankDateKey;
    if (text.find_first_not_of(' ') != std::string_view::npos) {
        if (text.size() != 8)
            return false;
        for (char c : text)
            if (c < '0' || c > '9')
                return false;
        const int year = std::stoi(std::string(text.substr(0, 4)));
        const int month = std::stoi(std::string(text.substr(4, 2)));
        const int day = std::stoi(std::string(text.substr(6, 2)));
        int y = 0, m = 0, d = 0;
        FromJulianDay(JulianDay(year, month, day), &y, &m, &d);
        if (y != year || m != month || d != day)
            return false;
        value = static_cast<double>(JulianDay(year, month, day));
    }
    key->assign(kDateKeyLength, '\0');
    std::memcpy(key->data(), &value, sizeof value); // the engine runs on little-endian machines
    return true;
}

double DateKeyValue(std::string_view key)
{
    double value = 0;
    if (key.size() >= kDateKeyLength)
        std::memcpy(&value, key.data(), sizeof value);
    return value;
}

int CompareDateKeys(std::string_view a, std::string_view b)
{
    const double x = DateKeyValue(a), y = DateKeyValue(b);
    if (std::isnan(x) || std::isnan(y))
        return CompareBytes(a, b);
    return x < y ? -1 : x > y ? 1 : 0;
}

} // namespace engine
