#pragma once
// What the viewer does with a letter template before the browser shows it: unpack it,
// read its description, find the font of its text region, put sample text into that
// region, list its pictures. No widgets here: the main window and plmtool share it.
#include "platform/Exceptions.h"
#include "preview/TemplateRules.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// 1-based string positions, as the page rules are written: the first occurrence of sub
// in s (case-sensitive), 0 when absent.
size_t Pos(std::string_view sub, std::string_view s);
// At most count characters of s from position index; an index below 1 counts as 1, a
// count below 0 as 0, and the run stops at the end of s.
std::string Copy(std::string_view s, long long index, long long count);

// The page markers.
inline constexpr std::string_view kTextRegionId = "PLUMORATEXTREGION";
inline constexpr std::string_view kFontFamilyMarker = "FONT-FAMILY:";
inline constexpr std::string_view kTextRegionCell = "<TD id=PLUMORATEXTREGION";

// The font named by the style of the page's text region (see the rules in the .cpp).
std::string TemplateFontName(std::string_view page);
// The page with the sample block put first into the text-region cell.
std::string InsertSampleText(std::string_view page);
// Where InsertSampleText puts the sample block: its 0-based offset in the page.
size_t SampleInsertionOffset(std::string_view page);
// "<DIV>" + eighteen times "Texte exemple" separated by ", " + "</DIV>".
const std::string &SampleBlock();

// The name of the entry of folder that equals name without regard to case (the exact
// spelling first); empty when there is none.
std::string FindEntryNoCase(const std::string &folder, const std::string &name);

inline constexpr const char *kUnknowed = "Unknowed";

struct TemplateFields {
  std::string Collection = kUnknowed;
  std::string Display = kUnknowed;
  std::string TradeMark = kUnknowed;
};

// The description of an unpacked template, from its "content.ini" (any letter case);
// a missing file or key gives "Unknowed".
TemplateFields ReadTemplateFields(const std::string &folder);
// Every entry of the folder but "content.ini" and "Flavor.htm" (any case), in the order
// the file system gives them; sub-folders included.
std::vector<std::string> TemplatePictures(const std::string &folder);

// One template preview, step by step, in the preview folder.
class TTemplatePreview {
public:
  // A private folder is made with mode 0700 (the viewer's preview folder); otherwise
  // the folder is made as any other (plmtool's output folder, left as the user has it).
  explicit TTemplatePreview(std::string folder, bool privateFolder = true)
      : fFolder(std::move(folder)), fPrivate(privateFolder) {}

  const std::string &Folder() const { return fFolder; }

  // Makes the folder and unpacks the whole template into it. Raises the cabinet
  // reader's error for an archive it cannot read. Stops as soon as the template's files
  // go beyond kMaxTemplateFiles or kMaxTemplateBytes, or its page beyond kMaxPageBytes,
  // removes what it had written and raises ETemplateTooLarge.
  void Extract(const std::string &templatePath);
  TemplateFields ReadFields() const { return ReadTemplateFields(fFolder); }
  // Loads "Flavor.htm" (any letter case); raises EFOpenError when there is none, and,
  // after removing what Extract wrote, ETemplateTooLarge when it is above kMaxPageBytes.
  // The page is held once, with room for the sample block: reading and rewriting it
  // take at most about twice its size.
  void LoadPage();
  // The whole page text (lines joined with CR LF after each).
  const std::string &PageText() const { return fText; }
  std::string FontName() const { return TemplateFontName(fText); }
  void RewritePage();
  std::vector<std::string> Pictures() const { return TemplatePictures(fFolder); }
  // Writes the page back over the unpacked one.
  void SavePage() const;
  std::string PagePath() const;

private:
  [[noreturn]] void Refuse(const std::string &why);

  std::string fFolder;
  bool fPrivate;
  std::string fTemplateName;
  std::string fPageName = kPageFileName;
  std::string fText;
  bool fExtracted = false;
  std::set<std::string> fEntriesBefore; // what the folder held before Extract
  std::vector<std::string> fWritten;    // files Extract wrote over earlier ones
};

} // namespace plm
