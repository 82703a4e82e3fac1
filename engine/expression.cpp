// The dBase expression language: a recursive-descent parser that types every node as it goes, and
// an evaluator with dBase's rules for each operator and function.
#include "engine/expression.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/error.h"
#include "engine/keys.h"

namespace engine {

namespace {

// The longest text an expression may build (dBase stops far earlier: 254 characters).
constexpr std::size_t kMaxText = 65535;
// The width assumed for a text whose length depends on values (dBase's longest string).
constexpr std::size_t kUnknownWidth = 254;

enum class Op
{
    Field,
    Literal,
    Negate,
    Add,
    Subtract,
    Multiply,
    Divide,
    Modulo,
    Power,
    Equal,    // =  (dBase's SET EXACT OFF: up to the right side's length)
    Exact,    // ==
    NotEqual, // <> # !=
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    Contains, // $
    Not,
    And,
    Or,
    Function,
};

enum class Fn
{
    Abs,
    AllTrim,
    Asc,
    At,
    Cdow,
    Chr,
    Cmonth,
    Ctod,
    Day,
    Deleted,
    Descend,
    Dow,
    Dtoc,
    Dtos,
    Empty,
    Iif,
    Int,
    IsAlpha,
    IsBlank,
    IsDigit,
    IsLower,
    IsUpper,
    Left,
    Len,
    Lower,
    Ltrim,
    Max,
    Min,
    Mod,
    Month,
    Recno,
    Replicate,
    Right,
    Round,
    Rtrim,
    Space,
    Str,
    Stuff,
    Substr,
    Transform,
    Trim,
    Upper,
    Val,
    Year,
};

using Type = Value::Type;

const char* TypeName(Type t)
{
    switch (t) {
    case Type::Char:
        return "znakowy";
    case Type::Num:
        return "liczbowy";
    case Type::Date:
        return "data";
    case Type::Logical:
        return "logiczny";
    }
    return "?";
}

[[noreturn]] void Stop(const std::string& what)
{
    throw Error(ErrorKind::BadValue, what);
}

std::size_t AddWidths(std::size_t a, std::size_t b)
{
    return std::min(kMaxText, a + b);
}

// A picture of TRANSFORM, as far as this engine takes it.
struct Picture
{
    bool upper = false;       // @!
    bool leftJustify = false; // @B
    bool blankZero = false;   // @Z
    std::string tmpl;         // for numbers: 9 # . , only
};

} // namespace

struct Expression::Node
{
    Op op = Op::Literal;
    Type type = Type::Char;
    std::size_t width = 0; // Char: the longest text
    std::size_t field = 0;
    Fn fn = Fn::Abs;
    Value literal;
    Picture picture;
    std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = Expression::Node;

const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

// The case tables of a page: upper from the engine's tables, lower as its inverse.
struct CaseTables
{
    std::array<unsigned char, 256> upper{}, lower{};
    std::array<bool, 256> letter{};
};

const CaseTables& CasesOf(CodePage page)
{
    auto build = [](CodePage p) {
        CaseTables t;
        std::string all(256, '\0');
        for (int c = 0; c < 256; ++c)
            all[static_cast<std::size_t>(c)] = static_cast<char>(c);
        const std::string up = UpperCase(all, p);
        for (int c = 0; c < 256; ++c) {
            t.upper[static_cast<std::size_t>(c)] =
                static_cast<unsigned char>(up[static_cast<std::size_t>(c)]);
            t.lower[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c);
        }
        for (int c = 255; c >= 0; --c) {
            const unsigned char u = t.upper[static_cast<std::size_t>(c)];
            if (u != c) {
                t.lower[u] = static_cast<unsigned char>(c);
                t.letter[u] = true;
                t.letter[static_cast<std::size_t>(c)] = true;
            }
        }
        return t;
    };
    static const CaseTables cp852 = build(CodePage::Cp852), cp1250 = build(CodePage::Cp1250),
                            cp437 = build(CodePage::Cp437);
    return page == CodePage::Cp852 ? cp852 : page == CodePage::Cp1250 ? cp1250 : cp437;
}

// A number as decimal text without an exponent: up to 15 significant digits, no trailing zeros
// after the point ("-0" is "0").
std::string NumberText(double x)
{
    if (x == 0)
        return "0";
    if (std::fabs(x) < 1e15 && x == std::trunc(x))
        return std::to_string(static_cast<long long>(x));
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.15g", x);
    std::string text(buffer);
    if (text.find_first_of("eE") != std::string::npos) {
        const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(x))));
        const int places = std::clamp(14 - exponent, 0, 340);
        std::snprintf(buffer, sizeof buffer, "%.*f", places, x);
        text = buffer;
        if (text.find('.') != std::string::npos) {
            while (!text.empty() && text.back() == '0')
                text.pop_back();
            if (!text.empty() && text.back() == '.')
                text.pop_back();
        }
    }
    return text;
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// The quick way of rounding at `places` decimals (0 to 15): the number in units of 10^-places,
// when the nearest such unit is plainly nearest (no tie to settle by the decimal digits) and fits
// 53 bits. False otherwise: the decimal way must decide.
bool RoundedUnits(double x, int places, long long* units)
{
    if (places < 0 || places > 15 || !std::isfinite(x))
        return false;
    const double scaled = x * kPowersOfTen[places];
    if (std::fabs(scaled) >= 4.0e15)
        return false;
    const double nearest = std::nearbyint(scaled);
    if (std::fabs(scaled - nearest) > 0.49)
        return false;
    *units = static_cast<long long>(nearest);
    return true;
}

// Rounds half away from zero at `places` decimals (negative: to tens, hundreds...), on the
// number's decimal digits, so that 2.675 rounds to 2.68 as it reads.
double DecimalRound(double x, int places)
{
    if (!std::isfinite(x) || x == 0)
        return x;
    if (long long units = 0; RoundedUnits(x, places, &units))
        return static_cast<double>(units) / kPowersOfTen[places];
    places = std::clamp(places, -300, 300);
    const std::string text = NumberText(std::fabs(x));
    const auto point = text.find('.');
    const std::string integer = text.substr(0, point);
    const std::string digits =
        integer + (point == std::string::npos ? std::string() : text.substr(point + 1));
    const long keep = static_cast<long>(integer.size()) + places; // digits kept, from the first
    if (keep >= static_cast<long>(digits.size()))
        return x;
    if (keep < 0)
        return 0;
    std::string kept = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
        long i = static_cast<long>(kept.size()) - 1;
        for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i)
            kept[static_cast<std::size_t>(i)] = '0';
        if (i < 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[static_cast<std::size_t>(i)];
    }
    if (kept.empty())
        return 0;
    // The kept digits are an integer counted in units of 10^-places.
    const double result = std::strtod((kept + "e" + std::to_string(-places)).c_str(), nullptr);
    return x < 0 ? -result : result;
}

// A number's text with its sign dropped when every digit is 0 (dBase shows no "-0").
std::string WithoutNegativeZero(std::string text)
{
    if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos)
        text.erase(0, 1);
    return text;
}

