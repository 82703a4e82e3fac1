// The main window: its controls, the directory choice, the options and the import run on screen.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "app/design_font.h"
#include "app/message_box.h"
#include "app/renumbering_dialog.h"
#include "help/instructions_window.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "renumber/commune_renumbering.h"

namespace app {
namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TForm1::TForm1(MainWindowSetup setup, QWidget* parent)
    : QDialog(parent), programFile_(std::move(setup.programFile)),
      renumberingFile_(renumber::RenumberingFilePath(programFile_))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Import KERG"));
    // A fixed-size dialog window: no minimise, maximise or context-help buttons.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DesignFont());

    Label1 = new QLabel(Text("Import danych z archiwum KERG"), this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignHCenter);
    Label2 = new QLabel(Text("Kartoteka z danymi  wejściowymi (scalone archiwum):"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Button1 = new QPushButton(Text("Wybierz"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Label3 = new QLabel(Text("Kartoteka z danymi  wyjściowymi:"), this);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Button2 = new QPushButton(Text("Wybierz"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    cbgmina = new QCheckBox(Text(convert::messages::kOptionRenumbering), this);
    cbgmina->setObjectName(QStringLiteral("cbgmina"));
    cbasor = new QCheckBox(Text(convert::messages::kOptionAssortments), this);
    cbasor->setObjectName(QStringLiteral("cbasor"));
    cbasor->setChecked(true);
    cbdzialki = new QCheckBox(Text(convert::messages::kOptionParcels), this);
    cbdzialki->setObjectName(QStringLiteral("cbdzialki"));
    cbdzialki->setChecked(true);
    cbrastry = new QCheckBox(Text(convert::messages::kOptionRasters), this);
    cbrastry->setObjectName(QStringLiteral("cbrastry"));
    cbrastry->setChecked(true);
    Label5 = new QLabel(Text("Import danych:"), this);
    ProgressBar2 = new QProgressBar(this);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    ProgressBar2->setRange(0, 100);
    ProgressBar2->setValue(0);
    ProgressBar2->setTextVisible(false);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), Text("Importuj"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), Text("Info"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), Text("Anuluj"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));

    // One dialog for both buttons, so that it reopens in the folder last used. The user picks any
    // file in the wanted directory or types a name there; the name is not checked.
    OpenDialog_ = new QFileDialog(this);
    OpenDialog_->setObjectName(QStringLiteral("OpenDialog"));
    OpenDialog_->setFileMode(QFileDialog::AnyFile);
    OpenDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog_->setOption(QFileDialog::DontConfirmOverwrite, true);
    OpenDialog_->setSizeGripEnabled(true);
    OpenDialog_->selectFile(QStringLiteral("*.*"));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(24, 12, 20, 20);
    layout->setHorizontalSpacing(7);
    layout->setVerticalSpacing(6);
    layout->addWidget(Label1, 0, 0, 1, 2);
    layout->setRowMinimumHeight(1, 12);
    layout->addWidget(Label2, 2, 0, 1, 2);
    layout->addWidget(Edit1, 3, 0);
    layout->addWidget(Button1, 3, 1);
    layout->setRowMinimumHeight(4, 8);
    layout->addWidget(Label3, 5, 0, 1, 2);
    layout->addWidget(Edit2, 6, 0);
    layout->addWidget(Button2, 6, 1);
    layout->setRowMinimumHeight(7, 12);
    layout->addWidget(cbgmina, 8, 0, 1, 2);
    layout->setRowMinimumHeight(9, 8);
    layout->addWidget(cbasor, 10, 0, 1, 2);
    layout->addWidget(cbdzialki, 11, 0, 1, 2);
    layout->addWidget(cbrastry, 12, 0, 1, 2);
    layout->setRowMinimumHeight(13, 12);
    layout->addWidget(Label5, 14, 0, 1, 2);
    layout->addWidget(ProgressBar2, 15, 0, 1, 2);
    layout->setRowStretch(16, 1);
    layout->setRowMinimumHeight(16, 20);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(20);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons, 17, 0, 1, 2);
    for (QCheckBox* box : {cbgmina, cbasor, cbdzialki, cbrastry})
        box->setContentsMargins(4, 0, 0, 0);
    setFixedSize(sizeHint().expandedTo(QSize(361, 397)));

    // The keyboard's order through the window.
    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Edit2);
    setTabOrder(Edit2, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, cbasor);
    setTabOrder(cbasor, cbrastry);
    setTabOrder(cbrastry, cbdzialki);
    setTabOrder(cbdzialki, cbgmina);
    setTabOrder(cbgmina, BitBtn3);
    Edit1->setFocus();

    connect(Button1, &QPushButton::clicked, this, [this] { ChooseDirectory(Edit1); });
    connect(Button2, &QPushButton::clicked, this, [this] { ChooseDirectory(Edit2); });
    connect(cbgmina, &QCheckBox::toggled, this, [this](bool ticked) { cbgminaClick(ticked); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QWidget::close);
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });

    FormCreate();

    std::function<convert::Date()> today = std::move(setup.today);
    if (!today) {
        today = [] {
            const platform::LocalDate date = platform::Today();
            return convert::Date{date.year, date.month, date.day};
        };
    }
    run_ = std::make_unique<convert::ImportRun>(*this, renumberingFile_, std::move(today));

    Form2_ = new TForm2(renumberingFile_, this);
    Form3_ = new help::TForm3(this);
}

TForm1::~TForm1()
{
    if (busy_)
        QApplication::restoreOverrideCursor();
}

void TForm1::FormCreate()
{
    Edit2->setText(QString::fromStdString(platform::DirectoryPart(programFile_)));
}

void TForm1::ChooseDirectory(QLineEdit* edit)
{
    if (OpenDialog_->exec() != QDialog::Accepted)
        return;
    const QStringList files = OpenDialog_->selectedFiles();
    if (files.isEmpty())
        return;
    const std::string chosen = QDir::toNativeSeparators(files.first()).toStdString();
    const std::string directory = platform::DirectoryPart(chosen);
    if (!directory.empty())
        edit->setText(QString::fromStdString(directory));
}

void TForm1::cbgminaClick(bool ticked)
{
    if (!ticked)
        return;
    if (Form2_->exec() != QDialog::Accepted)
        cbgmina->setChecked(false);
}

void TForm1::BitBtn1Click()
{
    // The run lets the message loop run only inside its message boxes; a click queued before one
    // of them must not start a second run inside the first.
    if (running_)
        return;
    running_ = true;
    run_->BitBtn1Click();
    running_ = false;
}

void TForm1::BitBtn3Click()
{
    Form3_->exec();
}

std::string TForm1::ArchiveDirText()
{
    return Edit1->text().toStdString();
}

void TForm1::SetArchiveDirText(const std::string& text)
{
    Edit1->setText(QString::fromStdString(text));
}

std::string TForm1::TargetDirText()
{
    return Edit2->text().toStdString();
}

void TForm1::SetTargetDirText(const std::string& text)
{
    Edit2->setText(QString::fromStdString(text));
}

bool TForm1::CommuneConversionTicked()
{
    return cbgmina->isChecked();
}

bool TForm1::AssortmentsTicked()
{
    return cbasor->isChecked();
}

bool TForm1::ParcelsTicked()
{
    return cbdzialki->isChecked();
}

bool TForm1::RastersTicked()
{
    return cbrastry->isChecked();
}

convert::Answer TForm1::ShowMessage(const convert::Message& message)
{
    return ShowMessageBox(this, message);
}

void TForm1::ShowError(const std::string& text)
{
    ShowErrorBox(this, QString::fromStdString(text));
}

void TForm1::ShowErrorWithDetails(const std::string& text, const std::string& details)
{
    ShowErrorBox(this, QString::fromStdString(text), details);
}

void TForm1::SetProgressRange(int minimum, int maximum)
{
    ProgressBar2->setRange(minimum, maximum);
}

void TForm1::SetProgressPosition(int position)
{
    ProgressBar2->setValue(position);
    // The run keeps the event loop waiting: paint now, not when the loop would.
    ProgressBar2->repaint();
}

void TForm1::SetBusyCursor(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TForm1::CloseAfterSuccess()
{
    close();
}

} // namespace app
