// The drawing of TDataGrid checked on rendered images: where text starts, titles, display masks,
// column colours, and the background picture with its inverted selected cell.
#include <QPainter>
#include <QTest>

#include "tests/grid/grid_test_support.h"

using namespace grid;
using gridtest::ShownGrid;

namespace {

QImage Render(TDataGrid& g)
{
    return g.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage CellImage(TDataGrid& g, int col, int row)
{
    return Render(g).copy(g.CellRect(col, row));
}

// The pixels inside rect that differ from the background colour.
QRect Ink(const QImage& image, const QRect& rect, QRgb background)
{
    QRect ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != background)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// A picture whose every pixel tells where it is: red = 30 x, green = 30 y.
QImage Tile()
{
    QImage tile(8, 6, QImage::Format_RGB32);
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x)
            tile.setPixel(x, y, qRgb(20 + 30 * x, 20 + 30 * y, 90));
    return tile;
}

QRgb TileAt(QPoint p, bool inverted)
{
    const QImage tile = Tile();
    const QRgb c = tile.pixel(p.x() % tile.width(), p.y() % tile.height());
    return inverted ? qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c)) : c;
}

} // namespace

class DrawingTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { SetFormatSettings(gridtest::ProgramSettings()); }

    void textPosition_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::newRow("left: 2 pixels from the left edge") << int(taLeftJustify);
        QTest::newRow("right: 3 pixels from the right edge") << int(taRightJustify);
        QTest::newRow("centred") << int(taCenter);
    }

    void textPosition()
    {
        QFETCH(int, alignment);
        auto g = ShownGrid(2, 4);
        g->SetColWidths(1, 90);
        g->SetDefaultRowHeight(22);
        TColumn& c = g->Columns()[1];
        c.SetAlignment(static_cast<TAlignment>(alignment));
        const QString text = QStringLiteral("HMH");
        g->SetCells(1, 2, text);
        g->FocusCell(0, 1);
        const QRect cell = g->CellRect(1, 2);
        const QImage image = Render(*g);

        // The same text drawn where the contract puts it, with the cell's font and colours.
        const QFontMetrics metrics(c.Font().Font());
        const int width = metrics.horizontalAdvance(text);
        int x = 2;
        if (alignment == taRightJustify)
            x = cell.width() - width - 3;
        else if (alignment == taCenter)
            x = cell.width() / 2 - width / 2;
        QImage expected(cell.size(), QImage::Format_RGB32);
        expected.fill(c.Color());
        {
            QPainter p(&expected);
            p.setFont(c.Font().Font());
            p.setPen(c.Font().Color());
            p.drawText(QPoint(x, 2 + metrics.ascent()), text);
        }
        const QRgb background = c.Color().rgb();
        const QRect ink = Ink(image, cell, background).translated(-cell.topLeft());
        QVERIFY(!ink.isEmpty());
        QCOMPARE(ink, Ink(expected, expected.rect(), background));
        if (alignment == taRightJustify)
            QVERIFY(ink.right() < cell.width() - 3);
    }

    void titles()
    {
        auto g = ShownGrid(3, 3);
        g->SetCells(0, 0, QStringLiteral("raw"));
        g->SetCells(1, 0, QStringLiteral("Numer"));
        g->SetCells(2, 0, QStringLiteral("raw"));
        g->Columns()[0].Title().SetCaption(QStringLiteral("Numer"));
        g->Columns()[2].Title().SetCaption(QString());
        const QImage captioned = CellImage(*g, 0, 0);
        QCOMPARE(captioned, CellImage(*g, 1, 0));  // the caption replaces the cell text
        QVERIFY(CellImage(*g, 2, 0) != captioned); // an empty caption lets the text show
        g->SetCells(2, 0, QStringLiteral("Numer"));
        QCOMPARE(CellImage(*g, 2, 0), captioned);
        // Title alignment and font come from the title, not the column.
        g->Columns()[0].SetAlignment(taRightJustify);
        QCOMPARE(CellImage(*g, 0, 0), captioned);
        g->Columns()[0].Title().SetAlignment(taRightJustify);
        QVERIFY(CellImage(*g, 0, 0) != captioned);
    }

    void displayMasks_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QChar>("decimal");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("number with two decimals") << int(cfNumber) << "0.00" << QChar(u'.') << "3.5"
                                                  << "3.50";
        QTest::newRow("platform separator") << int(cfNumber) << "0.00" << QChar(u',') << "3,5"
                                            << "3,50";
        QTest::newRow("grouping") << int(cfNumber) << "#,##0.0" << QChar(u'.') << "1234567.25"
                                  << "1 234 567.3";
        QTest::newRow("no number") << int(cfNumber) << "0.00" << QChar(u'.') << "abc"
                                   << "abc";
        QTest::newRow("no mask") << int(cfNumber) << "" << QChar(u'.') << "3.5"
                                 << "3.5";
        QTest::newRow("date") << int(cfDate) << "dd/mm/yy" << QChar(u'.') << "2024.02.05"
                              << "05.02.24";
        QTest::newRow("no date") << int(cfDate) << "dd/mm/yy" << QChar(u'.') << "jutro"
                                 << "jutro";
        QTest::newRow("text columns ignore the mask") << int(cfString) << "0.00" << QChar(u'.') << "3.5"
                                                      << "3.5";
    }

    void displayMasks()
    {
        QFETCH(int, format);
        QFETCH(QString, mask);
        QFETCH(QChar, decimal);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        TFormatSettings settings = gridtest::ProgramSettings();
        settings.DecimalSeparator = decimal;
        SetFormatSettings(settings);
        auto g = ShownGrid(2, 4);
        TColumn& c = g->Columns()[0];
        c.SetFormat(static_cast<TColumnFormat>(format));
        c.SetDisplayMask(mask);
        g->SetCells(0, 2, text);
        g->SetCells(1, 2, shown);
        g->FocusCell(0, 1);
        QCOMPARE(CellImage(*g, 0, 2), CellImage(*g, 1, 2));
        QCOMPARE(g->Cells(0, 2), text); // only the drawing changes
    }

    void ownerDrawing()
    {
        auto g = ShownGrid(2, 4);
        g->Columns()[0].SetFormat(cfNumber);
        g->Columns()[0].SetDisplayMask(QStringLiteral("0.00"));
        g->SetCells(0, 2, QStringLiteral("3.5"));
        g->SetCells(1, 2, QStringLiteral("3.5"));
        g->FocusCell(0, 1);
        QList<QPoint> drawn;
        g->OnDrawCell = [&](TStringGrid* sender, int col, int row, const QRect& rect, TGridDrawState state) {
            QCOMPARE(sender, g.get());
            QCOMPARE(rect, g->CellRect(col, row));
            QCOMPARE((state & gdFixed) != 0, row == 0);
            drawn << QPoint(col, row);
        };
        const QImage masked = CellImage(*g, 0, 2);
        QVERIFY(drawn.contains(QPoint(0, 0)));
        QVERIFY(drawn.contains(QPoint(1, 3)));
        QVERIFY(masked != CellImage(*g, 1, 2));
        // Without the default drawing the base draws the stored text with the column's settings.
        g->SetDefaultDrawing(false);
        QCOMPARE(CellImage(*g, 0, 2), CellImage(*g, 1, 2));
    }

    void columnColourAndFont()
    {
        auto g = ShownGrid(2, 4);
        g->Columns()[1].SetColor(Qt::yellow);
        TFont red = g->Columns()[1].Font();
        red.SetColor(Qt::red);
        g->Columns()[1].SetFont(red);
        g->SetCells(1, 2, QStringLiteral("MMM"));
        g->FocusCell(0, 1);
        const QImage image = Render(*g);
        const QRect cell = g->CellRect(1, 2);
        QCOMPARE(image.pixel(cell.right() - 1, cell.bottom() - 1), QColor(Qt::yellow).rgb());
        const QRect ink = Ink(image, cell, QColor(Qt::yellow).rgb());
        QVERIFY(!ink.isEmpty());
        bool reddest = false;
        for (int x = ink.left(); x <= ink.right(); ++x)
            for (int y = ink.top(); y <= ink.bottom(); ++y)
                reddest = reddest || image.pixel(x, y) == QColor(Qt::red).rgb();
        QVERIFY(reddest);
        // The other column keeps the grid's colour.
        QCOMPARE(image.pixel(g->CellRect(0, 2).bottomRight() - QPoint(1, 1)), g->Color().rgb());
    }

    void backgroundPicture()
    {
        auto g = ShownGrid(2, 3);
        g->resize(300, 200);
        g->SetBGImage(Tile());
        g->SetCells(0, 1, QStringLiteral("MMMM"));
        g->FocusCell(1, 2);
        QVERIFY(g->hasFocus());
        const QImage image = Render(*g);

        // A data cell: the picture, anchored at the viewport's origin, under transparent text.
        const QRect cell = g->CellRect(0, 1);
        for (QPoint p : {cell.topLeft(), cell.topLeft() + QPoint(1, 1), cell.bottomRight()})
            QCOMPARE(image.pixel(p), TileAt(p, false));
        int textPixels = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                textPixels += image.pixel(x, y) != TileAt(QPoint(x, y), false) ? 1 : 0;
        QVERIFY(textPixels > 10); // the text is there
        int picturePixels = 0;
        for (int x = cell.left(); x <= cell.right(); ++x)
            picturePixels +=
                image.pixel(x, cell.top() + 4) == TileAt(QPoint(x, cell.top() + 4), false) ? 1 : 0;
        QVERIFY(picturePixels > cell.width() / 2); // the text line is not filled

        // The selected cell: the picture inverted.
        const QRect selected = g->CellRect(1, 2);
        for (QPoint p : {selected.topLeft(), selected.center(), selected.bottomRight()})
            QCOMPARE(image.pixel(p), TileAt(p, true));

        // A heading cell: no picture.
        const QRect heading = g->CellRect(1, 0);
        QCOMPARE(image.pixel(heading.center() + QPoint(heading.width() / 2 - 2, 0)), g->FixedColor().rgb());

        // Beside the last column and below the last row: the picture.
        const QRect last = g->CellRect(1, 2);
        for (QPoint p : {QPoint(last.right() + 5, 3), QPoint(last.right() + 30, last.bottom()),
                         QPoint(3, last.bottom() + 5), QPoint(250, 190)})
            QCOMPARE(image.pixel(p), TileAt(p, false));
    }

    void backgroundStaysWhenScrolling()
    {
        auto g = ShownGrid(2, 30);
        g->resize(200, 150);
        g->SetBGImage(Tile());
        for (int r = 1; r < 30; ++r)
            g->SetCells(0, r, QString::number(r));
        g->FocusCell(1, 1);
        const QPoint probe = g->CellRect(0, 3).topLeft() + QPoint(1, 1);
        QCOMPARE(Render(*g).pixel(probe), TileAt(probe, false));
        const int top = g->TopRow();
        QTest::keyClick(g.get(), Qt::Key_PageDown);
        QTest::keyClick(g.get(), Qt::Key_PageDown);
        QVERIFY(g->TopRow() > top);
        QCOMPARE(Render(*g).pixel(probe), TileAt(probe, false));
    }

    void noPictureMeansPlainCells()
    {
        auto g = ShownGrid(2, 3);
        g->resize(300, 200);
        g->SetBGImage(Tile());
        g->SetBGImage(QImage());
        QVERIFY(!g->HasBGImage());
        const QImage image = Render(*g);
        const QRect cell = g->CellRect(0, 1);
        QCOMPARE(image.pixel(cell.bottomRight()), g->Color().rgb());
        QCOMPARE(image.pixel(QPoint(290, 190)), g->Color().rgb());
    }
};

QTEST_MAIN(DrawingTest)
#include "drawing_test.moc"
