#pragma once

namespace kestrova {

// Qt's own texts (a line edit's menu, the buttons of its dialogs) in Japanese, from the
// catalogue built into the program, else from Qt's translations folder. Returns whether
// one was installed.
bool InstallQtTranslations();

}  // namespace kestrova
