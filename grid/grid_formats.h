// Number and date conversions of the data grid: the strict number check of the editor, the short
// date format of the date check, and the picture notations of the display masks.
#pragma once

#include <optional>

#include <QDate>
#include <QDateTime>
#include <QString>

namespace grid {

// The conversions' settings. They start from the system locale as Qt reports it; a program may
// replace them (the import sets "yyyy.mm.dd" with "." as both separators).
struct TFormatSettings
{
    // Picture of the short date format: d, dd, m, mm, yy, yyyy; "/" stands for DateSeparator.
    QString ShortDateFormat;
    QChar DateSeparator;
    QChar DecimalSeparator;
    QChar ThousandSeparator;
    QChar TimeSeparator;
};

// The settings in force. The first call fills them from QLocale::system().
const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);
// Settings derived from a locale (the short date format translated into the picture notation).
TFormatSettings FormatSettingsFromLocale(const QLocale& locale);

// True iff Text is a number in the strict notation of the editor's number check: optional
// leading blanks, optional sign, digits with an optional fraction after ".", an optional
// exponent (E or e, optional sign, digits), and nothing after it. "." is the only separator.
bool IsStrictNumber(const QString& text);

// A number written with the settings' decimal separator (leading and trailing blanks allowed).
std::optional<double> StrToFloat(const QString& text);
// The number formatted by a picture: sections "positive;negative;zero", "0" a digit always
// shown, "#" a digit shown when significant, "." the decimal separator, "," thousands grouping
// anywhere in the integer part, "E+00"/"E-00" an exponent, text in quotes taken literally.
QString FormatFloat(const QString& mask, double value);

// Date (and time) conversions under the settings' short date format.
std::optional<QDate> StrToDate(const QString& text);
QString DateToStr(const QDate& date);
// A date, optionally followed by a time of hours, minutes and seconds separated by the time
// separator.
std::optional<QDateTime> StrToDateTime(const QString& text);
// The date and time formatted by a picture: d dd ddd dddd, m mm mmm mmmm (minutes after h),
// yy yyyy, h hh, n nn, s ss, "/" the date separator, ":" the time separator, quoted text.
QString FormatDateTime(const QString& mask, const QDateTime& value);

} // namespace grid
