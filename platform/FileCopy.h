#pragma once
// Whole files: read at once, and written or copied without ever leaving a half-written
// target. The bytes go to a new file beside the target, are flushed to the disk (so a full
// disk is noticed here) and only then take the target's name. A failure leaves an
// existing target as it was and removes the new file. The settings file, the page of a
// preview, the snapshot, the picture copies and the cabinets that the writer makes all go
// through TReplacingFile.
//
// Every writer follows one rule for its target: a symbolic link is written through (the
// file it names is replaced, the link stays); an existing file keeps its permissions; a
// read-only one (no write permission for anyone, whoever runs the program) is refused with
// EACCES, a folder with EISDIR. Functions return 0 or the OS error code of the failure.
#include "platform/UniqueFd.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace plm {

class TReplacingFile {
public:
  TReplacingFile() = default;
  ~TReplacingFile() { Discard(); }
  TReplacingFile(const TReplacingFile &) = delete;
  TReplacingFile &operator=(const TReplacingFile &) = delete;

  // Starts the new file (open for reading and writing) that is to become target. With
  // failIfExists, any entry of that name (links included) is refused with EEXIST, and is
  // refused again if it appears before Commit. When the folder takes no new file, an
  // existing target is rewritten in place instead (a failure can then leave it cut short).
  int Open(const std::string &target, bool failIfExists = false);
  int Fd() const { return fFd.get(); }
  // Writes all of the bytes at the current position.
  int Write(const void *data, size_t size);
  // Gives the new file the permission bits mode (the owner's alone, for a private cache).
  int SetMode(unsigned mode);
  // Flushes the file to the disk and closes it; it keeps its temporary name until Commit.
  int Close();
  // Closes the file if still open and gives it the target's name; on failure the new file
  // is removed.
  int Commit();
  // Removes the new file; the target stays as it was.
  void Discard();

private:
  UniqueFd fFd;
  std::string fTarget;
  std::string fTemp; // empty when the target is rewritten in place
  bool fFailIfExists = false;
};

// Reads a whole file; false when it is missing or cannot be read (errno tells why).
bool ReadFileBytes(const std::string &path, std::string &out);
// Writes data as the whole contents of path.
int WriteFileBytes(const std::string &path, std::string_view data);
// Copies a file's bytes, its modification time and its read-only state to target. With
// failIfExists, an existing target (or any entry of that name) is never touched: EEXIST.
int CopyFileBytes(const std::string &existing, const std::string &target, bool failIfExists);

} // namespace plm
