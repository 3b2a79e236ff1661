#pragma once
// File names as the desktop writes them in addresses: the "file" URI that GLib makes of a
// local path (the desktop's thumbnail cache names its pictures after it).
#include <string>

namespace plm {

// The URI of an absolute path, bytes that are not plain URI characters escaped as GLib
// escapes them ("/a b/é.plm" gives "file:///a%20b/%C3%A9.plm"); empty for a relative path.
std::string FileNameToUri(const std::string &absolutePath);

} // namespace plm
