#pragma once
// The system's 8-bit text as the user interface's text, and back.
#include <string>
#include <string_view>

class QString;

namespace plm {

// Bytes that are valid UTF-8 are taken as UTF-8, anything else as Windows-1252.
QString ToDisplay(std::string_view s);
// Display text back to the system's bytes (UTF-8).
std::string FromDisplay(const QString &s);

} // namespace plm
