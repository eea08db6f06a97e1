#include "app/qt_polish.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace borvantel::app {

bool installPolishQtTexts(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("translations");
  for (const QString& dir : {beside, QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
    if (translator->load(QStringLiteral("qtbase_pl"), dir)) return QCoreApplication::installTranslator(translator);
  }
  delete translator;
  return false;
}

}  // namespace borvantel::app