// STR(): right-aligned in `width`, `decimals` decimals, fewer decimals where they do not fit,
// asterisks where the integer part does not.
std::string FormatStr(double x, long long width, long long decimals)
{
    width = std::clamp<long long>(width, 1, 255);
    decimals = std::clamp<long long>(decimals, 0, 18);
    for (long long d = decimals; d >= 0; --d) {
        std::string text;
        if (long long units = 0; RoundedUnits(x, static_cast<int>(d), &units)) {
            // Digits of the whole units, the point put in by hand.
            std::string digits = std::to_string(units < 0 ? -units : units);
            if (digits.size() <= static_cast<std::size_t>(d))
                digits.insert(0, static_cast<std::size_t>(d) + 1 - digits.size(), '0');
            if (d > 0)
                digits.insert(digits.size() - static_cast<std::size_t>(d), 1, '.');
            text = units < 0 ? "-" + digits : digits;
        } else {
            char buffer[512];
            std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(d),
                          DecimalRound(x, static_cast<int>(d)));
            text = WithoutNegativeZero(buffer);
        }
        if (static_cast<long long>(text.size()) <= width)
            return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
    }
    return std::string(static_cast<std::size_t>(width), '*');
}

// VAL(): leading blanks, a sign, digits, a point and digits; stops at anything else. With
// `exponent` an exponent ("E+03") is read too, as float fields may hold one.
double ParseVal(std::string_view s, bool exponent = false)
{
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    std::string text;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        text.push_back(s[i++]);
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') {
            text.push_back(s[i]);
            digits = true;
        } else if (s[i] == '.' && !point) {
            text.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    if (exponent && i + 1 < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t j = i + 1;
        std::string power = "e";
        if (j < s.size() && (s[j] == '-' || s[j] == '+'))
            power.push_back(s[j++]);
        const std::size_t first = j;
        while (j < s.size() && j - first < 3 && s[j] >= '0' && s[j] <= '9')
            power.push_back(s[j++]);
        if (j > first)
            text += power;
    }
    const double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value))
        return 0;
    return value == 0 ? 0 : value; // no negative zero
}

std::string Trimmed(std::string_view text, bool left, bool right)
{
    std::size_t begin = 0, end = text.size();
    if (left)
        while (begin < end && text[begin] == ' ')
            ++begin;
    if (right)
        while (end > begin && text[end - 1] == ' ')
            --end;
    return std::string(text.substr(begin, end - begin));
}

// A numeric field's value: sign, digits and a point read by hand where that is exact (at most 15
// digits), VAL's reading (with an exponent) otherwise.
double FieldNumber(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative || (!text.empty() && text[0] == '+'))
        ++i;
    long long mantissa = 0;
    int digits = 0, decimals = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (++digits > 15)
                return ParseVal(text, true);
            mantissa = mantissa * 10 + (c - '0');
            decimals += point ? 1 : 0;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return ParseVal(text, true);
        }
    }
    const double value = static_cast<double>(mantissa) / kPowersOfTen[decimals];
    return negative && value != 0 ? -value : value;
}

bool LogicalByte(char c)
{
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

// The result of + - * / on numbers as dBase's decimal arithmetic gives it, not binary floating
// point's: rounded to 15 significant digits of `scale` (the larger operand of a sum or difference,
// the result itself otherwise). So 0.29*100 is 29, not 28.999999999999996, and INT of it 29;
// 4.1-2.1 equals 2, and 0.1+0.2 equals 0.3.
double Decimal(double x, double scale)
{
    const double magnitude = std::max(std::fabs(scale), std::fabs(x));
    if (x == 0 || !std::isfinite(x) || magnitude == 0)
        return x;
    // Digits below the fifteenth of the magnitude go; the scaling stays exact within 2^53.
    const int shift = 14 - static_cast<int>(std::floor(std::log10(magnitude)));
    if (shift <= 0 || shift > 22)
        return x;
    const double power = std::pow(10.0, shift);
    const double units = std::nearbyint(x * power);
    return units == 0 ? 0 : units / power;
}

// A computed number. Its text is made only where it is the whole expression's value (a numeric
// key): Expression::Evaluate.
Value MakeNumber(double x)
{
    if (!std::isfinite(x))
        Stop("wynik działania nie jest liczbą skończoną");
    Value v;
    v.type = Type::Num;
    v.number = x == 0 ? 0 : x;
    return v;
}

Value MakeLogical(bool b)
{
    Value v;
    v.type = Type::Logical;
    v.number = b ? 1 : 0;
    v.text = b ? "T" : "F";
    return v;
}

Value MakeText(std::string text)
{
    if (text.size() > kMaxText)
        Stop("napis dłuższy niż " + std::to_string(kMaxText) + " znaków");
    Value v;
    v.type = Type::Char;
    v.text = std::move(text);
    return v;
}

Value MakeDate(long julian) // 0: blank
{
    Value v;
    v.type = Type::Date;
    if (julian <= 0) {
        v.text = "        ";
        v.number = 0;
        return v;
    }
    int y = 0, m = 0, d = 0;
    FromJulianDay(julian, &y, &m, &d);
    if (y < 1 || y > 9999) {
        v.text = "        ";
        return v;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", y, m, d);
    v.text = buffer;
    v.number = static_cast<double>(julian);
    return v;
}

bool ValidDate(int y, int m, int d)
{
    static const int kLength[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kLength[m - 1] + (m == 2 && leap ? 1 : 0);
}

// A date field's or DTOS's text ("YYYYMMDD") as a date value: blank (or not a date) gives blank.
Value DateOfText(std::string_view text)
{
    if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return MakeDate(0);
    const int y = std::atoi(std::string(text.substr(0, 4)).c_str());
    const int m = std::atoi(std::string(text.substr(4, 2)).c_str());
    const int d = std::atoi(std::string(text.substr(6, 2)).c_str());
    if (!ValidDate(y, m, d))
        return MakeDate(0);
    return MakeDate(JulianDay(y, m, d));
}

// DTOC() in the settings' format: DD, MM, YY and YYYY stand for the date's parts, anything else
// is copied; a blank date keeps the separators with blanks in place of digits.
std::string FormatDate(const Value& date, const std::string& format)
{
    int y = 0, m = 0, d = 0;
    const bool blank = date.number <= 0;
    if (!blank)
        FromJulianDay(static_cast<long>(date.number), &y, &m, &d);
    std::string out;
    for (std::size_t i = 0; i < format.size();) {
        auto put = [&](int value, int digits) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
            out += blank ? std::string(static_cast<std::size_t>(digits), ' ') : std::string(buffer);
        };
        if (format.compare(i, 4, "YYYY") == 0) {
            put(y, 4);
            i += 4;
        } else if (format.compare(i, 2, "YY") == 0) {
            put(y % 100, 2);
            i += 2;
        } else if (format.compare(i, 2, "MM") == 0) {
            put(m, 2);
            i += 2;
        } else if (format.compare(i, 2, "DD") == 0) {
            put(d, 2);
            i += 2;
        } else {
            out.push_back(format[i++]);
        }
    }
    return out;
}

// CTOD(): the text read by the settings' format. A year is taken as typed, with up to 4 digits
// where the format puts a separator or the end after it, whatever the format's own year width;
// a year of one or two digits is 19YY (dBase's epoch 1900). Text that is no date gives a blank date.
Value ParseDate(std::string_view text, const std::string& format)
{
    int y = -1, m = -1, d = -1;
    std::size_t at = 0;
    auto number = [&](int digits, int* out) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        int value = 0, read = 0;
        while (at < text.size() && read < digits && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++read;
        }
        if (read == 0)
            return false;
        *out = value;
        return true;
    };
    bool shortYear = false;
    for (std::size_t i = 0; i < format.size();) {
        if (format.compare(i, 2, "YY") == 0) {
            const std::size_t width = format.compare(i, 4, "YYYY") == 0 ? 4 : 2;
            const bool delimited =
                i + width == format.size() ||
                (format[i + width] != 'Y' && format[i + width] != 'M' && format[i + width] != 'D');
            const std::size_t from = at;
            if (!number(delimited ? 4 : static_cast<int>(width), &y))
                return MakeDate(0);
            std::size_t digits = 0;
            for (std::size_t k = from; k < at; ++k)
                digits += text[k] >= '0' && text[k] <= '9' ? 1 : 0;
            shortYear = digits <= 2;
            i += width;
        } else if (format.compare(i, 2, "MM") == 0) {
            if (!number(2, &m))
                return MakeDate(0);
            i += 2;
        } else if (format.compare(i, 2, "DD") == 0) {
            if (!number(2, &d))
                return MakeDate(0);
            i += 2;
        } else {
            if (at < text.size() && (text[at] < '0' || text[at] > '9'))
                ++at; // a separator, whichever
            ++i;
        }
    }
    if (shortYear)
        y += 1900;
    if (!ValidDate(y, m, d))
        return MakeDate(0);
    return MakeDate(JulianDay(y, m, d));
}

// dBase's comparison of character values: with SET EXACT OFF (=, <, > and the rest) the left
// side is compared over the right side's length, blank-padded; == compares the whole texts as SET
// EXACT ON does, trailing blanks aside.
int CompareTexts(std::string_view a, std::string_view b, bool exact, CharCompare compare)
{
    // The common case of an equality test: the left side as long as the right, or longer.
    if (!exact && a.size() >= b.size() && a.compare(0, b.size(), b) == 0)
        return 0;
    if (exact) {
        const std::size_t n = std::max(a.size(), b.size());
        std::string x(a), y(b);
        x.resize(n, ' ');
        y.resize(n, ' ');
        return compare(x, y);
    }
    std::string left(a.substr(0, std::min(a.size(), b.size())));
    left.resize(b.size(), ' ');
    return compare(left, b);
}

std::string ApplyPicture(const Value& v, const Picture& p, CodePage page)
{
    if (v.type == Type::Char)
        return p.upper ? UpperCase(v.text, page) : v.text;
    // A number by a template of 9, #, "." and ",".
    const std::string& t = p.tmpl;
    const auto point = t.find('.');
    int decimals = 0;
    if (point != std::string::npos)
        for (std::size_t i = point + 1; i < t.size(); ++i)
            decimals += (t[i] == '9' || t[i] == '#') ? 1 : 0;
    const double rounded = DecimalRound(v.number, decimals);
    if (p.blankZero && rounded == 0)
        return std::string(t.size(), ' ');
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, std::fabs(rounded));
    const std::string digits(buffer);
    const auto dot = digits.find('.');
    const std::string integer = digits.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? std::string() : digits.substr(dot + 1);
    const bool negative = rounded < 0;
    // Fill the template from the right for the integer part, from the left for the fraction.
    std::string out(t.size(), ' ');
    const std::size_t intEnd = point == std::string::npos ? t.size() : point;
    // A zero integer part needs no digit: ".99" shows 0.5 as ".50", "9.99" as "0.50".
    const bool intPositions = t.find_first_of("9#") < intEnd;
    std::string intDigits = integer == "0" && !intPositions ? std::string() : integer;
    if (negative)
        intDigits.insert(intDigits.begin(), '-');
    int src = static_cast<int>(intDigits.size()) - 1;
    bool overflow = false;
    for (int i = static_cast<int>(intEnd) - 1; i >= 0; --i) {
        const char c = t[static_cast<std::size_t>(i)];
        if (c == '9' || c == '#') {
            out[static_cast<std::size_t>(i)] = src >= 0 ? intDigits[static_cast<std::size_t>(src--)] : ' ';
        } else if (c == ',') {
            out[static_cast<std::size_t>(i)] =
                src >= 0 && intDigits[static_cast<std::size_t>(src)] != '-' ? ',' : ' ';
        }
    }
    overflow = src >= 0;
    if (point != std::string::npos) {
        out[point] = '.';
        std::size_t f = 0;
        for (std::size_t i = point + 1; i < t.size(); ++i) {
            if (t[i] == '9' || t[i] == '#')
                out[i] = f < fraction.size() ? fraction[f++] : '0';
            else if (t[i] == ',')
                out[i] = ',';
        }
    }
    if (overflow)
        out.assign(t.size(), '*');
    if (p.leftJustify) {
        const std::string trimmed = Trimmed(out, true, false);
        out = trimmed + std::string(out.size() - trimmed.size(), ' ');
    }
    return out;
}

