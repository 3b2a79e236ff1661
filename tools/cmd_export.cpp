// plmtool export [--eml | --mbox | --html] [--recursive] TEMPLATE|FOLDER... OUT: one
// template to a file OUT (the type from OUT's extension without a flag), or many — several
// inputs, folders, or a mailbox — into the folder OUT or the mailbox file OUT. A progress
// bar on a terminal, a line a template otherwise; then how many were exported and failed,
// each failure on its own line. Exit 1 when any failed.
#include "export/BatchExport.h"
#include "export/TemplateExport.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "platform/Strings.h"
#include "tools/Commands.h"
#include "tools/ProgressBar.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

const char kUsage[] =
    "usage: plmtool export [--eml | --mbox | --html] [-r | --recursive] TEMPLATE|FOLDER... OUT\n";

enum class TFlag { None, Eml, Mbox, Html };

int ExportOne(const std::string &source, const std::string &target, TFlag flag) {
  std::optional<plm::TExportFormat> format;
  if (flag == TFlag::Eml) format = plm::TExportFormat::Message;
  if (flag == TFlag::Html) format = plm::TExportFormat::Page;
  if (!format) format = plm::ExportFormatOf(target);
  if (!format)
    throw plm::Exception("Le type d'export de \"" + target +
                         "\" est inconnu : choisissez --eml ou --html, ou l'extension .eml "
                         "ou .html.");
  plm::ExportTemplate(source, target, *format);
  return 0;
}

int Export(const std::vector<std::string> &args) {
  TFlag flag = TFlag::None;
  bool recursive = false;
  std::vector<std::string> paths;
  for (const std::string &a : args) {
    if (a == "--eml") flag = TFlag::Eml;
    else if (a == "--mbox") flag = TFlag::Mbox;
    else if (a == "--html") flag = TFlag::Html;
    else if (a == "--recursive" || a == "-r") recursive = true;
    else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return plmtool::UnknownOption(a, kUsage);
    } else paths.push_back(a);
  }
  if (paths.size() < 2) return plmtool::Usage(kUsage);
  const std::string out = paths.back();
  paths.pop_back();
  // One template to a file keeps the single export.
  if (paths.size() == 1 && !recursive && flag != TFlag::Mbox && !plm::DirectoryExists(paths[0]) &&
      !plm::DirectoryExists(out))
    return ExportOne(paths[0], out, flag);

  plm::TBatchOptions options;
  options.kind = flag == TFlag::Mbox   ? plm::TBatchKind::Mailbox
                 : flag == TFlag::Html ? plm::TBatchKind::Pages
                                       : plm::TBatchKind::Messages;
  options.recursive = recursive;
  options.out = out;
  // Ctrl-C stops the batch between templates: every file it made is whole.
  options.cancel = &plm::InterruptRequested();
  const auto progress = std::make_shared<plmtool::TFileProgress>();
  options.progress = [progress](size_t done, size_t total, const std::string &path) {
    progress->Show(done, total,
                   done ? std::to_string(done) + " / " + std::to_string(total) + " " +
                              plm::ToDisplayUtf8(path)
                        : std::string());
  };
  // The index page's thumbnails are made by the renderer, which a Qt event loop drives.
  static int argc = 1;
  static char arg0[] = "plmtool";
  static char *argv[] = {arg0, nullptr};
  std::unique_ptr<QCoreApplication> app;
  if (options.kind == plm::TBatchKind::Pages && !QCoreApplication::instance())
    app = std::make_unique<QCoreApplication>(argc, argv);

  const plm::TBatchResult result = plm::ExportBatch(paths, options);
  if (progress->Bar() && result.cancelled) std::fputc('\n', stderr);
  std::printf("%zu exported, %zu failed%s\n", result.exported, result.failures.size(),
              result.cancelled ? ", cancelled" : "");
  for (const plm::TBatchFailure &f : result.failures)
    std::fprintf(stderr, "plmtool: %s: %s\n", plm::ToDisplayUtf8(f.path).c_str(), f.reason.c_str());
  return result.failures.empty() && !result.cancelled ? 0 : 1;
}

} // namespace

PLM_COMMAND("export",
            "export [--eml | --mbox | --html] [--recursive] TEMPLATE|FOLDER... OUT   templates as "
            "message templates, a mailbox or self-contained pages",
            Export);
