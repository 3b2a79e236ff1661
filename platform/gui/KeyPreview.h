#pragma once
// A window that sees key presses before its controls: every key press aimed at a widget
// of the window reaches the handler first. The handler sets the key to 0 to consume it.
#include <QObject>

#include <functional>

class QWidget;

namespace plm {

class TKeyPreview : public QObject {
public:
  using Handler = std::function<void(int &key, Qt::KeyboardModifiers shift)>;

  // Lives as long as the window (its parent).
  TKeyPreview(QWidget *window, Handler handler);

protected:
  bool eventFilter(QObject *obj, QEvent *e) override;

private:
  QWidget *fWindow;
  Handler fHandler;
  // The press being delivered on the handler's behalf: on its way up to the parents it
  // must not reach the handler again.
  const QEvent *fDelivering = nullptr;
};

} // namespace plm
