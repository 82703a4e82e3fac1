// Program start.
#include "app/program.h"

#include <QApplication>
#include <QFileInfo>

#include "app/main_window.h"
#include "app/qt_translation.h"
#include "engine/settings.h"
#include "platform/paths.h"

namespace app {

int RunProgram(int argc, char** argv)
{
    // The dBase driver's settings for this run only; nothing is stored.
    engine::ConfigureDbaseDriver("DBASE", {"LANGDRIVER=db852po0", "LEVEL=5"});

    QApplication application(argc, argv);
    std::string programFile = platform::ProgramFilePath();
    if (programFile.empty())
        programFile = QApplication::applicationFilePath().toStdString();
    // Qt's own texts (message box buttons, the edit fields' menu) in Polish, like the program's.
    InstallQtTranslation(QFileInfo(QString::fromStdString(programFile)).absolutePath());

    TForm1 form1(MainWindowSetup{programFile, {}});
    form1.show();
    return QApplication::exec();
}

} // namespace app
