// The program's message boxes: what QMessageBox shows for each kind of message, its details, Qt's
// own button texts in Polish, and the answers the real box gives back.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTranslator>

#include "app/message_box.h"
#include "app/qt_translation.h"
#include "tests/app/app_test_support.h"

using convert::Answer;
using convert::Buttons;
using convert::Icon;

Q_DECLARE_METATYPE(convert::Message)
Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)
Q_DECLARE_METATYPE(convert::Answer)

namespace {

// Qt's translation installed as the program installs it, for the life of the object.
class QtTranslation
{
public:
    explicit QtTranslation(const QString& programDirectory, const QString& qtFolder = QString())
        : translator_(app::InstallQtTranslation(programDirectory, qtFolder))
    {}
    ~QtTranslation()
    {
        if (translator_) {
            QCoreApplication::removeTranslator(translator_);
            delete translator_;
        }
    }
    QtTranslation(const QtTranslation&) = delete;
    QtTranslation& operator=(const QtTranslation&) = delete;
    bool Installed() const { return translator_ != nullptr; }

private:
    QTranslator* translator_;
};

// A button's text as the user reads it: without the '&' of its accelerator.
QString Shown(const QAbstractButton* button)
{
    return button ? button->text().remove(QLatin1Char('&')) : QStringLiteral("<no button>");
}

// The texts of every push button of the box, sorted.
QStringList ButtonTexts(const QMessageBox& box)
{
    QStringList texts;
    for (const QPushButton* button : box.findChildren<QPushButton*>())
        texts << Shown(button);
    texts.sort();
    return texts;
}

const convert::Message kBackupQuestion{"Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)",
                                       "Pytanie",
                                       Buttons::YesNo,
                                       Icon::Question,
                                       Answer::No,
                                       {}};

} // namespace

class MessageBoxTest : public QObject
{
    Q_OBJECT
private slots:
    void built_data();
    void built();
    void qtTextsInPolish_data();
    void qtTextsInPolish();
    void details_data();
    void details();
    void detailsShownWhole();
    void detailsShownAtOnce_data();
    void detailsShownAtOnce();
    void answers_data();
    void answers();
};

void MessageBoxTest::built_data()
{
    QTest::addColumn<convert::Message>("message");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QMessageBox::StandardButtons>("buttons");
    QTest::addColumn<QMessageBox::StandardButton>("defaultButton");

    QTest::newRow("information")
        << convert::Message{"Import został zakończony.", "Komunikat", Buttons::Ok, Icon::None, Answer::Ok, {}}
        << QString::fromUtf8("Import został zakończony.") << QMessageBox::NoIcon
        << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Ok;
    QTest::newRow("backup question, No by default")
        << convert::Message{"Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)",
                            "Pytanie",
                            Buttons::YesNo,
                            Icon::Question,
                            Answer::No,
                            {}}
        << QString::fromUtf8("Czy wykonałeś kopię danych (kopię kartoteki BAZA systemu MERKAT ?)")
        << QMessageBox::Question << QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No)
        << QMessageBox::No;
    QTest::newRow("leave question, Yes by default")
        << convert::Message{"Kontynuować?", "Potwierdzenie", Buttons::YesNo, Icon::Question, Answer::Yes, {}}
        << QString::fromUtf8("Kontynuować?") << QMessageBox::Question
        << QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No) << QMessageBox::Yes;
    // CR LF is one line break; markup-like text stays text.
    QTest::newRow("conversion error")
        << convert::Message{"Wystąpił błąd podczas importu:\r\n<b>x</b>\r\nkoniec",
                            "Błąd konwersji",
                            Buttons::Ok,
                            Icon::Stop,
                            Answer::Ok,
                            {}}
        << QString::fromUtf8("Wystąpił błąd podczas importu:\n<b>x</b>\nkoniec") << QMessageBox::Critical
        << QMessageBox::StandardButtons(QMessageBox::Ok) << QMessageBox::Ok;
}

