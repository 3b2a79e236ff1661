#pragma once
// Where the program finds itself, the user's home folder and its settings file.
#include "platform/DynLib.h" // ExecutableDir()

#include <string>

namespace plm {

// The running executable's full path.
std::string ExecutablePath();
// The user's home folder ($HOME, else the password database), without a trailing "/".
std::string HomeDir();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config; no trailing "/".
std::string UserConfigDir();

// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache;
// no trailing "/".
std::string UserCacheDir();

// The settings file: beside the executable when that folder is writable or already
// holds the file (a portable copy), otherwise under $XDG_CONFIG_HOME (or ~/.config)
// in a folder "plmlooker". The folder is not created here.
std::string SettingsFileName(const std::string &name = "plmlooker.ini");

// The settings file for writing: made empty, in a private folder, when it does not exist
// yet. Raises EFOpenError when it cannot be made.
std::string CreateSettingsFile();

// Tests point the settings file elsewhere; an empty path restores the rule above.
void SetSettingsFileOverride(const std::string &path);

} // namespace plm
