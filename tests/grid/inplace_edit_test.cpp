// TDataGridInplaceEdit and TPopupListbox driven as a user would: buttons, the pick list, the
// first-letter choice and the checks of numbers and dates.
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "tests/grid/grid_test_support.h"

using namespace grid;
using gridtest::CellCentre;
using gridtest::Editor;
using gridtest::ShownGrid;

namespace {

const QStringList kCities{"Kraków",   "Katowice", "Gdańsk",       "Gdynia",    "Łódź",
                          "Warszawa", "Wrocław",  "Poznań",       "Opole",     "Olsztyn",
                          "Lublin",   "Rzeszów",  "Kielce",       "Radom",     "Bydgoszcz",
                          "Toruń",    "Szczecin", "Zielona Góra", "Białystok", "Płock"};

// A grid that refuses digits typed into its cells.
class NoDigitsGrid : public TDataGrid
{
public:
    bool CanEditAcceptKey(QChar key) const override { return !key.isDigit(); }
};

} // namespace

class InplaceEditTest : public QObject
{
    Q_OBJECT

private:
    int Beeps = 0;
    qint64 Now = 100000;

    // Opens the editor on (col, row) of a shown grid.
    static TDataGridInplaceEdit* Edit(TDataGrid& g, int col, int row)
    {
        g.FocusCell(col, row);
        if (!Editor(g))
            QTest::keyClick(&g, Qt::Key_F2);
        return Editor(g);
    }

private slots:
    void init()
    {
        Beeps = 0;
        SetBeepHandler([this] { ++Beeps; });
        SetFormatSettings(gridtest::ProgramSettings());
    }
    void cleanup() { SetBeepHandler(nullptr); }

