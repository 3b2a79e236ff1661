#pragma once
// A temporary folder that never outlives its program: removed with everything in it when
// the object goes, and, should the program end any other way (Ctrl-C, SIGTERM, a crash),
// by a small watcher process that waits for the program's end. On SIGINT, SIGTERM and
// SIGHUP the program waits for its watchers before the signal ends it, so the folders are
// gone by the time its end can be seen. The removal is the one
// the viewer's preview folder gets: names taken byte for byte as the file system gives
// them, links removed and never followed.
#include <atomic>
#include <string>
#include <vector>

#include <sys/types.h>

namespace plm {

// A process started as this program's helper, working in its temporary folders (a
// renderer process): on SIGINT, SIGTERM or SIGHUP it is sent SIGTERM (SIGKILL 5 s later)
// and waited for before the folders are removed, so that it cannot refill them meanwhile.
// ForgetHelper once it has ended.
void EndHelperWithProgram(pid_t pid);
void ForgetHelper(pid_t pid);

// From now on the first SIGINT or SIGTERM only sets stop, for long work to read between its
// steps and end whole (its folders go as it ends); a second one ends the program as any
// end signal does, its folders removed first.
void StopOnFirstEndSignal(std::atomic<bool> &stop);

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

  // Something else to remove when the folder goes, after it, however the program ends:
  // an entry with all it holds, or (onlyIfEmpty) a folder if nothing is left in it. The
  // last one asked for goes first, so a folder is asked for before what is made in it.
  void AlsoRemoveAtEnd(const std::string &path, bool onlyIfEmpty = false);

private:
  struct AlsoEntry {
    std::string path;
    bool onlyIfEmpty;
  };
  std::string fPath;
  std::vector<AlsoEntry> fAlso;
  int fWatchFd = -1;  // the pipe's write end: its closing wakes the watcher
  pid_t fWatcher = -1;
  bool fRemoved = false;
  int fSlot = -1; // the watcher's place in the table the signal handler reads
};

} // namespace plm
