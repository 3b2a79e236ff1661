// The export's page rewrite over any bytes: libxml2's HTML parser, the walk that rewrites
// or drops references, the style sheets' url(...) scanner and the UTF-8 writer. Every
// reference is kept under a new name or dropped, by turns, so both paths run.
#include "export/ExportPage.h"
#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view page(reinterpret_cast<const char *>(data), size);
  bool keep = false;
  const plm::ReferenceRewriter rewrite = [&](const std::string &ref) {
    keep = !keep;
    return keep && ref.size() < 64 ? "cid:" + std::to_string(ref.size()) : std::string();
  };
  try {
    plm::RewritePageForExport(page, rewrite);
  } catch (const plm::Exception &) {
  }
  plm::RewriteStyleUrls(page, rewrite);
  return 0;
}
