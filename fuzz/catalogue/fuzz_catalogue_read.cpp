// The catalogue's reading of one template over arbitrary bytes: the cabinet reader in
// memory, the description and page, the pictures' heads, the content's fingerprint and
// the problems (the page's references through libxml2). Whatever the bytes, nothing may
// crash, leak or hang, nothing is written beside the template, and what is recorded keeps
// its rules: text in UTF-8, a fingerprint of 32 bytes or none, known problem codes, and
// the same answer when the same bytes are read again.
#include "catalogue/TemplateReader.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include <unistd.h>

namespace {

const std::string &Root() {
  static const std::string root = [] {
    char tmpl[] = "/tmp/plm-fuzz-catalogue-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  // Registered once the name is made, so that it runs before the name is destroyed.
  static const bool removed = (std::atexit([] { plm::DeleteEntryNoFollow(Root()); }), true);
  (void)removed;
  return root;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string tpl = Root() + "/t.plm";
  Check(plm::WriteFileBytes(tpl, std::string_view(reinterpret_cast<const char *>(data), size)) == 0);
  static plm::TTemplateReader reader;
  const auto fonts = [](std::string_view f) { return f == "Arial"; };
  plm::TemplateRecord r, again;
  plm::ReadTemplateRecord(reader, tpl, r, fonts);
  plm::ReadTemplateRecord(reader, tpl, again, fonts);

  Check(r.fingerprint.empty() || r.fingerprint.size() == 32);
  Check(r.fingerprint == again.fingerprint && r.problems == again.problems);
  for (const std::string *text : {&r.collection, &r.display, &r.trademark, &r.font, &r.title})
    Check(plm::IsValidUtf8(*text));
  static const std::set<std::string> kCodes = {
      plm::kProblemDamaged,    plm::kProblemNoPage,      plm::kProblemMissingPicture,
      plm::kProblemMissingFont, plm::kProblemOverLimits, plm::kProblemNoDescription};
  for (const auto &p : r.problems) {
    Check(kCodes.count(p.code) == 1 && !p.text.empty() && plm::IsValidUtf8(p.text) &&
          plm::IsValidUtf8(p.name));
    // A template that could not be read whole says only that, and has no fingerprint.
    if (p.code == plm::kProblemDamaged || p.code == plm::kProblemOverLimits)
      Check(r.problems.size() == 1 && r.fingerprint.empty() && !r.failure.empty());
  }
  Check(r.failure.empty() || !r.problems.empty());
  for (const auto &name : plm::ListDirectory(Root()))
    Check(name == "t.plm"); // nothing written beside it
  return 0;
}
