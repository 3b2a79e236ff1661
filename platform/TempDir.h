#pragma once
// The user's private temporary folder, and the private folders the viewer makes in it.
#include <string>

namespace plm {

// The user's private temporary folder, ending in "/": $XDG_RUNTIME_DIR when it is set
// and private to the user, else "plmlooker-UID" under $TMPDIR or "/tmp", made with mode
// 0700. A folder that is a link, or not owned by the user, is refused with EOSError.
std::string UserTempDir();

// Removes the second separator of the first doubled one ("/tmp//" gives "/tmp/");
// later doubled separators stay.
std::string DropFirstDoubledSeparator(std::string path);

// Makes a folder that only the user can enter (mode 0700). An existing folder owned by
// the user is kept and narrowed to 0700; a link or somebody else's entry raises EOSError.
void MakePrivateFolder(const std::string &path);

// Removes one entry of a folder: a file or a link is unlinked (never its target), a
// folder is emptied the same way and removed. True when the entry is gone.
bool DeleteEntryNoFollow(const std::string &path);

} // namespace plm
