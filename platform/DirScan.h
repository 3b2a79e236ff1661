#pragma once
// One pass over a folder that gives each entry's kind, size and modification time, for
// callers that compare a whole tree against what they saw last time.
#include <cstdint>
#include <string>
#include <vector>

namespace plm {

struct DirEntryInfo {
  enum Kind : uint8_t { File, Folder, Other };
  std::string name;
  Kind kind = Other; // symbolic links are followed
  int64_t size = 0;
  int64_t mtimeNs = 0; // nanoseconds since the epoch
  uint64_t device = 0, inode = 0;
};

// The entries of a folder (no "." or ".."), in the order the file system gives them; an
// entry that vanished or cannot be examined is left out. Empty when the folder cannot be
// read.
std::vector<DirEntryInfo> ScanDirectory(const std::string &path);
// The entry at path, as ScanDirectory gives it (links followed); false when it cannot be
// examined.
bool PathInfo(const std::string &path, DirEntryInfo &info);
// The folder's own device and inode; false when it cannot be examined.
bool FolderIdentity(const std::string &path, uint64_t &device, uint64_t &inode);

} // namespace plm
