// The namespace provider on a temporary folder tree.
#include "platform/Volumes.h"
#include "platform/shell/ShellImages.h"
#include "tests/shelltree/ShellFixture.h"

#include <QDir>

#include <cstdio>
#include <fstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace plm;
using namespace shelltest;

namespace {

constexpr SFGAOF kTreeMask = 0xF60B0177;

SFGAOF AttributesOf(IShellFolder *folder, const std::string &name, SFGAOF mask = kTreeMask) {
  const std::u16string w = WideFromBytes(name);
  LPITEMIDLIST item = nullptr;
  if (FAILED(folder->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &item, nullptr)))
    return 0xDEADBEEF;
  LPCITEMIDLIST one = item;
  SFGAOF a = mask;
  if (FAILED(folder->GetAttributesOf(1, &one, &a))) a = 0xBADBAD;
  Free(item);
  return a;
}

std::string PathOf(LPCITEMIDLIST abs) {
  char buf[MAX_PATH];
  return SHGetPathFromIDListA(abs, buf) ? std::string(buf) : std::string("<none>");
}

// Runs check as an unprivileged user (root reads every folder), in a child process.
template <class F> int AsNobody(F check) {
  if (::geteuid() != 0) return check();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    ::_exit(check());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

class UserDirs {
public:
  explicit UserDirs(const std::string &content) {
    QDir().mkpath(QString::fromStdString(File()).section('/', 0, -2));
    std::ofstream(File()) << content;
  }
  ~UserDirs() { std::remove(File().c_str()); }
  static std::string File() { return std::string(getenv("XDG_CONFIG_HOME")) + "/user-dirs.dirs"; }
};

} // namespace

class Provider : public TempTree {
protected:
  void SetUp() override {
    TempTree::SetUp();
    MakeDir("alpha");
    MakeDir("alpha/inner");
    MakeDir("empty");
    MakeDir(".hidden");
    MakeFile("f.txt", "hello");
    MakeLink(Path("alpha"), "tolink");
    MakeLink(Path("f.txt"), "flink");
    MakeLink(Path("nowhere"), "dead");
  }
};

TEST_F(Provider, EnumeratesFoldersFilesAndHiddenItemsByFlags) {
  auto folder = FolderOf(fRoot);
  ASSERT_TRUE(folder);
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(sorted(EnumNames(folder.get(), SHCONTF_FOLDERS)), (V{"alpha", "empty", "tolink"}));
  EXPECT_EQ(sorted(EnumNames(folder.get(), SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN)),
            (V{".hidden", "alpha", "empty", "tolink"}));
  EXPECT_EQ(sorted(EnumNames(folder.get(), SHCONTF_NONFOLDERS)), (V{"dead", "f.txt", "flink"}));
  EXPECT_TRUE(EnumNames(folder.get(), SHCONTF_INCLUDEHIDDEN).empty());
}

TEST_F(Provider, EnumeratorHandsOutOneItemListsAndStartsOverOnReset) {
  auto folder = FolderOf(fRoot);
  ComPtr<IEnumIDList> e;
  ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, e.put()), S_OK);
  LPITEMIDLIST items[5] = {};
  ULONG n = 0;
  EXPECT_EQ(e->Next(5, items, &n), S_FALSE); // fewer than asked for
  ASSERT_EQ(n, 3u);
  IMalloc *m;
  SHGetMalloc(&m);
  for (ULONG i = 0; i < n; ++i) {
    EXPECT_EQ(m->DidAlloc(items[i]), 1);
    Free(items[i]);
  }
  EXPECT_EQ(e->Next(1, items, &n), S_FALSE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Next(1, items, &n), S_OK);
  Free(items[0]);
}

