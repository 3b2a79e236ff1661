#pragma once
// TFolderWatch: one folder's entries followed on the event loop's thread, through the
// process's one inotify instance (ChangeNotify.h): files added, removed, renamed and
// written, for any number of files, with one kernel watch. Changes reach Changed in the
// order they happened, in batches as the kernel hands them over.
#include "platform/ChangeNotify.h"

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

class QSocketNotifier;

namespace plm {

class TFolderWatch : public QObject {
  Q_OBJECT
public:
  explicit TFolderWatch(QObject *parent = nullptr);
  ~TFolderWatch() override;

  // Follows this folder from now on (none for ""); false when it cannot be watched (it
  // is not a folder). A folder that is not there is waited for: Returned tells when it
  // is. Watching the same path again starts afresh.
  bool Watch(const std::string &folder);
  void Stop();
  const std::string &Folder() const { return fFolder; }
  bool Watching() const { return fHandle != INVALID_HANDLE_VALUE; }
  // Waiting for the folder, missing when it was to be watched, to be there.
  bool Waiting() const { return fAbove != INVALID_HANDLE_VALUE; }

signals:
  // Changes since the last batch. A batch of one Overflow: some were lost, the folder is
  // to be read again.
  void Changed(const std::vector<plm::TFolderChange> &changes);
  // The folder was deleted, moved away or unmounted: the watch has ended.
  void Gone();
  // The folder waited for is there (made again, moved in): it is to be watched anew.
  void Returned();

private:
  void Ready();
  void WaitForReturn();
  void AboveReady();
  void StopWaiting();

  std::string fFolder;
  HANDLE fHandle = INVALID_HANDLE_VALUE;
  QSocketNotifier *fNotifier = nullptr;
  // While the folder is missing: the nearest folder above it that is there, watched for
  // new folders.
  std::string fAboveFolder;
  HANDLE fAbove = INVALID_HANDLE_VALUE;
  QSocketNotifier *fAboveNotifier = nullptr;
  uint64_t fGeneration = 0; // of the watch, so a listener's new watch is told apart
};

} // namespace plm