class Parser
{
public:
    // `dateWidth`: the width of DTOC's text in the settings' date format.
    Parser(std::string_view text, const std::vector<FieldInfo>& fields, std::vector<std::size_t>* used,
           std::size_t dateWidth)
        : text_(text), fields_(fields), used_(used), dateWidth_(dateWidth)
    {}

    std::unique_ptr<Node> Parse(std::string* why)
    {
        std::unique_ptr<Node> node;
        if (text_.size() > 4096) {
            Fail("wyrażenie jest zbyt długie");
        } else {
            node = OrExpr();
            SkipSpace();
            if (node && at_ != text_.size())
                Fail("nieoczekiwany znak na pozycji " + std::to_string(at_ + 1));
            // A chain of operators makes a tree as deep as it is long, and the evaluation recurses
            // that deep. dBase's expressions (up to 255 characters) stay far below this.
            else if (node && Height(*node) > kMaxHeight)
                Fail("wyrażenie jest zbyt złożone");
        }
        if (!error_.empty()) {
            *why = error_;
            return nullptr;
        }
        return node;
    }

private:
    void Fail(const std::string& reason)
    {
        if (error_.empty())
            error_ = reason;
    }

    void SkipSpace()
    {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }

    bool Take(std::string_view token)
    {
        SkipSpace();
        if (text_.substr(at_, token.size()) == token) {
            at_ += token.size();
            return true;
        }
        return false;
    }

    // A dotted word (.AND., .T.) without regard to case.
    bool TakeWord(std::string_view word)
    {
        SkipSpace();
        if (at_ + word.size() > text_.size())
            return false;
        if (AsciiUpper(text_.substr(at_, word.size())) != word)
            return false;
        at_ += word.size();
        return true;
    }

    static constexpr std::size_t kMaxHeight = 300;

    static std::size_t Height(const Node& n)
    {
        std::size_t most = 0;
        for (const auto& a : n.args)
            most = std::max(most, Height(*a));
        return most + 1;
    }

    bool Deep()
    {
        if (++depth_ > 200) {
            Fail("wyrażenie jest zagnieżdżone zbyt głęboko");
            return true;
        }
        return false;
    }

    struct DepthGuard
    {
        int& depth;
        ~DepthGuard() { --depth; }
    };

    std::unique_ptr<Node> Make(Op op, Type type, std::unique_ptr<Node> a, std::unique_ptr<Node> b = nullptr)
    {
        auto node = std::make_unique<Node>();
        node->op = op;
        node->type = type;
        node->args.push_back(std::move(a));
        if (b)
            node->args.push_back(std::move(b));
        return node;
    }

