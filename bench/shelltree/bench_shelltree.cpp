// Enumerating a folder of 10,000 subfolders through the shell namespace against a plain
// readdir loop doing the same work, and sorting the names through CompareIDs.
//   bench_shelltree [benchmark flags]   (the folder is made under $TMPDIR or /tmp)
#include "platform/TempDir.h"
#include "platform/shell/ShellApi.h"

#include <QLocale>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plm;

namespace {

constexpr int kFolders = 10000;

// 10,000 subfolders; every tenth holds a subfolder of its own, the others a file.
const std::string &Tree() {
  static const std::string root = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/plm-bench-shell-XXXXXX";
    if (!::mkdtemp(t.data())) std::abort();
    for (int i = 0; i < kFolders; ++i) {
      const std::string d = t + "/Dossier " + std::to_string(i);
      ::mkdir(d.c_str(), 0755);
      if (i % 10 == 0) ::mkdir((d + "/sous-dossier").c_str(), 0755);
      else if (FILE *f = std::fopen((d + "/lettre.plm").c_str(), "w")) std::fclose(f);
    }
    std::atexit([] { DeleteEntryNoFollow(Tree()); });
    return t;
  }();
  return root;
}

ComPtr<IShellFolder> TreeFolder() {
  ComPtr<IShellFolder> desktop, folder;
  SHGetDesktopFolder(desktop.put());
  const std::u16string w = WideFromBytes(Tree());
  LPITEMIDLIST pidl = nullptr;
  desktop->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &pidl, nullptr);
  desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void());
  IMalloc *m;
  SHGetMalloc(&m);
  m->Free(pidl);
  return folder;
}

void BM_EnumObjectsWithAttributes(benchmark::State &state) {
  ComPtr<IShellFolder> folder = TreeFolder();
  IMalloc *m;
  SHGetMalloc(&m);
  for (auto _ : state) {
    ComPtr<IEnumIDList> e;
    folder->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put());
    e->Reset();
    LPITEMIDLIST item;
    ULONG n;
    int withSub = 0;
    while (e->Next(1, &item, &n) == S_OK && n == 1) {
      LPCITEMIDLIST one = item;
      SFGAOF a = 0xF60B0177; // what the tree asks for, HASSUBFOLDER included
      folder->GetAttributesOf(1, &one, &a);
      withSub += (a & SFGAO_HASSUBFOLDER) != 0;
      m->Free(item);
    }
    if (withSub != kFolders / 10) state.SkipWithError("wrong count of folders with subfolders");
  }
  state.SetItemsProcessed(state.iterations() * kFolders);
}

// The same work by hand: list the folder, lstat each entry, read each subfolder up to
// its first subfolder.
void BM_PlainReaddirLoop(benchmark::State &state) {
  const std::string root = Tree();
  for (auto _ : state) {
    int withSub = 0;
    DIR *d = ::opendir(root.c_str());
    while (const dirent *e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const std::string p = root + "/" + e->d_name;
      struct stat st;
      if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      DIR *sub = ::opendir(p.c_str());
      if (!sub) continue;
      while (const dirent *s = ::readdir(sub)) {
        if (s->d_name[0] == '.') continue;
        if (s->d_type == DT_DIR) {
          ++withSub;
          break;
        }
      }
      ::closedir(sub);
    }
    ::closedir(d);
    if (withSub != kFolders / 10) state.SkipWithError("wrong count of folders with subfolders");
  }
  state.SetItemsProcessed(state.iterations() * kFolders);
}

// Sorting the 10,000 items by name; a fresh folder each time, so every collation key is
// made within the measure.
void BM_SortByCompareIDs(benchmark::State &state, const char *locale) {
  QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
  std::vector<LPITEMIDLIST> items;
  {
    ComPtr<IShellFolder> folder = TreeFolder();
    ComPtr<IEnumIDList> e;
    folder->EnumObjects(nullptr, SHCONTF_FOLDERS, e.put());
    LPITEMIDLIST item;
    ULONG n;
    while (e->Next(1, &item, &n) == S_OK) items.push_back(item);
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<LPITEMIDLIST> v = items;
    std::reverse(v.begin(), v.end());
    ComPtr<IShellFolder> folder = TreeFolder();
    state.ResumeTiming();
    std::sort(v.begin(), v.end(), [&](LPCITEMIDLIST a, LPCITEMIDLIST b) {
      return HRESULT_CODE(folder->CompareIDs(0, a, b)) == 0xFFFF;
    });
    benchmark::DoNotOptimize(v.data());
  }
  IMalloc *m;
  SHGetMalloc(&m);
  for (LPITEMIDLIST p : items) m->Free(p);
  QLocale::setDefault(QLocale::c());
}

} // namespace

BENCHMARK(BM_EnumObjectsWithAttributes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReaddirLoop)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SortByCompareIDs, c_locale, "C")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SortByCompareIDs, fr_FR, "fr_FR")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
