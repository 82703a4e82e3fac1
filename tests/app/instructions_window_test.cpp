// The instructions window: the document carried by the program, shown formatted and read-only,
// and the window's behaviour when resized.
#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include "help/instructions_window.h"

class InstructionsWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void documentCoversItsPoints_data();
    void documentCoversItsPoints();
    void shownFormattedNotAsMarkup();
    void cannotBeEdited();
    void designedFontAndOuterSize();
    void resizing();
};

void InstructionsWindowTest::documentCoversItsPoints_data()
{
    QTest::addColumn<QString>("phrase");
    const auto row = [](const char* name, const char* phrase) {
        QTest::newRow(name) << QString::fromUtf8(phrase);
    };
    row("heading", "Import danych z archiwum KERG");
    row("merging tool first", "programem scalającym archiwa");
    row("preparation: run the merging tool", "Uruchom program scalający archiwa");
    row("preparation: copy beside the Windows program",
        "Skopiuj ten program do głównej kartoteki wersji Windows");
    row("input directory", "Kartoteka z danymi wejściowymi (scalone archiwum)");
    row("output directory", "Kartoteka z danymi wyjściowymi");
    row("commune conversion", "nowe numery gmin nie są dopisywane do słownika gmin");
    row("assortments and ranges",
        "Import asortymentów oraz zakresów działkowych i rastrowych powiększa słowniki");
    row("only once", "Import można wykonać tylko raz.");
    row("nobody at work", "nikt nie może pracować w systemie ewidencji");
    row("copy of BAZA", "wykonaj kopię kartoteki BAZA");
    row("buttons", "Przycisk Importuj rozpoczyna import, a przycisk Anuluj rezygnuje");
    row("the report", "program zapisuje raport w pliku kerg-import-RRRRMMDD-GGMMSS.txt");
    row("an interrupted import", "uruchom import ponownie z tymi samymi ustawieniami");
    row("an interrupted import needs the same archive", "z tym samym, niezmienionym archiwum");
    row("merging tool: replaces earlier results", "Każde uruchomienie zastępuje wyniki poprzedniego.");
    row("merging tool: sources unchanged", "Archiwa źródłowe pozostają niezmienione.");
}

void InstructionsWindowTest::documentCoversItsPoints()
{
    QFETCH(QString, phrase);
    help::TForm3 form;
    // Non-breaking spaces keep short words with the next one; read them as spaces.
    const QString text = form.RichEdit1->toPlainText().replace(QChar(0x00A0), QLatin1Char(' '));
    QVERIFY2(text.contains(phrase), qPrintable(phrase));
}

void InstructionsWindowTest::shownFormattedNotAsMarkup()
{
    help::TForm3 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Instrukcja"));
    QTextDocument* document = form.RichEdit1->document();
    const QString text = document->toPlainText();
    QVERIFY(!text.contains(QLatin1Char('<')));
    QVERIFY(!text.contains(QStringLiteral("&nbsp;")));
    // Headings are headings, the warnings are bold, the preparation steps a numbered list.
    int headings = 0;
    bool numbered = false;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        headings += block.blockFormat().headingLevel() > 0 ? 1 : 0;
        if (block.textList() && block.textList()->format().style() == QTextListFormat::ListDecimal)
            numbered = true;
    }
    QVERIFY(headings >= 5);
    QVERIFY(numbered);
    QTextCursor found = document->find(QStringLiteral("Import można wykonać tylko raz."));
    QVERIFY(!found.isNull());
    QVERIFY(found.charFormat().fontWeight() >= QFont::Bold);
}

void InstructionsWindowTest::cannotBeEdited()
{
    help::TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString before = form.RichEdit1->toPlainText();
    form.RichEdit1->setFocus();
    QTest::keyClicks(form.RichEdit1->viewport(), QStringLiteral("abc"));
    QTest::keyClick(form.RichEdit1->viewport(), Qt::Key_Delete);
    QTest::keyClick(form.RichEdit1->viewport(), Qt::Key_Backspace);
    QCOMPARE(form.RichEdit1->toPlainText(), before);
    QVERIFY(form.RichEdit1->isReadOnly());
    // OK closes the window.
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Accepted));
}

void InstructionsWindowTest::designedFontAndOuterSize()
{
    help::TForm3 form;
    QCOMPARE(form.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form.font().pointSize(), 8);
    QCOMPARE(form.RichEdit1->font().pointSize(), 8);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // The designed size is the window's outer one, frame and title bar included.
    QCOMPARE(form.frameGeometry().size(), QSize(696, 480));
    QVERIFY2(form.size() != form.frameGeometry().size(), "the window has no frame here");
    // Hidden and shown again it keeps the size the user gave it.
    form.resize(800, 600);
    form.hide();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(800, 600));
}

void InstructionsWindowTest::resizing()
{
    help::TForm3 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int textHeight = form.RichEdit1->height();
    form.resize(900, 700);
    QTRY_COMPARE(form.Panel1->width(), form.width());
    QCOMPARE(form.Panel1->height(), 41);
    QCOMPARE(form.BitBtn1->x(), 316);
    QVERIFY(form.RichEdit1->height() > textHeight);
    QCOMPARE(form.RichEdit1->width(), form.width());
}

QTEST_MAIN(InstructionsWindowTest)
#include "instructions_window_test.moc"
