#pragma once
// Templates for the gallery's tests, assembled by the project's cabinet code, and the
// checks shared by its test files.
#include <QColor>
#include <QImage>

#include <string>

namespace gallerytest {

// The page's background colour, which a picture of the page shows in its middle.
inline const QColor kPageColour(0xc0, 0x30, 0x20);

// A page with the text region and the page colour; head and body add to it.
std::string Page(const std::string &head = "", const std::string &body = "");
// Writes a template holding content.ini, Flavor.htm (the page) and "other.htm" (a second
// page of another colour); returns its path.
std::string WriteTemplate(const std::string &path, const std::string &page = Page());
// A template that expands beyond the preview's limits.
std::string WriteBomb(const std::string &path);

// Whether the picture's middle shows the page colour.
bool ShowsPage(const QImage &picture);

// Runs plmtool with the arguments and the extra environment ("NAME=value" each); the
// exit code (-1 when it did not end normally or in time), its output and errors.
struct ToolRun {
  int Code = -1;
  std::string Out, Err;
};
ToolRun RunPlmtool(const std::vector<std::string> &args, const std::vector<std::string> &env = {});

} // namespace gallerytest
