#pragma once
// TUnPas2: keeps a program to one running instance. The first instance claims a named
// mutex and publishes its form's window in the per-user key store; a later instance
// finds the mutex taken, brings that window to the front and asks the application to
// end. Names follow the executable's file name X: the mutex "UnPas2" + X, the key
// "\Software\UnPas2" + X, its values X + "form1" and X + "application".
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

class TUnPas2 : public QObject {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(QObject *Sender)>;

  // Reads the published handles and creates the mutex. The owner's window (the form
  // carrying the guard) is what later instances bring forward.
  explicit TUnPas2(QObject *owner);
  // The first instance removes its key; the mutex stays held until the process ends.
  ~TUnPas2() override;

  // Loading completion: the owner calls it once its design data is applied. A later
  // instance raises OnDejaLance and, with StopSiDejaLance, hands over and asks the
  // application to end; the first raises OnPasDejaLance and publishes its window.
  void Loaded();

  bool StopSiDejaLance() const { return fStopSiDejaLance; }
  void setStopSiDejaLance(bool v) { fStopSiDejaLance = v; }
  TNotifyEvent OnDejaLance;
  TNotifyEvent OnPasDejaLance;

  QWidget *OwnerForm() const { return fOwnerForm; }
  // The mutex existed already when this guard was made.
  bool DejaLance() const { return fDejaLance; }
  // The running instance's windows as published; 0 when none.
  uint32_t PrevFormHandle() const { return fPrevFormHandle; }
  uint32_t PrevAppHandle() const { return fPrevAppHandle; }

  // The executable's file name the names derive from, and the names themselves.
  const std::string &ExeName() const { return fExeName; }
  std::string MutexName() const { return "UnPas2" + fExeName; }
  std::string KeyName() const { return "\\Software\\UnPas2" + fExeName; }
  std::string FormValueName() const { return fExeName + "form1"; }
  std::string AppValueName() const { return fExeName + "application"; }

  // Whether an instance of this program holds the guard's mutex now, looked at without
  // taking it: for a start-up that wants to know before it makes its windows. The guard
  // itself still decides.
  static bool AnotherInstanceRuns();

protected:
  // The windowing system may make the form's window anew (a new kind of surface, new
  // flags); the first instance then publishes the new one.
  bool eventFilter(QObject *watched, QEvent *event) override;
  void ReadHandles();
  void WriteHandles();
  void DeleteHandles();

private:
  QWidget *fOwnerForm = nullptr;
  std::string fExeName;
  bool fDejaLance = false;
  bool fStopSiDejaLance = true;
  uint32_t fPrevFormHandle = 0;
  uint32_t fPrevAppHandle = 0;
};
