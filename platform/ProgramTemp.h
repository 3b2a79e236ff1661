#pragma once
// A program's own temporary folder, so that the program leaves $TMPDIR as it found it
// whatever it runs and however it ends. The folder "plmlooker.XXXXXX" is made in $TMPDIR
// (else "/tmp") and becomes TMPDIR for the rest of the program and the processes it
// starts as its helpers: whatever the program or its libraries put in the temporary
// folder goes with it. When XDG_RUNTIME_DIR names no private folder of the user, a
// "runtime" folder inside it becomes XDG_RUNTIME_DIR, for Qt makes its fallback
// "runtime-USER" in the temporary folder otherwise. The folder goes at exit, at SIGINT,
// SIGTERM and SIGHUP, and after any other end through its watcher (TTempFolder).
#include <optional>
#include <string>
#include <vector>

namespace plm {

// Makes the folder and changes the environment as above; later calls do nothing. A
// folder that cannot be made leaves the environment as it is (no error: the program runs
// on as before).
void UseOwnTempFolder();

// The folder made by UseOwnTempFolder, ending in "/"; empty before it or without it.
std::string OwnTempFolder();

// A variable's value as the program was given it, before UseOwnTempFolder changed it;
// nullopt when it was unset. The user's shared folders, and the programs that run on by
// themselves, go by these.
std::optional<std::string> GivenEnv(const char *name);

// The environment as given, as "NAME=value" entries: for a program started to run on by
// itself, which must not be handed folders that go with this one.
std::vector<std::string> GivenEnvironment();

// Puts back the variables that UseOwnTempFolder changed, for a program that replaces
// this one (exec); the folder itself stays until this process image ends.
void RestoreGivenEnv();

// Something this program made outside its own folder, removed with the folder however
// the program ends: an entry with all it holds, or (onlyIfEmpty) a folder once empty.
// Does nothing without UseOwnTempFolder.
void RemoveAtProgramEnd(const std::string &path, bool onlyIfEmpty = false);

} // namespace plm