TEST_F(Provider, AttributesOfEachKindOfEntry) {
  auto folder = FolderOf(fRoot);
  const SFGAOF dir = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_CANRENAME;
  EXPECT_EQ(AttributesOf(folder.get(), "alpha"), dir | SFGAO_HASSUBFOLDER);
  EXPECT_EQ(AttributesOf(folder.get(), "empty"), dir);
  EXPECT_EQ(AttributesOf(folder.get(), ".hidden"), dir | SFGAO_HIDDEN);
  EXPECT_EQ(AttributesOf(folder.get(), "tolink"), dir | SFGAO_LINK | SFGAO_HASSUBFOLDER);
  EXPECT_EQ(AttributesOf(folder.get(), "f.txt"), SFGAO_FILESYSTEM | SFGAO_CANRENAME);
  EXPECT_EQ(AttributesOf(folder.get(), "flink"), SFGAO_FILESYSTEM | SFGAO_CANRENAME | SFGAO_LINK);
  EXPECT_EQ(AttributesOf(folder.get(), "dead"), SFGAO_FILESYSTEM | SFGAO_CANRENAME | SFGAO_LINK);
  // Only the bits asked for come back.
  EXPECT_EQ(AttributesOf(folder.get(), "alpha", SFGAO_FOLDER), SFGAO_FOLDER);
  // Attributes of several items are those they all have.
  LPITEMIDLIST a = Parse(Path("alpha")), f = Parse(Path("f.txt"));
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  LPCITEMIDLIST both[2] = {a, f};
  SFGAOF mask = kTreeMask;
  ASSERT_EQ(desktop->GetAttributesOf(2, both, &mask), S_OK);
  EXPECT_EQ(mask, SFGAO_FILESYSTEM | SFGAO_CANRENAME);
  Free(a);
  Free(f);
}

TEST_F(Provider, ValidationRefusesItemsThatAreGone) {
  auto folder = FolderOf(fRoot);
  const std::u16string w = u"empty";
  LPITEMIDLIST item = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &item, nullptr), S_OK);
  ASSERT_EQ(::rmdir(Path("empty").c_str()), 0);
  LPCITEMIDLIST one = item;
  SFGAOF a = SFGAO_FOLDER | SFGAO_VALIDATE;
  EXPECT_EQ(folder->GetAttributesOf(1, &one, &a), E_FAIL);
  a = SFGAO_FOLDER; // without validation the item's kind still answers
  EXPECT_EQ(folder->GetAttributesOf(1, &one, &a), S_OK);
  EXPECT_EQ(a, SFGAO_FOLDER);
  Free(item);
  EXPECT_EQ(Parse(Path("empty")), nullptr);
  EXPECT_EQ(Parse(Path("alpha/missing/deeper")), nullptr);
  EXPECT_EQ(Parse(Path("f.txt/below-a-file")), nullptr);
  EXPECT_EQ(Parse("relative/path"), nullptr);
  EXPECT_EQ(Parse(""), nullptr);
}

// The has-subfolders probe reads on past the first batch of entries, follows links to
// folders, and is not fooled by files or by links to files or to nothing.
TEST_F(Provider, TheSubfolderProbeLooksAtEveryEntryAndFollowsLinks) {
  MakeDir("many");
  for (int i = 0; i < 400; ++i)
    MakeFile("many/fichier-au-nom-assez-long-" + std::to_string(i) + ".txt");
  MakeLink(Path("f.txt"), "many/lien-fichier");
  MakeLink(Path("nowhere"), "many/lien-mort");
  auto root = FolderOf(fRoot);
  EXPECT_FALSE(AttributesOf(root.get(), "many") & SFGAO_HASSUBFOLDER);
  MakeLink(Path("empty"), "many/lien-dossier"); // a link to a folder counts as one
  EXPECT_TRUE(AttributesOf(root.get(), "many") & SFGAO_HASSUBFOLDER);
  std::remove(Path("many/lien-dossier").c_str());
  MakeDir("many/zz-dernier");
  EXPECT_TRUE(AttributesOf(root.get(), "many") & SFGAO_HASSUBFOLDER);
}

TEST_F(Provider, ParsingGivesTheEnumeratedItemsAndTheirPaths) {
  ULONG attributes = SFGAO_VALIDATE | SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
  LPITEMIDLIST abs = Parse(Path("alpha/./inner/../inner/"), &attributes);
  ASSERT_NE(abs, nullptr);
  EXPECT_EQ(attributes, SFGAO_FOLDER);
  EXPECT_EQ(PathOf(abs), Path("alpha/inner"));
  // The path's items are those the folders enumerate: home, the tree, alpha, inner.
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  EXPECT_EQ(NameOf(desktop.get(), abs, SHGDN_FORPARSING), Path("alpha/inner"));
  auto folder = FolderOf(Path("alpha"));
  ComPtr<IEnumIDList> e;
  ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put()), S_OK);
  LPITEMIDLIST inner;
  ULONG n;
  ASSERT_EQ(e->Next(1, &inner, &n), S_OK);
  LPCITEMIDLIST last = abs;
  for (int i = 0; i < 3; ++i) last += last[0] | (last[1] << 8);
  EXPECT_EQ(folder->CompareIDs(0, inner, last), S_OK);
  EXPECT_EQ(std::memcmp(inner, last, inner[0] | (inner[1] << 8)), 0);
  // A directory folder parses names relative to itself and paths below it.
  ULONG eaten = 0;
  LPITEMIDLIST rel = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, u"inner", &eaten, &rel, nullptr), S_OK);
  EXPECT_EQ(eaten, 5u);
  EXPECT_EQ(folder->CompareIDs(0, rel, inner), S_OK);
  Free(rel);
  const std::u16string full = WideFromBytes(Path("alpha/inner"));
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, full.c_str(), nullptr, &rel, nullptr), S_OK);
  EXPECT_EQ(folder->CompareIDs(0, rel, inner), S_OK);
  Free(rel);
  const std::u16string outside = WideFromBytes(Path("empty"));
  EXPECT_NE(folder->ParseDisplayName(nullptr, nullptr, outside.c_str(), nullptr, &rel, nullptr), S_OK);
  Free(inner);
  Free(abs);
}