void MessageBoxTest::built()
{
    QFETCH(convert::Message, message);
    QFETCH(QString, text);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QMessageBox::StandardButtons, buttons);
    QFETCH(QMessageBox::StandardButton, defaultButton);

    const auto box = app::BuildMessageBox(nullptr, message);
    QCOMPARE(box->windowTitle(), QString::fromStdString(message.caption));
    QCOMPARE(box->text(), text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->icon(), icon);
    QCOMPARE(box->standardButtons(), buttons);
    QCOMPARE(static_cast<QAbstractButton*>(box->defaultButton()), box->button(defaultButton));
}

void MessageBoxTest::qtTextsInPolish_data()
{
    // Which translation files lie in the folder "translations" beside the program; a German
    // file put there under a Polish name shows that the folder beside the program comes first.
    QTest::addColumn<QStringList>("beside");
    QTest::addColumn<bool>("qtFolder");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("no");
    QTest::newRow("none beside the program: Qt's own folder")
        << QStringList{} << true << QStringLiteral("Tak") << QStringLiteral("Nie");
    QTest::newRow("qtbase_pl beside the program")
        << QStringList{"qtbase_pl.qm"} << true << QStringLiteral("Ja") << QStringLiteral("Nein");
    QTest::newRow("qt_pl of windeployqt beside the program")
        << QStringList{"qt_pl.qm"} << true << QStringLiteral("Ja") << QStringLiteral("Nein");
    QTest::newRow("neither beside the program nor in Qt's folder: the copy built in")
        << QStringList{} << false << QStringLiteral("Tak") << QStringLiteral("Nie");
}

void MessageBoxTest::qtTextsInPolish()
{
    QFETCH(QStringList, beside);
    QFETCH(bool, qtFolder);
    QFETCH(QString, yes);
    QFETCH(QString, no);
    QTemporaryDir program;
    QVERIFY(QDir(program.path()).mkdir(QStringLiteral("translations")));
    const QString german =
        QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(QStringLiteral("qtbase_de.qm"));
    for (const QString& name : beside)
        QVERIFY(QFile::copy(german, program.path() + QStringLiteral("/translations/") + name));

    const QtTranslation translation(
        program.path(), qtFolder ? QString() : program.path() + QStringLiteral("/no-such-folder"));
    QVERIFY2(translation.Installed(), "Qt's translations are missing (Debian package qt6-translations-l10n)");
    const auto box = app::BuildMessageBox(nullptr, kBackupQuestion);
    QCOMPARE(Shown(box->button(QMessageBox::Yes)), yes);
    QCOMPARE(Shown(box->button(QMessageBox::No)), no);
}

void MessageBoxTest::details_data()
{
    QTest::addColumn<QString>("details");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("none: no details button") << QString() << QStringList{"OK"};
    QTest::newRow("the import's summary")
        << QString::fromUtf8("Raport importu: /biuro/kerg-import-20261207-153012.txt\n"
                             "Prace w archiwum: 300\nUzupełnione: 247")
        << QStringList{"OK", QString::fromUtf8("Pokaż szczegóły...")};
}

void MessageBoxTest::details()
{
    QFETCH(QString, details);
    QFETCH(QStringList, buttons);
    const QtTranslation translation(QCoreApplication::applicationDirPath());
    QVERIFY(translation.Installed());
    convert::Message message{
        "Import został zakończony.", "Komunikat", Buttons::Ok, Icon::None, Answer::Ok, {}};
    message.details = details.toStdString();
    const auto box = app::BuildMessageBox(nullptr, message);
    QCOMPARE(box->detailedText(), details);
    QCOMPARE(ButtonTexts(*box), buttons);
    QCOMPARE(box->text(), QString::fromUtf8("Import został zakończony."));
}

