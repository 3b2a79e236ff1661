// The catalogue over a tree of 10,000 templates in 100 folders, against the tools a user
// would script instead, in the same run:
//   cold catalogue of the tree          vs  cabextract -F content.ini, one process a template
//                                           (timed on every 50th template, scaled by 50)
//   the same again with nothing changed vs  find TREE -name '*.plm' -printf '%s %T@\n'
//   plmtool search --recursive WORD     vs  the same find
//   plmtool duplicates --recursive and plmtool check --recursive (the catalogue current)
//                                       vs  the same find
//   a one-word search in the process (its median is the figure that counts), and the
//   search the gallery makes for "Doublons seulement" over the whole tree.
// The tree is written once with the project's cabinet writer and kept in /var/tmp for the
// next runs; the database lives in a temporary folder removed at the end.
//
// Then a catalogue of 100,000 templates in 1,000 folders, made for the run in the same
// temporary folder (hard links to the tree's files: bounded on disk) and removed with it:
//   cold catalogue                      vs  the 10,000 one (linear: at most 10.5 x)
//   the same again with nothing changed vs  find over it (at most 2 x)
//   plmtool search --recursive WORD     vs  the same find (at most 1.5 x)
//   a one-word search in the process (median under 20 ms).
// --benchmark_filter=-100k leaves it out.
#include "cabinet/CabSTComps.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueStore.h"
#include "platform/InstalledFonts.h"

#include "bench/support/BenchRuns.h"
#include "bench/support/XorShift.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char **environ;

namespace {

constexpr int kFolders = 100;
constexpr int kPerFolder = 100;
constexpr int kVariants = 200; // distinct templates written; the rest are copies of them
constexpr int kPeerSampleStep = 50;
const char *const kTreeVersion = "v1";

const char *const kCollections[] = {"Printemps", "Été", "Automne", "Hiver", "Noël",
                                    "Anniversaire", "Mariage", "Naissance", "Vacances",
                                    "Pâques", "Bureau", "École", "Jardin", "Mer", "Montagne",
                                    "Musique", "Cuisine", "Sport", "Voyage", "Fête"};
const char *const kWords[] = {"neige", "soleil", "fleur", "coeur", "étoile", "bonhomme",
                              "sapin", "plage", "feuille", "cadeau", "ballon", "oiseau",
                              "papillon", "lune", "nuage", "arbre", "maison", "bateau",
                              "gâteau", "bougie", "ruban", "cloche", "lanterne", "colombe"};

constexpr int kLargeFolders = 1000;
std::string gTree, gRoot, gCache, gDb;
std::string gLarge, gLargeCache, gLargeDb; // the 100,000
std::vector<std::string> gSample; // the templates the peer extracts from

std::string Cp1252(const std::string &utf8) {
  std::string r;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xC3 && i + 1 < utf8.size()) // the accented Latin letters used above
      r += char(static_cast<unsigned char>(utf8[++i]) + 0x40);
    else
      r += char(c);
  }
  return r;
}

void Write(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

void MakeTree() {
  const std::string marker = gTree + "/.complete-" + kTreeVersion;
  if (fs::exists(marker)) return;
  fs::remove_all(gTree);
  const std::string src = gTree + ".src";
  fs::create_directories(src);
  std::vector<std::string> variants;
  plmbench::TXorShift32 next{2463534242u};
  for (int v = 0; v < kVariants; ++v) {
    const std::string collection = kCollections[v % std::size(kCollections)];
    const std::string display = std::string(kWords[v % std::size(kWords)]) + " " +
                                kWords[(v / 7) % std::size(kWords)] + " " + std::to_string(v);
    Write(src + "/content.ini", Cp1252("[General]\r\nCollection=" + collection + "\r\nDisplay=" +
                                       display + "\r\n[TradeMark]\r\nTradeMark=Plumora\r\n"));
    std::string page = "<HTML><HEAD><TITLE>" + Cp1252(display) +
                       "</TITLE></HEAD><BODY background=fond.gif><TABLE><TR><TD "
                       "id=PLUMORATEXTREGION style=\"FONT-FAMILY: " +
                       (v % 3 ? "DejaVu Sans" : "Comic Relief") + "; FONT-SIZE: 12pt\"></TD>";
    while (page.size() < 3000)
      page += "<TR><TD><IMG src=\"image.jpg\" width=120 height=80></TD></TR>\r\n";
    Write(src + "/Flavor.htm", page + "</TABLE></BODY></HTML>\r\n");
    std::string gif = std::string("GIF89a\x40\x01\xF0\x00\x80\x00\x00", 13);
    std::string jpeg = std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x00\x50\x00\x78\x03", 12);
    for (int i = 0; i < 3000; ++i) {
      gif += char(next() & 0x3F);
      jpeg += char(next());
    }
    Write(src + "/fond.gif", gif);
    Write(src + "/image.jpg", jpeg);
    const std::string cab = src + "/v" + std::to_string(v) + ".plm";
    plm::TSTCabWriter w;
    w.setCompressionType(plm::cctMsZip);
    w.StartCabinet(cab);
    for (const char *n : {"content.ini", "Flavor.htm", "fond.gif", "image.jpg"})
      w.AddFile(src + "/" + n, n);
    w.CloseCabinet(true);
    variants.push_back(cab);
  }
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = gTree + "/dossier" + std::to_string(f);
    fs::create_directories(folder);
    for (int t = 0; t < kPerFolder; ++t)
      fs::copy_file(variants[size_t(f * kPerFolder + t) % variants.size()],
                    folder + "/modele" + std::to_string(t) + ".plm");
  }
  fs::remove_all(src);
  Write(marker, "");
}