TEST_F(Provider, NamesInUtf8InvalidUtf8AndAtTheLengthLimit) {
  const std::string utf8 = "Été à Noël";
  const std::string latin1 = "caf\xe9";
  const std::string longName(255, 'x');
  MakeDir(utf8);
  MakeDir(latin1);
  MakeDir(longName);
  MakeFile(latin1 + "/lettre.plm");
  auto folder = FolderOf(fRoot);
  auto names = EnumNames(folder.get(), SHCONTF_FOLDERS);
  for (const std::string &n : {utf8, latin1, longName})
    EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
  for (const std::string &n : {utf8, latin1, longName}) {
    LPITEMIDLIST abs = Parse(Path(n));
    ASSERT_NE(abs, nullptr) << n;
    EXPECT_EQ(PathOf(abs), Path(n)); // byte for byte
    Free(abs);
  }
  LPITEMIDLIST file = Parse(Path(latin1 + "/lettre.plm"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(PathOf(file), Path(latin1 + "/lettre.plm"));
  Free(file);
}

TEST_F(Provider, DisplayNamesComeInTheFormThatFits) {
  const std::string longName(255, 'y');
  MakeDir(longName);
  auto folder = FolderOf(fRoot);
  LPITEMIDLIST item = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, u"f.txt", nullptr, &item, nullptr), S_OK);
  UINT form;
  EXPECT_EQ(NameOf(folder.get(), item, SHGDN_NORMAL, &form), "f.txt");
  EXPECT_EQ(form, STRRET_OFFSET); // the name inside the item
  EXPECT_EQ(NameOf(folder.get(), item, SHGDN_INFOLDER | SHGDN_FORPARSING, &form), "f.txt");
  EXPECT_EQ(form, STRRET_OFFSET);
  EXPECT_EQ(NameOf(folder.get(), item, SHGDN_FORPARSING, &form), Path("f.txt"));
  EXPECT_EQ(form, STRRET_CSTR);
  EXPECT_EQ(NameOf(folder.get(), item, SHGDN_FOREDITING, &form), "f.txt");
  EXPECT_EQ(form, STRRET_WSTR);
  Free(item);
  const std::u16string w = WideFromBytes(longName);
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &item, nullptr), S_OK);
  EXPECT_EQ(NameOf(folder.get(), item, SHGDN_FORPARSING, &form), Path(longName));
  EXPECT_EQ(form, STRRET_WSTR); // too long for the record's own 260 bytes
  Free(item);
  // The folder itself (the empty list).
  LPITEMIDLIST empty = Bytes({0, 0});
  EXPECT_EQ(NameOf(folder.get(), empty, SHGDN_FORPARSING), fRoot);
  Free(empty);
}

TEST_F(Provider, RenameMovesTheItemOnDiskAndReturnsTheNewItem) {
  auto folder = FolderOf(fRoot);
  LPITEMIDLIST item = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, u"alpha", nullptr, &item, nullptr), S_OK);
  LPITEMIDLIST renamed = nullptr;
  ASSERT_EQ(folder->SetNameOf(nullptr, item, u"bêta", SHGDN_INFOLDER, &renamed), S_OK);
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(NameOf(folder.get(), renamed, SHGDN_NORMAL), "bêta");
  struct stat st;
  EXPECT_EQ(::stat(Path("bêta/inner").c_str(), &st), 0);
  EXPECT_NE(::stat(Path("alpha").c_str(), &st), 0);
  // A name that is not valid UTF-8 travels through the wide string unchanged.
  LPITEMIDLIST latin1 = nullptr;
  const std::u16string w = WideFromBytes("b\xeata");
  ASSERT_EQ(folder->SetNameOf(nullptr, renamed, w.c_str(), 0, &latin1), S_OK);
  EXPECT_EQ(::stat(Path("b\xeata").c_str(), &st), 0);
  Free(item);
  Free(renamed);
  Free(latin1);
}

