#include "components/UnPas2.h"

#include "platform/AppPaths.h"
#include "platform/Application.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/WindowActivation.h"

#include <QEvent>
#include <QWidget>

#include <exception>

using namespace plm;

TUnPas2::TUnPas2(QObject *owner) : QObject(owner) {
  fOwnerForm = qobject_cast<QWidget *>(owner);
  fExeName = ExtractFileName(ExecutablePath());
  ReadHandles();
  // The mutex is never given back: it marks this process as running until it ends.
  fDejaLance = CreateNamedMutex(MutexName()) == ERROR_ALREADY_EXISTS;
}

bool TUnPas2::AnotherInstanceRuns() {
  return NamedMutexHeld("UnPas2" + ExtractFileName(ExecutablePath()));
}

TUnPas2::~TUnPas2() {
  if (!fDejaLance) DeleteHandles();
}

void TUnPas2::Loaded() {
  if (fDejaLance) {
    if (OnDejaLance) OnDejaLance(this);
    if (fStopSiDejaLance) {
      ShowWindowNormal(fPrevAppHandle);
      SetForegroundWindow(fPrevFormHandle);
      TerminateApplication();
    }
  } else {
    if (OnPasDejaLance) OnPasDejaLance(this);
    WriteHandles();
    if (fOwnerForm) fOwnerForm->window()->installEventFilter(this);
  }
}

bool TUnPas2::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::WinIdChange && fOwnerForm && watched == fOwnerForm->window() &&
      fOwnerForm->window()->internalWinId())
    WriteHandles();
  return QObject::eventFilter(watched, event);
}

void TUnPas2::ReadHandles() {
  TRegistry reg;
  if (!reg.OpenKey(KeyName(), false)) return;
  // A value missing or of another kind ends the reading; what was read stays.
  try {
    fPrevFormHandle = uint32_t(reg.ReadInteger(FormValueName()));
    fPrevAppHandle = uint32_t(reg.ReadInteger(AppValueName()));
  } catch (const std::exception &) {
  }
}

void TUnPas2::WriteHandles() {
  TRegistry reg;
  if (!reg.OpenKey(KeyName(), true)) return;
  const uint32_t form = fOwnerForm ? uint32_t(fOwnerForm->window()->winId()) : 0;
  // No hidden application window here: the form is the window the desktop minimises
  // and restores, so it stands for the application too.
  try {
    reg.WriteInteger(FormValueName(), int32_t(form));
    reg.WriteInteger(AppValueName(), int32_t(form));
  } catch (const std::exception &) {
    // A store that takes no writes costs later starts their hand-over, not this start.
  }
}

void TUnPas2::DeleteHandles() {
  try {
    TRegistry reg;
    if (reg.KeyExists(KeyName())) reg.DeleteKey(KeyName());
  } catch (const std::exception &) {
  }
}
