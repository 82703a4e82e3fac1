// The program's message boxes: what QMessageBox shows for each kind of message, and the answers
// the real box gives back.
#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/message_box.h"
#include "tests/app/app_test_support.h"

using convert::Answer;
using convert::Buttons;
using convert::Icon;

Q_DECLARE_METATYPE(convert::Message)
Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)
Q_DECLARE_METATYPE(convert::Answer)

class MessageBoxTest : public QObject
{
    Q_OBJECT
private slots:
    void built_data();
    void built();
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
