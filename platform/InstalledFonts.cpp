#include "platform/InstalledFonts.h"

#include "platform/DynLib.h"
#include "platform/Strings.h"

#include <fontconfig/fontconfig.h>

#include <mutex>
#include <set>
#include <string>

namespace plm {

namespace {

// fontconfig is loaded on first use only: it brings FreeType, zlib and more, which a
// program that never asks would load for nothing at every start.
struct Fontconfig {
  decltype(&FcPatternCreate) patternCreate = nullptr;
  decltype(&FcPatternDestroy) patternDestroy = nullptr;
  decltype(&FcObjectSetBuild) objectSetBuild = nullptr;
  decltype(&FcObjectSetDestroy) objectSetDestroy = nullptr;
  decltype(&FcFontList) fontList = nullptr;
  decltype(&FcFontSetDestroy) fontSetDestroy = nullptr;
  decltype(&FcPatternGetString) patternGetString = nullptr;

  bool Load() {
    std::string error;
    const LibraryHandle lib = LoadSharedLibrary("libfontconfig.so.1", error);
    if (!lib) return false;
    auto get = [&](const char *name, auto &fn) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
          GetLibrarySymbol(lib, name, error));
      return fn != nullptr;
    };
    // Kept loaded for the rest of the process.
    return get("FcPatternCreate", patternCreate) && get("FcPatternDestroy", patternDestroy) &&
           get("FcObjectSetBuild", objectSetBuild) &&
           get("FcObjectSetDestroy", objectSetDestroy) && get("FcFontList", fontList) &&
           get("FcFontSetDestroy", fontSetDestroy) &&
           get("FcPatternGetString", patternGetString);
  }
};

// Every family name of every font, lower-cased (fonts with localized names give several).
// Empty when fontconfig is missing: then no font counts as installed.
const std::set<std::string> &Families() {
  static std::set<std::string> families;
  static std::once_flag once;
  std::call_once(once, [] {
    Fontconfig fc;
    if (!fc.Load()) return;
    FcPattern *pattern = fc.patternCreate();
    FcObjectSet *objects = fc.objectSetBuild(FC_FAMILY, nullptr);
    FcFontSet *set = pattern && objects ? fc.fontList(nullptr, pattern, objects) : nullptr;
    for (int i = 0; set && i < set->nfont; ++i) {
      FcChar8 *name = nullptr;
      for (int n = 0; fc.patternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch; ++n)
        families.insert(LowerCase(reinterpret_cast<const char *>(name)));
    }
    if (set) fc.fontSetDestroy(set);
    if (objects) fc.objectSetDestroy(objects);
    if (pattern) fc.patternDestroy(pattern);
  });
  return families;
}

} // namespace

bool IsFontFamilyInstalled(std::string_view family) {
  const std::string wanted = Trim(family);
  if (wanted.empty()) return false;
  return Families().count(LowerCase(wanted)) != 0;
}

} // namespace plm
