#pragma once
// The user's private temporary folder, and the private folders the viewer makes in it.
#include <string>

namespace plm {

// The user's private temporary folder, ending in "/": $XDG_RUNTIME_DIR when it is set
// and private to the user, else "plmlooker-UID" under $TMPDIR or "/tmp", made with mode
// 0700. A folder that is a link, or not owned by the user, is refused with EOSError. The
// variables are read as the program was given them (GivenEnv); a "plmlooker-UID" made
// here is removed at the program's end when empty (RemoveAtProgramEnd).
std::string UserTempDir();

// Removes the second separator of the first doubled one ("/tmp//" gives "/tmp/");
// later doubled separators stay.
std::string DropFirstDoubledSeparator(std::string path);

// Makes a folder that only the user can enter (mode 0700). An existing folder owned by
// the user is kept and narrowed to 0700; a link or somebody else's entry raises EOSError.
// True when the folder was made here.
bool MakePrivateFolder(const std::string &path);

// Removes one entry of a folder: a file or a link is unlinked (never its target), a
// folder is emptied the same way and removed. True when the entry is gone.
bool DeleteEntryNoFollow(const std::string &path);

// Moves every entry of the folder from into the folder to, names byte for byte: an entry
// that to lacks is renamed into place, a file (or link) replaces a file (or link) of the
// same name, a folder is merged into the folder of the same name. Links are moved as
// links, never followed. False, with errno set, at the first entry that cannot be moved
// (a folder against a file, or a file against a folder); the entries moved stay moved.
bool MergeFolderInto(const std::string &from, const std::string &to);

} // namespace plm
