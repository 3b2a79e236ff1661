#pragma once
// The files a template's page loads, for the catalogue's problems: the page is parsed as
// the export parses it, by libplmpage.so, loaded when the first page is read so that the
// catalogue's programs start without it.
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// The relative names of the files the page loads, in the page's order; false when the
// page could not be read or the library could not be loaded (nothing found then).
bool PageFileReferences(std::string_view page, std::vector<std::string> &names);

} // namespace plm
