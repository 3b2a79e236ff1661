#pragma once
// Folder change notifications. Each notification is a waitable handle (Events.h) that
// is signalled when the folder's content changes in a way its filter asks for. The
// whole process shares one inotify instance (the kernel allows few per user) and one
// reader thread that wakes the right handles.
//
// A wait that reports the handle resets it, so changes that happen while the caller
// handles the previous one signal it again and are never lost; FindNextChangeNotification
// re-arms and tells whether the folder is still watched. When the watched folder is
// deleted, moved away or unmounted, its handle is signalled a last time and
// FindNextChangeNotification fails. When the kernel's event queue overflows, every
// handle is signalled, since any of them may have lost a change.
#include "platform/Events.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plm {

// Filter bits. FILE_NAME: a file created, deleted or renamed in the folder; DIR_NAME:
// the same for a subfolder (a symbolic link to a folder counts as a folder when it
// appears); ATTRIBUTES: the attributes of the folder or an entry changed.
constexpr uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;
constexpr uint32_t FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;
constexpr uint32_t FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x4;
// LAST_WRITE: a file of the folder was written and closed.
constexpr uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;

// Watches the one folder (watchSubtree must be false: the watch is never recursive).
// INVALID_HANDLE_VALUE, with errno set, when the path is not a folder that can be
// watched or the filter holds none of the bits above.
HANDLE FindFirstChangeNotificationA(const std::string &path, bool watchSubtree, uint32_t filter);
// False once the folder has gone (deleted, moved away, unmounted) or for a bad handle.
bool FindNextChangeNotification(HANDLE handle);
bool FindCloseChangeNotification(HANDLE handle);

// One change of a folder's entries, for a reader that follows the folder entry by entry
// instead of reading it again.
struct TFolderChange {
  enum class Kind {
    Added,    // Name came (created, or moved in)
    Removed,  // Name went (deleted, or moved out)
    Renamed,  // OldName became Name within the folder
    Written,  // Name was written and closed
    Overflow, // changes were lost (too many at once): the folder must be read again
  };
  Kind What = Kind::Overflow;
  std::string Name;
  std::string OldName;
  bool IsFolder = false; // the entry is a folder (as the kernel reported it)
};

// As FindFirstChangeNotificationA, and the handle also keeps its changes, in the order
// they happened, for ReadFolderChanges: the folder is followed for any number of files
// with one watch. At most maxChanges are kept between two reads; beyond, what is kept is
// one Overflow until they are read.
constexpr size_t kMaxFolderChanges = 4096;
HANDLE FindFirstFolderChanges(const std::string &path, uint32_t filter,
                              size_t maxChanges = kMaxFolderChanges);
// Takes the changes kept for a handle of FindFirstFolderChanges (reset it first with the
// wait or ResetEvent, so that changes coming meanwhile signal it again).
std::vector<TFolderChange> ReadFolderChanges(HANDLE handle);

// Test seam: handles a queue overflow as if the kernel had reported one.
void SimulateChangeQueueOverflow();

} // namespace plm
