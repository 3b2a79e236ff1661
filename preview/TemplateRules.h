#pragma once
// The rules every reader of a template shares (the preview, the page renderer, the
// catalogue, the export, plmtool): the names of its page and description, the limits of
// what it may expand to with their French refusals, and why a template cannot be shown.
// No Qt, no browser.
#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace plm {

// The largest side of a template's thumbnail, as the desktop's "large" thumbnails are:
// what the renderer makes, the cache keeps and the gallery shows.
inline constexpr int kThumbnailSize = 256;

// The page and the description, looked up without regard to case.
inline constexpr const char *kPageFileName = "Flavor.htm";
inline constexpr const char *kDescriptionFileName = "content.ini";
bool IsPageFileName(std::string_view name);
bool IsDescriptionFileName(std::string_view name);

// What one template may expand to. Templates come from anywhere: a few megabytes of
// archive can stand for gigabytes of files, and a huge page stalls the browser.
inline constexpr uint64_t kMaxTemplateBytes = 256ull << 20; // all its files together
inline constexpr size_t kMaxTemplateFiles = 10000;
inline constexpr uint64_t kMaxPageBytes = 16ull << 20; // its page, "Flavor.htm"

// A template refused for going beyond one of the limits above. Its message, in French,
// names the template and the limit.
class ETemplateTooLarge : public Exception {
public:
  ETemplateTooLarge(const std::string &templateName, const std::string &why);
  std::string Why; // the limit gone beyond, alone ("il contient plus de ...")
};

// A template whose cabinet holds no page.
class ETemplateHasNoPage : public Exception {
public:
  ETemplateHasNoPage();
};

// Weighs a template's files one at a time, by the sizes the cabinet's file list gives,
// before a byte of them is expanded.
class TTemplateBudget {
public:
  // Counts one more file in; the refusal ("" while within the limits) it leads to.
  const std::string &Add(uint64_t storedSize, bool isPage);
  const std::string &Refusal() const { return fRefusal; }

private:
  uint64_t fBytes = 0;
  size_t fFiles = 0;
  std::string fRefusal;
};

// The refusal of a page above kMaxPageBytes.
std::string PageTooLargeRefusal();

// Why a template could not be read or drawn, in French, for the user: the cabinet
// library's own messages are English and technical, and a memory shortage has no message
// of ours. The program's own French messages (limits, no page, files) are kept as they are.
std::string TemplateFailureReason(const std::exception &e);

} // namespace plm
