#pragma once
// The fonts installed on this system.
#include <string_view>

namespace plm {

// True when a font family of that name is installed, compared without regard to case.
// Needs a running QGuiApplication.
bool IsFontInstalled(std::string_view family);

} // namespace plm
