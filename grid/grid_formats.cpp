// Number and date conversions of the data grid.
#include "grid/grid_formats.h"

#include <cmath>

#include <QLocale>
#include <QRegularExpression>

namespace grid {

namespace {

std::optional<TFormatSettings>& Settings()
{
    static std::optional<TFormatSettings> settings;
    return settings;
}

// Qt's date notation (d M y) translated into the picture notation (d m y, "/" the separator).
QString PictureFromQtFormat(const QString& qt, QChar separator)
{
    QString out;
    for (QChar ch : qt) {
        if (ch == u'M')
            out += u'm';
        else if (ch == u'd' || ch == u'y')
            out += ch;
        else if (ch == separator)
            out += u'/';
        else if (ch == u' ' || ch == u'.' || ch == u'-' || ch == u'/')
            out += ch;
    }
    return out;
}

// Reads the digits of text starting at pos into value; false when there is none.
bool ReadNumber(const QString& text, qsizetype& pos, int& value, int& digits)
{
    value = 0;
    digits = 0;
    while (pos < text.size() && text[pos].isDigit() && digits < 9) {
        value = value * 10 + text[pos].digitValue();
        ++pos;
        ++digits;
    }
    return digits > 0;
}

// The century window: a two-digit year lies within 50 years around the current one.
int ExpandYear(int year, int digits)
{
    if (digits > 2)
        return year;
    const int current = QDate::currentDate().year();
    int full = current - current % 100 + year;
    if (full > current + 50)
        full -= 100;
    else if (full <= current - 50)
        full += 100;
    return full;
}

} // namespace

TFormatSettings FormatSettingsFromLocale(const QLocale& locale)
{
    TFormatSettings s;
    const QString qtFormat = locale.dateFormat(QLocale::ShortFormat);
    s.DateSeparator = u'/';
    for (QChar ch : qtFormat) {
        if (!ch.isLetter()) {
            s.DateSeparator = ch;
            break;
        }
    }
    s.ShortDateFormat = PictureFromQtFormat(qtFormat, s.DateSeparator);
    if (s.ShortDateFormat.isEmpty())
        s.ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    const QString decimal = locale.decimalPoint();
    s.DecimalSeparator = decimal.isEmpty() ? QChar(u'.') : decimal[0];
    const QString group = locale.groupSeparator();
    s.ThousandSeparator = group.isEmpty() ? QChar(u' ') : group[0];
    s.TimeSeparator = u':';
    return s;
}

const TFormatSettings& FormatSettings()
{
    auto& settings = Settings();
    if (!settings)
        settings = FormatSettingsFromLocale(QLocale::system());
    return *settings;
}

void SetFormatSettings(const TFormatSettings& settings)
{
    Settings() = settings;
}

bool IsStrictNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(\A *[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?\z)"));
    return number.match(text).hasMatch();
}

std::optional<double> StrToFloat(const QString& text)
{
    QString t = text.trimmed();
    const QChar sep = FormatSettings().DecimalSeparator;
    // The text must use the settings' separator; the other one is refused.
    if (sep != u'.' && t.contains(u'.'))
        return std::nullopt;
    if (sep != u'.')
        t.replace(sep, u'.');
    if (!IsStrictNumber(t))
        return std::nullopt;
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

namespace {

struct FloatSection
{
    QString prefix;   // literal text before the first placeholder
    QString suffix;   // literal text after the last placeholder
    int intZeros = 0; // "0" placeholders before the decimal point
    bool grouping = false;
    bool hasPoint = false;
    int fracZeros = 0;  // "0" placeholders after the decimal point
    int fracHashes = 0; // "#" placeholders after the last fraction "0"
    bool exponent = false;
    bool exponentPlus = false;
    int exponentDigits = 0;
};

FloatSection ParseSection(const QString& mask)
{
    FloatSection s;
    bool seenPlaceholder = false;
    bool afterPlaceholders = false;
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const QChar ch = mask[i];
        if (ch == u'"' || ch == u'\'') {
            const qsizetype end = mask.indexOf(ch, i + 1);
            const QString literal = mask.mid(i + 1, end < 0 ? -1 : end - i - 1);
            (seenPlaceholder ? s.suffix : s.prefix) += literal;
            if (seenPlaceholder)
                afterPlaceholders = true;
            i = end < 0 ? mask.size() : end;
            continue;
        }
        const bool placeholder = ch == u'0' || ch == u'#' || ch == u'.' || ch == u',';
        if (placeholder && !afterPlaceholders && !s.exponent) {
            seenPlaceholder = true;
            if (ch == u'.') {
                s.hasPoint = true;
            } else if (ch == u',') {
                if (!s.hasPoint)
                    s.grouping = true;
            } else if (!s.hasPoint) {
                if (ch == u'0')
                    ++s.intZeros;
            } else if (ch == u'0') {
                s.fracZeros += s.fracHashes + 1;
                s.fracHashes = 0;
            } else {
                ++s.fracHashes;
            }
            continue;
        }
        if ((ch == u'E' || ch == u'e') && seenPlaceholder && !s.exponent && i + 1 < mask.size() &&
            (mask[i + 1] == u'+' || mask[i + 1] == u'-')) {
            s.exponent = true;
            s.exponentPlus = mask[i + 1] == u'+';
            ++i;
            while (i + 1 < mask.size() && mask[i + 1] == u'0') {
                ++s.exponentDigits;
                ++i;
            }
            continue;
        }
        if (seenPlaceholder)
            afterPlaceholders = true;
        (seenPlaceholder ? s.suffix : s.prefix) += ch;
    }
    return s;
}

QString FormatSection(const FloatSection& s, double value, bool withSign)
{
    const TFormatSettings& fs = FormatSettings();
    double magnitude = std::fabs(value);
    int exponent = 0;
    if (s.exponent && magnitude != 0.0) {
        const int intDigits = std::max(1, s.intZeros);
        exponent = static_cast<int>(std::floor(std::log10(magnitude))) - (intDigits - 1);
        magnitude /= std::pow(10.0, exponent);
    }
    const int decimals = s.fracZeros + s.fracHashes;
    QString digits = QString::number(magnitude, 'f', decimals);
    QString intPart = digits.section(u'.', 0, 0);
    QString fracPart = decimals > 0 ? digits.section(u'.', 1, 1) : QString();
    while (fracPart.size() > s.fracZeros && fracPart.endsWith(u'0'))
        fracPart.chop(1);
    if (intPart == QLatin1String("0") && s.intZeros == 0)
        intPart.clear();
    while (intPart.size() < s.intZeros)
        intPart.prepend(u'0');
    if (s.grouping) {
        for (qsizetype pos = intPart.size() - 3; pos > 0; pos -= 3)
            intPart.insert(pos, fs.ThousandSeparator);
    }
    QString out = s.prefix;
    if (withSign && value < 0 && (!intPart.isEmpty() || !fracPart.isEmpty()))
        out += u'-';
    out += intPart;
    if (!fracPart.isEmpty())
        out += fs.DecimalSeparator + fracPart;
    if (s.exponent) {
        out += u'E';
        if (exponent < 0)
            out += u'-';
        else if (s.exponentPlus)
            out += u'+';
        out += QStringLiteral("%1").arg(std::abs(exponent), s.exponentDigits, 10, QChar(u'0'));
    }
    return out + s.suffix;
}

} // namespace

QString FormatFloat(const QString& mask, double value)
{
    if (mask.isEmpty())
        return QString::number(value, 'g', 15).replace(u'.', FormatSettings().DecimalSeparator);
    const QStringList sections = mask.split(u';');
    if (value == 0.0 && sections.size() > 2 && !sections[2].isEmpty())
        return FormatSection(ParseSection(sections[2]), value, false);
    if (value < 0 && sections.size() > 1 && !sections[1].isEmpty())
        return FormatSection(ParseSection(sections[1]), value, false);
    return FormatSection(ParseSection(sections[0]), value, true);
}

std::optional<QDate> StrToDate(const QString& text)
{
    const TFormatSettings& fs = FormatSettings();
    // The order of day, month and year comes from the short date format.
    QString order;
    for (QChar ch : fs.ShortDateFormat.toLower()) {
        if ((ch == u'd' || ch == u'm' || ch == u'y') && !order.contains(ch))
            order += ch;
    }
    if (order.size() != 3)
        order = QStringLiteral("ymd");
    const QString t = text.trimmed();
    int values[3] = {0, 0, 0};
    int digitCounts[3] = {0, 0, 0};
    int count = 0;
    qsizetype pos = 0;
    while (count < 3) {
        if (!ReadNumber(t, pos, values[count], digitCounts[count]))
            return std::nullopt;
        ++count;
        if (pos == t.size())
            break;
        if (t[pos] != fs.DateSeparator || count == 3)
            return std::nullopt;
        ++pos;
    }
    if (pos != t.size())
        return std::nullopt;
    int day = 0;
    int month = 0;
    int year = QDate::currentDate().year();
    int yearDigits = 4;
    if (count == 3) {
        for (int i = 0; i < 3; ++i) {
            if (order[i] == u'd')
                day = values[i];
            else if (order[i] == u'm')
                month = values[i];
            else {
                year = values[i];
                yearDigits = digitCounts[i];
            }
        }
    } else if (count == 2) {
        // Day and month alone, in the format's order, in the current year.
        const bool monthFirst = order.indexOf(u'm') < order.indexOf(u'd');
        month = monthFirst ? values[0] : values[1];
        day = monthFirst ? values[1] : values[0];
    } else {
        return std::nullopt;
    }
    const QDate date(ExpandYear(year, yearDigits), month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

QString DateToStr(const QDate& date)
{
    return FormatDateTime(FormatSettings().ShortDateFormat, QDateTime(date, QTime(0, 0)));
}

std::optional<QDateTime> StrToDateTime(const QString& text)
{
    const QString t = text.trimmed();
    const qsizetype space = t.indexOf(u' ');
    const auto date = StrToDate(space < 0 ? t : t.left(space));
    if (!date)
        return std::nullopt;
    if (space < 0)
        return QDateTime(*date, QTime(0, 0));
    const QStringList parts = t.mid(space + 1).trimmed().split(FormatSettings().TimeSeparator);
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    int hms[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        hms[i] = parts[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QTime time(hms[0], hms[1], hms[2]);
    if (!time.isValid())
        return std::nullopt;
    return QDateTime(*date, time);
}

QString FormatDateTime(const QString& mask, const QDateTime& value)
{
    const TFormatSettings& fs = FormatSettings();
    const QDate date = value.date();
    const QTime time = value.time();
    const QLocale locale = QLocale::system();
    QString out;
    bool afterHour = false;
    for (qsizetype i = 0; i < mask.size();) {
        const QChar ch = mask[i];
        const QChar lower = ch.toLower();
        qsizetype run = 1;
        while (i + run < mask.size() && mask[i + run].toLower() == lower)
            ++run;
        if (ch == u'"' || ch == u'\'') {
            const qsizetype end = mask.indexOf(ch, i + 1);
            out += mask.mid(i + 1, end < 0 ? -1 : end - i - 1);
            i = end < 0 ? mask.size() : end + 1;
            continue;
        }
        auto pad = [](int v, int width) { return QStringLiteral("%1").arg(v, width, 10, QChar(u'0')); };
        if (lower == u'y') {
            out += run <= 2 ? pad(date.year() % 100, 2) : pad(date.year(), 4);
        } else if (lower == u'm' && afterHour && run <= 2) {
            out += pad(time.minute(), run);
            afterHour = false;
        } else if (lower == u'm') {
            if (run >= 4)
                out += locale.monthName(date.month(), QLocale::LongFormat);
            else if (run == 3)
                out += locale.monthName(date.month(), QLocale::ShortFormat);
            else
                out += pad(date.month(), run);
        } else if (lower == u'd') {
            if (run >= 4)
                out += locale.dayName(date.dayOfWeek(), QLocale::LongFormat);
            else if (run == 3)
                out += locale.dayName(date.dayOfWeek(), QLocale::ShortFormat);
            else
                out += pad(date.day(), run);
        } else if (lower == u'h') {
            out += pad(time.hour(), std::min<int>(static_cast<int>(run), 2));
            afterHour = true;
        } else if (lower == u'n') {
            out += pad(time.minute(), std::min<int>(static_cast<int>(run), 2));
        } else if (lower == u's') {
            out += pad(time.second(), std::min<int>(static_cast<int>(run), 2));
        } else if (ch == u'/') {
            out += QString(run, fs.DateSeparator);
        } else if (ch == u':') {
            out += QString(run, fs.TimeSeparator);
        } else {
            out += QString(run, ch);
        }
        i += run;
    }
    return out;
}

} // namespace grid
