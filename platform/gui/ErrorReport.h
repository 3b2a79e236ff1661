#pragma once
// The application's standard error report, and the guard that runs every event
// handler: no exception ever crosses the event loop. EAbort stays silent; any other
// failure is shown in a critical message box with its text, and the program goes on.
#include <exception>
#include <functional>
#include <utility>

class QWidget;

namespace plm {

// The critical box with the exception's text (through the dialog seam).
void ShowException(const std::exception &e, QWidget *parent = nullptr);

// Runs fn; a failure it lets out is reported as above.
void GuardCall(const std::function<void()> &fn, QWidget *parent = nullptr) noexcept;

// Wraps a handler for connect(): the returned callable runs it under GuardCall.
template <class F> auto Guarded(F fn, QWidget *parent = nullptr) {
  return [fn = std::move(fn), parent](auto &&...args) {
    GuardCall([&] { fn(std::forward<decltype(args)>(args)...); }, parent);
  };
}

} // namespace plm
