#include "platform/OpenCommand.h"

#include <gio/gio.h>

#include <memory>
#include <mutex>

namespace plm {

namespace {

std::mutex gLock;
OpenCommandSource gSource;

std::string DesktopOpenCommand(const std::string &fileName) {
  gboolean uncertain = FALSE;
  std::unique_ptr<gchar, void (*)(gpointer)> type(
      g_content_type_guess(fileName.c_str(), nullptr, 0, &uncertain), g_free);
  if (!type || uncertain || g_content_type_is_unknown(type.get())) return {};
  std::unique_ptr<GAppInfo, void (*)(gpointer)> app(
      g_app_info_get_default_for_type(type.get(), FALSE), g_object_unref);
  if (!app) return {};
  const char *cmd = g_app_info_get_commandline(app.get());
  return cmd ? std::string(cmd) : std::string();
}

} // namespace

std::string OpenCommandFor(const std::string &fileName) {
  OpenCommandSource source;
  {
    std::lock_guard<std::mutex> lock(gLock);
    source = gSource;
  }
  return source ? source(fileName) : DesktopOpenCommand(fileName);
}

OpenCommandSource SetOpenCommandSource(OpenCommandSource source) {
  std::lock_guard<std::mutex> lock(gLock);
  std::swap(gSource, source);
  return source;
}

} // namespace plm
