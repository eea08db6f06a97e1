// Qt's own texts in Polish, like the rest of the window: the buttons of
// message boxes ("Tak", "Nie"), the entry box's context menu. The program is
// Polish whatever the system's language.
#pragma once

class QCoreApplication;

namespace borvantel::app {

// Loads Qt's Polish translation: from "translations" beside the program (the
// Windows zip), else from Qt's own translations directory (Linux). Returns
// whether one was found; without it Qt's texts stay English.
bool installPolishQtTexts(QCoreApplication& app);

}  // namespace borvantel::app
