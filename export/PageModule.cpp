#include "export/PageModule.h"

#include "export/ExportPage.h"

#include <exception>
#include <string>

extern "C" __attribute__((visibility("default"))) int
plm_page_file_references(const char *page, size_t size, PlmPageFileFound found, void *context) {
  try {
    plm::ForEachPageReference(std::string_view(page, size), [&](const std::string &reference) {
      const std::string name = plm::TemplateFileReference(reference);
      if (!name.empty()) found(context, name.data(), name.size());
    });
    return 0;
  } catch (const std::exception &) {
    return -1;
  }
}
