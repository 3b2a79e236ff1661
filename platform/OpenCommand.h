#pragma once
// The program the desktop registers to open a file of a given name's type, from its
// file-type associations (GIO), never the viewer itself: a template is handed on to the
// mail client, and the viewer's own entry, declaring the type too, would take it back.
#include <functional>
#include <string>

namespace plm {

// The command line of the application for the type guessed from the name (no data is
// read): the desktop's default for the type unless that is the viewer, else the first
// other one GIO lists. Empty when the type is unknown or no other application is
// registered.
std::string OpenCommandFor(const std::string &fileName);

// Starts the application OpenCommandFor names (a folder: the one registered for folders)
// with the file, through GIO, without waiting for it. False when there is none or it
// could not be started. The viewer installs it as the shell's launcher (Launcher.h).
bool OpenWithRegisteredApplication(const std::string &path);

// Tests replace the lookup; an empty function restores the desktop's. Returns the old one.
using OpenCommandSource = std::function<std::string(const std::string &fileName)>;
OpenCommandSource SetOpenCommandSource(OpenCommandSource source);

} // namespace plm
