#pragma once
// Finding a template's files the way the pages that name them expect: templates were made
// on a system whose file names ignore letter case.
#include <string>
#include <string_view>

namespace plm {

// The file of a template's unpacked folder that a page's reference names, found as on
// the system the templates were made on: the exact name first, else the one entry
// whose name matches ignoring case (ASCII and Windows-1252 letters), folder by folder.
// Empty when nothing matches or the name would leave the folder ("..", absolute).
std::string FindTemplateFile(const std::string &folder, const std::string &relativeName);

// The key under which FindTemplateFile's rule matches a name (a page's reference as
// TemplateFileReference gives it), inside an unpacked folder
// or among a cabinet's stored names: "/" or "\" between folders, "." dropped, each name's
// letter case folded. Two names find the same file when their keys are equal. Empty
// when the name would leave the folder ("..", absolute, a drive) or names nothing.
std::string TemplateFileKey(std::string_view relativeName);

} // namespace plm
