#pragma once
// The templates under a folder: the one walk of the catalogue, plmtool's folder verbs and
// the export of a folder, so that each finds the same templates under the same tree.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plm {

struct FoundTemplate {
  std::string path;
  int64_t size = 0, mtimeNs = 0;
};

// Whether path a comes before path b in file-list order: a folder's files by name (letter
// case aside first, then byte for byte), then its subfolders the same way.
bool FileListBefore(std::string_view a, std::string_view b);

// A template's file name: ".plm" at its end, in any letter case.
bool HasTemplateExtension(std::string_view name);

struct TemplateWalk {
  bool recursive = false;
  // A folder's templates by name (as the file list orders them), then its subfolders'
  // the same way; otherwise in no particular order, which is quicker.
  bool fileListOrder = true;
  // Folders not entered, nor anything below them (an output folder inside the tree).
  std::vector<std::string> skip;
};

// Every template file (a regular file, links followed; hidden ones too) of the folder and,
// when asked, of its subfolders: links to folders are followed, each folder entered once,
// so a link back up ends there. Folders are looked at by several threads: most of the
// time goes to the system's lookups of each entry, which run side by side on every core.
// A folder that cannot be read gives nothing.
std::vector<FoundTemplate> FindTemplates(const std::string &folder, const TemplateWalk &how);

} // namespace plm