    // Operands of `operand` joined by the logical operator `word` (.OR. or .AND.), left to right.
    std::unique_ptr<Node> LogicalChain(const char* word, Op op, std::unique_ptr<Node> (Parser::*operand)())
    {
        auto left = (this->*operand)();
        while (left && TakeWord(word)) {
            auto right = (this->*operand)();
            if (!right)
                return nullptr;
            if (left->type != Type::Logical || right->type != Type::Logical) {
                Fail(std::string(word) + " wymaga wartości logicznych");
                return nullptr;
            }
            left = Make(op, Type::Logical, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Node> OrExpr() { return LogicalChain(".OR.", Op::Or, &Parser::AndExpr); }

    std::unique_ptr<Node> AndExpr() { return LogicalChain(".AND.", Op::And, &Parser::NotExpr); }

    std::unique_ptr<Node> NotExpr()
    {
        if (Deep())
            return nullptr;
        DepthGuard guard{depth_};
        if (TakeWord(".NOT.")) {
            auto inner = NotExpr();
            if (!inner)
                return nullptr;
            if (inner->type != Type::Logical) {
                Fail(".NOT. wymaga wartości logicznej");
                return nullptr;
            }
            return Make(Op::Not, Type::Logical, std::move(inner));
        }
        return Relation();
    }

    std::unique_ptr<Node> Relation()
    {
        auto left = Sum();
        if (!left)
            return nullptr;
        struct Relop
        {
            const char* token;
            Op op;
        };
        // Longer tokens first: "<=" before "<", "==" before "=".
        static const Relop kRelops[] = {{"==", Op::Exact},     {"<>", Op::NotEqual},     {"!=", Op::NotEqual},
                                        {"<=", Op::LessEqual}, {">=", Op::GreaterEqual}, {"=", Op::Equal},
                                        {"#", Op::NotEqual},   {"<", Op::Less},          {">", Op::Greater},
                                        {"$", Op::Contains}};
        for (const Relop& r : kRelops) {
            if (!Take(r.token))
                continue;
            auto right = Sum();
            if (!right)
                return nullptr;
            if (left->type != right->type) {
                Fail(std::string("porównanie wartości różnych typów (") + TypeName(left->type) + ", " +
                     TypeName(right->type) + ")");
                return nullptr;
            }
            if (r.op == Op::Contains && left->type != Type::Char) {
                Fail("operator $ wymaga napisów");
                return nullptr;
            }
            if (left->type == Type::Logical && r.op != Op::Equal && r.op != Op::NotEqual &&
                r.op != Op::Exact) {
                Fail("wartości logiczne można tylko porównać na równość");
                return nullptr;
            }
            return Make(r.op, Type::Logical, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Node> Sum()
    {
        auto left = Product();
        while (left) {
            Op op;
            SkipSpace();
            if (Take("+"))
                op = Op::Add;
            else if (Take("-"))
                op = Op::Subtract;
            else
                break;
            auto right = Product();
            if (!right)
                return nullptr;
            const Type a = left->type, b = right->type;
            Type result = Type::Num;
            std::size_t width = 0;
            if (a == Type::Char && b == Type::Char) {
                result = Type::Char;
                width = AddWidths(left->width, right->width);
            } else if (a == Type::Num && b == Type::Num) {
                result = Type::Num;
            } else if (op == Op::Add &&
                       ((a == Type::Date && b == Type::Num) || (a == Type::Num && b == Type::Date))) {
                result = Type::Date;
            } else if (op == Op::Subtract && a == Type::Date && b == Type::Num) {
                result = Type::Date;
            } else if (op == Op::Subtract && a == Type::Date && b == Type::Date) {
                result = Type::Num;
            } else {
                Fail(std::string("niezgodne typy argumentów operatora ") + (op == Op::Add ? "+" : "-") +
                     " (" + TypeName(a) + ", " + TypeName(b) + ")");
                return nullptr;
            }
            left = Make(op, result, std::move(left), std::move(right));
            left->width = width;
        }
        return left;
    }

    std::unique_ptr<Node> Product()
    {
        auto left = Power();
        while (left) {
            Op op;
            SkipSpace();
            if (at_ + 1 < text_.size() && text_[at_] == '*' && text_[at_ + 1] == '*')
                break; // ** is a power, taken below
            if (Take("*"))
                op = Op::Multiply;
            else if (Take("/"))
                op = Op::Divide;
            else if (Take("%"))
                op = Op::Modulo;
            else
                break;
            auto right = Power();
            if (!right)
                return nullptr;
            if (left->type != Type::Num || right->type != Type::Num) {
                Fail("mnożenie i dzielenie wymagają liczb");
                return nullptr;
            }
            left = Make(op, Type::Num, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Node> Power()
    {
        auto left = Unary();
        while (left && (Take("**") || Take("^"))) {
            auto right = Unary();
            if (!right)
                return nullptr;
            if (left->type != Type::Num || right->type != Type::Num) {
                Fail("potęgowanie wymaga liczb");
                return nullptr;
            }
            left = Make(Op::Power, Type::Num, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Node> Unary()
    {
        if (Deep())
            return nullptr;
        DepthGuard guard{depth_};
        SkipSpace();
        if (at_ < text_.size() && (text_[at_] == '-' || text_[at_] == '+')) {
            const bool minus = text_[at_] == '-';
            ++at_;
            auto inner = Unary();
            if (!inner)
                return nullptr;
            if (inner->type != Type::Num) {
                Fail("znak liczby przed wartością, która nie jest liczbą");
                return nullptr;
            }
            return minus ? Make(Op::Negate, Type::Num, std::move(inner)) : std::move(inner);
        }
        return Primary();
    }

    std::unique_ptr<Node> Literal(Value v, std::size_t width = 0)
    {
        auto node = std::make_unique<Node>();
        node->op = Op::Literal;
        node->type = v.type;
        node->width = width;
        node->literal = std::move(v);
        return node;
    }

    std::unique_ptr<Node> Primary()
    {
        SkipSpace();
        if (at_ >= text_.size()) {
            Fail("niepełne wyrażenie");
            return nullptr;
        }
        const char c = text_[at_];
        if (c == '(') {
            ++at_;
            auto inner = OrExpr();
            if (inner && !Take(")")) {
                Fail("brak nawiasu zamykającego");
                return nullptr;
            }
            return inner;
        }
        if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const auto end = text_.find(close, at_ + 1);
            if (end == std::string_view::npos) {
                Fail("niezamknięty napis");
                return nullptr;
            }
            std::string s(text_.substr(at_ + 1, end - at_ - 1));
            at_ = end + 1;
            const std::size_t width = s.size();
            return Literal(MakeText(std::move(s)), width);
        }
        if (c == '.') {
            if (TakeWord(".T.") || TakeWord(".Y."))
                return Literal(MakeLogical(true));
            if (TakeWord(".F.") || TakeWord(".N."))
                return Literal(MakeLogical(false));
        }
        if ((c >= '0' && c <= '9') ||
            (c == '.' && at_ + 1 < text_.size() && text_[at_ + 1] >= '0' && text_[at_ + 1] <= '9')) {
            std::size_t end = at_;
            bool point = false;
            // A point followed by a letter begins an operator: "I>0.AND.N<0" is I>0 .AND. N<0.
            auto letterAfter = [&](std::size_t i) {
                return i + 1 < text_.size() && ((text_[i + 1] >= 'A' && text_[i + 1] <= 'Z') ||
                                                (text_[i + 1] >= 'a' && text_[i + 1] <= 'z'));
            };
            while (end < text_.size() && ((text_[end] >= '0' && text_[end] <= '9') ||
                                          (text_[end] == '.' && !point && !letterAfter(end)))) {
                point = point || text_[end] == '.';
                ++end;
            }
            const std::string digits(text_.substr(at_, end - at_));
            at_ = end;
            const double number = std::strtod(digits.c_str(), nullptr);
            if (!std::isfinite(number)) {
                Fail("liczba poza zakresem");
                return nullptr;
            }
            return Literal(MakeNumber(number));
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            std::string name = Identifier();
            SkipSpace();
            if (at_ + 1 < text_.size() && text_[at_] == '-' && text_[at_ + 1] == '>') {
                at_ += 2; // alias->FIELD: the alias is the table itself
                SkipSpace();
                name = Identifier();
                if (name.empty()) {
                    Fail("brak nazwy pola po ->");
                    return nullptr;
                }
                return FieldNode(name);
            }
            if (Take("("))
                return Function(AsciiUpper(name));
            return FieldNode(name);
        }
        Fail("nieoczekiwany znak '" + std::string(1, c) + "'");
        return nullptr;
    }

    std::string Identifier()
    {
        std::size_t end = at_;
        while (end < text_.size() &&
               ((text_[end] >= 'A' && text_[end] <= 'Z') || (text_[end] >= 'a' && text_[end] <= 'z') ||
                (text_[end] >= '0' && text_[end] <= '9') || text_[end] == '_'))
            ++end;
        std::string name(text_.substr(at_, end - at_));
        at_ = end;
        return name;
    }

    std::unique_ptr<Node> FieldNode(const std::string& name)
    {
        const std::string upper = AsciiUpper(name);
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (AsciiUpper(fields_[i].name) != upper)
                continue;
            auto node = std::make_unique<Node>();
            node->op = Op::Field;
            node->field = i;
            switch (fields_[i].type) {
            case 'N':
            case 'F':
                node->type = Type::Num;
                break;
            case 'D':
                node->type = Type::Date;
                break;
            case 'L':
                node->type = Type::Logical;
                break;
            case 'C':
                node->type = Type::Char;
                node->width = fields_[i].width;
                break;
            default:
                Fail("pole " + name + " typu " + std::string(1, fields_[i].type) +
                     " (memo, binarne, OLE) nie może występować w wyrażeniu klucza");
                return nullptr;
            }
            if (std::find(used_->begin(), used_->end(), i) == used_->end())
                used_->push_back(i);
            return node;
        }
        Fail("nieznane pole " + name);
        return nullptr;
    }

    // A numeric argument given as a literal (for widths), or -1.
    static long long LiteralCount(const Node& n)
    {
        if (n.op == Op::Literal && n.type == Type::Num)
            return static_cast<long long>(std::clamp(n.literal.number, -1.0, static_cast<double>(kMaxText)));
        if (n.op == Op::Negate && n.args[0]->op == Op::Literal)
            return 0;
        return -1;
    }

    std::unique_ptr<Node> Function(const std::string& name)
    {
        auto node = std::make_unique<Node>();
        node->op = Op::Function;
        if (!Take(")")) {
            do {
                auto arg = OrExpr();
                if (!arg)
                    return nullptr;
                node->args.push_back(std::move(arg));
            } while (Take(","));
            if (!Take(")")) {
                Fail("brak nawiasu zamykającego po argumentach " + name);
                return nullptr;
            }
        }
        // The signature: argument types (A: any of C, N, D), result type.
        struct Signature
        {
            const char* name;
            Fn fn;
            const char* args;     // one letter per argument: C N D L, A any, X as the first
            std::size_t optional; // trailing arguments that may be left out
            char result;          // C N D L, or X: the type of the first argument / of IIF's branches
        };
        static const Signature kSignatures[] = {
            {"ABS", Fn::Abs, "N", 0, 'N'},         {"ALLTRIM", Fn::AllTrim, "C", 0, 'C'},
            {"ASC", Fn::Asc, "C", 0, 'N'},         {"AT", Fn::At, "CC", 0, 'N'},
            {"CDOW", Fn::Cdow, "D", 0, 'C'},       {"CHR", Fn::Chr, "N", 0, 'C'},
            {"CMONTH", Fn::Cmonth, "D", 0, 'C'},   {"CTOD", Fn::Ctod, "C", 0, 'D'},
            {"DAY", Fn::Day, "D", 0, 'N'},         {"DELETED", Fn::Deleted, "", 0, 'L'},
            {"DESCEND", Fn::Descend, "A", 0, 'X'}, {"DOW", Fn::Dow, "D", 0, 'N'},
            {"DTOC", Fn::Dtoc, "D", 0, 'C'},       {"DTOS", Fn::Dtos, "D", 0, 'C'},
            {"EMPTY", Fn::Empty, "A", 0, 'L'},     {"IIF", Fn::Iif, "LAA", 0, 'X'},
            {"INT", Fn::Int, "N", 0, 'N'},         {"ISALPHA", Fn::IsAlpha, "C", 0, 'L'},
            {"ISBLANK", Fn::IsBlank, "A", 0, 'L'}, {"ISDIGIT", Fn::IsDigit, "C", 0, 'L'},
            {"ISLOWER", Fn::IsLower, "C", 0, 'L'}, {"ISUPPER", Fn::IsUpper, "C", 0, 'L'},
            {"LEFT", Fn::Left, "CN", 0, 'C'},      {"LEN", Fn::Len, "C", 0, 'N'},
            {"LOWER", Fn::Lower, "C", 0, 'C'},     {"LTRIM", Fn::Ltrim, "C", 0, 'C'},
            {"MAX", Fn::Max, "AA", 0, 'X'},        {"MIN", Fn::Min, "AA", 0, 'X'},
            {"MOD", Fn::Mod, "NN", 0, 'N'},        {"MONTH", Fn::Month, "D", 0, 'N'},
            {"RECNO", Fn::Recno, "", 0, 'N'},      {"REPLICATE", Fn::Replicate, "CN", 0, 'C'},
            {"RIGHT", Fn::Right, "CN", 0, 'C'},    {"ROUND", Fn::Round, "NN", 0, 'N'},
            {"RTRIM", Fn::Rtrim, "C", 0, 'C'},     {"SPACE", Fn::Space, "N", 0, 'C'},
            {"STR", Fn::Str, "NNN", 2, 'C'},       {"STUFF", Fn::Stuff, "CNNC", 0, 'C'},
            {"SUBSTR", Fn::Substr, "CNN", 1, 'C'}, {"TRANSFORM", Fn::Transform, "AC", 0, 'C'},
            {"TRIM", Fn::Trim, "C", 0, 'C'},       {"UPPER", Fn::Upper, "C", 0, 'C'},
            {"VAL", Fn::Val, "C", 0, 'N'},         {"YEAR", Fn::Year, "D", 0, 'N'},
        };
        const Signature* s = nullptr;
        for (const Signature& candidate : kSignatures)
            if (name == candidate.name)
                s = &candidate;
        if (s == nullptr) {
            Fail("nieobsługiwana funkcja " + name);
            return nullptr;
        }
        node->fn = s->fn;
        const std::size_t most = std::strlen(s->args);
        auto& args = node->args;
        if (args.size() > most || args.size() + s->optional < most) {
            Fail("zła liczba argumentów funkcji " + name);
            return nullptr;
        }
        for (std::size_t i = 0; i < args.size(); ++i) {
            const char want = s->args[i];
            const Type have = args[i]->type;
            const bool ok = want == 'A'   ? have != Type::Logical || s->fn == Fn::Iif || s->fn == Fn::Empty
                            : want == 'C' ? have == Type::Char
                            : want == 'N' ? have == Type::Num
                            : want == 'D' ? have == Type::Date
                                          : have == Type::Logical;
            if (!ok) {
                Fail("zły typ argumentu " + std::to_string(i + 1) + " funkcji " + name + " (" +
                     TypeName(have) + ")");
                return nullptr;
            }
        }
        // Result type and width.
        switch (s->result) {
        case 'C':
            node->type = Type::Char;
            break;
        case 'N':
            node->type = Type::Num;
            break;
        case 'D':
            node->type = Type::Date;
            break;
        case 'L':
            node->type = Type::Logical;
            break;
        default:
            node->type = args[s->fn == Fn::Iif ? 1 : 0]->type;
            break;
        }
        const std::size_t w0 = args.empty() ? 0 : args[0]->width;
        auto count = [&](std::size_t i) { return i < args.size() ? LiteralCount(*args[i]) : -1; };
        switch (s->fn) {
        case Fn::Iif:
        case Fn::Max:
        case Fn::Min: {
            const std::size_t a = s->fn == Fn::Iif ? 1 : 0;
            if (args[a]->type != args[a + 1]->type) {
                Fail("argumenty funkcji " + name + " muszą być tego samego typu");
                return nullptr;
            }
            if ((s->fn == Fn::Max || s->fn == Fn::Min) && args[0]->type == Type::Logical) {
                Fail("zły typ argumentu funkcji " + name);
                return nullptr;
            }
            node->width = std::max(args[a]->width, args[a + 1]->width);
            break;
        }
        case Fn::IsBlank:
            // A numeric field is blank when it holds no digits at all, which is not 0; a computed
            // number has no such state, and dBase's writers disagree on what ISBLANK() gives then.
            if (args[0]->type == Type::Num && args[0]->op != Op::Field) {
                Fail("ISBLANK() liczby jest obsługiwana tylko dla pola, nie dla wyrażenia");
                return nullptr;
            }
            break;
        case Fn::Descend:
            if (args[0]->type == Type::Date) {
                Fail("DESCEND() daty nie jest obsługiwana");
                return nullptr;
            }
            node->width = w0;
            break;
        case Fn::AllTrim:
        case Fn::Ltrim:
        case Fn::Rtrim:
        case Fn::Trim:
        case Fn::Upper:
        case Fn::Lower:
            node->width = w0;
            break;
        case Fn::Cdow:
        case Fn::Cmonth:
            node->width = 9;
            break;
        case Fn::Chr:
            node->width = 1;
            break;
        case Fn::Dtos:
            node->width = 8;
            break;
        case Fn::Dtoc:
            node->width = dateWidth_;
            break;
        case Fn::Left:
        case Fn::Right:
            node->width = count(1) >= 0 ? std::min<std::size_t>(w0, static_cast<std::size_t>(count(1))) : w0;
            break;
        case Fn::Substr: {
            // What is left from the start on, and at most the count asked for.
            const std::size_t left =
                count(1) >= 1 ? w0 - std::min<std::size_t>(w0, static_cast<std::size_t>(count(1) - 1)) : w0;
            node->width =
                count(2) >= 0 ? std::min<std::size_t>(left, static_cast<std::size_t>(count(2))) : left;
            break;
        }
        case Fn::Space:
            node->width = count(0) >= 0 ? static_cast<std::size_t>(count(0)) : kUnknownWidth;
            break;
        case Fn::Replicate:
            node->width =
                count(1) >= 0 ? std::min(kMaxText, w0 * static_cast<std::size_t>(count(1))) : kUnknownWidth;
            break;
        case Fn::Str:
            // A width written out that STR cannot give is no key dBase computed: refused, not
            // guessed.
            if (const long long width = count(1); args.size() > 1 && (width == 0 || width > 255)) {
                Fail("długość w funkcji STR musi wynosić od 1 do 255");
                return nullptr;
            }
            node->width = count(1) >= 0 ? static_cast<std::size_t>(std::clamp<long long>(count(1), 1, 255))
                          : args.size() > 1 ? kUnknownWidth
                                            : 10;
            break;
        case Fn::Stuff:
            node->width = AddWidths(w0, args[3]->width);
            break;
        case Fn::Transform: {
            if (args[1]->op != Op::Literal) {
                Fail("szablon funkcji TRANSFORM musi być stałym napisem");
                return nullptr;
            }
            if (!ParsePicture(args[1]->literal.text, args[0]->type, &node->picture))
                return nullptr;
            node->width = args[0]->type == Type::Char ? w0 : node->picture.tmpl.size();
            break;
        }
        default:
            break;
        }
        return node;
    }

    // The pictures of TRANSFORM this engine takes: "@!" for text; for numbers a template of 9, #,
    // "." and "," with the functions B, Z and (. Anything else is refused, never guessed.
    bool ParsePicture(const std::string& text, Type type, Picture* p)
    {
        std::string rest = text;
        if (!rest.empty() && rest[0] == '@') {
            const auto space = rest.find(' ');
            const std::string functions =
                rest.substr(1, space == std::string::npos ? std::string::npos : space - 1);
            rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
            for (char f : functions) {
                switch (f) {
                case '!':
                    p->upper = true;
                    break;
                case 'B':
                case 'b':
                    p->leftJustify = true;
                    break;
                case 'Z':
                case 'z':
                    p->blankZero = true;
                    break;
                case '(':
                    Fail("funkcja szablonu TRANSFORM @( nie jest obsługiwana: programy dBase różnią się w "
                         "tym, jak ujmują liczbę ujemną w nawiasy");
                    return false;
                default:
                    Fail("funkcja szablonu TRANSFORM @" + std::string(1, f) + " nie jest obsługiwana");
                    return false;
                }
            }
        }
        if (type == Type::Char) {
            if (!rest.empty() || p->leftJustify || p->blankZero) {
                Fail("szablon TRANSFORM „" + text + "” dla napisu nie jest obsługiwany (tylko @!)");
                return false;
            }
            return true;
        }
        if (type != Type::Num || rest.empty() || p->upper ||
            rest.find_first_not_of("9#.,") != std::string::npos ||
            std::count(rest.begin(), rest.end(), '.') > 1) {
            Fail("szablon TRANSFORM „" + text + "” nie jest obsługiwany");
            return false;
        }
        p->tmpl = rest;
        return true;
    }

    std::string_view text_;
    const std::vector<FieldInfo>& fields_;
    std::vector<std::size_t>* used_;
    std::size_t dateWidth_;
    std::size_t at_ = 0;
    int depth_ = 0;
    std::string error_;
};

struct Evaluator
{
    const unsigned char* record;
    std::uint32_t recno;
    const std::vector<FieldInfo>& fields;
    const ExpressionSettings& settings;

    Value operator()(const Node& node) const
    {
        switch (node.op) {
        case Op::Field:
            return FieldValue(fields[node.field]);
        case Op::Literal:
            return node.literal;
        case Op::Negate:
            return MakeNumber(-(*this)(*node.args[0]).number);
        case Op::Not:
            return MakeLogical((*this)(*node.args[0]).number == 0);
        case Op::And:
            return MakeLogical((*this)(*node.args[0]).number != 0 && (*this)(*node.args[1]).number != 0);
        case Op::Or:
            return MakeLogical((*this)(*node.args[0]).number != 0 || (*this)(*node.args[1]).number != 0);
        case Op::Function:
            return Call(node);
        default:
            break;
        }
        const Value a = (*this)(*node.args[0]);
        const Value b = (*this)(*node.args[1]);
        switch (node.op) {
        case Op::Add:
            if (a.type == Type::Char)
                return MakeText(a.text + b.text);
            if (node.type == Type::Date)
                return DateShift(a.type == Type::Date ? a : b, a.type == Type::Date ? b.number : a.number);
            return MakeNumber(
                Decimal(a.number + b.number, std::max(std::fabs(a.number), std::fabs(b.number))));
        case Op::Subtract:
            if (a.type == Type::Char) {
                // The left side's trailing blanks go to the end.
                const std::string trimmed = Trimmed(a.text, false, true);
                return MakeText(trimmed + b.text + std::string(a.text.size() - trimmed.size(), ' '));
            }
            if (a.type == Type::Date && b.type == Type::Date)
                return MakeNumber(a.number == 0 || b.number == 0 ? 0 : a.number - b.number);
            if (a.type == Type::Date)
                return DateShift(a, -b.number);
            return MakeNumber(
                Decimal(a.number - b.number, std::max(std::fabs(a.number), std::fabs(b.number))));
        case Op::Multiply:
            return MakeNumber(Decimal(a.number * b.number, 0));
        case Op::Divide:
            if (b.number == 0)
                Stop("dzielenie przez zero");
            return MakeNumber(Decimal(a.number / b.number, 0));
        case Op::Modulo:
            return Modulo(a.number, b.number);
        case Op::Power:
            return MakeNumber(std::pow(a.number, b.number));
        case Op::Contains:
            return MakeLogical(b.text.find(a.text) != std::string::npos);
        default:
            break;
        }
        const int c = Compare(a, b, node.op == Op::Exact);
        switch (node.op) {
        case Op::Equal:
        case Op::Exact:
            return MakeLogical(c == 0);
        case Op::NotEqual:
            return MakeLogical(c != 0);
        case Op::Less:
            return MakeLogical(c < 0);
        case Op::Greater:
            return MakeLogical(c > 0);
        case Op::LessEqual:
            return MakeLogical(c <= 0);
        default:
            return MakeLogical(c >= 0);
        }
    }

    int Compare(const Value& a, const Value& b, bool exact) const
    {
        if (a.type == Type::Char)
            return CompareTexts(a.text, b.text, exact, settings.compare);
        return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
    }

    static Value DateShift(const Value& date, double days)
    {
        if (date.number == 0)
            return date;
        const double julian = date.number + std::trunc(days);
        if (!(julian >= 1721426 && julian <= 5373484)) // 0001-01-01 to 9999-12-31
            Stop("data poza zakresem");
        return MakeDate(static_cast<long>(julian));
    }

    static Value Modulo(double a, double b)
    {
        if (b == 0)
            Stop("dzielenie przez zero w MOD");
        // dBase: the remainder takes the divisor's sign.
        double r = std::fmod(a, b);
        if (r != 0 && ((r < 0) != (b < 0)))
            r += b;
        return MakeNumber(r);
    }

    Value FieldValue(const FieldInfo& f) const
    {
        const char* at = reinterpret_cast<const char*>(record + f.offset);
        switch (f.type) {
        case 'N':
        case 'F': {
            Value v;
            v.type = Type::Num;
            v.text = Trimmed(std::string_view(at, f.width), true, true);
            v.number = v.text.empty() ? 0 : FieldNumber(v.text);
            return v;
        }
        case 'D':
            return DateOfText(std::string_view(at, f.width));
        case 'L':
            return MakeLogical(LogicalByte(at[0]));
        default: {
            Value v;
            v.type = Type::Char;
            v.text.assign(at, f.width);
            return v;
        }
        }
    }

    static long long Count(const Value& v)
    {
        return static_cast<long long>(
            std::clamp(std::trunc(v.number), -1.0, static_cast<double>(kMaxText) + 1));
    }

    Value Call(const Node& node) const
    {
        if (node.fn == Fn::Deleted)
            return MakeLogical(record[0] == '*');
        if (node.fn == Fn::Recno)
            return MakeNumber(recno);
        if (node.fn == Fn::Iif)
            return (*this)(*node.args[(*this)(*node.args[0]).number != 0 ? 1 : 2]);
        const Value a = (*this)(*node.args[0]);
        const CaseTables& cases = CasesOf(settings.page);
        auto arg = [&](std::size_t i) { return (*this)(*node.args[i]); };
        switch (node.fn) {
        case Fn::Abs:
            return MakeNumber(std::fabs(a.number));
        case Fn::AllTrim:
            return MakeText(Trimmed(a.text, true, true));
        case Fn::Ltrim:
            return MakeText(Trimmed(a.text, true, false));
        case Fn::Rtrim:
        case Fn::Trim:
            return MakeText(Trimmed(a.text, false, true));
        case Fn::Asc:
            return MakeNumber(a.text.empty() ? 0 : static_cast<unsigned char>(a.text[0]));
        case Fn::At: {
            const Value b = arg(1);
            const auto at = a.text.empty() ? std::string::npos : b.text.find(a.text);
            return MakeNumber(at == std::string::npos ? 0 : static_cast<double>(at + 1));
        }
        case Fn::Cdow:
            return MakeText(a.number == 0 ? std::string() : kDays[DayOfWeek(a) - 1]);
        case Fn::Cmonth:
            return MakeText(a.number == 0 ? std::string() : kMonths[Part(a, 1) - 1]);
        case Fn::Chr: {
            const double n = std::trunc(a.number);
            if (n < 0 || n > 255)
                Stop("CHR() poza zakresem 0-255");
            return MakeText(std::string(1, static_cast<char>(static_cast<int>(n))));
        }
        case Fn::Ctod:
            return ParseDate(a.text, settings.dateFormat);
        case Fn::Day:
            return MakeNumber(Part(a, 2));
        case Fn::Month:
            return MakeNumber(Part(a, 1));
        case Fn::Year:
            return MakeNumber(Part(a, 0));
        case Fn::Dow:
            return MakeNumber(a.number == 0 ? 0 : DayOfWeek(a));
        case Fn::Descend:
            if (a.type == Type::Num)
                return MakeNumber(-a.number);
            {
                std::string out = a.text;
                for (char& ch : out)
                    ch = static_cast<char>(255 - static_cast<unsigned char>(ch));
                return MakeText(std::move(out));
            }
        case Fn::Dtoc:
            return MakeText(FormatDate(a, settings.dateFormat));
        case Fn::Dtos:
            return MakeText(a.text);
        case Fn::Empty:
            if (a.type == Type::Char) {
                // Blanks only are empty everywhere; tabs and line ends count as blanks for some
                // writers and not for others, so such a text stops rather than be guessed.
                const auto other = a.text.find_first_not_of(' ');
                if (other != std::string::npos &&
                    a.text.find_first_not_of(" \t\r\n", other) == std::string::npos)
                    Stop("EMPTY() tekstu z tabulatorem lub końcem wiersza: programy dBase różnią się w tym, "
                         "czy jest pusty");
                return MakeLogical(other == std::string::npos);
            }
            return MakeLogical(a.number == 0); // 0, a blank date, .F.
        case Fn::IsBlank:
            if (a.type == Type::Char)
                return MakeLogical(a.text.find_first_not_of(' ') == std::string::npos);
            if (a.type == Type::Num)
                return MakeLogical(a.text.empty()); // a field without digits, not one holding 0
            return MakeLogical(a.number == 0);      // a blank date
        case Fn::Int:
            return MakeNumber(std::trunc(a.number));
        case Fn::IsAlpha:
            return MakeLogical(!a.text.empty() && cases.letter[static_cast<unsigned char>(a.text[0])]);
        case Fn::IsDigit:
            return MakeLogical(!a.text.empty() && a.text[0] >= '0' && a.text[0] <= '9');
        case Fn::IsLower:
            return MakeLogical(!a.text.empty() && cases.letter[static_cast<unsigned char>(a.text[0])] &&
                               cases.upper[static_cast<unsigned char>(a.text[0])] !=
                                   static_cast<unsigned char>(a.text[0]));
        case Fn::IsUpper:
            return MakeLogical(!a.text.empty() && cases.letter[static_cast<unsigned char>(a.text[0])] &&
                               cases.lower[static_cast<unsigned char>(a.text[0])] !=
                                   static_cast<unsigned char>(a.text[0]));
        case Fn::Left:
            return MakeText(a.text.substr(0, static_cast<std::size_t>(std::max(0LL, Count(arg(1))))));
        case Fn::Right: {
            const auto n = std::min(a.text.size(), static_cast<std::size_t>(std::max(0LL, Count(arg(1)))));
            return MakeText(a.text.substr(a.text.size() - n));
        }
        case Fn::Len:
            return MakeNumber(static_cast<double>(a.text.size()));
        case Fn::Lower: {
            std::string out = a.text;
            for (char& ch : out)
                ch = static_cast<char>(cases.lower[static_cast<unsigned char>(ch)]);
            return MakeText(std::move(out));
        }
        case Fn::Upper:
            return MakeText(UpperCase(a.text, settings.page));
        case Fn::Max:
        case Fn::Min: {
            const Value b = arg(1);
            const int c = Compare(a, b, true);
            return (node.fn == Fn::Max) == (c >= 0) ? a : b;
        }
        case Fn::Mod:
            return Modulo(a.number, arg(1).number);
        case Fn::Replicate: {
            const long long n = std::max(0LL, Count(arg(1)));
            if (static_cast<double>(n) * static_cast<double>(a.text.size()) > static_cast<double>(kMaxText))
                Stop("REPLICATE() dałaby napis dłuższy niż " + std::to_string(kMaxText) + " znaków");
            std::string out;
            for (long long i = 0; i < n; ++i)
                out += a.text;
            return MakeText(std::move(out));
        }
        case Fn::Round:
            return MakeNumber(
                DecimalRound(a.number, static_cast<int>(std::clamp(arg(1).number, -300.0, 300.0))));
        case Fn::Space: {
            const long long n = Count(a);
            if (n > static_cast<long long>(kMaxText))
                Stop("SPACE() dałaby napis dłuższy niż " + std::to_string(kMaxText) + " znaków");
            return MakeText(std::string(static_cast<std::size_t>(std::max(0LL, n)), ' '));
        }
        case Fn::Str:
            return MakeText(FormatStr(a.number, node.args.size() > 1 ? Count(arg(1)) : 10,
                                      node.args.size() > 2 ? Count(arg(2)) : 0));
        case Fn::Stuff: {
            const long long start = std::max(1LL, Count(arg(1)));
            const long long remove = std::max(0LL, Count(arg(2)));
            const Value insert = arg(3);
            std::string out = a.text;
            const auto from = std::min(out.size(), static_cast<std::size_t>(start - 1));
            out.replace(from, static_cast<std::size_t>(remove), insert.text);
            return MakeText(std::move(out));
        }
        case Fn::Substr: {
            const long long start = Count(arg(1));
            if (start < 1 || static_cast<std::size_t>(start) > a.text.size())
                return MakeText(std::string());
            const long long length =
                node.args.size() > 2 ? std::max(0LL, Count(arg(2))) : static_cast<long long>(a.text.size());
            return MakeText(
                a.text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
        }
        case Fn::Transform:
            return MakeText(ApplyPicture(a, node.picture, settings.page));
        case Fn::Val:
            return MakeNumber(ParseVal(a.text));
        default:
            Stop("nieobsługiwana funkcja");
        }
    }

    // Year (0), month (1) or day (2) of a date; 0 for a blank date.
    static int Part(const Value& date, int which)
    {
        if (date.number == 0)
            return 0;
        int y = 0, m = 0, d = 0;
        FromJulianDay(static_cast<long>(date.number), &y, &m, &d);
        return which == 0 ? y : which == 1 ? m : d;
    }

    // 1 for Sunday to 7 for Saturday.
    static int DayOfWeek(const Value& date)
    {
        return static_cast<int>((static_cast<long>(date.number) + 1) % 7) + 1;
    }
};

} // namespace

Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                                CodePage page, std::string* why)
{
    ExpressionSettings settings;
    settings.page = page;
    return Compile(text, fields, settings, why);
}

std::unique_ptr<Expression> Expression::Compile(std::string_view text, const std::vector<FieldInfo>& fields,
                                                const ExpressionSettings& settings, std::string* why)
{
    std::unique_ptr<Expression> e(new Expression());
    Parser parser(text, fields, &e->fieldsUsed_, FormatDate(MakeDate(0), settings.dateFormat).size());
    std::string reason;
    e->root_ = parser.Parse(&reason);
    if (!e->root_) {
        if (why)
            *why = reason;
        return nullptr;
    }
    e->fields_ = &fields;
    e->settings_ = settings;
    e->joinedFields_ = e->Flatten(*e->root_, false);
    if (!e->joinedFields_)
        e->pieces_.clear();
    return e;
}

bool Expression::Flatten(const Node& node, bool upper)
{
    switch (node.op) {
    case Op::Field:
        if (node.type != Type::Char)
            return false;
        pieces_.push_back({(*fields_)[node.field].offset, (*fields_)[node.field].width, upper});
        return true;
    case Op::Add:
        return node.type == Type::Char && Flatten(*node.args[0], upper) && Flatten(*node.args[1], upper);
    case Op::Function:
        return node.fn == Fn::Upper && Flatten(*node.args[0], true);
    default:
        return false;
    }
}

Value::Type Expression::ResultType() const
{
    return root_->type;
}

std::size_t Expression::ResultWidth() const
{
    return root_->type == Type::Char ? root_->width : 0;
}

Value Expression::Evaluate(const unsigned char* record, std::uint32_t recno) const
{
    Value v = Evaluator{record, recno, *fields_, settings_}(*root_);
    // A field's number keeps its own text (a blank field's is empty); a computed one gets its own.
    if (v.type == Type::Num && root_->op != Op::Field)
        v.text = NumberText(v.number);
    return v;
}

bool Expression::EvaluateLogical(const unsigned char* record, std::uint32_t recno) const
{
    return Evaluate(record, recno).number != 0;
}

void Expression::EvaluateText(const unsigned char* record, std::string* out, std::uint32_t recno) const
{
    if (!joinedFields_) {
        *out = Evaluate(record, recno).text;
        return;
    }
    out->clear();
    for (const Piece& p : pieces_) {
        const std::size_t at = out->size();
        out->append(reinterpret_cast<const char*>(record + p.offset), p.width);
        if (p.upper)
            UpperCaseInPlace(out->data() + at, p.width, settings_.page);
    }
}

const std::vector<std::size_t>& Expression::FieldsUsed() const
{
    return fieldsUsed_;
}

std::string LowerCase(std::string_view text, CodePage page)
{
    const CaseTables& cases = CasesOf(page);
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(cases.lower[static_cast<unsigned char>(c)]);
    return out;
}

bool IsLetter(unsigned char c, CodePage page)
{
    return CasesOf(page).letter[c];
}

bool IsUpperLetter(unsigned char c, CodePage page)
{
    const CaseTables& cases = CasesOf(page);
    return cases.letter[c] && cases.lower[c] != c;
}

bool IsLowerLetter(unsigned char c, CodePage page)
{
    const CaseTables& cases = CasesOf(page);
    return cases.letter[c] && cases.upper[c] != c;
}

} // namespace engine
