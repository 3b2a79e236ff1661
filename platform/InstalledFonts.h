#pragma once
// The font families installed on this system, as fontconfig knows them (the same source
// the window framework reads on Linux): the one rule for the viewer's font label, the
// catalogue, the gallery's filter and the command line, with or without Qt Gui.
#include <string_view>

namespace plm {

// True when a family of that name (UTF-8) is installed: blanks at both ends trimmed, compared
// without regard to case. Thread-safe; the list is read once, on first use.
bool IsFontFamilyInstalled(std::string_view family);

} // namespace plm
