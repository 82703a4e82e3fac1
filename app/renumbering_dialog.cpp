// The renumbering dialog over the data grid and the renumbering file.
#include "app/renumbering_dialog.h"

#include <exception>
#include <vector>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/design_font.h"
#include "app/message_box.h"
#include "convert/text.h"
#include "engine/error.h"
#include "grid/data_grid.h"
#include "grid/grid_description.h"
#include "renumber/commune_renumbering.h"

namespace app {

const char* const kRenumberingGridDescription = R"({
    "ColCount": 2, "RowCount": 2, "FixedCols": 0, "FixedRows": 1,
    "DefaultColWidth": 64, "DefaultRowHeight": 16,
    "Options": ["goFixedVertLine", "goFixedHorzLine", "goVertLine", "goHorzLine", "goColSizing",
                "goEditing", "goTabs"],
    "ColWidths": [75, 73],
    "Columns": [{"DisplayMask": "", "Title": {"Caption": "Stary numer"}},
                {"DisplayMask": "", "Title": {"Caption": "Nowy numer"}}],
    "DataGridOptions": ["dgoAppendRow", "dgoInsertRow", "dgoDeleteRow"],
    "RowCountMin": 0, "SelectedIndex": 0, "Version": "2.0", "PixelsPerInch": 96
})";

namespace {

// The glyphs of the two tool buttons: a green plus and a red minus, drawn so that they look
// the same with every icon theme.
QIcon RowGlyph(bool add)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QColor colour = add ? QColor(0, 128, 0) : QColor(192, 0, 0);
    painter.fillRect(QRect(3, 7, 10, 2), colour);
    if (add)
        painter.fillRect(QRect(7, 3, 2, 10), colour);
    return QIcon(pixmap);
}

QString Cell(const std::string& cp1250)
{
    return QString::fromStdString(convert::Cp1250ToUtf8(cp1250));
}

std::string Bytes(const QString& cell)
{
    return convert::Utf8ToCp1250(cell.toStdString());
}

} // namespace

TForm2::TForm2(std::string renumberingFile, QWidget* parent)
    : QDialog(parent), renumberingFile_(std::move(renumberingFile))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8("Przenumerowanie numerów statystycznych gmin"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DesignFont());

    Label1 = new QLabel(QString::fromUtf8("Przenumerowanie gmin:"), this);
    DataGrid = new grid::TDataGrid(this);
    DataGrid->setObjectName(QStringLiteral("DataGrid"));
    QString error;
    if (!grid::LoadGridDescription(*DataGrid, kRenumberingGridDescription, &error))
        qWarning("renumbering grid: %s", qPrintable(error));
    DataGrid->setFixedWidth(177);
    DataGrid->setMinimumHeight(257);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setIcon(RowGlyph(true));
    SpeedButton1->setToolTip(QString::fromUtf8("Dodaj nowy wiersz"));
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setAutoRaise(true);
    SpeedButton2->setIcon(RowGlyph(false));
    SpeedButton2->setToolTip(QString::fromUtf8("Usuń wiersz"));
    SpeedButton2->setFocusPolicy(Qt::NoFocus);

    Label2 = new QLabel(QString::fromUtf8("Dodatkowe przenumerowanie członu 1:"), this);
    const auto option = [this](const char* name, const char* caption) {
        auto* box = new QCheckBox(QString::fromUtf8(caption), this);
        box->setObjectName(QString::fromLatin1(name));
        connect(box, &QCheckBox::clicked, this, [this] { cboeClick(); });
        return box;
    };
    cboe = option("cboe", "Operatów ewidencyjnych");
    cbob = option("cbob", "Operatów bazowo-użytkowych");
    cbop = option("cbop", "Operatów przejściowych");
    cbos = option("cbos", "Szkiców polowych");
    cbz = option("cbz", "Zarysów");
    cbk = option("cbk", "KME");

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn2 =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Anuluj"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    // Enter activates the button that has the focus, as on every Windows dialog: "Anuluj" stands
    // in for the default OK while it has the focus.
    BitBtn2->setAutoDefault(true);

    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    // Left: the grid with its caption and tool buttons; right: the first-segment options; below
    // them the two buttons.
    auto* left = new QVBoxLayout;
    left->addWidget(Label1);
    left->addSpacing(10);
    left->addWidget(DataGrid, 1);
    auto* tools = new QHBoxLayout;
    tools->addWidget(SpeedButton1);
    tools->addSpacing(10);
    tools->addWidget(SpeedButton2);
    tools->addStretch(1);
    left->addLayout(tools);
    auto* right = new QVBoxLayout;
    right->addSpacing(4);
    right->addWidget(Label2);
    right->addSpacing(18);
    for (QCheckBox* box : {cboe, cbob, cbop, cbos, cbz, cbk}) {
        right->addWidget(box);
        right->addSpacing(12);
    }
    right->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addSpacing(30);
    buttons->addWidget(BitBtn2);
    right->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(20);
    layout->addLayout(left);
    layout->addLayout(right, 1);
    setFixedSize(sizeHint().expandedTo(QSize(436, 357)));

    setTabOrder(DataGrid, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, cboe);
    setTabOrder(cboe, cbob);
    setTabOrder(cbob, cbop);
    setTabOrder(cbop, cbos);
    setTabOrder(cbos, cbz);
    setTabOrder(cbz, cbk);
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    DataGrid->setFocus();
}