// Runs a program with its output thrown away and the cache folder set; true on exit 0
// (or 1 when allowed: a search that found nothing).
bool Spawn(const std::vector<std::string> &args, bool oneAllowed = false,
           const std::string &cache = gCache) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char *> argv;
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env = {"XDG_CACHE_HOME=" + cache};
  for (char **e = environ; *e; ++e)
    if (std::string(*e).rfind("XDG_CACHE_HOME=", 0) != 0) env.push_back(*e);
  std::vector<char *> envp;
  for (auto &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || (oneAllowed && WEXITSTATUS(status) == 1));
}


void BM_catalogue_cold(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    plm::TCatalogueStore::RemoveFiles(gDb);
    state.ResumeTiming();
    plm::TCatalogue c(gDb, plm::IsFontFamilyInstalled);
    const auto s = c.Update({gTree}, true);
    if (s.read != size_t(kFolders * kPerFolder)) state.SkipWithError("not every template read");
  }
}

void BM_cabextract_content_ini(benchmark::State &state) {
  const std::string out = gRoot + "/out";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (const auto &t : gSample)
      if (!Spawn({"cabextract", "-q", "-F", "content.ini", "-d", out, t}))
        state.SkipWithError("cabextract failed");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count() * kPeerSampleStep);
  }
  fs::remove_all(out);
}

void BM_catalogue_unchanged(benchmark::State &state) {
  for (auto _ : state) {
    plm::TCatalogue c(gDb, plm::IsFontFamilyInstalled);
    if (c.Update({gTree}, true).unchanged != size_t(kFolders * kPerFolder))
      state.SkipWithError("the catalogue was not current");
  }
}

void BM_find(benchmark::State &state) {
  for (auto _ : state)
    if (!Spawn({"find", gTree, "-name", "*.plm", "-printf", "%s %T@\\n"}))
      state.SkipWithError("find failed");
}

// The viewer's search field asks one catalogue, which its thread keeps open from one search
// to the next: so do these, from one repetition to the next. "_first" opens the catalogue
// anew for each search, as the first search of a session does.
void SearchOneWord(plm::TCatalogue &c, const std::string &folder, benchmark::State &state) {
  plm::CatalogueQuery q;
  q.text = "hiver";
  q.folder = folder;
  q.recursive = true;
  size_t found = 0;
  for (auto _ : state)
    found = c.Search(q).size();
  state.counters["found"] = double(found);
}

void BM_search_one_word(benchmark::State &state) {
  static plm::TCatalogue c(gDb, plm::IsFontFamilyInstalled);
  SearchOneWord(c, gTree, state);
}

// What the gallery asks when "Doublons seulement" is ticked on the whole tree (the
// catalogue's part of the grid's 200 ms).
void BM_search_duplicates_only(benchmark::State &state) {
  plm::TCatalogue c(gDb, plm::IsFontFamilyInstalled);
  plm::CatalogueQuery q;
  q.folder = gTree;
  q.recursive = true;
  q.duplicatesOnly = true;
  size_t found = 0;
  for (auto _ : state)
    found = c.Search(q).size();
  state.counters["found"] = double(found);
}

