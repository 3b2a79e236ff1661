#pragma once
// The command registered to open a file of a given name's type, from the desktop's
// file-type associations. Only whether it is empty matters to the viewer.
#include <functional>
#include <string>

namespace plm {

// The command line of the default application for the type guessed from the name (no
// data is read), or empty when the type is unknown or no application is registered.
std::string OpenCommandFor(const std::string &fileName);

// Tests replace the lookup; an empty function restores the desktop's. Returns the old one.
using OpenCommandSource = std::function<std::string(const std::string &fileName)>;
OpenCommandSource SetOpenCommandSource(OpenCommandSource source);

} // namespace plm
