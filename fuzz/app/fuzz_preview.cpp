// The whole preview step over arbitrary template bytes, in a temporary folder: unpack,
// read the description, load the page, find its font, rewrite it, list the pictures,
// save. Whatever the bytes, nothing may crash, leak or hang, nothing may be written
// outside the preview folder, and a page that was saved holds what was rewritten.
#include "preview/TemplatePreview.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include <unistd.h>

namespace {

const std::string &Root() {
  static const std::string root = [] {
    char tmpl[] = "/tmp/plm-fuzz-preview-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    std::atexit([] { plm::DeleteEntryNoFollow(Root()); });
    return std::string(tmpl);
  }();
  return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string tpl = Root() + "/t.plm", folder = Root() + "/~plmlook";
  if (plm::WriteFileBytes(tpl, std::string_view(reinterpret_cast<const char *>(data), size)))
    std::abort();
  {
    plm::TTemplatePreview p(folder);
    bool saved = false;
    try {
      p.Extract(tpl);
      (void)p.ReadFields();
      p.LoadPage();
      (void)p.FontName();
      p.RewritePage();
      (void)p.Pictures();
      p.SavePage();
      saved = true;
    } catch (const std::exception &) {
    }
    if (saved) {
      std::string back;
      if (!plm::ReadFileBytes(p.PagePath(), back) || back != p.PageText()) std::abort();
      if (p.PageText().find(plm::SampleBlock()) == std::string::npos) std::abort();
    }
  }
  for (const auto &name : plm::ListDirectory(Root()))
    if (name != "t.plm" && name != "~plmlook") std::abort(); // written outside the folder
  plm::DeleteEntryNoFollow(folder);
  return 0;
}
