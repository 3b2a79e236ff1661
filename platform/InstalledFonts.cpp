#include "platform/InstalledFonts.h"

#include "platform/DynLib.h"
#include "platform/Strings.h"

#include <fontconfig/fontconfig.h>

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
  decltype(&FcStrDowncase) strDowncase = nullptr;
  decltype(&FcStrFree) strFree = nullptr;

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
           get("FcPatternGetString", patternGetString) && get("FcStrDowncase", strDowncase) &&
           get("FcStrFree", strFree);
  }

  // fontconfig's own folding of a name's case, letters beyond ASCII included.
  std::string Fold(std::string_view name) const {
    const std::string s(name);
    FcChar8 *lower = strDowncase(reinterpret_cast<const FcChar8 *>(s.c_str()));
    if (!lower) return LowerCase(s);
    std::string r(reinterpret_cast<const char *>(lower));
    strFree(lower);
    return r;
  }
};

// Loaded once for the rest of the process; null when fontconfig is missing.
const Fontconfig *Library() {
  static const Fontconfig *const fc = [] {
    static Fontconfig loaded;
    return loaded.Load() ? &loaded : nullptr;
  }();
  return fc;
}

// Every family name of every font, case folded (fonts with localized names give several).
// Empty when fontconfig is missing: then no font counts as installed.
const std::set<std::string> &Families() {
  static const std::set<std::string> families = [] {
    std::set<std::string> found;
    const Fontconfig *fc = Library();
    if (!fc) return found;
    FcPattern *pattern = fc->patternCreate();
    FcObjectSet *objects = fc->objectSetBuild(FC_FAMILY, nullptr);
    FcFontSet *set = pattern && objects ? fc->fontList(nullptr, pattern, objects) : nullptr;
    for (int i = 0; set && i < set->nfont; ++i) {
      FcChar8 *name = nullptr;
      for (int n = 0; fc->patternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch;
           ++n)
        found.insert(fc->Fold(reinterpret_cast<const char *>(name)));
    }
    if (set) fc->fontSetDestroy(set);
    if (objects) fc->objectSetDestroy(objects);
    if (pattern) fc->patternDestroy(pattern);
    return found;
  }();
  return families;
}

} // namespace

bool IsFontFamilyInstalled(std::string_view family) {
  // Blanks around the name are the page's layout, not part of the name: the browser draws
  // "FONT-FAMILY: Liberation Sans ;" with that font.
  const std::string wanted = Trim(family);
  if (wanted.empty()) return false;
  const Fontconfig *fc = Library();
  return fc && Families().count(fc->Fold(wanted)) != 0;
}

} // namespace plm
