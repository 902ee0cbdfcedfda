#pragma once

class QTranslator;

namespace kestrova {

// Qt's own texts (a line edit's menu, the buttons of its dialogs) in Japanese, from the
// catalogue built into the program, else from Qt's translations folder. Returns the
// translator installed, or null when there is no catalogue; it lives as long as the program.
QTranslator* InstallQtTranslations();

}  // namespace kestrova