TEST_F(Provider, RenameNeverReplacesAnItemNorMovesItElsewhere) {
  MakeFile("g.txt", "keep me");
  auto folder = FolderOf(fRoot);
  LPITEMIDLIST item = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, u"f.txt", nullptr, &item, nullptr), S_OK);
  LPITEMIDLIST out = reinterpret_cast<LPITEMIDLIST>(1);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"g.txt", 0, &out), E_ALREADY_EXISTS);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"empty", 0, &out), E_ALREADY_EXISTS);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"alpha/f.txt", 0, &out), E_INVALIDARG);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"../f.txt", 0, &out), E_INVALIDARG);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"", 0, &out), E_INVALIDARG);
  EXPECT_EQ(folder->SetNameOf(nullptr, item, u"..", 0, &out), E_INVALIDARG);
  std::ifstream g(Path("g.txt"));
  std::string text;
  std::getline(g, text);
  EXPECT_EQ(text, "keep me");
  struct stat st;
  EXPECT_EQ(::stat(Path("f.txt").c_str(), &st), 0);
  EXPECT_NE(::stat(Path("alpha/f.txt").c_str(), &st), 0);
  Free(item);
}

TEST_F(Provider, AFolderWithoutReadPermission) {
  MakeDir("locked");
  MakeDir("locked/sub");
  MakeDir("readonly");
  MakeFile("readonly/x");
  ::chmod(Path("locked").c_str(), 0);
  ::chmod(Path("readonly").c_str(), 0555);
  ::chmod(Home().c_str(), 0755);
  ::chmod(fRoot.c_str(), 0755);
  const std::string root = fRoot;
  const int rc = AsNobody([&] {
    auto folder = FolderOf(root);
    if (!folder) return 1;
    // Listed, but without an expand button, and its enumeration fails.
    if (AttributesOf(folder.get(), "locked") != (SFGAO_FOLDER | SFGAO_FILESYSTEM)) return 2;
    auto locked = FolderOf(root + "/locked");
    if (!locked) return 3;
    ComPtr<IEnumIDList> e;
    if (locked->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put()) == S_OK) return 4;
    // No renaming in a folder the user cannot write.
    auto ro = FolderOf(root + "/readonly");
    if (!ro || AttributesOf(ro.get(), "x") != SFGAO_FILESYSTEM) return 5;
    return 0;
  });
  ::chmod(Path("locked").c_str(), 0755);
  ::chmod(Path("readonly").c_str(), 0755);
  ::chmod(Home().c_str(), 0700);
  EXPECT_EQ(rc, 0);
}

TEST_F(Provider, DesktopHoldsHomeComputerAndTheDesktopFolder) {
  MakeDir("Bureau");
  MakeDir("Bureau/projets");
  MakeDir("Docs");
  UserDirs dirs("# test\nXDG_DESKTOP_DIR=\"" + fRoot + "/Bureau\"\nXDG_DOCUMENTS_DIR=\"$HOME/" +
                fRoot.substr(Home().size() + 1) + "/Docs\"\n");
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  EXPECT_EQ(EnumNames(desktop.get(), SHCONTF_FOLDERS),
            (std::vector<std::string>{Home(), "computer:///", "projets"}));
  ComPtr<IEnumIDList> e;
  ASSERT_EQ(desktop->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put()), S_OK);
  LPITEMIDLIST item;
  ULONG n;
  std::vector<std::string> shown;
  std::vector<SFGAOF> attrs;
  while (e->Next(1, &item, &n) == S_OK) {
    shown.push_back(NameOf(desktop.get(), item, SHGDN_NORMAL));
    LPCITEMIDLIST one = item;
    SFGAOF a = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR;
    desktop->GetAttributesOf(1, &one, &a);
    attrs.push_back(a);
    Free(item);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"Dossier personnel", "Ordinateur", "projets"}));
  EXPECT_EQ(attrs[1], SFGAO_FOLDER | SFGAO_FILESYSANCESTOR); // virtual
  EXPECT_EQ(attrs[0], SFGAO_FOLDER | SFGAO_FILESYSTEM);
  // The desktop's own path is the desktop folder.
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl), S_OK);
  EXPECT_EQ(PathOf(pidl), fRoot + "/Bureau");
  EXPECT_EQ(NameOf(desktop.get(), pidl, SHGDN_FORPARSING), fRoot + "/Bureau");
  Free(pidl);
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &pidl), S_OK);
  EXPECT_EQ(PathOf(pidl), fRoot + "/Docs");
  Free(pidl);
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_PROFILE, &pidl), S_OK);
  EXPECT_EQ(PathOf(pidl), Home());
  Free(pidl);
}

