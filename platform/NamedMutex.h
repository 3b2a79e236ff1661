#pragma once
// Named mutexes shared by the user's processes. A mutex is a lock file of that name in
// the user's runtime folder (UserTempDir), held with flock for the rest of the process's
// life: the kernel drops it when the process ends, however it ends, so no lock outlives
// its holder. The file itself stays; only the lock on it counts.
#include <string>

namespace plm {

// The "already exists" error of a named object.
constexpr int ERROR_ALREADY_EXISTS = 183;

// Creates the named mutex and keeps it for the life of the process. Returns 0 when this
// call made it, ERROR_ALREADY_EXISTS when it was there already (held by another process,
// or by an earlier call of this one), or the OS error code that kept the lock file from
// being made (a name holding "/", an unusable runtime folder, ...).
int CreateNamedMutex(const std::string &name);

// Whether another holder has the named mutex now: a look that takes nothing and makes
// nothing. The answer may be out of date at once; only CreateNamedMutex decides.
bool NamedMutexHeld(const std::string &name);

} // namespace plm
