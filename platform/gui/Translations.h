#pragma once
// The interface is French whatever the user's locale: Qt's own texts (standard buttons,
// the file dialog, context menus) and the browser's come from their French catalogues.
#include <QStringList>

namespace plm {

// Installs Qt's French catalogues ("qtbase" and "qtwebengine" from Qt's translations
// folder) and makes French the default locale, which the browser engine takes for its
// own texts. Where Qt ships no French "qtwebengine" catalogue (Qt 6.4 has none), the
// browser texts of a widget window come from the program's own table. Call it once,
// after the application object is made and before the first browser view. Returns the
// names of the catalogues that could not be loaded (the interface then stays partly
// English).
QStringList LoadFrenchTranslations();

} // namespace plm
