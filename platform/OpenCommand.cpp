#include "platform/OpenCommand.h"

#include "platform/ProgramTemp.h"

#include <gio/gio.h>

#include <memory>
#include <mutex>

namespace plm {

namespace {

std::mutex gLock;
OpenCommandSource gSource;

// The viewer's own entry, as installed, and its program.
constexpr const char *kViewerEntry = "plmlooker.desktop";
constexpr const char *kViewerProgram = "plmlooker";

template <class T> using GPtr = std::unique_ptr<T, void (*)(gpointer)>;

bool IsViewer(GAppInfo *app) {
  const char *id = g_app_info_get_id(app);
  if (id && g_strcmp0(id, kViewerEntry) == 0) return true;
  const char *exe = g_app_info_get_executable(app);
  if (!exe) return false;
  GPtr<gchar> base(g_path_get_basename(exe), g_free);
  return g_strcmp0(base.get(), kViewerProgram) == 0;
}

// The content type of the name; empty when GIO is not sure of it. A folder, which has no
// type by its name, is "inode/directory".
std::string ContentType(const std::string &fileName) {
  gboolean uncertain = FALSE;
  GPtr<gchar> type(g_content_type_guess(fileName.c_str(), nullptr, 0, &uncertain), g_free);
  if (type && !uncertain && !g_content_type_is_unknown(type.get())) return type.get();
  if (g_file_test(fileName.c_str(), G_FILE_TEST_IS_DIR)) return "inode/directory";
  return {};
}

// The application for the type, the viewer left out: the default unless it is the viewer,
// else the first other one registered.
GPtr<GAppInfo> ApplicationFor(const std::string &fileName) {
  GPtr<GAppInfo> none(nullptr, g_object_unref);
  const std::string type = ContentType(fileName);
  if (type.empty()) return none;
  GPtr<GAppInfo> app(g_app_info_get_default_for_type(type.c_str(), FALSE), g_object_unref);
  if (app && !IsViewer(app.get())) return app;
  GList *all = g_app_info_get_all_for_type(type.c_str());
  for (GList *l = all; l; l = l->next) {
    auto *candidate = static_cast<GAppInfo *>(l->data);
    if (!IsViewer(candidate)) {
      none.reset(G_APP_INFO(g_object_ref(candidate)));
      break;
    }
  }
  g_list_free_full(all, g_object_unref);
  return none;
}

std::string DesktopOpenCommand(const std::string &fileName) {
  const GPtr<GAppInfo> app = ApplicationFor(fileName);
  const char *cmd = app ? g_app_info_get_commandline(app.get()) : nullptr;
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

bool OpenWithRegisteredApplication(const std::string &path) {
  if (path.empty()) return false;
  const GPtr<GAppInfo> app = ApplicationFor(path);
  if (!app) return false;
  GPtr<GFile> file(g_file_new_for_path(path.c_str()), g_object_unref);
  GList files{file.get(), nullptr, nullptr};
  // The program runs on by itself: it gets the temporary folders as they were given, not
  // this program's own, which goes with it.
  GPtr<GAppLaunchContext> context(g_app_launch_context_new(), g_object_unref);
  for (const char *name : {"TMPDIR", "XDG_RUNTIME_DIR"})
    if (const auto given = GivenEnv(name))
      g_app_launch_context_setenv(context.get(), name, given->c_str());
    else
      g_app_launch_context_unsetenv(context.get(), name);
  GError *error = nullptr;
  const bool started = g_app_info_launch(app.get(), &files, context.get(), &error);
  if (error) g_error_free(error);
  return started;
}

} // namespace plm
