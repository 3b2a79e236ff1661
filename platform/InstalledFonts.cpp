#include "platform/InstalledFonts.h"

#include "platform/Strings.h"

#include <fontconfig/fontconfig.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace plm {

namespace {

// Every family name of every font, lower-cased (fonts with localized names give several).
const std::set<std::string> &Families() {
  static std::set<std::string> families;
  static std::once_flag once;
  std::call_once(once, [] {
    std::unique_ptr<FcPattern, void (*)(FcPattern *)> pattern(FcPatternCreate(),
                                                              FcPatternDestroy);
    std::unique_ptr<FcObjectSet, void (*)(FcObjectSet *)> objects(
        FcObjectSetBuild(FC_FAMILY, nullptr), FcObjectSetDestroy);
    if (!pattern || !objects) return;
    std::unique_ptr<FcFontSet, void (*)(FcFontSet *)> set(
        FcFontList(nullptr, pattern.get(), objects.get()), FcFontSetDestroy);
    if (!set) return;
    for (int i = 0; i < set->nfont; ++i) {
      FcChar8 *name = nullptr;
      for (int n = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch; ++n)
        families.insert(LowerCase(reinterpret_cast<const char *>(name)));
    }
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
