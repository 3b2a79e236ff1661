#include "catalogue/PageReferences.h"

#include "export/PageModule.h"
#include "platform/DynLib.h"

#include <mutex>

namespace plm {

namespace {

PlmPageFileReferences Entry() {
  static PlmPageFileReferences entry = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    std::string error;
    // Kept loaded for the life of the program.
    if (LibraryHandle lib = LoadSharedLibrary(kPageLibraryName, error))
      entry = reinterpret_cast<PlmPageFileReferences>(
          GetLibrarySymbol(lib, kPageFileReferencesSymbol, error));
  });
  return entry;
}

} // namespace

bool PageFileReferences(std::string_view page, std::vector<std::string> &names) {
  const PlmPageFileReferences entry = Entry();
  if (!entry) return false;
  const auto found = [](void *context, const char *name, size_t length) {
    static_cast<std::vector<std::string> *>(context)->emplace_back(name, length);
  };
  return entry(page.data(), page.size(), found, &names) == 0;
}

} // namespace plm
