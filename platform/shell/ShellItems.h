#pragma once
// Inside the provider: what an item's bytes hold, where the desktop's locations are, and
// the walk between paths and item chains. Not for callers of the shell interfaces.
#include "platform/shell/ShellApi.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plm::shellimpl {

// An item's bytes: a kind tag, then the name and a NUL. Nothing in them changes by
// itself (no sizes, no times), so an unchanged item compares equal byte for byte.
enum class TItemKind : char {
  Home = 'H',     // "Dossier personnel" on the desktop
  Computer = 'C', // "Ordinateur" on the desktop; holds the volumes
  Volume = 'V',   // a mounted volume; the name is its mount point
  Dir = 'D',      // a folder, or a link to one
  File = 'F',     // anything else, dangling links included
};

struct TItem {
  TItemKind Kind = TItemKind::File;
  std::string Name;
};

// An item read in place: the name points into the list.
struct TItemView {
  TItemKind Kind = TItemKind::File;
  std::string_view Name;
};

constexpr size_t kItemHeader = 3; // size field and kind tag; the name starts here

// One item's size field (0 for a terminator), read byte by byte.
inline uint16_t ItemSize(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A new one-item list from the shell allocator (nullptr when memory runs out).
LPITEMIDLIST MakeItemList(const TItem &item);
// A new list of several items.
LPITEMIDLIST MakeList(const std::vector<TItem> &items);
// Reads the first item of a list; false for a terminator or a malformed item.
bool DecodeItem(LPCITEMIDLIST pidl, TItem &out);
// The same within avail bytes (what SHBytesAvailable said of pidl), without copying.
bool ViewItem(LPCITEMIDLIST pidl, size_t avail, TItemView &out);
// Every item of a list, bounded by the allocator's block; false when one is malformed.
bool DecodeList(LPCITEMIDLIST pidl, std::vector<TItem> &out);
// The list after its first item (the terminator when there is one item only).
LPCITEMIDLIST NextItem(LPCITEMIDLIST pidl);

// The desktop's locations, read from the environment and the user-dirs file.
struct TShellLayout {
  std::string Home;    // $HOME, no trailing "/"
  std::string Desktop; // the desktop folder; Home when there is none
  bool DesktopIsHome = false;
};
TShellLayout Layout();
// An XDG user folder ("DOCUMENTS", "TEMPLATES", ...) when user-dirs names it.
std::optional<std::string> XdgUserDir(std::string_view key);
std::string XdgDataHome();
std::string XdgConfigHome();

constexpr const char *kComputerParsingName = "computer:///";
constexpr const char *kHomeName = "Dossier personnel";
constexpr const char *kComputerName = "Ordinateur";
constexpr const char *kDesktopName = "Bureau";

// A path's components with "." and empty pieces dropped and ".." applied; false when
// ".." climbs above the start.
bool SplitPath(std::string_view path, std::vector<std::string> &parts);
// The chain of items of an existing absolute path, as the desktop knows it.
bool PathToItems(const std::string &path, std::vector<TItem> &out);
// The same path walked from its volume in the drives folder: [Ordinateur][volume]...
bool VolumeChain(const std::string &path, std::vector<TItem> &out);
// The file-system path of an absolute chain ("" for the drives folder and bad chains).
std::string ItemsToPath(const std::vector<TItem> &items);
// The item for an existing entry of a folder (kind by what it is, links followed).
bool EntryItem(const std::string &folderPath, const std::string &name, TItem &out);
std::string JoinChild(const std::string &folder, const std::string &name);

// The mounted volumes, "/" first.
std::vector<std::string> VolumeMountPoints();
// A volume's name as the drives folder shows it: "Disque local (/)", "USB (/media/usb)".
std::string VolumeDisplayName(const std::string &mountPoint);
int VolumeDriveType(const std::string &mountPoint);

} // namespace plm::shellimpl
