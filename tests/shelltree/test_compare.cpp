// The order of items: CompareIDs by name, size, type and date, in the C locale and in French.
#include "tests/shelltree/ShellFixture.h"

#include <QLocale>

#include <algorithm>
#include <fstream>

#include <sys/stat.h>
#include <utime.h>

using namespace plm;
using namespace shelltest;

namespace {

// The folder's items sorted by one column, as names.
std::vector<std::string> SortedBy(IShellFolder *folder, int column, SHCONTF flags) {
  ComPtr<IEnumIDList> e;
  std::vector<LPITEMIDLIST> items;
  if (folder->EnumObjects(nullptr, flags, e.put()) != S_OK) return {};
  LPITEMIDLIST item;
  ULONG n;
  while (e->Next(1, &item, &n) == S_OK) items.push_back(item);
  std::stable_sort(items.begin(), items.end(), [&](LPCITEMIDLIST a, LPCITEMIDLIST b) {
    return HRESULT_CODE(folder->CompareIDs(column, a, b)) == 0xFFFF;
  });
  std::vector<std::string> names;
  for (LPITEMIDLIST p : items) {
    names.push_back(NameOf(folder, p, SHGDN_NORMAL));
    Free(p);
  }
  return names;
}

class LocaleGuard {
public:
  explicit LocaleGuard(const QLocale &l) { QLocale::setDefault(l); }
  ~LocaleGuard() { QLocale::setDefault(QLocale::c()); }
};

} // namespace

class CompareIDsTest : public TempTree, public ::testing::WithParamInterface<const char *> {
protected:
  void SetUp() override {
    TempTree::SetUp();
    for (const char *d : {"lettre10", "Lettre2", "lettre1", "Zèbre", "abc", "écoles", "Ecole"})
      MakeDir(d);
    for (const char *f : {"b10.plm", "B9.plm", "a.txt"}) MakeFile(f);
  }
  std::vector<std::string> Names(int column, SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS) {
    LocaleGuard guard{QLocale(QString::fromLatin1(GetParam()))};
    auto folder = FolderOf(fRoot);
    return SortedBy(folder.get(), column, flags);
  }
};

TEST_P(CompareIDsTest, NameOrderIsNaturalCaseBlindWithFoldersFirst) {
  const auto names = Names(0);
  auto before = [&](const char *a, const char *b) {
    return std::find(names.begin(), names.end(), a) < std::find(names.begin(), names.end(), b);
  };
  EXPECT_TRUE(before("lettre1", "Lettre2"));
  EXPECT_TRUE(before("Lettre2", "lettre10")); // numbers by value
  EXPECT_TRUE(before("abc", "lettre1"));
  EXPECT_TRUE(before("Lettre2", "Zèbre")); // case does not put capitals first
  EXPECT_TRUE(before("Zèbre", "a.txt"));   // folders before files
  EXPECT_TRUE(before("B9.plm", "b10.plm"));
  EXPECT_TRUE(before("a.txt", "B9.plm"));
  EXPECT_EQ(names.size(), 10u);
}

TEST_P(CompareIDsTest, CodesAndTies) {
  LocaleGuard guard{QLocale(QString::fromLatin1(GetParam()))};
  MakeDir("same");
  MakeDir("Same");
  auto folder = FolderOf(fRoot);
  LPITEMIDLIST a = nullptr, b = nullptr, c = nullptr;
  folder->ParseDisplayName(nullptr, nullptr, u"same", nullptr, &a, nullptr);
  folder->ParseDisplayName(nullptr, nullptr, u"Same", nullptr, &b, nullptr);
  folder->ParseDisplayName(nullptr, nullptr, u"same", nullptr, &c, nullptr);
  EXPECT_EQ(folder->CompareIDs(0, a, c), 0);
  // Names equal but for case still differ, by their bytes, and both ways agree.
  const HRESULT ab = folder->CompareIDs(0, a, b), ba = folder->CompareIDs(0, b, a);
  EXPECT_NE(ab, 0);
  EXPECT_EQ(ab == 1 ? 0xFFFF : 1, ba);
  EXPECT_TRUE(ab == 1 || ab == 0xFFFF);
  for (LPITEMIDLIST p : {a, b, c}) Free(p);
}

TEST_P(CompareIDsTest, SizeTypeAndDateColumnsFallBackToTheName) {
  std::ofstream(Path("b10.plm")) << std::string(300, 'x');
  std::ofstream(Path("B9.plm")) << std::string(10, 'x');
  std::ofstream(Path("a.txt")) << std::string(10, 'x');
  auto setTime = [&](const char *name, time_t t) {
    utimbuf u{t, t};
    ::utime(Path(name).c_str(), &u);
  };
  setTime("b10.plm", 1000);
  setTime("B9.plm", 3000);
  setTime("a.txt", 2000);
  using V = std::vector<std::string>;
  EXPECT_EQ(Names(1, SHCONTF_NONFOLDERS), (V{"a.txt", "B9.plm", "b10.plm"}));
  EXPECT_EQ(Names(2, SHCONTF_NONFOLDERS), (V{"B9.plm", "b10.plm", "a.txt"}));
  EXPECT_EQ(Names(3, SHCONTF_NONFOLDERS), (V{"b10.plm", "a.txt", "B9.plm"}));
  // Folders keep the name order in every column.
  const auto bySize = Names(1);
  EXPECT_EQ(V(bySize.begin(), bySize.begin() + 2), (V{"abc", "Ecole"}));
  const auto byName = Names(0);
  EXPECT_EQ(V(bySize.begin(), bySize.begin() + 7), V(byName.begin(), byName.begin() + 7));
}

TEST_P(CompareIDsTest, AbsoluteListsCompareItemByItem) {
  LocaleGuard guard{QLocale(QString::fromLatin1(GetParam()))};
  MakeDir("abc/x");
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  LPITEMIDLIST deep = Parse(Path("abc/x")), shallow = Parse(Path("abc")), other = Parse(Path("lettre1"));
  LPITEMIDLIST again = Parse(Path("abc/x"));
  EXPECT_EQ(desktop->CompareIDs(0, deep, again), 0);
  EXPECT_EQ(desktop->CompareIDs(0, shallow, deep), 0xFFFF); // a parent before its child
  EXPECT_EQ(desktop->CompareIDs(0, deep, other), 0xFFFF);
  EXPECT_EQ(desktop->CompareIDs(0, other, deep), 1);
  LPITEMIDLIST empty = Bytes({0, 0});
  EXPECT_EQ(desktop->CompareIDs(0, empty, deep), 0xFFFF);
  EXPECT_EQ(desktop->CompareIDs(0, empty, empty), 0);
  for (LPITEMIDLIST p : {deep, shallow, other, again, empty}) Free(p);
}

INSTANTIATE_TEST_SUITE_P(Locales, CompareIDsTest, ::testing::Values("C", "fr_FR"),
                         [](const auto &info) { return std::string(info.param); });
