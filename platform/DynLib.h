#pragma once
// Loading shared libraries at run time and finding their entry points.
#include <string>

namespace plm {

using LibraryHandle = void *;

// OS error codes that loader failures carry (the loader itself gives only a text).
constexpr int ERROR_MOD_NOT_FOUND = 126;
constexpr int ERROR_PROC_NOT_FOUND = 127;

// The folder of the running program, ending in "/" ("" when it cannot be found).
std::string ExecutableDir();

// Loads a library by file name: the program's folder is tried first, then the
// loader's own search. nullptr on failure, with the loader's text in error.
LibraryHandle LoadSharedLibrary(const std::string &fileName, std::string &error);
// nullptr when the library has no such name, with the loader's text in error.
void *GetLibrarySymbol(LibraryHandle lib, const char *name, std::string &error);
void FreeSharedLibrary(LibraryHandle lib);

} // namespace plm
