#include "platform/FolderWatch.h"

#include "platform/Events.h"

#include <QSocketNotifier>

namespace plm {

namespace {

constexpr uint32_t kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

} // namespace

TFolderWatch::TFolderWatch(QObject *parent) : QObject(parent) {}

TFolderWatch::~TFolderWatch() { Stop(); }

bool TFolderWatch::Watch(const std::string &folder) {
  Stop();
  ++fGeneration;
  fFolder = folder;
  if (folder.empty()) return false;
  fHandle = FindFirstFolderChanges(folder, kFilter);
  if (fHandle == INVALID_HANDLE_VALUE) return false;
  // The handle reads as ready while signalled.
  fNotifier = new QSocketNotifier(fHandle, QSocketNotifier::Read, this);
  connect(fNotifier, &QSocketNotifier::activated, this, &TFolderWatch::Ready);
  return true;
}

void TFolderWatch::Stop() {
  if (fNotifier) {
    fNotifier->setEnabled(false);
    delete fNotifier;
    fNotifier = nullptr;
  }
  if (fHandle != INVALID_HANDLE_VALUE) FindCloseChangeNotification(fHandle);
  fHandle = INVALID_HANDLE_VALUE;
}

void TFolderWatch::Ready() {
  // Reset before taking: what comes meanwhile signals the handle again.
  ResetEvent(fHandle);
  const bool still = FindNextChangeNotification(fHandle);
  std::vector<TFolderChange> changes = ReadFolderChanges(fHandle);
  const uint64_t generation = fGeneration;
  if (!changes.empty()) emit Changed(changes);
  // A listener may have watched a folder again meanwhile.
  if (!still && generation == fGeneration && fHandle != INVALID_HANDLE_VALUE) {
    Stop();
    emit Gone();
  }
}

} // namespace plm