void BM_plmtool_search(benchmark::State &state) {
  for (auto _ : state)
    if (!Spawn({std::string(PLM_BIN_DIR) + "/plmtool", "search", "--recursive", "hiver", gTree}))
      state.SkipWithError("plmtool search failed");
}

void BM_plmtool_duplicates(benchmark::State &state) {
  for (auto _ : state)
    if (!Spawn({std::string(PLM_BIN_DIR) + "/plmtool", "duplicates", "--recursive", gTree}))
      state.SkipWithError("plmtool duplicates failed");
}

void BM_plmtool_check(benchmark::State &state) {
  // Exit 1: a third of the templates name a font that is not installed.
  for (auto _ : state)
    if (!Spawn({std::string(PLM_BIN_DIR) + "/plmtool", "check", "--recursive", gTree}, true))
      state.SkipWithError("plmtool check failed");
}

// 1,000 folders of 100 templates: each folder of the tree linked ten times over.
void MakeLargeTree() {
  for (int f = 0; f < kLargeFolders; ++f) {
    const std::string folder = gLarge + "/dossier" + std::to_string(f);
    fs::create_directories(folder);
    const std::string from = gTree + "/dossier" + std::to_string(f % kFolders);
    for (int t = 0; t < kPerFolder; ++t) {
      const std::string name = "/modele" + std::to_string(t) + ".plm";
      std::error_code e;
      fs::create_hard_link(from + name, folder + name, e);
      if (e) fs::copy_file(from + name, folder + name);
    }
  }
}

bool LargeWanted(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).find("-100k") != std::string::npos) return false;
  return true;
}

void BM_catalogue_cold_100k(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    plm::TCatalogueStore::RemoveFiles(gLargeDb);
    state.ResumeTiming();
    plm::TCatalogue c(gLargeDb, plm::IsFontFamilyInstalled);
    if (c.Update({gLarge}, true).read != size_t(kLargeFolders * kPerFolder))
      state.SkipWithError("not every template read");
  }
}

void BM_catalogue_unchanged_100k(benchmark::State &state) {
  for (auto _ : state) {
    plm::TCatalogue c(gLargeDb, plm::IsFontFamilyInstalled);
    if (c.Update({gLarge}, true).unchanged != size_t(kLargeFolders * kPerFolder))
      state.SkipWithError("the catalogue was not current");
  }
}

void BM_find_100k(benchmark::State &state) {
  for (auto _ : state)
    if (!Spawn({"find", gLarge, "-name", "*.plm", "-printf", "%s %T@\\n"}))
      state.SkipWithError("find failed");
}

void BM_search_one_word_100k(benchmark::State &state) {
  static plm::TCatalogue c(gLargeDb, plm::IsFontFamilyInstalled);
  SearchOneWord(c, gLarge, state);
}

void BM_search_one_word_100k_first(benchmark::State &state) {
  plm::TCatalogue c(gLargeDb, plm::IsFontFamilyInstalled);
  SearchOneWord(c, gLarge, state);
}

