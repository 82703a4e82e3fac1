// Field binding by kind letter and the conversion of a record's bound fields into the callers'
// variables, plus the text-field step of kind "a".
#include <charconv>
#include <cstring>

#include "archive/code_page.h"
#include "archive/reader.h"

namespace archive {
namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Parses an optionally signed decimal integer in the signed 32-bit range. Returns 0, or the
// 1-based position of the first character that does not fit (length + 1 when the text ends
// too early).
int ParseLong(const char* s, std::size_t length, std::int32_t& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '-' || s[0] == '+') {
        negative = s[0] == '-';
        ++i;
    }
    if (i == length)
        return static_cast<int>(i + 1);
    const std::uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
    std::uint64_t v = 0;
    for (; i < length; ++i) {
        if (!IsDigit(s[i]))
            return static_cast<int>(i + 1);
        v = v * 10 + static_cast<std::uint64_t>(s[i] - '0');
        if (v > limit)
            return static_cast<int>(i + 1);
    }
    value =
        negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(v)) : static_cast<std::int32_t>(v);
    return 0;
}

// Parses [sign] digits [. digits] [E [sign] digits], with at least one digit before the
// exponent; the full stop is the only decimal separator. Returns 0 or the error position.
int ParseReal(const char* s, std::size_t length, double& value)
{
    std::size_t i = 0;
    if (s[0] == '-' || s[0] == '+')
        ++i;
    const std::size_t numberStart = s[0] == '+' ? 1 : 0; // from_chars takes no plus sign
    std::size_t digits = 0;
    while (i < length && IsDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < length && s[i] == '.') {
        ++i;
        while (i < length && IsDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return static_cast<int>(i < length ? i + 1 : length + 1);
    if (i < length && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        if (i < length && (s[i] == '-' || s[i] == '+'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < length && IsDigit(s[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return static_cast<int>(i < length ? i + 1 : length + 1);
    }
    if (i < length)
        return static_cast<int>(i + 1);
    double parsed = 0;
    const auto [end, ec] = std::from_chars(s + numberStart, s + length, parsed);
    if (ec == std::errc::result_out_of_range) {
        // Beyond the range of a double: no dBase field holds such a number.
        return 1;
    }
    if (ec != std::errc() || end != s + length)
        return 1;
    value = parsed;
    return 0;
}

} // namespace

void Reader::Bind(std::string_view name, FieldKind kind, void* variable, std::uint8_t capacity,
                  std::uint8_t reserved, std::uint8_t group)
{
    std::string upper(name.substr(0, std::min<std::size_t>(name.size(), 255)));
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    if (currentArea_ >= 1 && currentArea_ <= kAreaCount) {
        WorkArea& a = areas_[currentArea_ - 1u];
        for (FieldDescriptor& f : a.descriptors) {
            if (f.name == upper) {
                f.kind = kind;
                f.group = group;
                f.spare = reserved;
                f.capacity = capacity;
                f.target = variable;
                tableResult_ = kTableOk;
                return;
            }
        }
    }
    tableResult_ = kTableNoSuchField;
}

void Reader::BindByte(std::string_view name, std::uint8_t& variable, std::uint8_t reserved,
                      std::uint8_t group)
{
    Bind(name, FieldKind::Byte, &variable, 0, reserved, group);
}

void Reader::BindWord(std::string_view name, std::uint16_t& variable, std::uint8_t reserved,
                      std::uint8_t group)
{
    Bind(name, FieldKind::Word, &variable, 0, reserved, group);
}

void Reader::BindLong(std::string_view name, std::int32_t& variable, std::uint8_t reserved,
                      std::uint8_t group)
{
    Bind(name, FieldKind::Long, &variable, 0, reserved, group);
}

void Reader::BindReal(std::string_view name, double& variable, std::uint8_t reserved, std::uint8_t group)
{
    Bind(name, FieldKind::Real, &variable, 0, reserved, group);
}

void Reader::BindString(std::string_view name, ShortString& variable, std::uint8_t capacity,
                        std::uint8_t reserved, std::uint8_t group)
{
    Bind(name, FieldKind::String, &variable, capacity, reserved, group);
}

void Reader::BindRawString(std::string_view name, ShortString& variable, std::uint8_t capacity,
                           std::uint8_t reserved, std::uint8_t group)
{
    Bind(name, FieldKind::RawString, &variable, capacity, reserved, group);
}

void Reader::BindBin2(std::string_view name, std::int16_t& variable, std::uint8_t reserved,
                      std::uint8_t group)
{
    Bind(name, FieldKind::Bin2, &variable, 0, reserved, group);
}

void Reader::BindBin4(std::string_view name, std::int32_t& variable, std::uint8_t reserved,
                      std::uint8_t group)
{
    Bind(name, FieldKind::Bin4, &variable, 0, reserved, group);
}

void Reader::BindLogical(std::string_view name, bool& variable, std::uint8_t reserved, std::uint8_t group)
{
    Bind(name, FieldKind::Logical, &variable, 0, reserved, group);
}

void Reader::FinishInto(const char* text, std::size_t length, ShortString& out, std::uint8_t capacity) const
{
    if (TrimTextFields) {
        while (length > 0 && text[length - 1] == ' ')
            --length;
    }
    if (length > capacity)
        length = capacity; // never more than the caller's variable holds
    out.length = static_cast<std::uint8_t>(length);
    if (SourceCodePage == -1) {
        std::memcpy(out.bytes.data(), text, length);
        return;
    }
    const auto& map = RecodeMap(static_cast<std::uint16_t>(SourceCodePage & 0xFFFF),
                                static_cast<std::uint16_t>(TargetCodePage & 0xFFFF));
    for (std::size_t i = 0; i < length; ++i)
        out.bytes[i] = static_cast<char>(map[static_cast<std::uint8_t>(text[i])]);
}

std::string Reader::FinishTextField(std::string_view text) const
{
    std::size_t length = text.size();
    if (TrimTextFields) {
        while (length > 0 && text[length - 1] == ' ')
            --length;
    }
    if (SourceCodePage == -1)
        return std::string(text.substr(0, length));
    return ConvertText(text.substr(0, length), static_cast<std::uint16_t>(SourceCodePage & 0xFFFF),
                       static_cast<std::uint16_t>(TargetCodePage & 0xFFFF));
}

bool Reader::ConvertNumber(const FieldDescriptor& f, const char* t)
{
    // Skip leading and trailing spaces; a blank field reads as 0.
    std::size_t start = 0;
    while (start < f.width && t[start] == ' ')
        ++start;
    static const char zero = '0';
    const char* s = &zero;
    std::size_t length = 1;
    if (start < f.width) {
        std::size_t end = f.width;
        while (end > start && t[end - 1] == ' ')
            --end;
        s = t + start;
        length = end - start;
    }

    int errorPos = 0;
    if (f.kind == FieldKind::Real) {
        double value = 0;
        errorPos = ParseReal(s, length, value);
        if (errorPos == 0)
            *static_cast<double*>(f.target) = value;
    } else {
        std::int32_t value = 0;
        errorPos = ParseLong(s, length, value);
        if (errorPos == 0) {
            if (f.kind == FieldKind::Byte)
                *static_cast<std::uint8_t*>(f.target) = static_cast<std::uint8_t>(value);
            else if (f.kind == FieldKind::Word)
                *static_cast<std::uint16_t*>(f.target) = static_cast<std::uint16_t>(value);
            else
                *static_cast<std::int32_t*>(f.target) = value;
        }
    }
    if (errorPos != 0) {
        tableResult_ = kTableBadNumber;
        conversionErrorPos_ = errorPos;
        conversionErrorField_ = f.name;
        return false;
    }
    return true;
}

void Reader::ReadCurrent(std::uint8_t group)
{
    WorkArea& a = areas_[currentArea_ - 1u];
    if (a.currentRecord >= a.RecordCount()) {
        tableResult_ = kTableEnd;
        a.eof = true;
        return;
    }
    if (a.windowIndex < 0) {
        // A failed move left no record loaded: nothing is read, every variable keeps its value.
        tableResult_ = kTableShort;
        return;
    }
    const char* record = a.windowBytes + static_cast<std::size_t>(a.windowIndex) * a.RecordLength();

    for (const FieldDescriptor& f : a.descriptors) {
        // Group 255 is the mark of a field without a variable: asking for it converts nothing.
        if (f.group != group || f.group == kUnbound)
            continue;
        const char* t = record + f.offset;
        switch (f.kind) {
        case FieldKind::Byte:
        case FieldKind::Word:
        case FieldKind::Long:
        case FieldKind::Real:
            if (!ConvertNumber(f, t))
                return;
            break;
        case FieldKind::String:
            FinishInto(t, f.width, *static_cast<ShortString*>(f.target), f.capacity);
            break;
        case FieldKind::RawString: {
            auto& out = *static_cast<ShortString*>(f.target);
            const std::size_t length = std::min<std::size_t>(f.width, f.capacity);
            std::memcpy(out.bytes.data(), t, length);
            out.length = static_cast<std::uint8_t>(length);
            break;
        }
        case FieldKind::Bin2: {
            std::uint8_t bytes[2] = {0, 0};
            std::memcpy(bytes, t, std::min<std::size_t>(f.width, 2));
            *static_cast<std::int16_t*>(f.target) = static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8));
            break;
        }
        case FieldKind::Bin4: {
            std::uint8_t bytes[4] = {0, 0, 0, 0};
            std::memcpy(bytes, t, std::min<std::size_t>(f.width, 4));
            const std::uint32_t v =
                static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
            *static_cast<std::int32_t*>(f.target) = static_cast<std::int32_t>(v);
            break;
        }
        case FieldKind::Logical: {
            const char c = f.width > 0 ? t[0] : ' ';
            *static_cast<bool*>(f.target) = c == 'T' || c == 'Y' || c == 't' || c == 'y';
            break;
        }
        }
    }
    tableResult_ = kTableOk;
    conversionErrorPos_ = 0;
    conversionErrorField_.clear();
}

} // namespace archive
