// The column model: fallbacks and explicit values, change reports, fonts that follow the grid,
// Assign and ResetToFallbacks.
#include <QTest>

#include "tests/grid/grid_test_support.h"

using namespace grid;

namespace {

// A collection without a grid that counts its update notifications.
class CountingColumns : public TDataGridColumns
{
public:
    CountingColumns() : TDataGridColumns(nullptr) {}
    int Reports = 0;
    int AllItemReports = 0;

protected:
    void Update(TColumn* item) override
    {
        ++Reports;
        if (!item)
            ++AllItemReports;
    }
};

enum Action
{
    CaptionTwice,
    TitleAlignmentTwice,
    DisplayMaskTwice,
    AlignmentTwice,
    ColorTwice,
    ReadOnlyTwice,
    FormatTwice,
    ButtonStyleUnchanged,
    PlainFields,
    ColumnFontSize,
    TitleFontSize,
    InsideUpdateBracket,
};

} // namespace

class ColumnModelTest : public QObject
{
    Q_OBJECT

private slots:
    void freshColumnFollowsTheGrid()
    {
        TDataGrid g;
        g.SetColor(QColor(10, 20, 30));
        QFont font(QStringLiteral("DejaVu Serif"), 13);
        g.setFont(font);
        TColumn& c = g.Columns()[1];
        QCOMPARE(c.Color(), QColor(10, 20, 30));
        QCOMPARE(c.Font().Font(), font);
        QCOMPARE(c.Title().Font().Font(), font);
        QCOMPARE(c.Alignment(), taLeftJustify);
        QCOMPARE(c.Title().Alignment(), taLeftJustify);
        QCOMPARE(c.ReadOnly(), false);
        QCOMPARE(c.Title().Caption(), QString());
        QCOMPARE(c.DropDownRows(), 7u);
        QCOMPARE(c.ButtonStyle(), cbsAuto);
        QCOMPARE(c.Format(), cfString);
        QCOMPARE(c.ExplicitValues(), TExplicitValues(0));
        g.SetOptions(g.Options() & ~goEditing);
        QCOMPARE(c.ReadOnly(), true);
        // Explicit values stay whatever the grid does.
        c.SetColor(Qt::green);
        c.SetReadOnly(false);
        g.SetColor(Qt::blue);
        QCOMPARE(c.Color(), QColor(Qt::green));
        QCOMPARE(c.ReadOnly(), false);
        QCOMPARE(c.ExplicitValues(), TExplicitValues(evColor | evReadOnly));
    }

    void columnWithoutGrid()
    {
        CountingColumns columns;
        TColumn& c = columns.Add();
        QCOMPARE(c.ReadOnly(), true);
        QCOMPARE(c.Color(), QApplication::palette().color(QPalette::Base));
        QCOMPARE(c.OwningGrid(), nullptr);
        QCOMPARE(c.InternalCol(), -1);
    }

