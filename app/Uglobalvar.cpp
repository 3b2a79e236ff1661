#include "app/Uglobalvar.h"

#include "platform/OpenCommand.h"

namespace plm {

std::string TempPath;
std::string SavePath;
bool PreviewBusy = false;
bool MailClientRegistered = false;
std::string StartPath;

std::string LookupOpenCommand(const std::string &fileName) { return OpenCommandFor(fileName); }

std::string PreviewFolder() { return TempPath + "~plmlook"; }

} // namespace plm
