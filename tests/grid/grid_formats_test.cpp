// The conversions behind the editor's checks and the display masks.
#include <QTest>

#include "grid/grid_formats.h"
#include "tests/grid/grid_test_support.h"

using namespace grid;

class GridFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { SetFormatSettings(gridtest::ProgramSettings()); }

    void strictNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        QTest::newRow("digits") << "12" << true;
        QTest::newRow("leading blanks and sign") << "  -3" << true;
        QTest::newRow("fraction") << "+3.25" << true;
        QTest::newRow("point at the end") << "3." << true;
        QTest::newRow("point first") << ".5" << true;
        QTest::newRow("exponent") << "1.5e3" << true;
        QTest::newRow("signed exponent") << "1E-07" << true;
        QTest::newRow("comma") << "1,5" << false;
        QTest::newRow("trailing blank") << "12 " << false;
        QTest::newRow("exponent without digits") << "1e" << false;
        QTest::newRow("point alone") << "." << false;
        QTest::newRow("sign alone") << "-" << false;
        QTest::newRow("two points") << "1.2.3" << false;
        QTest::newRow("hex") << "0x10" << false;
        QTest::newRow("empty") << "" << false;
    }

    void strictNumber()
    {
        QFETCH(QString, text);
        QTEST(IsStrictNumber(text), "number");
    }

    void formatFloat_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("two decimals") << "0.00" << 3.5 << "3.50";
        QTest::newRow("rounding") << "0.0" << 2.25 << "2.3";
        QTest::newRow("optional decimals") << "0.##" << 2.5 << "2.5";
        QTest::newRow("optional decimals of a whole number") << "0.##" << 2.0 << "2";
        QTest::newRow("leading zeros") << "000" << 7.0 << "007";
        QTest::newRow("no integer zero") << "#.00" << 0.5 << ".50";
        QTest::newRow("grouping") << "#,##0" << 1234567.0 << "1 234 567";
        QTest::newRow("negative") << "0.0" << -1.25 << "-1.3";
        QTest::newRow("negative section") << "0.0;(0.0)" << -1.5 << "(1.5)";
        QTest::newRow("zero section") << "0.0;-0.0;zero" << 0.0 << "zero";
        QTest::newRow("literal text") << "0.00 \"zł\"" << 12.0 << "12.00 zł";
        QTest::newRow("exponent") << "0.00E+00" << 12345.0 << "1.23E+04";
        QTest::newRow("small exponent") << "0.0E-00" << 0.00125 << "1.3E-03";
    }

    void formatFloat()
    {
        QFETCH(QString, mask);
        QFETCH(double, value);
        QTEST(FormatFloat(mask, value), "text");
    }

    void strToFloatUsesTheDecimalSeparator()
    {
        QCOMPARE(StrToFloat(QStringLiteral(" 3.5 ")), std::optional<double>(3.5));
        QCOMPARE(StrToFloat(QStringLiteral("3,5")), std::nullopt);
        TFormatSettings comma = gridtest::ProgramSettings();
        comma.DecimalSeparator = u',';
        SetFormatSettings(comma);
        QCOMPARE(StrToFloat(QStringLiteral("3,5")), std::optional<double>(3.5));
        QCOMPARE(StrToFloat(QStringLiteral("3.5")), std::nullopt);
        QCOMPARE(FormatFloat(QStringLiteral("0.00"), 3.5), QStringLiteral("3,50"));
    }

    void dates_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written"); // empty: no date
        QTest::newRow("program format") << "yyyy/mm/dd"
                                        << "2024.02.05"
                                        << "2024.02.05";
        QTest::newRow("single digits") << "yyyy/mm/dd"
                                       << "2024.2.5"
                                       << "2024.02.05";
        QTest::newRow("leap day") << "yyyy/mm/dd"
                                  << "2024.02.29"
                                  << "2024.02.29";
        QTest::newRow("no leap day") << "yyyy/mm/dd"
                                     << "2023.02.29"
                                     << "";
        QTest::newRow("month 13") << "yyyy/mm/dd"
                                  << "2024.13.01"
                                  << "";
        QTest::newRow("wrong separator") << "yyyy/mm/dd"
                                         << "2024-02-05"
                                         << "";
        QTest::newRow("trailing text") << "yyyy/mm/dd"
                                       << "2024.02.05x"
                                       << "";
        QTest::newRow("four parts") << "yyyy/mm/dd"
                                    << "2024.02.05.1"
                                    << "";
        QTest::newRow("day first format") << "dd/mm/yyyy"
                                          << "5.2.2024"
                                          << "05.02.2024";
        QTest::newRow("huge number") << "dd/mm/yyyy"
                                     << "99999999999.2.2024"
                                     << "";
        QTest::newRow("empty") << "yyyy/mm/dd"
                               << ""
                               << "";
    }

    void dates()
    {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(QString, written);
        TFormatSettings s = gridtest::ProgramSettings();
        s.ShortDateFormat = format;
        SetFormatSettings(s);
        const auto date = StrToDate(text);
        QCOMPARE(date.has_value(), !written.isEmpty());
        if (date)
            QCOMPARE(DateToStr(*date), written);
    }

    void dayAndMonthAloneTakeThisYear()
    {
        const auto date = StrToDate(QStringLiteral("3.4"));
        QVERIFY(date);
        QCOMPARE(*date, QDate(QDate::currentDate().year(), 3, 4));
    }

    void formatDateTime_data()
    {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("text");
        QTest::newRow("day month year") << "dd/mm/yyyy"
                                        << "05.02.2024";
        QTest::newRow("short") << "d/m/yy"
                               << "5.2.24";
        QTest::newRow("minutes after hours") << "hh:mm"
                                             << "07:09";
        QTest::newRow("n for minutes") << "yyyy-mm-dd hh:nn:ss"
                                       << "2024-02-05 07:09:03";
        QTest::newRow("quoted text") << "\"dnia\" d"
                                     << "dnia 5";
    }

    void formatDateTime()
    {
        QFETCH(QString, mask);
        QTEST(FormatDateTime(mask, QDateTime(QDate(2024, 2, 5), QTime(7, 9, 3))), "text");
    }
};

QTEST_MAIN(GridFormatsTest)
#include "grid_formats_test.moc"
