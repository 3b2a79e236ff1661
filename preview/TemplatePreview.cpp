#include "preview/TemplatePreview.h"

#include "cabinet/CabSTComps.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/LineList.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"

#include <algorithm>
#include <cstring>

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

size_t SampleInsertionOffset(std::string_view page) {
  // The cell runs from the region's marker (the page's start without one) through the
  // first "</TD>" after it (its first four characters without one); the sample follows
  // the cell's first ">", or leads the cell when it has none.
  const long long k = static_cast<long long>(Pos(kTextRegionCell, page));
  const size_t before = k > 1 ? size_t(k - 1) : 0;
  const std::string_view rest = page.substr(before);
  const long long e = static_cast<long long>(Pos("</TD>", rest));
  const std::string_view cell = rest.substr(0, std::min<size_t>(rest.size(), size_t(e + 4)));
  return before + Pos(">", cell);
}

std::string InsertSampleText(std::string_view page) {
  const size_t at = SampleInsertionOffset(page);
  std::string r;
  r.reserve(page.size() + SampleBlock().size());
  r.append(page.substr(0, at)).append(SampleBlock()).append(page.substr(at));
  return r;
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
  std::string name = FindEntryNoCase(folder, kDescriptionFileName);
  if (name.empty()) name = kDescriptionFileName;
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
  for (auto &n : ListDirectory(folder))
    if (!IsDescriptionFileName(n) && !IsPageFileName(n)) pictures.push_back(std::move(n));
  return pictures;
}

void TTemplatePreview::Extract(const std::string &templatePath) {
  if (fPrivate)
    MakePrivateFolder(fFolder);
  else if (!ForceDirectories(fFolder))
    RaiseLastOSError();
  fTemplateName = ExtractFileName(templatePath);
  fExtracted = true;
  const auto entries = ListDirectory(fFolder);
  fEntriesBefore = std::set<std::string>(entries.begin(), entries.end());
  fWritten.clear();

  // Every file is weighed by its stored size before a byte of it is written: the reader
  // writes exactly that many.
  TTemplateBudget budget;
  const std::string root = AddBackslash(fFolder);
  TSTCabReader reader;
  reader.OnCopyFile = [&](TSTCabReader *, const std::string &, int32_t size, uint16_t, uint16_t,
                          uint16_t, uint16_t, std::string &dst, bool &abort) {
    const uint64_t n = static_cast<uint32_t>(size); // the stored size is unsigned
    const bool page = ExtractFilePath(dst) == root && IsPageFileName(ExtractFileName(dst));
    if (!budget.Add(n, page).empty()) abort = true;
  };
  reader.OnCloseFile = [&](TSTCabReader *, const std::string &, uint16_t, uint16_t, uint16_t,
                           uint16_t, bool &, const std::string &dst, bool &) {
    // A file put over an entry that was there before: the sweep of new entries misses it.
    if (ExtractFilePath(dst) == root && fEntriesBefore.count(ExtractFileName(dst)))
      fWritten.push_back(dst);
  };
  try {
    reader.ExtractFiles(templatePath, fFolder);
  } catch (const ESTCabinet &) {
    if (budget.Refusal().empty()) throw;
  }
  if (!budget.Refusal().empty()) Refuse(budget.Refusal());
}

void TTemplatePreview::Refuse(const std::string &why) {
  // Whatever new the folder holds (sub-folders made on the way included), and the files
  // written over what it held.
  for (const auto &f : fWritten)
    DeleteFile(f);
  if (fExtracted)
    for (const auto &name : ListDirectory(fFolder))
      if (!fEntriesBefore.count(name)) DeleteEntryNoFollow(AddBackslash(fFolder) + name);
  fWritten.clear();
  fText.clear();
  fText.shrink_to_fit();
  throw ETemplateTooLarge(fTemplateName, why);
}

void TTemplatePreview::LoadPage() {
  fPageName = FindEntryNoCase(fFolder, kPageFileName);
  if (fPageName.empty()) fPageName = kPageFileName;
  if (FileSize(PagePath()) > static_cast<int64_t>(kMaxPageBytes)) Refuse(PageTooLargeRefusal());
  fText = LoadLineText(PagePath(), SampleBlock().size());
}

void TTemplatePreview::RewritePage() {
  // In place: LoadLineText left room for the block.
  fText.insert(SampleInsertionOffset(fText), SampleBlock());
}

void TTemplatePreview::SavePage() const {
  // The viewer's own preview folder is scratch, read back by the browser at once; a folder
  // of the user's keeps its page as any file written for the user.
  if (const int e = fPrivate ? WriteScratchFileBytes(PagePath(), fText)
                             : WriteFileBytes(PagePath(), fText))
    throw EFOpenError("Impossible de créer le fichier \"" + PagePath() + "\". " +
                      std::strerror(e));
}

std::string TTemplatePreview::PagePath() const { return AddBackslash(fFolder) + fPageName; }

} // namespace plm
