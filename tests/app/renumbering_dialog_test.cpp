// The renumbering dialog driven with the keyboard and the mouse: its grid, the rows written to
// the renumbering file and read back, the row buttons, leaving without saving, the one warning.
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include "app/renumbering_dialog.h"
#include "grid/data_grid.h"
#include "tests/app/app_test_support.h"
#include "tests/support/test_files.h"

using convert::Answer;

namespace {

std::string ReadFile(const std::string& path)
{
    return std::filesystem::exists(path) ? test_support::ReadWholeFile(path) : std::string("<none>");
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Dialog
{
    test_support::TempDir dir;
    std::string file = dir.File("kerg-import.gm");
    app::TForm2 form{file};

    grid::TDataGrid& Grid() { return *form.DataGrid; }
    void Show()
    {
        form.show();
        form.activateWindow();
        if (!QTest::qWaitForWindowActive(&form))
            qWarning("dialog not active");
    }
    // Each data row as "old|new".
    QStringList Rows()
    {
        QStringList rows;
        for (int r = 1; r < Grid().RowCount(); ++r)
            rows << Grid().Cells(0, r) + QLatin1Char('|') + Grid().Cells(1, r);
        return rows;
    }
    // The widget that takes the keys now: the cell editor when shown, else the grid.
    QWidget* Keys()
    {
        QWidget* editor = Grid().InplaceEditor();
        return editor && editor->isVisible() ? editor : &Grid();
    }
    void Type(const QString& text)
    {
        for (QChar ch : text) {
            if (ch.unicode() < 128)
                QTest::keyClick(Keys(), static_cast<char>(ch.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, Keys(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
    }
    void Key(Qt::Key key) { QTest::keyClick(Keys(), key); }
};

// A click on a check box's indicator.
void Click(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

QStringList FocusChain(QWidget* first, int count)
{
    QStringList names;
    QWidget* w = first;
    while (names.size() < count) {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisible() && w->isEnabled() && !w->objectName().isEmpty())
            names << w->objectName();
        w = w->nextInFocusChain();
        if (w == first)
            break;
    }
    return names;
}

} // namespace

class RenumberingDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void windowAndGrid();
    void firstShowingWithoutFile();
    void rowsTypedAreSavedAndReadBack();
    void deletingTheOnlyRowEmptiesIt();
    void downInTheLastRowAppends();
    void addButtonTwice();
    void leavingWithoutSaving_data();
    void leavingWithoutSaving();
    void secondShowing_data();
    void secondShowing();
    void firstSegmentWarningOnce();
    void writeErrorKeepsTheDialogOpen();
    void aFileThatCouldNotBeReadIsNotWrittenOver();
    void enterOnAFocusedButton_data();
    void enterOnAFocusedButton();
    void pastedLineBreaksStayOutOfTheFile();
    void escInACellKeepsWhatWasTyped();
    void scrollBarsFollowTheContent();
};

void RenumberingDialogTest::windowAndGrid()
{
    Dialog d;
    d.Show();
    QCOMPARE(d.form.windowTitle(), QString::fromUtf8("Przenumerowanie numerów statystycznych gmin"));
    QCOMPARE(d.form.minimumSize(), d.form.maximumSize());
    QCOMPARE(d.form.Label1->text(), QString::fromUtf8("Przenumerowanie gmin:"));
    QCOMPARE(d.form.Label2->text(), QString::fromUtf8("Dodatkowe przenumerowanie członu 1:"));
    QCOMPARE(d.form.SpeedButton1->toolTip(), QString::fromUtf8("Dodaj nowy wiersz"));
    QCOMPARE(d.form.SpeedButton2->toolTip(), QString::fromUtf8("Usuń wiersz"));
    QVERIFY(d.form.SpeedButton1->autoRaise() && !d.form.SpeedButton1->icon().isNull());
    QCOMPARE(d.form.BitBtn2->text(), QStringLiteral("Anuluj"));
    QVERIFY(d.form.BitBtn1->isDefault());
    const QStringList options{"Operatów ewidencyjnych",
                              "Operatów bazowo-użytkowych",
                              "Operatów przejściowych",
                              "Szkiców polowych",
                              "Zarysów",
                              "KME"};
    const QList<QCheckBox*> boxes{d.form.cboe, d.form.cbob, d.form.cbop, d.form.cbos, d.form.cbz, d.form.cbk};
    for (int i = 0; i < boxes.size(); ++i) {
        QCOMPARE(boxes[i]->text(), options[i]);
        QVERIFY(!boxes[i]->isChecked());
    }
    // The grid as its description designs it.
    grid::TDataGrid& g = d.Grid();
    QCOMPARE(g.ColCount(), 2);
    QCOMPARE(g.RowCount(), 2);
    QCOMPARE(g.FixedRows(), 1);
    QCOMPARE(g.FixedCols(), 0);
    QCOMPARE(g.Columns().Count(), 2);
    QCOMPARE(g.Columns().Items(0).Title().Caption(), QStringLiteral("Stary numer"));
    QCOMPARE(g.Columns().Items(1).Title().Caption(), QStringLiteral("Nowy numer"));
    QCOMPARE(g.DataGridOptions(), grid::dgoAppendRow | grid::dgoInsertRow | grid::dgoDeleteRow);
    QVERIFY(g.Options() & grid::goEditing);
    QVERIFY(g.Options() & grid::goTabs);
    QCOMPARE(FocusChain(&g, 9),
             (QStringList{"DataGrid", "BitBtn1", "BitBtn2", "cboe", "cbob", "cbop", "cbos", "cbz", "cbk"}));
}

void RenumberingDialogTest::firstShowingWithoutFile()
{
    Dialog d;
    d.Show();
    QCOMPARE(d.Rows(), QStringList{"|"});
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    QCOMPARE(d.form.result(), int(QDialog::Accepted));
    QVERIFY(!d.form.isVisible());
    QCOMPARE(ReadFile(d.file), std::string("|\r\n"));
}

void RenumberingDialogTest::rowsTypedAreSavedAndReadBack()
{
    Dialog d;
    d.Show();
    d.Grid().setFocus();
    d.Type("12");
    d.Key(Qt::Key_Tab);
    d.Type("345");
    d.Key(Qt::Key_Tab); // Tab in the last cell appends a row
    d.Type("8");
    d.Key(Qt::Key_Tab);
    d.Type("9");
    d.Key(Qt::Key_Tab);
    d.Type(QString::fromUtf8("Łódź"));
    d.Key(Qt::Key_Tab);
    d.Type(" 7 ");
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    QCOMPARE(d.form.result(), int(QDialog::Accepted));
    // Code page 1250 on disk: Ł = A3, ó = F3, ź = 9F.
    QCOMPARE(ReadFile(d.file), std::string("12|345\r\n8|9\r\n\xA3\xF3"
                                           "d\x9F| 7 \r\n"));

    app::TForm2 again(d.file);
    again.show();
    QCOMPARE(again.DataGrid->RowCount(), 4);
    QCOMPARE(again.DataGrid->Cells(0, 1), QStringLiteral("12"));
    QCOMPARE(again.DataGrid->Cells(1, 1), QStringLiteral("345"));
    QCOMPARE(again.DataGrid->Cells(0, 2), QStringLiteral("8"));
    QCOMPARE(again.DataGrid->Cells(1, 2), QStringLiteral("9"));
    QCOMPARE(again.DataGrid->Cells(0, 3), QString::fromUtf8("Łódź"));
    QCOMPARE(again.DataGrid->Cells(1, 3), QStringLiteral(" 7 "));
}

void RenumberingDialogTest::deletingTheOnlyRowEmptiesIt()
{
    Dialog d;
    WriteBytes(d.file, "5|6\r\n");
    d.Show();
    QCOMPARE(d.Rows(), QStringList{"5|6"});
    QTest::mouseClick(d.form.SpeedButton2, Qt::LeftButton);
    QCOMPARE(d.Rows(), QStringList{"|"});
}

void RenumberingDialogTest::downInTheLastRowAppends()
{
    Dialog d;
    WriteBytes(d.file, "1|2\r\n3|4\r\n");
    d.Show();
    d.Grid().setFocus();
    d.Grid().FocusCell(1, 2);
    d.Key(Qt::Key_Down);
    QCOMPARE(d.Rows(), (QStringList{"1|2", "3|4", "|"}));
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    QCOMPARE(ReadFile(d.file), std::string("1|2\r\n3|4\r\n|\r\n"));
}

void RenumberingDialogTest::addButtonTwice()
{
    Dialog d;
    WriteBytes(d.file, "1|2\r\n");
    d.Show();
    d.Grid().FocusCell(0, 1);
    QTest::mouseClick(d.form.SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(d.form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(d.Rows(), (QStringList{"1|2", "|", "|"}));
    QCOMPARE(d.Grid().Row(), 3);
    // The delete button takes the current row.
    d.Grid().FocusCell(0, 1);
    QTest::mouseClick(d.form.SpeedButton2, Qt::LeftButton);
    QCOMPARE(d.Rows(), (QStringList{"|", "|"}));
}

void RenumberingDialogTest::leavingWithoutSaving_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<convert::Answer>("answer");
    for (const char* way : {"Anuluj", "close box", "Esc"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, No").arg(way))) << QString(way) << Answer::No;
        QTest::newRow(qPrintable(QStringLiteral("%1, Yes").arg(way))) << QString(way) << Answer::Yes;
    }
}

void RenumberingDialogTest::leavingWithoutSaving()
{
    QFETCH(QString, way);
    QFETCH(convert::Answer, answer);
    Dialog d;
    WriteBytes(d.file, "1|2\r\n");
    d.Show();
    d.Grid().SetCells(1, 1, QStringLiteral("20"));
    apptest::ScriptedBoxes boxes;
    boxes.answers = {answer};
    if (way == QLatin1String("Anuluj"))
        QTest::mouseClick(d.form.BitBtn2, Qt::LeftButton);
    else if (way == QLatin1String("close box"))
        d.form.close();
    else
        QTest::keyClick(&d.form, Qt::Key_Escape);

    QCOMPARE(boxes.Captions(), QStringList{"Potwierdzenie"});
    const convert::Message& question = boxes.shown[0];
    QCOMPARE(QString::fromStdString(question.text),
             QString::fromUtf8("Wyjście bez zapisu spowoduje, iż wprowadzone przenumerowanie nie zostanie "
                               "zachowane. Kontynuować?"));
    QCOMPARE(question.buttons, convert::Buttons::YesNo);
    QCOMPARE(question.icon, convert::Icon::Question);
    QCOMPARE(question.defaultButton, Answer::Yes);
    QCOMPARE(d.form.isVisible(), answer == Answer::No);
    if (answer == Answer::Yes)
        QCOMPARE(d.form.result(), int(QDialog::Rejected));
    QCOMPARE(d.Rows(), QStringList{"1|20"}); // kept in memory either way
    QCOMPARE(ReadFile(d.file), std::string("1|2\r\n"));
}

void RenumberingDialogTest::secondShowing_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("the file's rows again") << true << QStringList{"1|2"};
    QTest::newRow("no file: the rows typed before") << false << QStringList{"7|70", "|"};
}

void RenumberingDialogTest::secondShowing()
{
    QFETCH(bool, fileExists);
    QFETCH(QStringList, rows);
    Dialog d;
    if (fileExists)
        WriteBytes(d.file, "1|2\r\n");
    d.Show();
    apptest::ScriptedBoxes boxes; // Yes: leave without saving
    d.Grid().SetCells(0, 1, QStringLiteral("7"));
    d.Grid().SetCells(1, 1, QStringLiteral("70"));
    QTest::mouseClick(d.form.SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(d.form.BitBtn2, Qt::LeftButton);
    QVERIFY(!d.form.isVisible());
    d.Show();
    QCOMPARE(d.Rows(), rows);
}

void RenumberingDialogTest::firstSegmentWarningOnce()
{
    Dialog d;
    d.Show();
    apptest::ScriptedBoxes boxes;
    Click(d.form.cbz);
    QCOMPARE(boxes.Captions(), QStringList{QStringLiteral("Ostrzeżenie !")});
    QCOMPARE(
        QString::fromStdString(boxes.shown[0].text),
        QString::fromUtf8("Przenumerowanie członu pierwszego jest równoznaczne z przenumerowaniem wybranego "
                          "zasobu. Przed zaznaczeniem przenumerowania należy sprawdzić czy numery, na "
                          "które będzie przenumerowanie nie występują już w bazie. W takim przypadku "
                          "przenumerowanie może spowodować konflikt numeracji."));
    QCOMPARE(boxes.shown[0].buttons, convert::Buttons::Ok);
    QCOMPARE(boxes.shown[0].icon, convert::Icon::None);
    QVERIFY(d.form.cbz->isChecked());
    Click(d.form.cbk);
    QVERIFY(d.form.cbk->isChecked());
    QCOMPARE(boxes.shown.size(), std::size_t(1));
    // Not again after the dialog is shown anew.
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    d.Show();
    Click(d.form.cboe);
    QCOMPARE(boxes.shown.size(), std::size_t(1));
}

void RenumberingDialogTest::writeErrorKeepsTheDialogOpen()
{
    test_support::TempDir dir;
    const std::string file = dir.File("missing") + "/kerg-import.gm"; // a folder that does not exist
    app::TForm2 form(file);
    form.show();
    apptest::ScriptedBoxes boxes;
    form.DataGrid->SetCells(0, 1, QStringLiteral("12"));
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    QCOMPARE(boxes.Captions(), QStringList{QString::fromUtf8("Błąd")});
    QCOMPARE(boxes.shown[0].icon, convert::Icon::Stop);
    QVERIFY(!boxes.shown[0].text.empty());
    QVERIFY(form.isVisible());
    QCOMPARE(form.DataGrid->Cells(0, 1), QStringLiteral("12"));
    QVERIFY(!std::filesystem::exists(file));
}

// The file is there but cannot be read (a named pipe): the error is shown, and OK does not put
// the grid in its place.
void RenumberingDialogTest::aFileThatCouldNotBeReadIsNotWrittenOver()
{
    test_support::TempDir dir;
    const std::string file = dir.File("kerg-import.gm");
    QCOMPARE(mkfifo(file.c_str(), 0600), 0);
    app::TForm2 form(file);
    apptest::ScriptedBoxes boxes;
    form.show();
    QCOMPARE(boxes.Captions(), QStringList{QString::fromUtf8("Błąd")});
    form.DataGrid->SetCells(0, 1, QStringLiteral("12"));
    form.DataGrid->SetCells(1, 1, QStringLiteral("345"));
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    QCOMPARE(boxes.shown.size(), std::size_t{2});
    QVERIFY2(QString::fromStdString(boxes.shown[1].text)
                 .startsWith(QString::fromUtf8("Przenumerowania nie zapisano")),
             boxes.shown[1].text.c_str());
    QVERIFY(form.isVisible());
    QVERIFY(std::filesystem::is_fifo(file));

    // Once the file can be read again, the next showing reads it and OK saves.
    form.hide();
    std::filesystem::remove(file);
    WriteBytes(file, "8|9\r\n");
    form.show();
    QCOMPARE(form.DataGrid->Cells(0, 1), QStringLiteral("8"));
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(ReadFile(file), std::string("8|9\r\n"));
}

void RenumberingDialogTest::enterOnAFocusedButton_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QString>("file");
    QTest::newRow("OK saves") << QStringLiteral("BitBtn1") << int(QDialog::Accepted) << QStringList{}
                              << QStringLiteral("1|20\r\n");
    QTest::newRow("Anuluj leaves without saving")
        << QStringLiteral("BitBtn2") << int(QDialog::Rejected) << QStringList{"Potwierdzenie"}
        << QStringLiteral("1|2\r\n");
}

void RenumberingDialogTest::enterOnAFocusedButton()
{
    QFETCH(QString, button);
    QFETCH(int, result);
    QFETCH(QStringList, questions);
    QFETCH(QString, file);
    Dialog d;
    WriteBytes(d.file, "1|2\r\n");
    d.Show();
    d.Grid().SetCells(1, 1, QStringLiteral("20"));
    apptest::ScriptedBoxes boxes; // Yes: leave without saving
    auto* focused = d.form.findChild<QPushButton*>(button);
    focused->setFocus(Qt::TabFocusReason);
    QVERIFY(focused->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!d.form.isVisible());
    QCOMPARE(d.form.result(), result);
    QCOMPARE(boxes.Captions(), questions);
    QCOMPARE(QString::fromStdString(ReadFile(d.file)), file);
}

void RenumberingDialogTest::pastedLineBreaksStayOutOfTheFile()
{
    Dialog d;
    d.Show();
    d.Grid().setFocus();
    // Ctrl+V in the middle of a number: the clipboard's first line goes in, the rest of the cell
    // stays after it.
    d.Type("34");
    d.Key(Qt::Key_Home);
    QGuiApplication::clipboard()->setText(QStringLiteral("12\r\n56\r\n"));
    QTest::keyClick(d.Keys(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(d.Grid().Cells(0, 1), QStringLiteral("1234"));
    // "Wklej" of the editor's menu, with Unix line ends.
    d.Key(Qt::Key_Tab);
    d.Type("5");
    QGuiApplication::clipboard()->setText(QStringLiteral("9\n8"));
    auto* editor = qobject_cast<QLineEdit*>(d.Keys());
    QVERIFY(editor);
    editor->paste();
    QCOMPARE(d.Grid().Cells(1, 1), QStringLiteral("59"));
    // A clipboard that begins with a line break brings nothing.
    QGuiApplication::clipboard()->setText(QStringLiteral("\n7"));
    editor->paste();
    QCOMPARE(d.Grid().Cells(1, 1), QStringLiteral("59"));
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    QCOMPARE(ReadFile(d.file), std::string("1234|59\r\n"));
}

void RenumberingDialogTest::escInACellKeepsWhatWasTyped()
{
    Dialog d;
    WriteBytes(d.file, "1|2\r\n");
    d.Show();
    apptest::ScriptedBoxes boxes;
    d.Grid().setFocus();
    d.Grid().FocusCell(1, 1);
    d.Type("25");
    QCOMPARE(d.Grid().Cells(1, 1), QStringLiteral("25"));
    d.Key(Qt::Key_Escape);
    // Only the Esc character is dropped: the text stays, the editor stays open with it, and the
    // dialog does not take the key as leaving it.
    QCOMPARE(d.Grid().Cells(1, 1), QStringLiteral("25"));
    QVERIFY(d.Keys() != &d.Grid());
    QCOMPARE(qobject_cast<QLineEdit*>(d.Keys())->text(), QStringLiteral("25"));
    d.Type("0");
    // The same for an Esc whose key event carries no character.
    QKeyEvent bareEsc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString());
    QApplication::sendEvent(d.Keys(), &bareEsc);
    QCOMPARE(d.Grid().Cells(1, 1), QStringLiteral("250"));
    QVERIFY(boxes.shown.empty());
    QVERIFY(d.form.isVisible());
    QTest::mouseClick(d.form.BitBtn1, Qt::LeftButton);
    QCOMPARE(ReadFile(d.file), std::string("1|250\r\n"));
}

void RenumberingDialogTest::scrollBarsFollowTheContent()
{
    Dialog d;
    d.Show();
    grid::TDataGrid& g = d.Grid();
    QScrollBar* across = g.horizontalScrollBar();
    QScrollBar* down = g.verticalScrollBar();
    // The two columns fit the view: no bar, as designed.
    QTRY_VERIFY(!across->isVisible() && !down->isVisible());

    // As many rows as the view shows whole (each row with its grid line), then one more.
    const int rowPitch = g.RowHeights(0) + 1;
    const int fitting = (g.viewport()->height() + 1) / rowPitch;
    g.SetRowCount(fitting);
    QTest::qWait(20);
    QVERIFY(!down->isVisible());
    g.SetRowCount(fitting + 1);
    QTRY_VERIFY(down->isVisible());
    QVERIFY(!across->isVisible()); // the columns still fit beside the bar

    // A column widened past the view brings the bar across; narrowed back, it goes.
    g.SetColWidths(0, g.viewport()->width());
    QTRY_VERIFY(across->isVisible());
    g.SetColWidths(0, 75);
    QTRY_VERIFY(!across->isVisible());

    // Rows deleted until they fit again: the bar down goes too.
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(d.form.SpeedButton2, Qt::LeftButton);
    QTRY_VERIFY(!down->isVisible());
    QVERIFY(!across->isVisible());
}

QTEST_MAIN(RenumberingDialogTest)
#include "renumbering_dialog_test.moc"
