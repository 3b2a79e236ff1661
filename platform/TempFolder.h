#pragma once
// A temporary folder that never outlives its program: removed with everything in it when
// the object goes, and, should the program end any other way (Ctrl-C, SIGTERM, a crash),
// by a small watcher process that waits for the program's end. The removal is the one
// the viewer's preview folder gets: names taken byte for byte as the file system gives
// them, links removed and never followed.
#include <string>

#include <sys/types.h>

namespace plm {

class TTempFolder {
public:
  // Makes base/prefixXXXXXX (six unique characters) with mode 0700; base defaults to
  // $TMPDIR, else "/tmp". Raises EOSError when the folder cannot be made.
  explicit TTempFolder(const std::string &prefix, const std::string &base = std::string());
  ~TTempFolder();
  TTempFolder(const TTempFolder &) = delete;
  TTempFolder &operator=(const TTempFolder &) = delete;

  // The folder's absolute path, without a trailing "/".
  const std::string &Path() const { return fPath; }

  // Removes the folder and what it holds now; true when it is gone. Later calls, and the
  // destructor, do nothing more and give the same answer.
  bool Remove();

private:
  std::string fPath;
  int fWatchFd = -1;  // the pipe's write end: its closing wakes the watcher
  pid_t fWatcher = -1;
  bool fRemoved = false;
};

} // namespace plm
