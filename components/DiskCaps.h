#pragma once
// TDiskCaps: a non-visual component describing the volume behind one mount point (its
// label, serial number, file system, name length, flags and kind of drive), with an
// optional watch that reports when the medium of a removable or optical drive changes.
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

class QTimer;

class TDiskCaps : public QObject {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(QObject *Sender)>;

  explicit TDiskCaps(QObject *owner = nullptr);
  ~TDiskCaps() override;

  // Result properties: plain fields, recomputed only by RefreshVolumeInfo.
  const std::string &DiskLabel() const { return fDiskLabel; }
  void setDiskLabel(const std::string &v) { fDiskLabel = v; }
  // Exactly 8 upper-case hexadecimal digits; empty when the volume could not be queried.
  const std::string &DiskSerial() const { return fDiskSerial; }
  void setDiskSerial(const std::string &v) { fDiskSerial = v; }
  int32_t ComponentLen() const { return fComponentLen; }
  void setComponentLen(int32_t v) { fComponentLen = v; }
  const std::string &FileSystem() const { return fFileSystem; }
  void setFileSystem(const std::string &v) { fFileSystem = v; }
  // 0 unknown, 1 no root folder, 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk.
  int32_t DriveType() const { return fDriveType; }
  void setDriveType(int32_t v) { fDriveType = v; }
  uint32_t DriveFlags() const { return fDriveFlags; }
  void setDriveFlags(uint32_t v) { fDriveFlags = v; }

  // The volume's mount point ("/" by default).
  const std::string &Drive() const { return fDrive; }
  void setDrive(const std::string &v);

  TNotifyEvent OnDriveChanged;
  TNotifyEvent OnSNChanged;

  bool CheckSNChange() const { return fCheckSNChange; }
  void setCheckSNChange(bool v);
  int32_t CheckPeriod() const { return fCheckPeriod; }
  void setCheckPeriod(int32_t v);

  // Recomputes the result properties for Drive.
  void RefreshVolumeInfo();

  // The running watch timer, or nullptr when not watching.
  const QTimer *WatchTimer() const { return fWatchTimer; }

  // Longest label and file system name the volume query accepts.
  static constexpr size_t NameLimit = 12;

private slots:
  void WatchTick();

private:
  void StartTimer(int32_t period);
  void StopTimer();

  std::string fDiskLabel;
  std::string fDiskSerial;
  int32_t fComponentLen = 0;
  std::string fFileSystem;
  int32_t fDriveType = 0;
  std::string fDrive;
  uint32_t fDriveFlags = 0;
  bool fCheckSNChange = false;
  int32_t fCheckPeriod = 0;
  std::string fLastSerial;
  QTimer *fWatchTimer = nullptr;
};
