#include "components/DiskCaps.h"

#include "platform/Volumes.h"

#include <QTimer>

#include <cstdio>

TDiskCaps::TDiskCaps(QObject *owner) : QObject(owner) {
  fDrive = "/";
  RefreshVolumeInfo();
  fCheckSNChange = false;
  fCheckPeriod = 2000;
}

TDiskCaps::~TDiskCaps() { StopTimer(); }

void TDiskCaps::RefreshVolumeInfo() {
  plm::VolumeInfo info;
  // A label or file system name beyond the limit fails the query as a whole; a failed
  // query leaves every volume value empty or zero rather than stale.
  const bool ok = plm::GetVolumeInformation(fDrive, info) && info.Label.size() <= NameLimit &&
                  info.FileSystemName.size() <= NameLimit;
  if (ok) {
    char serial[9];
    std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(info.Serial));
    fDiskLabel = info.Label;
    fDiskSerial = serial;
    fComponentLen = static_cast<int32_t>(info.MaxComponentLength);
    fFileSystem = info.FileSystemName;
    fDriveFlags = info.FileSystemFlags;
  } else {
    fDiskLabel.clear();
    fDiskSerial.clear();
    fComponentLen = 0;
    fFileSystem.clear();
    fDriveFlags = 0;
  }
  fDriveType = plm::GetDriveType(fDrive);
}

void TDiskCaps::setDrive(const std::string &v) {
  if (v == fDrive) return;
  fDrive = v;
  RefreshVolumeInfo();
  setCheckSNChange(false);
  if (OnDriveChanged) OnDriveChanged(this);
}

void TDiskCaps::setCheckSNChange(bool v) {
  if (v == fCheckSNChange) return;
  fCheckSNChange = v;
  RefreshVolumeInfo();
  if (!v) {
    StopTimer();
    return;
  }
  if (fCheckPeriod > 0 && (fDriveType == plm::DRIVE_REMOVABLE || fDriveType == plm::DRIVE_CDROM)) {
    fLastSerial = fDiskSerial;
    StartTimer(fCheckPeriod);
  } else {
    fCheckSNChange = false; // nothing to watch on this drive
  }
}

void TDiskCaps::setCheckPeriod(int32_t v) {
  if (v == fCheckPeriod) return;
  StopTimer();
  if (fCheckSNChange && v > 0) StartTimer(v);
  fCheckPeriod = v;
}

void TDiskCaps::WatchTick() {
  RefreshVolumeInfo();
  if (fDiskSerial != fLastSerial) {
    fLastSerial = fDiskSerial;
    if (OnSNChanged) OnSNChanged(this);
  }
}

void TDiskCaps::StartTimer(int32_t period) {
  StopTimer();
  fWatchTimer = new QTimer(this);
  fWatchTimer->setInterval(period);
  connect(fWatchTimer, &QTimer::timeout, this, &TDiskCaps::WatchTick);
  fWatchTimer->start();
}

void TDiskCaps::StopTimer() {
  delete fWatchTimer;
  fWatchTimer = nullptr;
}
