#pragma once
// A template exported for the mail clients and browsers of today: a message template
// (.eml, multipart/related with its pictures as inline parts) or a page that carries its
// pictures inside (.html). Only the template's own pictures travel: any other reference
// of its page is removed, never fetched nor read.
#include <optional>
#include <string>

namespace plm {

enum class TExportFormat { Message, Page };

// The format a file name asks for by its extension (".eml"; ".html" or ".htm"), in any
// letter case; none for any other name.
std::optional<TExportFormat> ExportFormatOf(const std::string &fileName);

// Unpacks the template, as the preview does and within its limits, into a private
// temporary folder removed afterwards, and writes its export to target in one step: an
// existing target stays as it was when anything fails. Raises the preview's errors
// (ETemplateTooLarge for a template beyond its limits, the cabinet reader's for an
// unreadable archive) and EFOpenError, in French, when the target cannot be written.
void ExportTemplate(const std::string &templatePath, const std::string &target,
                    TExportFormat format);

// The export's bytes, kept in memory, with the template's description (Windows-1252, as
// the template holds it): what ExportTemplate writes, for callers that write it their own
// way (a mailbox of many templates) or list it (the index of a collection).
struct TExportedTemplate {
  std::string bytes;
  std::string display, collection;
};
TExportedTemplate ExportTemplateBytes(const std::string &templatePath, TExportFormat format);
// The same, unpacked into the private folder stage (made, then removed afterwards), which
// the caller places in a temporary folder of its own: a batch makes one for all of its
// templates, and so one watcher of its removal rather than one a template.
TExportedTemplate ExportTemplateBytesIn(const std::string &templatePath, TExportFormat format,
                                        const std::string &stage);

} // namespace plm