TEST_F(Provider, SpecialLocationsWithoutCounterpartFailCleanly) {
  LPITEMIDLIST pidl = reinterpret_cast<LPITEMIDLIST>(1);
  for (int csidl : {CSIDL_CONTROLS, CSIDL_PRINTERS, CSIDL_RECENT, CSIDL_SENDTO, CSIDL_NETWORK,
                    CSIDL_NETHOOD, CSIDL_FAVORITES, CSIDL_STARTMENU, 99}) {
    EXPECT_TRUE(FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) << csidl;
    EXPECT_EQ(pidl, nullptr);
  }
  // A user folder that the user-dirs file does not name, and one that does not exist.
  EXPECT_TRUE(FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_TEMPLATES, &pidl)));
  UserDirs dirs("XDG_TEMPLATES_DIR=\"" + fRoot + "/Modeles\"\n");
  EXPECT_TRUE(FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_TEMPLATES, &pidl)));
  MakeDir("Modeles");
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_TEMPLATES, &pidl), S_OK);
  EXPECT_EQ(PathOf(pidl), fRoot + "/Modeles");
  Free(pidl);
  // The drives folder is virtual: it has no path.
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &pidl), S_OK);
  EXPECT_EQ(PathOf(pidl), "<none>");
  Free(pidl);
}

TEST_F(Provider, DrivesFolderListsTheVolumesWithLabelsTypesAndIcons) {
  MakeDir("usb");
  MakeDir("usb/photos");
  MakeDir("cd");
  ShellVolumes volumes;
  volumes.Add("/", DRIVE_FIXED);
  volumes.Add(Path("usb"), DRIVE_REMOVABLE, 1, "CLEF");
  volumes.Add(Path("cd"), DRIVE_CDROM);
  volumes.Order = {"/", Path("usb"), Path("cd")};
  LPITEMIDLIST drives = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
  ComPtr<IShellFolder> desktop, computer;
  SHGetDesktopFolder(desktop.put());
  ASSERT_EQ(desktop->BindToObject(drives, nullptr, IID_IShellFolder, computer.put_void()), S_OK);
  EXPECT_EQ(EnumNames(computer.get(), SHCONTF_FOLDERS),
            (std::vector<std::string>{"/", Path("usb"), Path("cd")}));
  EXPECT_TRUE(EnumNames(computer.get(), SHCONTF_NONFOLDERS).empty());

  ComPtr<IEnumIDList> e;
  ASSERT_EQ(computer->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put()), S_OK);
  std::vector<std::string> names;
  std::vector<SFGAOF> attrs;
  std::vector<int> icons;
  IMalloc *m;
  SHGetMalloc(&m);
  LPITEMIDLIST item;
  ULONG n;
  while (e->Next(1, &item, &n) == S_OK) {
    names.push_back(NameOf(computer.get(), item, SHGDN_NORMAL));
    LPCITEMIDLIST one = item;
    SFGAOF a = kTreeMask;
    computer->GetAttributesOf(1, &one, &a);
    attrs.push_back(a);
    // The absolute list: the drives folder's item, then the volume's.
    const size_t s = item[0] | (item[1] << 8);
    auto *abs = static_cast<LPITEMIDLIST>(m->Alloc(3 + 1 + s + 2));
    std::memcpy(abs, drives, 4);
    std::memcpy(abs + 4, item, s);
    abs[4 + s] = abs[5 + s] = 0;
    SHFILEINFOA sfi;
    EXPECT_EQ(SHGetFileInfoA(reinterpret_cast<const char *>(abs), 0, &sfi, sizeof sfi,
                             SHGFI_SYSICONINDEX | SHGFI_PIDL | SHGFI_SMALLICON),
              reinterpret_cast<uintptr_t>(&TSystemImageList::Instance()));
    icons.push_back(sfi.iIcon);
    if (names.size() == 2) {
      EXPECT_EQ(PathOf(abs), Path("usb"));
    }
    Free(abs);
    Free(item);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Disque local (/)", "CLEF (" + Path("usb") + ")",
                                             "Lecteur optique (" + Path("cd") + ")"}));
  EXPECT_FALSE(attrs[0] & SFGAO_REMOVABLE);
  EXPECT_TRUE(attrs[1] & SFGAO_REMOVABLE);
  EXPECT_TRUE(attrs[1] & SFGAO_HASSUBFOLDER);
  EXPECT_FALSE(attrs[2] & SFGAO_HASSUBFOLDER);
  EXPECT_TRUE(attrs[2] & SFGAO_REMOVABLE);
  EXPECT_FALSE(attrs[1] & SFGAO_CANRENAME); // a volume is not renamed
  const auto &list = TSystemImageList::Instance();
  EXPECT_EQ(list.IconName(icons[0]), "drive-harddisk");
  EXPECT_EQ(list.IconName(icons[1]), "drive-removable-media");
  EXPECT_EQ(list.IconName(icons[2]), "media-optical");
  // A path on the removable volume, parsed through the drives folder.
  LPITEMIDLIST photos = nullptr;
  const std::u16string w = WideFromBytes(Path("usb/photos"));
  ASSERT_EQ(computer->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &photos, nullptr), S_OK);
  EXPECT_EQ(NameOf(computer.get(), photos, SHGDN_FORPARSING), Path("usb/photos"));
  Free(photos);
  Free(drives);
}

