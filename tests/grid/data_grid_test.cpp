// TDataGrid: column synchronisation, row commands driven by keys, the minimum row count, the
// popup menu of a column, the pixel density and the stored description.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "grid/grid_description.h"
#include "tests/grid/grid_test_support.h"

using namespace grid;
using gridtest::CellCentre;
using gridtest::Editor;
using gridtest::KeyTarget;
using gridtest::ShownGrid;

class DataGridTest : public QObject
{
    Q_OBJECT

private:
    // Records the grid's row events as text: "BeforeInsert", "AfterInsert 4", "BeforeDelete".
    QStringList Events;
    void Record(TDataGrid& g)
    {
        Events.clear();
        g.BeforeInsert = [this](QObject*) { Events << QStringLiteral("BeforeInsert"); };
        g.AfterInsert = [this](QObject*, int row) { Events << QStringLiteral("AfterInsert %1").arg(row); };
        g.BeforeDelete = [this](QObject*) { Events << QStringLiteral("BeforeDelete"); };
    }
    static void Fill(TDataGrid& g)
    {
        for (int r = 0; r < g.RowCount(); ++r)
            for (int c = 0; c < g.ColCount(); ++c)
                g.SetCells(c, r, QStringLiteral("%1%2").arg(QChar(u'a' + c)).arg(r));
    }
    static QStringList Column(TDataGrid& g, int col)
    {
        QStringList texts;
        for (int r = 0; r < g.RowCount(); ++r)
            texts << g.Cells(col, r);
        return texts;
    }

private slots:
    void newGridHasOneColumnPerBaseColumn()
    {
        TDataGrid g;
        QCOMPARE(g.ColCount(), 5);
        QCOMPARE(g.Columns().Count(), 5);
        for (int i = 0; i < 5; ++i)
            g.Columns()[i].Title().SetCaption(QString::number(i));
        g.SetColCount(3);
        QCOMPARE(g.Columns().Count(), 3);
        QCOMPARE(g.Columns()[2].Title().Caption(), QStringLiteral("2")); // surplus went from the end
        TColumn& added = g.Columns().Add();
        QCOMPARE(g.ColCount(), 4);
        QCOMPARE(added.InternalCol(), 3);
        g.Columns().Delete(0);
        QCOMPARE(g.ColCount(), 3);
        QCOMPARE(g.Columns().Count(), 3);
        g.SetColCount(6);
        QCOMPARE(g.Columns().Count(), 6);
    }

    void columnMoveKeepsInternalCol()
    {
        TDataGrid g;
        g.SetFixedCols(0);
        g.SetColCount(3);
        Fill(g);
        TColumn* third = &g.Columns()[2];
        third->Title().SetCaption(QStringLiteral("third"));
        g.MoveColumn(2, 0);
        QCOMPARE(&g.Columns()[0], third);
        QCOMPARE(third->InternalCol(), 2);
        QCOMPARE(g.Cells(0, 1), QStringLiteral("c1"));
        QCOMPARE(g.Cells(1, 1), QStringLiteral("a1"));
    }

