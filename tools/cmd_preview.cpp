// plmtool preview TEMPLATE OUTDIR: unpacks and rewrites a template exactly as the
// viewer does, leaving the rewritten page and the pictures in OUTDIR, and prints what
// the viewer's information side would show. A template that fails leaves nothing there.
#include "preview/TemplatePreview.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/InstalledFonts.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"
#include "tools/Commands.h"
#include "tools/OffscreenApp.h"

#include <QGuiApplication>

#include <cstdio>

namespace {

void Line(const char *caption, const std::string &value) {
  std::printf("%s: %s\n", caption, plm::ToDisplayUtf8(value).c_str());
}

int Preview(const std::vector<std::string> &args) {
  if (args.size() != 2) {
    std::fputs("usage: plmtool preview TEMPLATE OUTDIR\n", stderr);
    return 2;
  }
  // The installed fonts come from the font database, which needs a GUI application.
  const auto app = plmtool::MakeOffscreenApp<QGuiApplication>();
  const std::string &out = args[1];
  const bool madeOut = !plm::DirectoryExists(out);
  try {
    if (!plm::ForceDirectories(out)) plm::RaiseLastOSError();
    // The template is unpacked and rewritten in a hidden folder of OUTDIR, which goes on
    // every path (Ctrl-C included); OUTDIR receives the files once the whole step is done.
    plm::TTempFolder stage(".plmtool-", out);
    plm::TTemplatePreview preview(stage.Path());
    preview.Extract(args[0]);
    const plm::TemplateFields fields = preview.ReadFields();
    preview.LoadPage();
    const std::string font = preview.FontName();
    preview.RewritePage();
    const std::vector<std::string> pictures = preview.Pictures();
    preview.SavePage();
    if (!plm::MergeFolderInto(stage.Path(), out)) plm::RaiseLastOSError();

    Line("Collection", fields.Collection);
    Line("Identification", fields.Display);
    Line("Marque de fabrique", fields.TradeMark);
    Line("Police de caractère",
         font + (plm::IsFontFamilyInstalled(plm::ToDisplayUtf8(font)) ? " (installée)" : " (non installée)"));
    std::string list;
    for (const auto &p : pictures)
      list += (list.empty() ? "" : ", ") + p;
    Line("Images", list);
    Line("Page", plm::JoinPath({out, plm::ExtractFileName(preview.PagePath())}));
    return 0;
  } catch (...) {
    if (madeOut) plm::RemoveDir(out); // left only when something else is in it
    throw;
  }
}

} // namespace

PLM_COMMAND("preview", "preview TEMPLATE OUTDIR   unpack and rewrite a template as the viewer does",
            Preview);
