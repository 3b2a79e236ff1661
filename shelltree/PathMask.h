#pragma once
// Path texts and file masks as the folder tree handles them. "/" is the separator; the
// root of an absolute path is "/", of a network path "//server/"; a relative path has
// none. Masks use "*" and "?" and ignore letter case.
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// The deepest existing folder of a path: the path itself when it is a folder, else the
// folder part (with a trailing "/") of its longest existing prefix; empty when nothing
// exists below its root or when it has no root.
std::string NormalizePath(const std::string &path);
// "/" for an absolute path, "//server/" (or "//server" alone) for a network path, else "".
std::string PathRoot(std::string_view path);
// True for a folder (links followed).
bool DirExists(const std::string &path);
bool MatchMask(std::string_view name, std::string_view mask);
// True when one mask accepts the name, and for an empty list.
bool MatchesAnyMask(std::string_view name, const std::vector<std::string> &masks);

} // namespace plm