void BM_plmtool_search_100k(benchmark::State &state) {
  for (auto _ : state)
    if (!Spawn({std::string(PLM_BIN_DIR) + "/plmtool", "search", "--recursive", "hiver", gLarge},
               false, gLargeCache))
      state.SkipWithError("plmtool search failed");
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.aggregate_name == "min" || r.aggregate_name == "median")
        times[r.run_name.function_name + "/" + r.aggregate_name] = r.GetAdjustedRealTime();
      else if (r.run_type == Run::RT_Iteration && r.repetitions <= 1) // one run: its own figure
        times[r.run_name.function_name + "/min"] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv) {
  gTree = "/var/tmp/plm-bench-catalogue-tree";
  MakeTree();
  char tmpl[] = "/var/tmp/plmcatbench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  gRoot = tmpl;
  gCache = gRoot + "/cache";
  gDb = gCache + "/plmlooker/catalogue.sqlite"; // where plmtool finds it too
  for (int f = 0; f < kFolders; ++f)
    for (int t = 0; t < kPerFolder; t += kPeerSampleStep)
      gSample.push_back(gTree + "/dossier" + std::to_string(f) + "/modele" + std::to_string(t) +
                        ".plm");
  std::printf("tree: %d templates in %d folders (%s); the peer extracts %zu of them, scaled "
              "by %d\n",
              kFolders * kPerFolder, kFolders, gTree.c_str(), gSample.size(), kPeerSampleStep);
  {
    plm::TCatalogue warm(gDb, plm::IsFontFamilyInstalled);
    warm.Update({gTree}, true);
  }
  const bool large = LargeWanted(argc, argv);
  if (large) {
    gLarge = gRoot + "/large";
    gLargeCache = gRoot + "/large-cache";
    gLargeDb = gLargeCache + "/plmlooker/catalogue.sqlite";
    const auto start = std::chrono::steady_clock::now();
    MakeLargeTree();
    plm::TCatalogue warm(gLargeDb, plm::IsFontFamilyInstalled);
    warm.Update({gLarge}, true);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("large tree: %d templates in %d folders (%s), made and catalogued in %.0f s\n",
                kLargeFolders * kPerFolder, kLargeFolders, gLarge.c_str(), took.count());
  }

  const auto add = [](const char *name, void (*fn)(benchmark::State &), int iterations,
                      int repetitions, bool manual = false) {
    auto *b = plmbench::ReportBest(benchmark::RegisterBenchmark(name, fn)
                                       ->Unit(benchmark::kMillisecond)
                                       ->Iterations(iterations)
                                       ->Repetitions(repetitions));
    if (manual)
      b->UseManualTime();
    else
      b->UseRealTime();
  };
  add("BM_catalogue_cold", BM_catalogue_cold, 1, 3);
  add("BM_cabextract_content_ini", BM_cabextract_content_ini, 1, 3, true);
  add("BM_catalogue_unchanged", BM_catalogue_unchanged, 5, 5);
  add("BM_find", BM_find, 5, 5);
  add("BM_plmtool_search", BM_plmtool_search, 5, 5);
  add("BM_plmtool_duplicates", BM_plmtool_duplicates, 5, 5);
  add("BM_plmtool_check", BM_plmtool_check, 5, 5);
  add("BM_search_one_word", BM_search_one_word, 1, 41);
  add("BM_search_duplicates_only", BM_search_duplicates_only, 1, 11);
  if (large) {
    add("BM_catalogue_cold_100k", BM_catalogue_cold_100k, 1, 1);
    add("BM_catalogue_unchanged_100k", BM_catalogue_unchanged_100k, 1, 3);
    add("BM_find_100k", BM_find_100k, 1, 3);
    add("BM_plmtool_search_100k", BM_plmtool_search_100k, 1, 3);
    add("BM_search_one_word_100k", BM_search_one_word_100k, 1, 41);
    add("BM_search_one_word_100k_first", BM_search_one_word_100k_first, 1, 11);
  }
  plmbench::InitializeInterleaved(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char *a, const char *b, const char *target) {
    const std::string ka = std::string(a) + "/min", kb = std::string(b) + "/min";
    if (!reporter.times.count(ka) || !reporter.times.count(kb) || reporter.times[kb] <= 0) return;
    std::printf("%s %.0f ms / %s %.0f ms = %.3f (target %s)\n", a, reporter.times[ka], b,
                reporter.times[kb], reporter.times[ka] / reporter.times[kb], target);
  };
  ratio("BM_catalogue_cold", "BM_cabextract_content_ini", "<= 0.25");
  ratio("BM_catalogue_unchanged", "BM_find", "<= 2");
  ratio("BM_plmtool_search", "BM_find", "<= 1.5");
  ratio("BM_plmtool_duplicates", "BM_find", "<= 1.5");
  ratio("BM_plmtool_check", "BM_find", "<= 1.5");
  if (reporter.times.count("BM_search_one_word/median"))
    std::printf("BM_search_one_word median %.2f ms (target < 20 ms)\n",
                reporter.times["BM_search_one_word/median"]);
  if (reporter.times.count("BM_search_duplicates_only/median"))
    std::printf("BM_search_duplicates_only median %.2f ms (the grid's target: 200 ms)\n",
                reporter.times["BM_search_duplicates_only/median"]);
  for (const char *name : {"BM_search_one_word_100k", "BM_search_one_word_100k_first"})
    if (reporter.times.count(std::string(name) + "/median"))
      std::printf("%s median %.2f ms (target < 20 ms)\n", name,
                  reporter.times[std::string(name) + "/median"]);
  ratio("BM_catalogue_cold_100k", "BM_catalogue_cold", "<= 10.5");
  ratio("BM_catalogue_unchanged_100k", "BM_find_100k", "<= 2");
  ratio("BM_plmtool_search_100k", "BM_find_100k", "<= 1.5");
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
