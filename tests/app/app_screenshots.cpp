// Writes the pictures of the program's three windows kept in docs/: main_window.png,
// renumbering_dialog.png and instructions_window.png, and final_message_details.png, the final
// message of an import with its details shown. Run under an X server of its own:
//     xvfb-run -a -s "-screen 0 1024x768x24" app_screenshots OUTPUT_DIR
#include <cstdio>
#include <fstream>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/main_window.h"
#include "app/message_box.h"
#include "app/qt_translation.h"
#include "app/renumbering_dialog.h"
#include "convert/import_report.h"
#include "grid/data_grid.h"
#include "help/instructions_window.h"

namespace {

// Shows the window and writes what the X server displays of it.
bool Grab(QWidget& window, const QString& file)
{
    window.show();
    window.raise();
    window.activateWindow();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(300);
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    return !picture.isNull() && picture.save(file);
}

// The final message of an import with the summary the run puts in its details.
bool GrabFinalMessage(const QString& file)
{
    convert::Message message{"Import został zakończony.", "Komunikat",         convert::Buttons::Ok,
                             convert::Icon::None,         convert::Answer::Ok, {}};
    // The details as the run writes them (ImportRun::FinishReport), over a report of a small office.
    convert::ImportReport report;
    report.works = 300;
    report.completed = 247;
    report.alreadyCompleted = 12;
    report.notInArchive = 37;
    report.notInRegister = 4;
    report.archiveWorks = 262;
    report.archiveWorksNotInTarget = 15;
    report.personsFound = 180;
    report.personsAdded = 27;
    report.assortmentsAdded = 6;
    report.assortmentLinks = 702;
    report.parcelsAdded = 655;
    report.parcelLinks = 655;
    report.rasterRanges = 311;
    report.parcelsWithoutPrecinct["Zalesie"] = 3;
    message.details = "Raport zapisano w pliku: /home/biuro/EWIDENCJA/kerg-import-20261207-153012.txt\n\n" +
                      convert::ReportSummary(report, 20);
    const auto box = app::BuildMessageBox(nullptr, message);
    box->show();
    if (!QTest::qWaitForWindowExposed(box.get()))
        return false;
    // The details button is the box's only button without a standard role.
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole)
            button->click();
    }
    return Grab(*box, file);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: app_screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    app::InstallQtTranslation(QCoreApplication::applicationDirPath());
    QTemporaryDir folder;
    const std::string program = QDir(folder.path()).filePath(QStringLiteral("kerg-import")).toStdString();
    std::ofstream(program + ".gm", std::ios::binary) << "3|33\r\n7|25\r\n12|345\r\n15|150\r\n";

    app::TForm1 form1(app::MainWindowSetup{program, {}});
    form1.Edit1->setText(QStringLiteral("/home/biuro/ARCHIWUM/SCALONE/"));
    form1.Edit2->setText(QStringLiteral("/home/biuro/EWIDENCJA/"));
    bool ok = Grab(form1, out + QStringLiteral("/main_window.png"));

    app::TForm2& form2 = *form1.Form2();
    form2.show();
    form2.DataGrid->FocusCell(1, 2);
    form2.cboe->setChecked(true);
    ok = Grab(form2, out + QStringLiteral("/renumbering_dialog.png")) && ok;
    form2.hide();

    help::TForm3& form3 = *form1.Form3();
    ok = Grab(form3, out + QStringLiteral("/instructions_window.png")) && ok;
    form3.hide();

    ok = GrabFinalMessage(out + QStringLiteral("/final_message_details.png")) && ok;
    if (!ok)
        std::fprintf(stderr, "app_screenshots: a picture could not be taken\n");
    return ok ? 0 : 1;
}
