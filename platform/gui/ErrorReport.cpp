#include "platform/gui/ErrorReport.h"

#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/gui/Dialogs.h"

namespace plm {

void ShowException(const std::exception &e, QWidget *parent) {
  MessageRequest r;
  r.parent = parent;
  r.text = ToDisplay(e.what());
  r.type = TMsgDlgType::mtError;
  MessageDlg(r);
}

void GuardCall(const std::function<void()> &fn, QWidget *parent) noexcept {
  try {
    try {
      fn();
    } catch (const EAbort &) {
    } catch (const std::exception &e) {
      ShowException(e, parent);
    } catch (...) {
      ShowException(Exception("Exception inconnue"), parent);
    }
  } catch (...) {
    // The report itself failed (no memory for the box): nothing more can be shown.
  }
}

} // namespace plm
