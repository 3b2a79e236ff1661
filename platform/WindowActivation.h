#pragma once
// Another process's windows, named by their native ids (X11 window ids): shown in their
// normal state and brought to the front. On the xcb platform this goes through libxcb on
// the application's own display connection; on other platforms the calls do nothing.
// A zero, stale or foreign id is harmless: nothing happens to a window that is not there.
#include <cstdint>
#include <functional>

namespace plm {

// Restores a minimised window; a window already shown (or never shown) is left as it is.
void ShowWindowNormal(uint32_t window);
// Makes the window the active one: through the window manager when one runs
// (_NET_ACTIVE_WINDOW), else raised and given the input focus directly.
void SetForegroundWindow(uint32_t window);

// Tests watch the requests instead of acting on a display; an empty handler restores the
// real calls. Returns the handler it replaced.
enum class TWindowRequest { ShowNormal, Foreground };
using WindowRequestHandler = std::function<void(TWindowRequest, uint32_t window)>;
WindowRequestHandler SetWindowRequestHandler(WindowRequestHandler handler);

} // namespace plm
