#include "preview/TemplatePreview.h"

#include "cabinet/CabSTComps.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"

namespace plm {

size_t Pos(std::string_view sub, std::string_view s) {
  const size_t i = s.find(sub);
  return i == std::string_view::npos ? 0 : i + 1;
}

std::string Copy(std::string_view s, long long index, long long count) {
  if (index < 1) index = 1;
  if (count < 0) count = 0;
  const auto len = static_cast<long long>(s.size());
  if (index > len) return {};
  return std::string(s.substr(size_t(index - 1), size_t(std::min(count, len - index + 1))));
}

namespace {
long long Len(std::string_view s) { return static_cast<long long>(s.size()); }
} // namespace

std::string TemplateFontName(std::string_view page) {
  // The font is looked for in the 255 characters from the region's identifier on (the
  // page's start when there is none), after "FONT-FAMILY:" (position 12 of that text
  // when the marker is missing), up to the style attribute's closing quote.
  const size_t r = Pos(kTextRegionId, page);
  std::string s = Copy(page, static_cast<long long>(r), 255);
  const size_t f = Pos(kFontFamilyMarker, s);
  s = Copy(s, static_cast<long long>(f) + Len(kFontFamilyMarker), 128);
  const size_t q = Pos("\"", s);
  s = TrimLeft(Copy(s, 1, static_cast<long long>(q) - 1));
  if (const size_t semi = Pos(";", s)) s = TrimLeft(Copy(s, 1, static_cast<long long>(semi) - 1));
  return s;
}

const std::string &SampleBlock() {
  static const std::string block = [] {
    std::string b = "<DIV>";
    for (int i = 0; i < 18; ++i)
      b += i ? ", Texte exemple" : "Texte exemple";
    return b + "</DIV>";
  }();
  return block;
}

std::string InsertSampleText(std::string_view page) {
  const long long k = static_cast<long long>(Pos(kTextRegionCell, page));
  const std::string before = Copy(page, 1, k - 1);
  std::string cell = Copy(page, k, Len(page));
  const long long e = static_cast<long long>(Pos("</TD>", cell));
  cell = Copy(cell, 1, e + 4);
  const std::string after = Copy(page, Len(before) + Len(cell) + 1, Len(page));
  const long long g = static_cast<long long>(Pos(">", cell));
  cell = Copy(cell, 1, g) + SampleBlock() + Copy(cell, g + 1, Len(cell));
  return before + cell + after;
}

std::string FindEntryNoCase(const std::string &folder, const std::string &name) {
  std::string found;
  for (const auto &n : ListDirectory(folder)) {
    if (n == name) return n;
    if (found.empty() && SameText(n, name)) found = n;
  }
  return found;
}

TemplateFields ReadTemplateFields(const std::string &folder) {
  std::string name = FindEntryNoCase(folder, "content.ini");
  if (name.empty()) name = "content.ini";
  const TIniFile ini(AddBackslash(folder) + name);
  TemplateFields f;
  f.Collection = ini.ReadString("General", "Collection", kUnknowed);
  f.Display = ini.ReadString("General", "Display", kUnknowed);
  f.TradeMark = ini.ReadString("TradeMark", "TradeMark", kUnknowed);
  return f;
}

std::vector<std::string> TemplatePictures(const std::string &folder) {
  std::vector<std::string> pictures;
  if (!DirectoryExists(folder)) return pictures;
  for (auto &n : ListDirectory(folder)) {
    const std::string lower = LowerCase(n);
    if (lower != "content.ini" && lower != "flavor.htm") pictures.push_back(std::move(n));
  }
  return pictures;
}

void TTemplatePreview::Extract(const std::string &templatePath) {
  if (fPrivate)
    MakePrivateFolder(fFolder);
  else if (!ForceDirectories(fFolder))
    RaiseLastOSError();
  TSTCabReader reader(nullptr);
  reader.ExtractFiles(templatePath, fFolder);
}

void TTemplatePreview::LoadPage() {
  fPageName = FindEntryNoCase(fFolder, "Flavor.htm");
  if (fPageName.empty()) fPageName = "Flavor.htm";
  fPage.LoadFromFile(PagePath());
}

std::string TTemplatePreview::PagePath() const { return AddBackslash(fFolder) + fPageName; }

} // namespace plm
