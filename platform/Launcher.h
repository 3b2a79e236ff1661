#pragma once
// Handing a file to the program registered for its type (the shell's "open" verb).
// The request is passed on and not waited for. Without a launcher installed, xdg-open
// picks the program; the viewer installs the desktop library's GIO launcher
// (OpenCommand.h), so the program it checks for and the program it starts are the same;
// tests install their own.
#include <functional>
#include <string>

namespace plm {

// Returns whether the request could be passed on; the outcome is the other program's.
using LaunchFunction = std::function<bool(const std::string &path)>;

bool ShellOpenFile(const std::string &path);
// Installs a launcher (an empty function restores the desktop's). Returns the previous one.
LaunchFunction SetLauncher(LaunchFunction f);

} // namespace plm
