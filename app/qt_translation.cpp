// Qt's Polish translation.
#include "app/qt_translation.h"

#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace app {

QTranslator* InstallQtTranslation(const QString& programDirectory, const QString& qtFolder)
{
    const QString beside = QDir(programDirectory).filePath(QStringLiteral("translations"));
    const QString qtOwn = qtFolder.isNull() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : qtFolder;
    // qtbase_pl holds every text of the widgets the program uses; windeployqt merges it with the
    // other modules' texts into qt_pl. The copy in the program's resources serves a program copied
    // without its folder of translations.
    const std::pair<QString, QString> candidates[] = {
        {QStringLiteral("qtbase_pl"), beside},
        {QStringLiteral("qt_pl"), beside},
        {QStringLiteral("qtbase_pl"), qtOwn},
        {QStringLiteral("qtbase_pl"), QStringLiteral(":/kerg/translations")},
    };
    auto* translator = new QTranslator(QCoreApplication::instance());
    for (const auto& [name, folder] : candidates) {
        if (!folder.isEmpty() && translator->load(name, folder)) {
            QCoreApplication::installTranslator(translator);
            return translator;
        }
    }
    delete translator;
    return nullptr;
}

} // namespace app
