#pragma once
// What assistive technologies read of the windows, where Qt's own answers fall short:
// - a popup menu that no menu bar or menu holds (a control's right-button menu) is listed
//   among the application's children while it is open. Qt names the application as its
//   parent but leaves it out of the application's children, so a screen reader walking
//   the tree never finds it or its items.
// - a menu item whose action carries an "accessibleName" property is read by that name
//   (Qt reads a menu item by its caption only).
// - TCaptionLabel, a label named by its caption alone: an empty caption gives an empty
//   name, where a plain label in a group box would borrow the group's title.
#include <QLabel>

namespace plm {

// Registers these interfaces. Call it once the application object exists, before any
// assistive technology has asked about the application; later calls do nothing.
void InstallAccessibility();

class TCaptionLabel : public QLabel {
  Q_OBJECT
public:
  using QLabel::QLabel;
};

} // namespace plm
