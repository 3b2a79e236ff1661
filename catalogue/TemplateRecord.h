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
};

} // namespace plm