TEST_F(Provider, SystemImageIndicesAreStableAndDependOnTheItem) {
  MakeFile("lettre.html");
  auto index = [](const std::string &path, UINT extra = 0) {
    LPITEMIDLIST abs = Parse(path);
    SHFILEINFOA sfi;
    sfi.iIcon = -5;
    SHGetFileInfoA(reinterpret_cast<const char *>(abs), 0, &sfi, sizeof sfi,
                   SHGFI_SYSICONINDEX | SHGFI_PIDL | extra);
    Free(abs);
    return sfi.iIcon;
  };
  const auto &list = TSystemImageList::Instance();
  const int folder = index(Path("alpha")), open = index(Path("alpha"), SHGFI_OPENICON);
  EXPECT_EQ(list.IconName(folder), "folder");
  EXPECT_EQ(list.IconName(open), "folder-open");
  EXPECT_EQ(list.IconName(index(Path("lettre.html"))), "text-html");
  EXPECT_EQ(index(Path("alpha")), folder);
  EXPECT_EQ(list.IconName(index(Home())), "user-home");
  EXPECT_FALSE(list.Icon(folder).isNull());
  EXPECT_FALSE(list.OverlaidIcon(folder, TSystemImageList::OverlayLink).isNull());
  // Type names and display names on request.
  LPITEMIDLIST abs = Parse(Path("alpha"));
  SHFILEINFOA sfi;
  ASSERT_NE(SHGetFileInfoA(reinterpret_cast<const char *>(abs), 0, &sfi, sizeof sfi,
                           SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES),
            0u);
  EXPECT_STREQ(sfi.szDisplayName, "alpha");
  EXPECT_STREQ(sfi.szTypeName, "Dossier");
  EXPECT_TRUE(sfi.dwAttributes & SFGAO_FOLDER);
  Free(abs);
}

TEST_F(Provider, BrowsableVolumesLeaveOutPseudoFileSystemsAndSystemAreas) {
  MakeDir("usb");
  MakeFile("hosts");
  auto mount = [](const std::string &mp, const std::string &fs, const std::string &src = "/dev/x") {
    MountEntry m;
    m.MountPoint = mp;
    m.FileSystemType = fs;
    m.Source = src;
    return m;
  };
  const std::vector<MountEntry> table = {
      mount("/proc", "proc"),           mount(Path("usb"), "vfat", "/dev/sdb1"),
      mount("/", "ext4"),               mount("/sys/fs/cgroup", "cgroup2"),
      mount("/dev/shm", "tmpfs"),       mount("/run/user/1000", "tmpfs"),
      mount(Path("hosts"), "ext4"),     mount("/snap/core/1", "squashfs"),
      mount(Path("usb"), "vfat", "/dev/sdb1"), // mounted twice: listed once
  };
  EXPECT_EQ(BrowsableMountPoints(table), (std::vector<std::string>{"/", Path("usb")}));
}
