#pragma once
// What the catalogue knows of one template. Text is UTF-8 (the templates' own 8-bit
// text converted); the path is kept as the file system's bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace plm {

struct CataloguePicture {
  std::string name; // as stored in the template, "/" between folders
  std::string type; // "GIF", "JPEG", "PNG", "BMP", "PCX", "TIFF" or "" when unknown
  int64_t bytes = 0;
  int32_t width = 0, height = 0;
  bool operator==(const CataloguePicture &) const = default;
};

// A file's size and time, as a change is noticed by.
struct FileStamp {
  int64_t size = 0, mtimeNs = 0;
  bool operator==(const FileStamp &) const = default;
};

// Something wrong with a template, as the catalogue found it when reading it.
struct TemplateProblem {
  std::string code; // stable: "damaged", "no-page", "missing-picture", "missing-font",
                    // "over-limits", "no-description"
  std::string text; // French, for the user
  std::string name; // the picture or font the problem is about; empty otherwise
  bool operator==(const TemplateProblem &) const = default;
};

struct TemplateRecord {
  std::string path; // bytes as the file system has them
  int64_t size = 0;
  int64_t mtimeNs = 0;
  std::string collection, display, trademark;
  std::string font;
  bool fontInstalled = false;
  std::string title;
  std::vector<CataloguePicture> pictures;
  std::string failure; // why the template could not be read; empty when it was
  // SHA-256 (32 bytes) of the template's content: its files' case-folded names and bytes,
  // whatever the archive's name, time, compression, layout or order. Empty when the
  // content was not read whole (damaged, beyond the limits) or holds no file.
  std::string fingerprint;
  int64_t contentBytes = 0; // its files' sizes together, expanded
  std::vector<TemplateProblem> problems;
  // Given by searches: the first other template (in file-list order) under the searched
  // folder with the same content; empty when there is none.
  std::string duplicateOf;
};

} // namespace plm