    void buttonKind_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("pickList");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("limitToList");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fieldReadOnly");
        const QStringList items{"a", "b"};
        QTest::newRow("auto with a list")
            << int(cbsAuto) << items << false << false << int(ebkPickList) << false;
        QTest::newRow("auto with a list, limited")
            << int(cbsAuto) << items << false << true << int(ebkPickList) << true;
        QTest::newRow("auto with a list, read-only")
            << int(cbsAuto) << items << true << false << int(ebkNone) << true;
        QTest::newRow("auto without a list")
            << int(cbsAuto) << QStringList() << false << true << int(ebkNone) << false;
        QTest::newRow("ellipsis whatever the list")
            << int(cbsEllipsis) << items << false << true << int(ebkEllipsis) << false;
        QTest::newRow("none") << int(cbsNone) << items << false << false << int(ebkNone) << false;
    }

    void buttonKind()
    {
        QFETCH(int, style);
        QFETCH(QStringList, pickList);
        QFETCH(bool, readOnly);
        QFETCH(bool, limitToList);
        auto g = ShownGrid(2, 3);
        TColumn& c = g->Columns()[1];
        c.SetButtonStyle(static_cast<TColumnButtonStyle>(style));
        c.PickList() = pickList;
        c.SetReadOnly(readOnly);
        c.SetLimitToList(limitToList);
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QVERIFY(e);
        QTEST(int(e->ButtonKind()), "kind");
        QTEST(e->isReadOnly(), "fieldReadOnly");
        // Moving to a plain column takes the button away again.
        QTest::keyClick(e, Qt::Key_Left, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(g->Col(), 0);
        QCOMPARE(int(e->ButtonKind()), int(ebkNone));
        QVERIFY(!e->isReadOnly());
    }

    void ellipsisButtonAndCtrlEnter()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].SetButtonStyle(cbsEllipsis);
        int clicks = 0;
        QObject* sender = nullptr;
        g->OnEditButtonClick = [&](QObject* s) {
            ++clicks;
            sender = s;
        };
        g->SetCells(1, 1, QStringLiteral("abc"));
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::mouseClick(e, Qt::LeftButton, {}, e->ButtonRect().center());
        QCOMPARE(clicks, 1);
        QCOMPARE(sender, g.get());
        QTest::mouseClick(e, Qt::LeftButton, {}, QPoint(3, e->height() / 2));
        QCOMPARE(clicks, 1);
        QTest::keyClick(e, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(clicks, 2);
        QCOMPARE(g->Cells(1, 1), QStringLiteral("abc"));
        QCOMPARE(e->text(), QStringLiteral("abc"));
    }

    void pickListRows_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("rows");
        QTest::newRow("3 items show 3 rows") << 3 << 3;
        QTest::newRow("20 items show 7 rows") << 20 << 7;
    }

    void pickListRows()
    {
        QFETCH(int, items);
        QFETCH(int, rows);
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities.mid(0, items);
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::mouseClick(e, Qt::LeftButton, {}, e->ButtonRect().center());
        TPopupListbox* list = e->PickListBox();
        QVERIFY(list && list->isVisible());
        QVERIFY(e->ListVisible());
        QCOMPARE(list->height(), rows * list->ItemHeight() + 2 * list->frameWidth());
        QCOMPARE(list->count(), items);
        // Under the editor, its left edge on the editor's, as wide as the editor at least.
        const QPoint editorBottomLeft = e->mapToGlobal(QPoint(0, e->height()));
        QCOMPARE(list->pos(), editorBottomLeft);
        QVERIFY(list->width() >= e->width());
        // The keyboard stays with the editor.
        QCOMPARE(QApplication::focusWidget(), e);
        // A second press on the button closes it without a choice.
        QTest::mouseClick(e, Qt::LeftButton, {}, e->ButtonRect().center());
        QVERIFY(!list->isVisible());
        QCOMPARE(g->Cells(1, 1), QString());
    }

    void pressOnAnotherControlClosesTheList()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* g = new TDataGrid;
        auto* button = new QToolButton; // takes no focus, like the dialog's tool buttons
        layout->addWidget(g);
        layout->addWidget(button);
        g->SetColCount(2);
        g->SetFixedCols(0);
        g->Columns()[1].PickList() = kCities.mid(0, 5);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        g->setFocus();
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(e->ListVisible());
        QTest::mouseClick(e, Qt::LeftButton, {}, QPoint(3, 3)); // in the editor's own text: stays
        QVERIFY(e->ListVisible());
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!e->ListVisible());
        QVERIFY(!e->PickListBox()->isVisible());
        QCOMPARE(g->Cells(1, 1), QString());
    }

    void pickListOpensAboveNearTheBottom()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities.mid(0, 5);
        const QRect screen = g->screen()->geometry();
        g->move(screen.left() + 10, screen.bottom() - g->height());
        TDataGridInplaceEdit* e = Edit(*g, 1, 2);
        QTRY_VERIFY(e->mapToGlobal(QPoint(0, e->height())).y() > screen.bottom() - 40);
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        TPopupListbox* list = e->PickListBox();
        QVERIFY(list && list->isVisible());
        QVERIFY(list->height() > 40);
        QCOMPARE(list->geometry().bottom() + 1, e->mapToGlobal(QPoint(0, 0)).y());
    }

    void pickListKeys()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities.mid(0, 5);
        g->SetCells(1, 1, QStringLiteral("gdańsk"));
        int changes = 0;
        g->OnUserChanged = [&](QObject*) { ++changes; };
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        TPopupListbox* list = e->PickListBox();
        QVERIFY(list->isVisible());
        QCOMPARE(list->currentRow(), 2); // the item equal to the text, letter case aside
        QTest::keyClick(e, Qt::Key_Down);
        QCOMPARE(list->currentRow(), 3); // the arrow went to the list
        QCOMPARE(g->Row(), 1);
        QTest::keyClick(e, Qt::Key_Escape);
        QVERIFY(!list->isVisible());
        QCOMPARE(g->Cells(1, 1), QStringLiteral("gdańsk"));
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        QTest::keyClick(e, Qt::Key_Up);
        QTest::keyClick(e, Qt::Key_Return);
        QVERIFY(!list->isVisible());
        QCOMPARE(g->Cells(1, 1), QStringLiteral("Katowice"));
        QVERIFY(e->Modified());
        QCOMPARE(e->text(), QStringLiteral("Katowice"));
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        QTest::keyClick(e, Qt::Key_Down);
        QTest::keyClick(e, Qt::Key_Up, Qt::AltModifier); // Alt+Up accepts too
        QCOMPARE(g->Cells(1, 1), QStringLiteral("Gdańsk"));
        QCOMPARE(changes, 0); // the check comes only when the value is left
    }

    void pickListMouse()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities.mid(0, 5);
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::mouseClick(e, Qt::LeftButton, {}, e->ButtonRect().center());
        TPopupListbox* list = e->PickListBox();
        const QRect item = list->visualItemRect(list->item(3));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
        QVERIFY(!list->isVisible());
        QCOMPARE(g->Cells(1, 1), QStringLiteral("Gdynia"));
        // Pressing on the button and dragging into the list chooses where the button is released.
        QTest::mousePress(e, Qt::LeftButton, {}, e->ButtonRect().center());
        QVERIFY(list->isVisible());
        QVERIFY(e->Pressed());
        const QRect target = list->visualItemRect(list->item(1));
        const QPoint inEditor = e->mapFromGlobal(list->viewport()->mapToGlobal(target.center()));
        QTest::mouseMove(e, inEditor);
        QVERIFY(!e->Pressed());
        QTest::mouseRelease(e, Qt::LeftButton, {}, inEditor);
        QVERIFY(!list->isVisible());
        QCOMPARE(g->Cells(1, 1), QStringLiteral("Katowice"));
    }

    void incrementalSearch()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities;
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::keyClick(e, Qt::Key_Down, Qt::AltModifier);
        TPopupListbox* list = e->PickListBox();
        list->Clock = [this] { return Now; };
        QTest::keyClicks(e, QStringLiteral("gd"));
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Gdańsk"));
        Now += 1500;
        QTest::keyClicks(e, QStringLiteral("y"));
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Gdynia"));
        Now += 2001; // a pause: a new prefix
        QTest::keyClicks(e, QStringLiteral("wr"));
        QCOMPARE(list->SearchText(), QStringLiteral("wr"));
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Wrocław"));
        QTest::keyClick(e, Qt::Key_Backspace);
        QCOMPARE(list->SearchText(), QString());
        QTest::keyClicks(e, QString(40, u'x'));
        QCOMPARE(list->SearchText().size(), 32);
        QCOMPARE(g->Cells(1, 1), QString()); // typing in the list leaves the cell alone
    }

    void firstLetterChoice_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("cell");
        QTest::newRow("lower case letter") << QStringLiteral("g") << QStringLiteral("Gdańsk");
        QTest::newRow("upper case letter") << QStringLiteral("W") << QStringLiteral("Warszawa");
        QTest::newRow("no item begins with it") << QStringLiteral("x") << QStringLiteral("Opole");
        QTest::newRow("a Polish letter") << QStringLiteral("ł") << QStringLiteral("Łódź");
    }

    void firstLetterChoice()
    {
        QFETCH(QString, typed);
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities;
        g->Columns()[1].SetLimitToList(true);
        g->SetCells(1, 1, QStringLiteral("Opole"));
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QVERIFY(e->isReadOnly());
        gridtest::TypeText(e, typed);
        QTEST(g->Cells(1, 1), "cell");
        QTEST(e->text(), "cell");
    }

    void doubleClickInLimitedTextOpensTheList()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].PickList() = kCities.mid(0, 4);
        g->Columns()[1].SetLimitToList(true);
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::mouseDClick(e, Qt::LeftButton, {}, QPoint(5, e->height() / 2));
        QVERIFY(e->ListVisible());
    }

    void commitChecks_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("leaveBy"); // 0 Tab, 1 Left, 2 Down, 3 focus to another widget
        QTest::addColumn<QString>("cell");
        QTest::addColumn<int>("beeps");

        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy.MM.dd"));
        QTest::newRow("number with exponent") << int(cfNumber) << "7"
                                              << "1.5e3" << 0 << "1.5e3" << 0;
        QTest::newRow("number with blanks and sign") << int(cfNumber) << "7"
                                                     << "  -2." << 2 << "  -2." << 0;
        QTest::newRow("number with a comma fails") << int(cfNumber) << "7"
                                                   << "1,5" << 0 << "7" << 1;
        QTest::newRow("number with text after it fails") << int(cfNumber) << "7"
                                                         << "12 zł" << 3 << "7" << 1;
        QTest::newRow("Left inside the text checks first") << int(cfNumber) << "7"
                                                           << "abc" << 1 << "7" << 1;
        QTest::newRow("date written back in the format") << int(cfDate) << ""
                                                         << "2024.2.5" << 0 << "2024.02.05" << 0;
        QTest::newRow("two-digit year") << int(cfDate) << ""
                                        << "24.12.31" << 2 << "2024.12.31" << 0;
        QTest::newRow("not a date") << int(cfDate) << "2020.01.01"
                                    << "2024.13.01" << 0 << "2020.01.01" << 1;
        QTest::newRow("date in another order fails") << int(cfDate) << ""
                                                     << "31.12.2024" << 3 << "" << 1;
        for (const char* word : {"d", "D", "n", "N", "t", "T", "h", "H", "j", "J"})
            QTest::newRow(qPrintable(QStringLiteral("'%1' is today").arg(QLatin1String(word))))
                << int(cfDate) << "" << (QLatin1String(word) + QStringLiteral("zisiaj")) << 3 << today << 0;
        QTest::newRow("other word is no date") << int(cfDate) << ""
                                               << "wczoraj" << 0 << "" << 1;
        QTest::newRow("text is kept") << int(cfString) << "a"
                                      << "anything" << 0 << "anything" << 0;
    }

    void commitChecks()
    {
        QFETCH(int, format);
        QFETCH(QString, entry);
        QFETCH(QString, typed);
        QFETCH(int, leaveBy);

        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* g = new TDataGrid;
        auto* other = new QLineEdit;
        layout->addWidget(g);
        layout->addWidget(other);
        g->SetPixelsPerInch(96);
        g->SetColCount(2);
        g->SetRowCount(4);
        g->SetFixedCols(0);
        g->SetOptions(g->Options() | goTabs);
        g->Columns()[1].SetFormat(static_cast<TColumnFormat>(format));
        g->SetCells(1, 1, entry);
        window.resize(300, 200);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        g->setFocus();
        QObject* sender = nullptr;
        int changes = 0;
        g->OnUserChanged = [&](QObject* s) {
            sender = s;
            ++changes;
        };
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QVERIFY(e);
        QCOMPARE(e->EntryText(), entry);
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        gridtest::TypeText(e, typed);
        QCOMPARE(g->Cells(1, 1), typed); // stored at once, unchecked
        switch (leaveBy) {
        case 0:
            QTest::keyClick(e, Qt::Key_Tab);
            break;
        case 1:
            QTest::keyClick(e, Qt::Key_Left);
            break;
        case 2:
            QTest::keyClick(e, Qt::Key_Down);
            break;
        default:
            QTest::mouseClick(other, Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), other);
            break;
        }
        QTEST(g->Cells(1, 1), "cell");
        QTEST(Beeps, "beeps");
        QCOMPARE(changes, 1);
        QCOMPARE(sender, e);
    }

    void emptyTextIsNotChecked()
    {
        auto g = ShownGrid(2, 3);
        g->Columns()[1].SetFormat(cfDate);
        g->SetCells(1, 1, QStringLiteral("2020.01.01"));
        int changes = 0;
        g->OnUserChanged = [&](QObject*) { ++changes; };
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::keyClick(e, Qt::Key_Up); // unmodified: no check, no report
        QCOMPARE(changes, 0);
        e = Edit(*g, 1, 1);
        QTest::keyClick(e, Qt::Key_Delete);
        QCOMPARE(g->Cells(1, 1), QString());
        QTest::keyClick(e, Qt::Key_Down);
        QCOMPARE(g->Cells(1, 1), QString());
        QCOMPARE(changes, 1);
        QCOMPARE(Beeps, 0);
    }

    void clickOnAnotherCellChecksTheEditedCell()
    {
        auto g = ShownGrid(2, 4);
        g->Columns()[1].SetFormat(cfNumber);
        g->SetCells(1, 1, QStringLiteral("5"));
        TDataGridInplaceEdit* e = Edit(*g, 1, 1);
        QTest::keyClicks(e, QStringLiteral("x"));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, CellCentre(*g, 1, 3));
        QCOMPARE(g->Row(), 3);
        QCOMPARE(g->Cells(1, 1), QStringLiteral("5"));
        QCOMPARE(g->Cells(1, 3), QString());
        QCOMPARE(Beeps, 1);
    }

    void refusedCharacterBeeps()
    {
        NoDigitsGrid g;
        g.SetColCount(1);
        g.SetFixedCols(0);
        g.show();
        g.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&g));
        g.setFocus();
        g.FocusCell(0, 1);
        QTest::keyClick(&g, Qt::Key_F2);
        QTest::keyClicks(g.InplaceEditor(), QStringLiteral("a1b"));
        QCOMPARE(g.Cells(0, 1), QStringLiteral("ab"));
        QCOMPARE(Beeps, 1);
    }

    void enterTogglesTheSelection()
    {
        auto g = ShownGrid(1, 3);
        g->SetCells(0, 1, QStringLiteral("abc"));
        TDataGridInplaceEdit* e = Edit(*g, 0, 1);
        QCOMPARE(e->selectedText(), QStringLiteral("abc"));
        QTest::keyClick(e, Qt::Key_Return);
        QVERIFY(!e->hasSelectedText());
        QTest::keyClick(e, Qt::Key_Return);
        QCOMPARE(e->selectedText(), QStringLiteral("abc"));
        QCOMPARE(g->Cells(0, 1), QStringLiteral("abc"));
    }

    void maxLengthOfTheColumn()
    {
        auto g = ShownGrid(1, 3);
        g->Columns()[0].SetMaxLength(4);
        TDataGridInplaceEdit* e = Edit(*g, 0, 1);
        QTest::keyClicks(e, QStringLiteral("123456"));
        QCOMPARE(g->Cells(0, 1), QStringLiteral("1234"));
    }
};

QTEST_MAIN(InplaceEditTest)
#include "inplace_edit_test.moc"
