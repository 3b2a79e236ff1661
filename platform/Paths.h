#pragma once
// Path helpers. "/" is the separator wherever the program's rules speak of one.
#include <initializer_list>
#include <string>
#include <string_view>

namespace plm {

constexpr char PathDelim = '/';

// Appends "/" to a path that is non-empty and does not end in "/".
std::string AddBackslash(std::string_view path);
// Joins the non-empty pieces with exactly one "/" at each seam.
std::string JoinPath(std::initializer_list<std::string_view> pieces);
// The folder part of a path, with its trailing "/" ("" when the path has none).
std::string ExtractFilePath(std::string_view path);
// The name part of a path (after the last "/").
std::string ExtractFileName(std::string_view path);
// The extension with its dot, from the last "." of the name part ("" when none).
std::string ExtractFileExt(std::string_view path);
// The name with its extension replaced (ext includes the dot, or is empty).
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// The root of an absolute path: "/" or "//server/"; "" for a relative path.
std::string ExtractFileDrive(std::string_view path);
// An absolute, normalised form of the path (relative paths against the current folder).
// "." and ".." segments are resolved textually; links are not followed.
std::string ExpandFileName(std::string_view path);

} // namespace plm
