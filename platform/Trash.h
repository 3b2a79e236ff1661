#pragma once
// The desktop's trash (GIO): files moved there can be put back from the file manager.
#include <string>

namespace plm {

// Moves the file (a link itself, not what it leads to) to the trash of the desktop;
// false with the system's reason, in the user's language, when it could not.
bool MoveToTrash(const std::string &path, std::string &error);

} // namespace plm
