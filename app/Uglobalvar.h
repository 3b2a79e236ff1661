#pragma once
// Program-wide state of the viewer.
#include <string>

namespace plm {

// The user's private temporary folder, ending in "/"; set once at start-up.
extern std::string TempPath;
// The folder last used to save a picture; empty until known; kept in the settings.
extern std::string SavePath;
// A template preview is loading: new selections are ignored meanwhile.
extern bool PreviewBusy;
// An "open" command is registered for template files; set once at start-up.
extern bool MailClientRegistered;
// The file or folder named on the command line (absolute), until the viewer has used
// or handed it over; empty when none.
extern std::string StartPath;

// The command registered to open files named like fileName, or empty.
std::string LookupOpenCommand(const std::string &fileName);

// The folder a template is unpacked into: TempPath + "~plmlook", no trailing "/".
std::string PreviewFolder();

} // namespace plm
