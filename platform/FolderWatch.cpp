#include "platform/FolderWatch.h"

#include "platform/Events.h"
#include "platform/FileSys.h"

#include <QSocketNotifier>

#include <cerrno>

namespace plm {

namespace {

constexpr uint32_t kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

// The nearest folder above the path that is there ("" when none is: a relative path).
std::string NearestFolderAbove(std::string path) {
  for (;;) {
    while (path.size() > 1 && path.back() == '/')
      path.pop_back();
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    path.resize(slash == 0 ? 1 : slash);
    if (DirectoryExists(path)) return path;
    if (path == "/") return {};
  }
}

// A handle and the notifier that reads it, both gone.
void Close(QSocketNotifier *&notifier, HANDLE &handle) {
  if (notifier) {
    notifier->setEnabled(false);
    delete notifier;
    notifier = nullptr;
  }
  if (handle != INVALID_HANDLE_VALUE) FindCloseChangeNotification(handle);
  handle = INVALID_HANDLE_VALUE;
}

} // namespace

TFolderWatch::TFolderWatch(QObject *parent) : QObject(parent) {}

TFolderWatch::~TFolderWatch() { Stop(); }

bool TFolderWatch::Watch(const std::string &folder) {
  Stop();
  ++fGeneration;
  fFolder = folder;
  if (folder.empty()) return false;
  fHandle = FindFirstFolderChanges(folder, kFilter);
  if (fHandle == INVALID_HANDLE_VALUE) {
    if (errno == ENOENT) WaitForReturn();
    return false;
  }
  // The handle reads as ready while signalled.
  fNotifier = new QSocketNotifier(fHandle, QSocketNotifier::Read, this);
  connect(fNotifier, &QSocketNotifier::activated, this, &TFolderWatch::Ready);
  return true;
}

void TFolderWatch::Stop() {
  StopWaiting();
  Close(fNotifier, fHandle);
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

void TFolderWatch::WaitForReturn() {
  StopWaiting();
  fAboveFolder = NearestFolderAbove(fFolder);
  if (fAboveFolder.empty()) return;
  // A link to a folder counts as a folder when it appears.
  fAbove = FindFirstChangeNotificationA(fAboveFolder, false, FILE_NOTIFY_CHANGE_DIR_NAME);
  if (fAbove == INVALID_HANDLE_VALUE) return;
  fAboveNotifier = new QSocketNotifier(fAbove, QSocketNotifier::Read, this);
  connect(fAboveNotifier, &QSocketNotifier::activated, this, &TFolderWatch::AboveReady);
  // Watched first, then looked at: the folder, or one on the way to it, made in between
  // is seen all the same.
  if (DirectoryExists(fFolder) || NearestFolderAbove(fFolder) != fAboveFolder) SetEvent(fAbove);
}

void TFolderWatch::AboveReady() {
  ResetEvent(fAbove);
  const bool still = FindNextChangeNotification(fAbove);
  if (DirectoryExists(fFolder)) {
    StopWaiting();
    emit Returned();
    return;
  }
  // A folder on the way made (or the one watched gone): wait on the nearest one again.
  if (!still || NearestFolderAbove(fFolder) != fAboveFolder) WaitForReturn();
}

void TFolderWatch::StopWaiting() {
  Close(fAboveNotifier, fAbove);
  fAboveFolder.clear();
}

} // namespace plm