void TForm2::FormShow()
{
    fileUnread_ = false;
    try {
        const auto rows = renumber::ReadRenumberingRows(renumberingFile_);
        if (!rows)
            return; // no file: the grid keeps what it holds
        DataGrid->SetRowCount(2);
        DataGrid->SetCells(0, 1, QString());
        DataGrid->SetCells(1, 1, QString());
        for (std::size_t i = 0; i < rows->size(); ++i) {
            if (i > 0)
                DataGrid->AppendRow();
            const int row = static_cast<int>(i) + 1;
            DataGrid->SetCells(0, row, Cell((*rows)[i].first));
            DataGrid->SetCells(1, row, Cell((*rows)[i].second));
        }
        DataGrid->FocusCell(0, 1);
    } catch (const std::exception& e) {
        fileUnread_ = true;
        ShowErrorBox(this, QString::fromStdString(engine::FailureText(e)));
    }
}

void TForm2::SpeedButton1Click()
{
    DataGrid->AppendRow();
    DataGrid->SetRow(DataGrid->RowCount() - 1);
}

void TForm2::SpeedButton2Click()
{
    if (DataGrid->Row() >= DataGrid->FixedRows())
        DataGrid->RemoveRow(DataGrid->Row());
}

void TForm2::BitBtn1Click()
{
    if (fileUnread_) {
        ShowErrorBox(this,
                     QString::fromUtf8("Przenumerowania nie zapisano: pliku ") +
                         QString::fromStdString(renumberingFile_) +
                         QString::fromUtf8(" nie udało się odczytać, a zapis zastąpiłby jego zawartość. "
                                           "Zamknij okno przyciskiem \u201EAnuluj\u201D, usuń przyczynę "
                                           "błędu i otwórz okno ponownie."));
        return;
    }
    std::vector<renumber::RenumberingRow> rows;
    for (int row = DataGrid->FixedRows(); row < DataGrid->RowCount(); ++row)
        rows.emplace_back(Bytes(DataGrid->Cells(0, row)), Bytes(DataGrid->Cells(1, row)));
    try {
        renumber::WriteRenumberingRows(renumberingFile_, rows);
    } catch (const std::exception& e) {
        // The table was not kept: the dialog stays open, so that the option is not left ticked
        // over a file that does not hold what the user typed.
        ShowErrorBox(this, QString::fromStdString(engine::FailureText(e)));
        return;
    }
    QDialog::done(QDialog::Accepted);
}

void TForm2::done(int result)
{
    if (result != QDialog::Accepted) {
        const convert::Message question{
            "Wyjście bez zapisu spowoduje, iż wprowadzone przenumerowanie nie zostanie zachowane. "
            "Kontynuować?",
            "Potwierdzenie",
            convert::Buttons::YesNo,
            convert::Icon::Question,
            convert::Answer::Yes,
            {}};
        if (ShowMessageBox(this, question) != convert::Answer::Yes)
            return;
    }
    QDialog::done(result);
}

void TForm2::cboeClick()
{
    if (FirstSegmentWarningShown)
        return;
    FirstSegmentWarningShown = true;
    ShowMessageBox(
        this, convert::Message{"Przenumerowanie członu pierwszego jest równoznaczne z przenumerowaniem "
                               "wybranego zasobu. Przed zaznaczeniem przenumerowania należy sprawdzić czy "
                               "numery, na które będzie przenumerowanie nie występują już w bazie. W takim "
                               "przypadku przenumerowanie może spowodować konflikt numeracji.",
                               "Ostrzeżenie !",
                               convert::Buttons::Ok,
                               convert::Icon::None,
                               convert::Answer::Ok,
                               {}});
}

} // namespace app
