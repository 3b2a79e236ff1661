#pragma once
// The font families installed on this system, as fontconfig knows them (the same source
// the window framework reads on Linux), for programs that do not load Qt Gui.
#include <string_view>

namespace plm {

// True when a family of that name is installed, compared without regard to case.
// Thread-safe; the list is read once, on first use.
bool IsFontFamilyInstalled(std::string_view family);

} // namespace plm