    void columnDraggedByItsTitle()
    {
        auto g = ShownGrid(3, 3, goColMoving);
        Fill(*g);
        TColumn* first = &g->Columns()[0];
        const QPoint from = CellCentre(*g, 0, 0);
        const QPoint to = CellCentre(*g, 2, 0);
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(g->viewport(), to);
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(&g->Columns()[2], first);
        QCOMPARE(Column(*g, 2), (QStringList{"a0", "a1", "a2"}));
        QCOMPARE(Column(*g, 0), (QStringList{"b0", "b1", "b2"}));
        // Without goColMoving a drag of a title moves nothing.
        g->SetOptions(g->Options() & ~goColMoving);
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, to);
        QCOMPARE(&g->Columns()[2], first);
    }

    void typedTextReachesTheCellAtOnce()
    {
        auto g = ShownGrid(2, 3);
        g->FocusCell(1, 1);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, CellCentre(*g, 1, 1));
        QVERIFY(Editor(*g));
        QTest::keyClicks(Editor(*g), QStringLiteral("123"));
        QCOMPARE(g->Cells(1, 1), QStringLiteral("123"));
        // A click on another cell leaves the editor and moves there.
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, CellCentre(*g, 0, 2));
        QCOMPARE(g->Col(), 0);
        QCOMPARE(g->Row(), 2);
        QCOMPARE(g->Cells(1, 1), QStringLiteral("123"));
        // Typing on the grid opens the editor with the character.
        QTest::keyClicks(g.get(), QStringLiteral("x"));
        QVERIFY(Editor(*g));
        QCOMPARE(g->Cells(0, 2), QStringLiteral("x"));
        // Esc only drops its own character: the text typed stays, in the editor still open.
        QTest::keyClick(Editor(*g), Qt::Key_Escape);
        QCOMPARE(g->Cells(0, 2), QStringLiteral("x"));
        QVERIFY(Editor(*g));
        QCOMPARE(Editor(*g)->text(), QStringLiteral("x"));
    }

    void editorAlwaysShownWhileTheGridHasTheFocus()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* g = new TDataGrid;
        auto* other = new QLineEdit;
        layout->addWidget(g);
        layout->addWidget(other);
        g->SetOptions(g->Options() | goAlwaysShowEditor);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QVERIFY(!Editor(*g));
        g->setFocus(Qt::TabFocusReason);
        QVERIFY(Editor(*g));
        QCOMPARE(QApplication::focusWidget(), Editor(*g));
        // Moving between cells keeps it; leaving the grid hides it.
        QTest::keyClick(Editor(*g), Qt::Key_Down);
        QVERIFY(Editor(*g));
        QCOMPARE(Editor(*g)->EditRow(), 2);
        QTest::mouseClick(other, Qt::LeftButton);
        QVERIFY(!Editor(*g));
    }

    void rowCommandKeys_data()
    {
        QTest::addColumn<bool>("editing");
        QTest::addColumn<int>("options");
        QTest::addColumn<int>("startCol");
        QTest::addColumn<int>("startRow");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("events");

        const int all = dgoAppendRow | dgoInsertRow | dgoDeleteRow;
        const QStringList appended{QStringLiteral("BeforeInsert"), QStringLiteral("AfterInsert 4")};
        for (bool editing : {false, true}) {
            const char* mode = editing ? "editor: " : "grid: ";
            auto name = [mode](const char* what) { return QByteArray(mode) + what; };
            QTest::newRow(name("Down in the last row appends"))
                << editing << all << 0 << 3 << int(Qt::Key_Down) << 0 << 5 << 0 << 4 << appended;
            QTest::newRow(name("Shift+Down in the last row appends"))
                << editing << all << 0 << 3 << int(Qt::Key_Down) << int(Qt::ShiftModifier) << 5 << 0 << 4
                << appended;
            QTest::newRow(name("Down elsewhere only moves"))
                << editing << all << 0 << 2 << int(Qt::Key_Down) << 0 << 4 << 0 << 3 << QStringList();
            QTest::newRow(name("Down without dgoAppendRow stays"))
                << editing << int(dgoInsertRow) << 0 << 3 << int(Qt::Key_Down) << 0 << 4 << 0 << 3
                << QStringList();
            QTest::newRow(name("Tab in the last cell appends"))
                << editing << all << 1 << 3 << int(Qt::Key_Tab) << 0 << 5 << 0 << 4 << appended;
            QTest::newRow(name("Tab in the last row, first column, moves right"))
                << editing << all << 0 << 3 << int(Qt::Key_Tab) << 0 << 4 << 1 << 3 << QStringList();
            QTest::newRow(name("Shift+Tab in the last cell does not append"))
                << editing << all << 1 << 3 << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 4 << 0 << 3
                << QStringList();
            QTest::newRow(name("Ctrl+Insert inserts at the current row"))
                << editing << all << 0 << 2 << int(Qt::Key_Insert) << int(Qt::ControlModifier) << 5 << 0 << 2
                << QStringList{QStringLiteral("BeforeInsert"), QStringLiteral("AfterInsert 2")};
            QTest::newRow(name("Insert without Ctrl does nothing to rows"))
                << editing << all << 0 << 2 << int(Qt::Key_Insert) << 0 << 4 << 0 << 2 << QStringList();
            QTest::newRow(name("Ctrl+Delete removes the current row"))
                << editing << all << 0 << 2 << int(Qt::Key_Delete) << int(Qt::ControlModifier) << 3 << 0 << 2
                << QStringList{QStringLiteral("BeforeDelete")};
            QTest::newRow(name("Ctrl+Delete without dgoDeleteRow keeps the row"))
                << editing << int(dgoAppendRow) << 0 << 2 << int(Qt::Key_Delete) << int(Qt::ControlModifier)
                << 4 << 0 << 2 << QStringList();
        }
    }

    void rowCommandKeys()
    {
        QFETCH(bool, editing);
        QFETCH(int, options);
        QFETCH(int, startCol);
        QFETCH(int, startRow);
        QFETCH(int, key);
        QFETCH(int, modifiers);

        auto g = ShownGrid(2, 4, goTabs);
        g->SetDataGridOptions(static_cast<TDataGridOptions>(options));
        g->FocusCell(startCol, startRow);
        if (editing) {
            QTest::keyClick(g.get(), Qt::Key_F2);
            QVERIFY(Editor(*g));
        }
        Record(*g);
        QTest::keyClick(KeyTarget(*g), static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));
        QTEST(g->RowCount(), "rowCount");
        QTEST(g->Col(), "col");
        QTEST(g->Row(), "row");
        QTEST(Events, "events");
        QCOMPARE(g->Columns().Count(), g->ColCount());
        if (editing) {
            // The editor stays and stands on the current cell.
            QVERIFY(Editor(*g));
            QCOMPARE(Editor(*g)->geometry(), g->CellRect(g->Col(), g->Row()));
        }
    }

    void editorFollowsTheCurrentCellWhenScrolling()
    {
        auto g = ShownGrid(2, 40);
        g->resize(160, 120);
        Fill(*g);
        g->FocusCell(0, 1);
        QTest::keyClick(g.get(), Qt::Key_F2);
        for (int i = 0; i < 30; ++i)
            QTest::keyClick(Editor(*g), Qt::Key_Down);
        QCOMPARE(g->Row(), 31);
        QVERIFY(g->TopRow() > 1);
        QVERIFY(!g->CellRect(0, 31).isEmpty());
        QCOMPARE(Editor(*g)->geometry(), g->CellRect(0, 31));
        QCOMPARE(Editor(*g)->text(), QStringLiteral("a31"));
        QTest::keyClick(Editor(*g), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(g->Row(), 1);
        QCOMPARE(g->TopRow(), 1);
        QCOMPARE(Editor(*g)->geometry(), g->CellRect(0, 1));
    }

    void insertRowMovesTheRowsBelow()
    {
        auto g = ShownGrid(2, 5);
        g->SetDataGridOptions(dgoInsertRow);
        Fill(*g);
        g->FocusCell(1, 3);
        Record(*g);
        QTest::keyClick(g.get(), Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(Column(*g, 0), (QStringList{"a0", "a1", "a2", "", "a3", "a4"}));
        QCOMPARE(Column(*g, 1), (QStringList{"b0", "b1", "b2", "", "b3", "b4"}));
        QCOMPARE(Events.last(), QStringLiteral("AfterInsert 3"));
    }

    void removeRow_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("rowCountMin");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("fixedColumn");
        QTest::addColumn<QStringList>("dataColumn");

        QTest::newRow("only data row is emptied, fixed column kept")
            << 2 << 0 << 1 << QStringList{"a0", "a1"} << QStringList{"b0", ""};
        QTest::newRow("at RowCountMin the row is emptied")
            << 5 << 5 << 2 << QStringList{"a0", "a1", "a2", "a3", "a4"}
            << QStringList{"b0", "b1", "", "b3", "b4"};
        QTest::newRow("above RowCountMin the row goes")
            << 5 << 3 << 2 << QStringList{"a0", "a1", "a3", "a4"} << QStringList{"b0", "b1", "b3", "b4"};
        QTest::newRow("without RowCountMin the row goes")
            << 5 << 0 << 2 << QStringList{"a0", "a1", "a3", "a4"} << QStringList{"b0", "b1", "b3", "b4"};
        QTest::newRow("the last row goes")
            << 4 << 0 << 3 << QStringList{"a0", "a1", "a2"} << QStringList{"b0", "b1", "b2"};
    }

    void removeRow()
    {
        QFETCH(int, rows);
        QFETCH(int, rowCountMin);
        QFETCH(int, current);
        auto g = ShownGrid(2, rows);
        g->SetFixedCols(1);
        g->SetDataGridOptions(dgoDeleteRow);
        g->SetRowCountMin(rowCountMin);
        Fill(*g);
        g->FocusCell(1, current);
        Record(*g);
        QTest::keyClick(g.get(), Qt::Key_Delete, Qt::ControlModifier);
        QTEST(Column(*g, 0), "fixedColumn");
        QTEST(Column(*g, 1), "dataColumn");
        QCOMPARE(Events, QStringList{QStringLiteral("BeforeDelete")});
        QVERIFY(g->Row() < g->RowCount());
    }

    void removeRowReloadsTheEditor()
    {
        auto g = ShownGrid(1, 4);
        g->SetDataGridOptions(dgoDeleteRow);
        Fill(*g);
        g->FocusCell(0, 2);
        QTest::keyClick(g.get(), Qt::Key_F2);
        QVERIFY(Editor(*g));
        QTest::keyClick(Editor(*g), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Editor(*g)->text(), QStringLiteral("a3"));
    }

    void rowCommandsLeaveFixedRowsAlone()
    {
        TDataGrid g;
        g.SetColCount(2);
        g.SetRowCount(3);
        Fill(g);
        Record(g);
        g.RemoveRow(0);
        g.InsertRow(0);
        g.RemoveRow(7);
        g.InsertRow(-1);
        QCOMPARE(g.RowCount(), 3);
        QCOMPARE(Column(g, 1), (QStringList{"b0", "b1", "b2"}));
        QCOMPARE(Events, QStringList());
        g.InsertRow(3); // at RowCount: a new last row
        QCOMPARE(Column(g, 1), (QStringList{"b0", "b1", "b2", ""}));
    }

    void rowCountMin_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("rowCount");
        QTest::newRow("negative stores 0") << -3 << 0 << 5;
        QTest::newRow("larger grows the grid") << 8 << 8 << 8;
        QTest::newRow("smaller keeps the rows") << 3 << 3 << 5;
    }

    void rowCountMin()
    {
        QFETCH(int, value);
        TDataGrid g;
        QCOMPARE(g.RowCount(), 5);
        g.SetRowCountMin(value);
        QTEST(g.RowCountMin(), "stored");
        QTEST(g.RowCount(), "rowCount");
    }

    void columnWidthDraggedInTheTitleRow()
    {
        auto g = ShownGrid(2, 3);
        const QRect title = g->CellRect(0, 0);
        const QPoint current(g->Col(), g->Row());
        const QPoint border(title.right() + 1, title.center().y());
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, border);
        QTest::mouseMove(g->viewport(), border + QPoint(25, 0));
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, border + QPoint(25, 0));
        QCOMPARE(g->ColWidths(0), 85);
        QCOMPARE(QPoint(g->Col(), g->Row()), current); // no cell was chosen on the way
        // The same drag among the data rows chooses cells instead.
        const QRect data = g->CellRect(0, 2);
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, QPoint(data.right() + 1, data.center().y()));
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, QPoint(data.right() + 1, data.center().y()));
        QCOMPARE(g->ColWidths(0), 85);
        QCOMPARE(g->Row(), 2);
        g->SetOptions(g->Options() & ~goColSizing);
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, QPoint(g->CellRect(0, 0).right() + 1, 5));
        QTest::mouseMove(g->viewport(), QPoint(g->CellRect(0, 0).right() + 30, 5));
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, QPoint(g->CellRect(0, 0).right() + 30, 5));
        QCOMPARE(g->ColWidths(0), 85);
    }

    void versionAndSelectedIndex()
    {
        auto g = ShownGrid(3, 3);
        g->SetVersion(QStringLiteral("9.9"));
        QCOMPARE(g->Version(), QStringLiteral("2.0"));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, CellCentre(*g, 2, 1));
        QCOMPARE(g->SelectedIndex(), 2);
        g->SetSelectedIndex(1);
        QCOMPARE(g->Col(), 1);
    }

    void editMaskComesFromColumnAndEvent()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].SetEditMask(QStringLiteral("99-999"));
        g->FocusCell(1, 1);
        QTest::keyClick(g.get(), Qt::Key_F2);
        QCOMPARE(Editor(*g)->inputMask(), QStringLiteral("99-999"));
        QTest::keyClicks(Editor(*g), QStringLiteral("12a345"));
        QCOMPARE(g->Cells(1, 1), QStringLiteral("12-345"));
        g->OnGetEditMask = [](QObject*, int col, int, QString& value) {
            if (col == 0)
                value = QStringLiteral("000");
        };
        QTest::keyClick(Editor(*g), Qt::Key_Left, Qt::ControlModifier);
        QTest::keyClick(Editor(*g), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(g->Col(), 0);
        QCOMPARE(Editor(*g)->inputMask(), QStringLiteral("000"));
    }

    void popupMenuOfTheColumnUnderThePointer()
    {
        auto g = ShownGrid(2, 3);
        QMenu menu;
        menu.addAction(QStringLiteral("Kopiuj"));
        g->Columns()[1].SetPopupMenu(&menu);
        const QPoint inOther = CellCentre(*g, 0, 1);
        QTest::mouseClick(g->viewport(), Qt::RightButton, {}, inOther);
        QVERIFY(!menu.isVisible());
        for (int row : {0, 2}) {
            const QPoint at = CellCentre(*g, 1, row);
            QTest::mouseClick(g->viewport(), Qt::RightButton, {}, at);
            QTRY_VERIFY(menu.isVisible());
            QCOMPARE(menu.property("PopupComponent").value<QObject*>(), g.get());
            QCOMPARE(menu.pos(), g->viewport()->mapToGlobal(at));
            menu.hide();
        }
    }

    void destroyedPopupMenuIsForgotten()
    {
        TDataGrid g;
        auto* menu = new QMenu;
        g.Columns()[0].SetPopupMenu(menu);
        delete menu;
        QCOMPARE(g.Columns()[0].PopupMenu(), nullptr);
    }

    void pixelDensity_data()
    {
        QTest::addColumn<int>("designed");
        QTest::addColumn<int>("screen");
        QTest::addColumn<int>("rowHeight");
        QTest::addColumn<int>("width0");
        QTest::addColumn<int>("width1");
        QTest::newRow("96 on 120") << 96 << 120 << 20 << 94 << 91;
        QTest::newRow("120 on 96") << 120 << 96 << 13 << 60 << 58;
        QTest::newRow("same density") << 96 << 96 << 16 << 75 << 73;
        QTest::newRow("no designed density") << 0 << 120 << 16 << 75 << 73;
    }

    void pixelDensity()
    {
        QFETCH(int, designed);
        QFETCH(int, screen);
        TDataGrid g;
        g.SetColCount(2);
        g.SetDefaultRowHeight(16);
        g.SetColWidths(0, 75);
        g.SetColWidths(1, 73);
        g.SetPixelsPerInch(designed);
        g.ApplyPixelDensity(screen);
        QTEST(g.DefaultRowHeight(), "rowHeight");
        QTEST(g.RowHeights(1), "rowHeight");
        QTEST(g.ColWidths(0), "width0");
        QTEST(g.ColWidths(1), "width1");
    }

    void densityAppliedOnceWhenShown()
    {
        // A grid made in code is designed at 120 pixels per inch; the offscreen screen has 96.
        TDataGrid g;
        QCOMPARE(g.DefaultRowHeight(), 20);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCOMPARE(g.DefaultRowHeight(), 16);
        g.hide();
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCOMPARE(g.DefaultRowHeight(), 16);
        // A description loaded into the shown grid is scaled from its own density.
        QByteArray description = RenumberingDescription();
        description.replace("\"PixelsPerInch\": 96", "\"PixelsPerInch\": 192");
        QVERIFY(LoadGridDescription(g, description));
        QCOMPARE(g.DefaultRowHeight(), 8);
        QCOMPARE(g.ColWidths(0), 38);
    }

    void descriptionRoundTrip()
    {
        TDataGrid g;
        g.SetColCount(3);
        g.SetRowCount(4);
        g.SetFixedCols(0);
        g.SetOptions(g.Options() | goTabs);
        g.SetColWidths(0, 75);
        g.SetDataGridOptions(dgoAppendRow | dgoDeleteRow);
        g.SetRowCountMin(2);
        g.SetPixelsPerInch(96);
        g.Columns()[0].Title().SetCaption(QStringLiteral("Stary numer"));
        g.Columns()[1].SetAlignment(taRightJustify);
        g.Columns()[1].SetColor(Qt::yellow);
        g.Columns()[1].SetFormat(cfNumber);
        g.Columns()[1].SetDisplayMask(QStringLiteral("0.00"));
        g.Columns()[1].PickList() = QStringList{"1", "2"};
        g.Columns()[2].SetFormat(cfDate);
        g.Columns()[2].SetButtonStyle(cbsEllipsis);
        g.Columns()[2].SetDropDownRows(3);
        g.Columns()[2].SetLimitToList(true);
        g.Columns()[2].SetMaxLength(10);
        g.Columns()[2].SetEditMask(QStringLiteral("0000.00.00"));
        g.Columns()[2].SetReadOnly(true);
        TFont bold = g.Columns()[2].Font();
        bold.SetBold(true);
        g.Columns()[2].Title().SetFont(bold);
        g.FocusCell(2, 1);
        const QByteArray saved = SaveGridDescription(g);

        TDataGrid h;
        QString error;
        QVERIFY2(LoadGridDescription(h, saved, &error), qPrintable(error));
        QCOMPARE(SaveGridDescription(h), saved);
        QCOMPARE(h.ColCount(), 3);
        QCOMPARE(h.Columns().Count(), 3);
        QCOMPARE(h.RowCount(), 4);
        QCOMPARE(h.SelectedIndex(), 2);
        QCOMPARE(h.Columns()[1].Color(), QColor(Qt::yellow));
        QCOMPARE(h.Columns()[1].DisplayMask(), QStringLiteral("0.00"));
        QCOMPARE(h.Columns()[2].Format(), cfDate);
        QVERIFY(h.Columns()[2].Title().Font().Font().bold());
        QVERIFY(h.Columns()[2].ReadOnly());
    }

    void descriptionWritesOnlyOwnValues()
    {
        TDataGrid g;
        g.SetColCount(1);
        TColumn& c = g.Columns()[0];
        c.SetAlignment(taLeftJustify);   // explicit, but the fallback's value
        c.Title().SetCaption(QString()); // explicit, but empty
        c.SetReadOnly(false);            // explicit, but what goEditing gives
        c.SetColor(g.Color());           // explicit, but the grid's colour
        c.Title().SetAlignment(taLeftJustify);
        const QJsonObject column =
            QJsonDocument::fromJson(SaveGridDescription(g)).object()["Columns"].toArray()[0].toObject();
        QCOMPARE(column.keys(), QStringList{QStringLiteral("DisplayMask")});
    }

    // The renumbering dialog builds its grid from a description like this one.
    static QByteArray RenumberingDescription()
    {
        return R"({
            "ColCount": 2, "RowCount": 2, "FixedCols": 0, "FixedRows": 1,
            "DefaultColWidth": 64, "DefaultRowHeight": 16,
            "Options": ["goFixedVertLine", "goFixedHorzLine", "goVertLine", "goHorzLine", "goColSizing",
                        "goEditing", "goTabs"],
            "ColWidths": [75, 73],
            "Columns": [{"Title": {"Caption": "Stary numer"}}, {"Title": {"Caption": "Nowy numer"}}],
            "DataGridOptions": ["dgoAppendRow", "dgoInsertRow", "dgoDeleteRow"],
            "RowCountMin": 0, "SelectedIndex": 0, "Version": "2.0", "PixelsPerInch": 96})";
    }

    void descriptionOfTheRenumberingGrid()
    {
        const QByteArray description = RenumberingDescription();
        TDataGrid g;
        QString error;
        QVERIFY2(LoadGridDescription(g, description, &error), qPrintable(error));
        QCOMPARE(g.ColCount(), 2);
        QCOMPARE(g.Columns().Count(), 2);
        QCOMPARE(g.RowCount(), 2);
        QCOMPARE(g.FixedCols(), 0);
        QCOMPARE(g.RowHeights(1), 16);
        QCOMPARE(g.ColWidths(1), 73);
        QCOMPARE(g.Columns()[1].Title().Caption(), QStringLiteral("Nowy numer"));
        QCOMPARE(g.DataGridOptions(), TDataGridOptions(dgoAppendRow | dgoInsertRow | dgoDeleteRow));
        QVERIFY((g.Options() & goTabs) != 0);
        QCOMPARE(g.Columns()[1].InternalCol(), 1);
    }

    void renumberingTableTypedWithTheKeyboard()
    {
        TDataGrid g;
        QVERIFY(LoadGridDescription(g, RenumberingDescription()));
        g.resize(177, 257);
        g.show();
        g.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&g));
        g.setFocus();
        // Typing opens the editor; Tab goes to the next cell and, from the last cell, to a new row.
        for (const char* text : {"1201", "0601", "1202", "0602"}) {
            for (QChar ch : QString::fromLatin1(text)) // the first key opens the editor
                gridtest::TypeText(gridtest::KeyTarget(g), QString(ch));
            QTest::keyClick(gridtest::KeyTarget(g), Qt::Key_Tab);
        }
        QCOMPARE(g.RowCount(), 4);
        QCOMPARE(Column(g, 0), (QStringList{"", "1201", "1202", ""}));
        QCOMPARE(Column(g, 1), (QStringList{"", "0601", "0602", ""}));
        QCOMPARE(g.Row(), 3);
        // The empty last row goes with Ctrl+Delete; then the first row.
        QTest::keyClick(gridtest::KeyTarget(g), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(g.RowCount(), 3);
        g.SetRow(1);
        QTest::keyClick(gridtest::KeyTarget(g), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Column(g, 0), (QStringList{"", "1202"}));
        // The only data row is emptied, not removed.
        QTest::keyClick(gridtest::KeyTarget(g), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(g.RowCount(), 2);
        QCOMPARE(Column(g, 1), (QStringList{"", ""}));
        // What the dialog's add button does: AppendRow, then the last row becomes current.
        g.AppendRow();
        g.SetRow(g.RowCount() - 1);
        g.AppendRow();
        g.SetRow(g.RowCount() - 1);
        QCOMPARE(g.RowCount(), 4);
        QCOMPARE(g.Row(), 3);
    }

    void damagedDescriptionIsRefused_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("error");
        QTest::newRow("huge row count") << QByteArray("RowCount") << QByteArray("100000000")
                                        << QStringLiteral("grid.RowCount: 100000000 outside 0..10000");
        QTest::newRow("negative column count")
            << QByteArray("ColCount") << QByteArray("-1") << QStringLiteral("grid.ColCount: -1 outside");
        QTest::newRow("fraction") << QByteArray("FixedRows") << QByteArray("0.5")
                                  << QStringLiteral("grid.FixedRows: not a whole number");
        QTest::newRow("fixed rows fill the grid") << QByteArray("FixedRows") << QByteArray("2")
                                                  << QStringLiteral("grid.FixedRows: not below RowCount");
        QTest::newRow("unknown option") << QByteArray("Options") << QByteArray(R"(["goFly"])")
                                        << QStringLiteral("grid.Options: unknown option \"goFly\"");
        QTest::newRow("widths for other columns")
            << QByteArray("ColWidths") << QByteArray("[1, 2, 3]")
            << QStringLiteral("grid.ColWidths: not a list of ColCount widths");
        QTest::newRow("bad column format")
            << QByteArray("Columns") << QByteArray(R"([{"Format": "cfMoney"}])")
            << QStringLiteral("Columns[0].Format: unknown value \"cfMoney\"");
        QTest::newRow("bad title font")
            << QByteArray("Columns") << QByteArray(R"([{}, {"Title": {"Font": {"Name": "x"}}}])")
            << QStringLiteral("Columns[1].Title.Font.Size: not a whole number");
        QTest::newRow("pick list of numbers") << QByteArray("Columns") << QByteArray(R"([{"PickList": [1]}])")
                                              << QStringLiteral("Columns[0].PickList: not a list of texts");
        QTest::newRow("not JSON") << QByteArray() << QByteArray() << QStringLiteral("description:");
    }

    void damagedDescriptionIsRefused()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QString, error);
        QJsonObject o{{"ColCount", 2},           {"RowCount", 2},           {"FixedCols", 0},
                      {"FixedRows", 1},          {"DefaultColWidth", 64},   {"DefaultRowHeight", 16},
                      {"Options", QJsonArray{}}, {"Columns", QJsonArray{}}, {"DataGridOptions", QJsonArray{}},
                      {"RowCountMin", 0},        {"SelectedIndex", 0},      {"PixelsPerInch", 96}};
        QByteArray text = "{ not json";
        if (!key.isEmpty()) {
            o[QString::fromLatin1(key)] = QJsonDocument::fromJson("[" + value + "]").array().at(0);
            text = QJsonDocument(o).toJson();
        }
        TDataGrid g;
        g.Columns()[0].Title().SetCaption(QStringLiteral("kept"));
        QString message;
        QVERIFY(!LoadGridDescription(g, text, &message));
        QVERIFY2(message.startsWith(error), qPrintable(message));
        QCOMPARE(g.ColCount(), 5);
        QCOMPARE(g.Columns()[0].Title().Caption(), QStringLiteral("kept"));
    }
};

QTEST_MAIN(DataGridTest)
#include "data_grid_test.moc"
