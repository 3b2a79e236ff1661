#pragma once
// Letter templates built at test time with the project's own cabinet writer.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

struct TemplateEntry {
  std::string Name; // stored name
  std::vector<uint8_t> Bytes;
};

// A page with a coloured text region, as the viewer expects it.
std::string TemplatePage(const std::string &background = "#c03020");
std::string TemplateContent(const std::string &display);

// Writes the cabinet path from the entries (their files go to a scratch folder first).
void WriteTemplate(const std::string &path, const std::vector<TemplateEntry> &entries);
// A template with content.ini, Flavor.htm and the given pictures.
void WriteSimpleTemplate(const std::string &path, const std::string &display,
                         const std::vector<TemplateEntry> &pictures = {});

TemplateEntry Text(const std::string &name, const std::string &text);

} // namespace fixtures