void MessageBoxTest::detailsShownWhole()
{
    const QStringList summary{
        "Raport importu: /biuro/EWIDENCJA/kerg-import-20261207-153012.txt",
        "Prace w archiwum: 300",
        "Uzupełnione: 247",
        "Już uzupełnione wcześniej: 12",
        "Brak w bazie docelowej: 41",
        "Pominięte (uszkodzone rekordy): 0",
        "Osoby znalezione: 180, dopisane: 27",
        "Dopisane wiersze: asortymenty 702, działki 655, zakresy rastrowe 311",
        "Działki pominięte (brak obrębu): 3",
        "Przenumerowane gminy: 0",
    };
    convert::Message message{
        "Import został zakończony.", "Komunikat", Buttons::Ok, Icon::None, Answer::Ok, {}};
    message.details = summary.join(QLatin1Char('\n')).toStdString();
    const auto box = app::BuildMessageBox(nullptr, message);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole)
            button->click();
    }
    auto* edit = box->findChild<QTextEdit*>();
    QVERIFY(edit);
    QTRY_VERIFY(edit->isVisible());
    // Every line of the summary in one piece, and all of them in view.
    QTextDocument* document = edit->document();
    QCOMPARE(document->blockCount(), int(summary.size()));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        QVERIFY2(block.layout()->lineCount() == 1, qPrintable(block.text()));
    QCOMPARE(edit->verticalScrollBar()->maximum(), 0);
    QVERIFY(box->frameGeometry().width() <= box->screen()->availableGeometry().width());
}

void MessageBoxTest::detailsShownAtOnce_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("on request") << false;
    QTest::newRow("at once") << true;
}

void MessageBoxTest::detailsShownAtOnce()
{
    QFETCH(bool, atOnce);
    convert::Message message{"Import został zakończony.", "Komunikat", Buttons::Ok, Icon::None, Answer::Ok,
                             "Działki pominięte: 3"};
    message.detailsShown = atOnce;
    const auto box = app::BuildMessageBox(nullptr, message);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    auto* edit = box->findChild<QTextEdit*>();
    QVERIFY(edit);
    QCOMPARE(edit->isVisible(), atOnce);
    QCOMPARE(box->text(), QString::fromUtf8("Import został zakończony."));
}

void MessageBoxTest::answers_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("key"); // 0: click the button below
    QTest::addColumn<QMessageBox::StandardButton>("click");
    QTest::addColumn<convert::Answer>("expected");

    QTest::newRow("Yes clicked") << int(Buttons::YesNo) << 0 << QMessageBox::Yes << Answer::Yes;
    QTest::newRow("No clicked") << int(Buttons::YesNo) << 0 << QMessageBox::No << Answer::No;
    QTest::newRow("Esc on a question")
        << int(Buttons::YesNo) << int(Qt::Key_Escape) << QMessageBox::NoButton << Answer::No;
    QTest::newRow("Enter takes the default No")
        << int(Buttons::YesNo) << int(Qt::Key_Return) << QMessageBox::NoButton << Answer::No;
    QTest::newRow("OK clicked") << int(Buttons::Ok) << 0 << QMessageBox::Ok << Answer::Ok;
}

void MessageBoxTest::answers()
{
    QFETCH(int, buttons);
    QFETCH(int, key);
    QFETCH(QMessageBox::StandardButton, click);
    QFETCH(convert::Answer, expected);

    const convert::Message message{"Pytanie?",     "Pytanie",  static_cast<Buttons>(buttons),
                                   Icon::Question, Answer::No, {}};
    QString seenTitle;
    apptest::WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        seenTitle = box->windowTitle();
        if (key != 0)
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        else
            box->button(click)->click();
    });
    const Answer answer = app::ShowMessageBox(nullptr, message);
    QCOMPARE(seenTitle, QStringLiteral("Pytanie"));
    QCOMPARE(answer, expected);
}

QTEST_MAIN(MessageBoxTest)
#include "message_box_test.moc"