    void changeReports_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("reports");
        QTest::addColumn<int>("allItems");
        QTest::addColumn<int>("flags");
        QTest::newRow("caption set twice to the same text")
            << int(CaptionTwice) << 1 << 0 << int(evTitleCaption);
        QTest::newRow("title alignment twice") << int(TitleAlignmentTwice) << 1 << 0 << int(evTitleAlignment);
        QTest::newRow("display mask twice reports twice") << int(DisplayMaskTwice) << 2 << 0 << 0;
        QTest::newRow("alignment twice") << int(AlignmentTwice) << 1 << 0 << int(evAlignment);
        QTest::newRow("colour twice") << int(ColorTwice) << 1 << 0 << int(evColor);
        QTest::newRow("read-only twice") << int(ReadOnlyTwice) << 1 << 0 << int(evReadOnly);
        QTest::newRow("format twice") << int(FormatTwice) << 1 << 0 << 0;
        QTest::newRow("button style unchanged") << int(ButtonStyleUnchanged) << 0 << 0 << 0;
        QTest::newRow("mask, length, list limit, rows") << int(PlainFields) << 0 << 0 << 0;
        QTest::newRow("column font") << int(ColumnFontSize) << 1 << 0 << int(evFont);
        QTest::newRow("title font reports all columns") << int(TitleFontSize) << 1 << 1 << int(evTitleFont);
        QTest::newRow("one report after the bracket") << int(InsideUpdateBracket) << 1 << 1 << int(evColor);
    }

    void changeReports()
    {
        QFETCH(int, action);
        CountingColumns columns;
        TColumn& c = columns.Add();
        columns.Reports = 0;
        switch (static_cast<Action>(action)) {
        case CaptionTwice:
            c.Title().SetCaption(QStringLiteral("Numer"));
            c.Title().SetCaption(QStringLiteral("Numer"));
            break;
        case TitleAlignmentTwice:
            c.Title().SetAlignment(taCenter);
            c.Title().SetAlignment(taCenter);
            break;
        case DisplayMaskTwice:
            c.SetDisplayMask(QStringLiteral("0.00"));
            c.SetDisplayMask(QStringLiteral("0.00"));
            break;
        case AlignmentTwice:
            c.SetAlignment(taRightJustify);
            c.SetAlignment(taRightJustify);
            break;
        case ColorTwice:
            c.SetColor(Qt::red);
            c.SetColor(Qt::red);
            break;
        case ReadOnlyTwice:
            c.SetReadOnly(true);
            c.SetReadOnly(true);
            break;
        case FormatTwice:
            c.SetFormat(cfDate);
            c.SetFormat(cfDate);
            break;
        case ButtonStyleUnchanged:
            c.SetButtonStyle(cbsAuto);
            break;
        case PlainFields:
            c.SetEditMask(QStringLiteral("000"));
            c.SetMaxLength(3);
            c.SetLimitToList(true);
            c.SetDropDownRows(2);
            break;
        case ColumnFontSize:
            c.Font().SetPointSize(17);
            break;
        case TitleFontSize:
            c.Title().Font().SetPointSize(17);
            break;
        case InsideUpdateBracket:
            columns.BeginUpdate();
            c.SetColor(Qt::red);
            c.SetColor(Qt::blue);
            QCOMPARE(columns.Reports, 0);
            columns.EndUpdate();
            break;
        }
        QTEST(columns.Reports, "reports");
        QTEST(columns.AllItemReports, "allItems");
        QTEST(int(c.ExplicitValues()), "flags");
    }

    void formatClearsDisplayMask()
    {
        CountingColumns columns;
        TColumn& c = columns.Add();
        c.SetFormat(cfNumber);
        c.SetDisplayMask(QStringLiteral("0.00"));
        c.SetFormat(cfNumber);
        QCOMPARE(c.DisplayMask(), QStringLiteral("0.00"));
        c.SetFormat(cfDate);
        QCOMPARE(c.DisplayMask(), QString());
    }

    void fontsFollowTheGrid()
    {
        TDataGrid g;
        TColumn& c = g.Columns()[0];
        QFont bigger = g.font();
        bigger.setPointSize(bigger.pointSize() + 5);
        g.setFont(bigger);
        QCOMPARE(c.Font().Font(), bigger);
        QCOMPARE(c.Title().Font().Font(), bigger);
        QCOMPARE(c.ExplicitValues(), TExplicitValues(0)); // following is no explicit change

        // The colour alone: the title follows, the column keeps its colour.
        const QColor before = c.Font().Color();
        g.SetFontColor(Qt::magenta);
        QCOMPARE(c.Title().Font().Color(), QColor(Qt::magenta));
        QCOMPARE(c.Font().Color(), before);

        // An explicit font stays.
        c.Font().SetBold(true);
        QVERIFY((c.ExplicitValues() & evFont) != 0);
        QFont other = g.font();
        other.setPointSize(6);
        g.setFont(other);
        QVERIFY(c.Font().Font().bold());
        QVERIFY(c.Font().Font().pointSize() != 6);
        QCOMPARE(c.Title().Font().Font().pointSize(), 6);
    }

    void pickListCreatedOnRead()
    {
        CountingColumns columns;
        TColumn& source = columns.Add();
        TColumn& target = columns.Add();
        QVERIFY(!source.HasPickList());
        QVERIFY(source.PickList().isEmpty());
        QVERIFY(source.HasPickList());
        source.SetPickList(nullptr);
        QVERIFY(!source.HasPickList());
        target.Assign(source);
        QVERIFY(source.HasPickList()); // read by Assign
        QVERIFY(target.HasPickList());
        QVERIFY(target.PickList().isEmpty());
    }

    void assignCopiesExplicitValues()
    {
        TDataGrid g;
        g.SetColCount(2);
        TColumn& source = g.Columns()[0];
        TColumn& target = g.Columns()[1];
        source.SetColor(Qt::red);
        source.SetAlignment(taCenter);
        source.Title().SetCaption(QStringLiteral("Numer"));
        source.SetButtonStyle(cbsEllipsis);
        source.SetDropDownRows(3);
        source.PickList() = QStringList{"a", "b"};
        source.SetEditMask(QStringLiteral("000"));
        source.SetFormat(cfNumber);
        source.SetMaxLength(3);
        target.SetReadOnly(true); // reset by Assign
        target.Title().SetAlignment(taRightJustify);
        target.SetLimitToList(true); // not touched by Assign
        target.Assign(source);
        QCOMPARE(target.Color(), QColor(Qt::red));
        QCOMPARE(target.Alignment(), taCenter);
        QCOMPARE(target.Title().Caption(), QStringLiteral("Numer"));
        QCOMPARE(target.Title().Alignment(), taLeftJustify);
        QCOMPARE(target.ButtonStyle(), cbsEllipsis);
        QCOMPARE(target.DropDownRows(), 3u);
        QCOMPARE(target.PickList(), (QStringList{"a", "b"}));
        QCOMPARE(target.ExplicitValues(), TExplicitValues(evColor | evAlignment | evTitleCaption));
        QCOMPARE(target.EditMask(), QString());
        QCOMPARE(target.Format(), cfString);
        QCOMPARE(target.MaxLength(), 0);
        QCOMPARE(target.LimitToList(), true);
        QCOMPARE(target.ReadOnly(), false);
        QCOMPARE(g.ColCount(), 2);
    }

    void gridTakesOverAnotherCollection()
    {
        TDataGrid source;
        source.SetColCount(3);
        source.Columns()[2].Title().SetCaption(QStringLiteral("trzecia"));
        TDataGrid g;
        g.SetColumns(source.Columns());
        QCOMPARE(g.Columns().Count(), 3);
        QCOMPARE(g.ColCount(), 3);
        QCOMPARE(g.Columns()[2].Title().Caption(), QStringLiteral("trzecia"));
        QCOMPARE(g.Columns()[2].OwningGrid(), &g);
    }

    void resetToFallbacks()
    {
        TDataGrid g;
        TColumn& c = g.Columns()[0];
        c.SetColor(Qt::red);
        c.SetReadOnly(true);
        c.Font().SetBold(true);
        c.Title().SetCaption(QStringLiteral("Numer"));
        c.Title().Font().SetItalic(true);
        c.SetButtonStyle(cbsNone);
        c.PickList() = QStringList{"x"};
        c.SetFormat(cfDate);
        c.SetDisplayMask(QStringLiteral("dd/mm"));
        c.SetEditMask(QStringLiteral("00"));
        c.SetDropDownRows(2);

        c.Title().ResetToFallbacks();
        QCOMPARE(c.ExplicitValues(), TExplicitValues(evColor | evReadOnly | evFont));
        QCOMPARE(c.Title().Caption(), QString());
        QVERIFY(!c.Title().Font().Font().italic());

        c.ResetToFallbacks();
        QCOMPARE(c.ExplicitValues(), TExplicitValues(0));
        QCOMPARE(c.Color(), g.Color());
        QCOMPARE(c.ReadOnly(), false);
        QCOMPARE(c.Font().Font(), g.font());
        QCOMPARE(c.ButtonStyle(), cbsAuto);
        QVERIFY(!c.HasPickList());
        QCOMPARE(c.Format(), cfDate);
        QCOMPARE(c.DisplayMask(), QStringLiteral("dd/mm"));
        QCOMPARE(c.EditMask(), QStringLiteral("00"));
        QCOMPARE(c.DropDownRows(), 2u);
    }
};

QTEST_MAIN(ColumnModelTest)
#include "column_model_test.moc"
