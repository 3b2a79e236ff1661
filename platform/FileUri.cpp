#include "platform/FileUri.h"

#include <glib.h>

namespace plm {

std::string FileNameToUri(const std::string &absolutePath) {
  gchar *uri = g_filename_to_uri(absolutePath.c_str(), nullptr, nullptr);
  if (!uri) return std::string();
  std::string result(uri);
  g_free(uri);
  return result;
}

} // namespace plm
