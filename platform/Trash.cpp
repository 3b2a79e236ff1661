#include "platform/Trash.h"

#include <gio/gio.h>

namespace plm {

bool MoveToTrash(const std::string &path, std::string &error) {
  GFile *file = g_file_new_for_path(path.c_str());
  GError *e = nullptr;
  const bool ok = g_file_trash(file, nullptr, &e);
  if (!ok) error = e && e->message ? e->message : "";
  if (e) g_error_free(e);
  g_object_unref(file);
  return ok;
}

} // namespace plm
