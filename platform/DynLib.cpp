#include "platform/DynLib.h"

#include "platform/FileSys.h"
#include "platform/Paths.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace plm {

std::string ExecutableDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return ExtractFilePath(std::string_view(buf, size_t(n)));
}

LibraryHandle LoadSharedLibrary(const std::string &fileName, std::string &error) {
  error.clear();
  std::string path = fileName;
  if (fileName.find('/') == std::string::npos) {
    // Beside the executable (the build folder, a portable copy), then the installed
    // program's private library folder; else the system's own search.
    const std::string exeDir = ExecutableDir();
    for (const std::string &candidate : {exeDir + fileName, exeDir + "../lib/plmlooker/" + fileName}) {
      if (FileExists(candidate)) {
        path = candidate;
        break;
      }
    }
  }
  ::dlerror();
  void *h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char *e = ::dlerror();
    error = e ? e : "cannot load " + fileName;
  }
  return h;
}

void *GetLibrarySymbol(LibraryHandle lib, const char *name, std::string &error) {
  error.clear();
  ::dlerror();
  void *p = ::dlsym(lib, name);
  if (!p) {
    const char *e = ::dlerror();
    error = e ? e : std::string("undefined symbol: ") + name;
  }
  return p;
}

void FreeSharedLibrary(LibraryHandle lib) {
  if (lib) ::dlclose(lib);
}

} // namespace plm
