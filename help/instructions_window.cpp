// The instructions window and its document.
#include "help/instructions_window.h"

#include <QFile>
#include <QFrame>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace help {
namespace {

// The window's designed size with its frame and title bar.
constexpr QSize kOuterSize(696, 480);

} // namespace

QString InstructionDocument()
{
    QFile file(QStringLiteral(":/help/instrukcja.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Instrukcja"));
    // An ordinary resizable window, without the context-help button some systems add to dialogs.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    // The font of the program's windows: "MS Sans Serif", 8 points, or the nearest sans-serif face
    // where the system lacks it.
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    // The designed size is the outer one; resize() sets the inside. Until the frame is known (at
    // the first showing, see showEvent) the inside takes the whole size.
    resize(kOuterSize);

    RichEdit1 = new QTextBrowser(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setOpenLinks(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setLineWrapMode(QTextEdit::WidgetWidth);

    // The panel keeps its height; the button keeps its place from the left edge.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFixedHeight(41);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), Panel1);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(316, 8, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(RichEdit1, 1);
    layout->addWidget(Panel1);

    FormCreate();
}

void TForm3::showEvent(QShowEvent* event)
{
    // At the first showing the native window exists and the system knows its frame: the inside
    // gets the designed outer size less the frame, once, so that a size the user gives the window
    // later stays. (Under an X window manager that frames the window only after it is mapped, the
    // frame may still be unknown here; the inside then keeps the whole size.)
    if (!OuterSizeSet_ && !event->spontaneous()) {
        OuterSizeSet_ = true;
        const QSize frame = frameGeometry().size() - geometry().size();
        resize(kOuterSize - frame);
    }
    QDialog::showEvent(event);
}

void TForm3::FormCreate()
{
    RichEdit1->setHtml(InstructionDocument());
}

} // namespace help
