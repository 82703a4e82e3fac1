// Writes docs/grid.png: a data grid with a background picture, a date column and an open pick
// list. Run under an X server of its own: xvfb-run -s "-screen 0 640x480x24" grid_screenshot OUT.
#include <cstdio>

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "grid/data_grid.h"
#include "grid/grid_formats.h"
#include "grid/inplace_edit.h"

using namespace grid;

namespace {

// A pale squared-paper tile.
QImage PaperTile()
{
    QImage tile(24, 24, QImage::Format_RGB32);
    tile.fill(QColor(250, 246, 232));
    QPainter p(&tile);
    p.setPen(QColor(214, 226, 240));
    p.drawLine(0, 23, 23, 23);
    p.drawLine(23, 0, 23, 23);
    p.setPen(QColor(236, 228, 206));
    p.drawLine(0, 11, 23, 11);
    p.drawLine(11, 0, 11, 23);
    return tile;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: grid_screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    TFormatSettings settings = FormatSettingsFromLocale(QLocale::system());
    settings.ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    settings.DateSeparator = u'.';
    settings.DecimalSeparator = u'.';
    SetFormatSettings(settings);

    TDataGrid g;
    g.setWindowTitle(QStringLiteral("TDataGrid"));
    g.SetPixelsPerInch(96);
    g.SetColCount(4);
    g.SetRowCount(7);
    g.SetFixedCols(0);
    g.SetDefaultRowHeight(20);
    g.SetOptions(g.Options() | goTabs);
    g.SetDataGridOptions(dgoAppendRow | dgoInsertRow | dgoDeleteRow);
    const int widths[] = {80, 80, 90, 110};
    const char* titles[] = {"Stary numer", "Nowy numer", "Data zmiany", "Gmina"};
    for (int c = 0; c < 4; ++c) {
        g.SetColWidths(c, widths[c]);
        g.Columns()[c].Title().SetCaption(QString::fromUtf8(titles[c]));
        g.Columns()[c].Title().SetAlignment(taCenter);
    }
    g.Columns()[0].SetAlignment(taRightJustify);
    g.Columns()[1].SetAlignment(taRightJustify);
    g.Columns()[2].SetFormat(cfDate);
    g.Columns()[2].SetDisplayMask(QStringLiteral("dd/mm/yyyy"));
    g.Columns()[3].PickList() =
        QStringList{QStringLiteral("Kraków"), QStringLiteral("Nowy Targ"), QStringLiteral("Wieliczka"),
                    QStringLiteral("Zakopane"), QStringLiteral("Myślenice")};
    const char* rows[][4] = {{"0601", "1201", "2024.01.15", "Kraków"},
                             {"0602", "1202", "2024.01.15", "Wieliczka"},
                             {"0603", "1203", "2024.03.02", "Nowy Targ"},
                             {"0604", "1204", "2024.03.02", ""}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            g.SetCells(c, r + 1, QString::fromUtf8(rows[r][c]));
    g.SetBGImage(PaperTile());
    g.resize(440, 200);
    g.move(20, 20);
    g.show();
    g.activateWindow();
    g.setFocus();

    int status = 1;
    QTimer::singleShot(300, [&] {
        g.FocusCell(3, 4);
        g.ShowEditor();
        auto* editor = static_cast<TDataGridInplaceEdit*>(g.InplaceEditor());
        editor->ShowPickList();
        QTimer::singleShot(300, [&, editor] {
            const QRect area =
                g.frameGeometry().united(editor->PickListBox()->frameGeometry()).adjusted(-8, -8, 8, 8);
            const QPixmap shot = g.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            status = shot.save(output) ? 0 : 1;
            app.quit();
        });
    });
    app.exec();
    if (status != 0)
        std::fprintf(stderr, "grid_screenshot: cannot write %s\n", argv[1]);
    return status;
}
