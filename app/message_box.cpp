// The program's message boxes over QMessageBox.
#include "app/message_box.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextEdit>

namespace app {
namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::StandardButton StandardButtonOf(convert::Answer answer)
{
    switch (answer) {
    case convert::Answer::Yes:
        return QMessageBox::Yes;
    case convert::Answer::No:
        return QMessageBox::No;
    case convert::Answer::Ok:
    case convert::Answer::Closed:
        break;
    }
    return QMessageBox::Ok;
}

// Qt gives the details a strip of a few lines as wide as the text above them: a report of ten
// lines would wrap and scroll there. The strip is made as wide as its longest line and as high as
// all its lines, up to two thirds of the screen's width and half its height.
void FitDetails(QMessageBox& box, const QString& details)
{
    auto* edit = box.findChild<QTextEdit*>();
    if (!edit)
        return;
    const QFontMetrics metrics(edit->font());
    const QStringList lines = details.split(QLatin1Char('\n'));
    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const QScreen* screen = box.screen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(1024, 768);
    const QSize room(available.width() * 2 / 3, available.height() / 2);
    const int margins = 2 * (edit->frameWidth() + static_cast<int>(edit->document()->documentMargin()));
    const int scrollBar = edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, edit);
    edit->setMinimumWidth(std::min(widest + margins + scrollBar + 1, room.width()));
    edit->setFixedHeight(
        std::min(static_cast<int>(lines.size()) * metrics.lineSpacing() + margins + 1, room.height()));
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const convert::Message& message)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QString::fromStdString(message.caption));
    // Texts may hold file names and engine messages: never read them as markup.
    box->setTextFormat(Qt::PlainText);
    QString text = QString::fromStdString(message.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box->setText(text);
    // The details wait under the box's "Pokaż szczegóły..." button, as plain text.
    if (!message.details.empty()) {
        const QString details = QString::fromStdString(message.details);
        box->setDetailedText(details);
        FitDetails(*box, details);
        // The box's own "Pokaż szczegóły..." button opens them, as the user would.
        if (message.detailsShown)
            for (QAbstractButton* button : box->buttons())
                if (box->buttonRole(button) == QMessageBox::ActionRole)
                    button->click();
    }
    switch (message.icon) {
    case convert::Icon::None:
        box->setIcon(QMessageBox::NoIcon);
        break;
    case convert::Icon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    case convert::Icon::Stop:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    if (message.buttons == convert::Buttons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(StandardButtonOf(
            message.defaultButton == convert::Answer::Yes ? convert::Answer::Yes : convert::Answer::No));
        // Esc and the close box answer No, as leaving a question unanswered does.
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Ok);
    }
    return box;
}

convert::Answer ShowMessageBox(QWidget* parent, const convert::Message& message)
{
    if (Hook())
        return Hook()(parent, message);
    const std::unique_ptr<QMessageBox> box = BuildMessageBox(parent, message);
    box->exec();
    switch (box->standardButton(box->clickedButton())) {
    case QMessageBox::Yes:
        return convert::Answer::Yes;
    case QMessageBox::No:
        return convert::Answer::No;
    case QMessageBox::Ok:
        return convert::Answer::Ok;
    default:
        return convert::Answer::Closed;
    }
}

void ShowErrorBox(QWidget* parent, const QString& text, const std::string& details)
{
    ShowMessageBox(parent, convert::Message{text.toStdString(), "Błąd", convert::Buttons::Ok,
                                            convert::Icon::Stop, convert::Answer::Ok, details});
}

} // namespace app
