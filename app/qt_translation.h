// Qt's own texts in Polish: the buttons of message boxes ("Tak", "Nie", "Pokaż szczegóły..."), the
// context menu of edit fields and the like come from Qt's Polish translation, not from the program.
#pragma once

#include <QString>

class QTranslator;

namespace app {

// Loads Qt's Polish translation and installs it in the running application (which owns the
// translator). Looks first in the folder "translations" inside `programDirectory` (the folder of
// the program file, where the Windows build ships it): "qtbase_pl.qm", or "qt_pl.qm" as
// windeployqt writes it; then in Qt's own translations folder (`qtFolder`, QLibraryInfo's when
// not given); last the copy built into the program (where the build found one). Returns the
// installed translator, or null when none of them could be loaded: Qt's texts then stay English.
QTranslator* InstallQtTranslation(const QString& programDirectory, const QString& qtFolder = QString());

} // namespace app
