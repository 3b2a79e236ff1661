#include "platform/WindowActivation.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace plm {

namespace {

std::mutex gHandlerLock;
WindowRequestHandler gHandler;

bool Divert(TWindowRequest request, uint32_t window) {
  WindowRequestHandler handler;
  {
    std::lock_guard<std::mutex> lock(gHandlerLock);
    handler = gHandler;
  }
  if (!handler) return false;
  handler(request, window);
  return true;
}

// xcb replies and errors are malloc'ed by the library.
template <class T> std::unique_ptr<T, decltype(&std::free)> Own(T *p) {
  return std::unique_ptr<T, decltype(&std::free)>(p, &std::free);
}

// The application's display connection; none off the xcb platform.
xcb_connection_t *Connection() {
#if QT_CONFIG(xcb)
  if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
    if (auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>())
      return x11->connection();
#endif
  return nullptr;
}

xcb_atom_t Atom(xcb_connection_t *c, const char *name) {
  auto r = Own(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr));
  return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The 32-bit items of a window's property (at most 64); empty when it has none.
std::vector<uint32_t> Property32(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property,
                                 xcb_atom_t type) {
  xcb_generic_error_t *error = nullptr;
  auto r = Own(xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 64), &error));
  std::free(error);
  if (!r || r->format != 32) return {};
  const auto *items = static_cast<const uint32_t *>(xcb_get_property_value(r.get()));
  return std::vector<uint32_t>(items, items + xcb_get_property_value_length(r.get()) / 4);
}

struct WindowFacts {
  xcb_window_t root = XCB_WINDOW_NONE;
  bool viewable = false;
};

// False when the window does not exist (any more).
bool Inspect(xcb_connection_t *c, xcb_window_t w, WindowFacts &facts) {
  xcb_generic_error_t *error = nullptr;
  auto attrs = Own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), &error));
  std::free(error);
  error = nullptr;
  auto geometry = Own(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), &error));
  std::free(error);
  if (!attrs || !geometry) return false;
  facts.root = geometry->root;
  facts.viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
  return true;
}

bool IsMinimised(xcb_connection_t *c, xcb_window_t w) {
  const xcb_atom_t wmState = Atom(c, "WM_STATE");
  const auto state = Property32(c, w, wmState, wmState);
  constexpr uint32_t IconicState = 3;
  if (!state.empty() && state[0] == IconicState) return true;
  const xcb_atom_t hidden = Atom(c, "_NET_WM_STATE_HIDDEN");
  for (const uint32_t s : Property32(c, w, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM))
    if (s == hidden) return true;
  return false;
}

// A window manager that follows the desktop conventions names a live window of its own.
bool WindowManagerRuns(xcb_connection_t *c, xcb_window_t root) {
  const xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
  const auto onRoot = Property32(c, root, check, XCB_ATOM_WINDOW);
  if (onRoot.empty() || onRoot[0] == XCB_WINDOW_NONE) return false;
  const auto onItself = Property32(c, onRoot[0], check, XCB_ATOM_WINDOW);
  return !onItself.empty() && onItself[0] == onRoot[0];
}

} // namespace

WindowRequestHandler SetWindowRequestHandler(WindowRequestHandler handler) {
  std::lock_guard<std::mutex> lock(gHandlerLock);
  std::swap(gHandler, handler);
  return handler;
}

void ShowWindowNormal(uint32_t window) {
  if (Divert(TWindowRequest::ShowNormal, window) || window == 0) return;
  xcb_connection_t *c = Connection();
  WindowFacts facts;
  if (!c || !Inspect(c, window, facts)) return;
  // Mapping a minimised window is how a client asks the window manager to restore it.
  if (IsMinimised(c, window)) std::free(xcb_request_check(c, xcb_map_window_checked(c, window)));
  xcb_flush(c);
}

void SetForegroundWindow(uint32_t window) {
  if (Divert(TWindowRequest::Foreground, window) || window == 0) return;
  xcb_connection_t *c = Connection();
  WindowFacts facts;
  if (!c || !Inspect(c, window, facts)) return;
  if (WindowManagerRuns(c, facts.root)) {
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = Atom(c, "_NET_ACTIVE_WINDOW");
    ev.data.data32[0] = 2; // asked for by the user through another program, like a pager
    ev.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, facts.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&ev));
  } else if (facts.viewable) {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    std::free(xcb_request_check(
        c, xcb_configure_window_checked(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above)));
    std::free(xcb_request_check(c, xcb_set_input_focus_checked(c, XCB_INPUT_FOCUS_POINTER_ROOT,
                                                               window, XCB_CURRENT_TIME)));
  }
  xcb_flush(c);
}

} // namespace plm
