// Helpers of the data grid tests: a shown, focused grid of a known shape.
#pragma once

#include <memory>

#include <QApplication>
#include <QTest>

#include "grid/data_grid.h"
#include "grid/grid_formats.h"
#include "grid/inplace_edit.h"

namespace gridtest {

// A grid of cols x rows (one fixed row, no fixed column), 60-pixel columns and 20-pixel rows,
// shown in its own window with the keyboard focus.
inline std::unique_ptr<grid::TDataGrid> ShownGrid(int cols, int rows, grid::TGridOptions extra = 0)
{
    auto g = std::make_unique<grid::TDataGrid>();
    g->SetPixelsPerInch(96); // no scaling on the 96-dpi offscreen screen
    g->SetColCount(cols);
    g->SetRowCount(rows);
    g->SetFixedCols(0);
    g->SetFixedRows(1);
    g->SetDefaultRowHeight(20);
    for (int c = 0; c < cols; ++c)
        g->SetColWidths(c, 60);
    g->SetOptions(g->Options() | extra);
    g->resize(cols * 61 + 40, rows * 21 + 40);
    g->show();
    g->activateWindow();
    g->setFocus();
    if (!QTest::qWaitForWindowActive(g.get()))
        qWarning("grid window not active");
    return g;
}

// The editor the grid shows, or null.
inline grid::TDataGridInplaceEdit* Editor(grid::TDataGrid& g)
{
    auto* e = static_cast<grid::TDataGridInplaceEdit*>(g.InplaceEditor());
    return e && e->isVisible() ? e : nullptr;
}

// The widget that takes the keyboard now: the editor when it is shown, else the grid.
inline QWidget* KeyTarget(grid::TDataGrid& g)
{
    if (auto* e = Editor(g))
        return e;
    return &g;
}

// Types text key by key; letters beyond ASCII arrive as key events carrying their text.
inline void TypeText(QWidget* target, const QString& text)
{
    for (QChar ch : text) {
        if (ch.unicode() < 128)
            QTest::keyClick(target, static_cast<char>(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// Centre of a cell in viewport coordinates.
inline QPoint CellCentre(grid::TDataGrid& g, int col, int row)
{
    return g.CellRect(col, row).center();
}

// The settings the program sets before it edits: "yyyy.mm.dd" and "." everywhere.
inline grid::TFormatSettings ProgramSettings()
{
    grid::TFormatSettings s;
    s.ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    s.DateSeparator = u'.';
    s.DecimalSeparator = u'.';
    s.ThousandSeparator = u' ';
    s.TimeSeparator = u':';
    return s;
}

} // namespace gridtest
