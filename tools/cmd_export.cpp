// plmtool export [--eml | --html] TEMPLATE OUT: the template as a message template or as
// a page that carries its pictures, the type taken from OUT's extension without a flag.
#include "export/TemplateExport.h"
#include "platform/Exceptions.h"
#include "tools/Commands.h"

#include <cstdio>
#include <optional>

namespace {

int Export(const std::vector<std::string> &args) {
  std::optional<plm::TExportFormat> format;
  std::vector<std::string> paths;
  for (const std::string &a : args) {
    if (a == "--eml")
      format = plm::TExportFormat::Message;
    else if (a == "--html")
      format = plm::TExportFormat::Page;
    else
      paths.push_back(a);
  }
  if (paths.size() != 2) {
    std::fputs("usage: plmtool export [--eml | --html] TEMPLATE OUT\n", stderr);
    return 2;
  }
  if (!format) format = plm::ExportFormatOf(paths[1]);
  if (!format)
    throw plm::Exception("Le type d'export de \"" + paths[1] +
                         "\" est inconnu : choisissez --eml ou --html, ou l'extension .eml "
                         "ou .html.");
  plm::ExportTemplate(paths[0], paths[1], *format);
  return 0;
}

} // namespace

PLM_COMMAND("export",
            "export [--eml | --html] TEMPLATE OUT   a template as a message template or a "
            "self-contained page",
            Export);
