// The catalogue: what its search finds, how it follows the files, how it survives its
// database file and hostile templates, and the command-line verbs over it.
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueStore.h"
#include "platform/FileSys.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

using namespace cabtest;
using plm::CatalogueQuery;
using plm::TCatalogue;

namespace {

struct Fields {
  std::string collection, display, trademark = "Plumora", font = "DejaVu Sans", title;
};

// A template written by the project's writer; text in Windows-1252 as the templates have it.
void WriteTemplate(const std::string &path, const Fields &f, const std::string &padding = "") {
  const std::string ini = "[General]\r\nCollection=" + f.collection + "\r\nDisplay=" + f.display +
                          "\r\n[TradeMark]\r\nTradeMark=" + f.trademark + "\r\n";
  const std::string page = "<HTML><HEAD><TITLE>" + f.title +
                           "</TITLE></HEAD><BODY><TABLE><TR><TD id=PLUMORATEXTREGION "
                           "style=\"FONT-FAMILY: " + f.font + "; FONT-SIZE: 12pt\">" + padding +
                           "</TD></TR></TABLE></BODY></HTML>\r\n";
  const std::string gif = std::string("GIF89a\x10\x00\x20\x00\x00\x00\x00;", 14);
  BuildCabinet(path, {{"content.ini", ini}, {"Flavor.htm", page}, {"images\\neige.gif", gif}});
}

std::set<std::string> Names(const std::vector<plm::TemplateRecord> &found) {
  std::set<std::string> names;
  for (const auto &r : found)
    names.insert(r.path.substr(r.path.rfind('/') + 1));
  return names;
}

class CatalogueTest : public ::testing::Test {
protected:
  TempDir dir;
  std::string tree = dir / "tree";
  std::string db = dir / "cache/catalogue.sqlite";

  std::vector<plm::TemplateRecord> Find(TCatalogue &c, const std::string &text,
                                        bool missingFont = false) {
    CatalogueQuery q;
    q.text = text;
    q.folder = tree;
    q.recursive = true;
    q.missingFontOnly = missingFont;
    q.withPictures = true;
    return c.Search(q);
  }
};

// ---- What a query finds --------------------------------------------------------------

struct MatchCase {
  const char *query;
  std::set<std::string> expected;
};
void PrintTo(const MatchCase &c, std::ostream *os) { *os << "query '" << c.query << "'"; }

class CatalogueMatch : public CatalogueTest, public ::testing::WithParamInterface<MatchCase> {
protected:
  static void SetUpTestSuite() {
    // Once for every row: the same small collection.
    shared = new TempDir;
    const std::string t = *shared / "tree";
    WriteTemplate(t + "/noel.plm", {"No\xEBl", "Bonhomme de neige", "Plumora", "DejaVu Sans",
                                    "Joyeux No\xEBl"});
    WriteTemplate(t + "/ete.plm", {"\xC9t\xE9 2026", "Plage", "Plumora", "Comic Relief",
                                   "Vacances d'\xE9t\xE9"});
    WriteTemplate(t + "/sub/printemps.plm", {"Printemps", "Saint-Valentin", "Fleurs \"Rose\"",
                                             "DejaVu Sans", "Coeur (rouge)"});
    catalogue = new TCatalogue(*shared / "cache.sqlite");
    catalogue->Update({t}, true);
  }
  static void TearDownTestSuite() {
    delete catalogue;
    delete shared;
  }
  static TempDir *shared;
  static TCatalogue *catalogue;
};
TempDir *CatalogueMatch::shared = nullptr;
TCatalogue *CatalogueMatch::catalogue = nullptr;

TEST_P(CatalogueMatch, FindsByWordPrefixWithoutRegardToCaseOrAccents) {
  CatalogueQuery q;
  q.text = GetParam().query;
  q.folder = *shared / "tree";
  q.recursive = true;
  EXPECT_EQ(Names(catalogue->Search(q)), GetParam().expected) << GetParam().query;
}

INSTANTIATE_TEST_SUITE_P(
    Queries, CatalogueMatch,
    ::testing::Values(
        MatchCase{"noel", {"noel.plm"}}, MatchCase{"NOËL", {"noel.plm"}},
        MatchCase{"ete", {"ete.plm"}}, MatchCase{"Été", {"ete.plm"}},
        MatchCase{"print", {"printemps.plm"}}, MatchCase{"rintemps", {}},
        MatchCase{"neige bonhomme", {"noel.plm"}}, MatchCase{"bonhomme plage", {}},
        MatchCase{"d'été", {"ete.plm"}}, MatchCase{"saint-valentin", {"printemps.plm"}},
        MatchCase{"\"rose\"", {"printemps.plm"}}, MatchCase{"(rouge)", {"printemps.plm"}},
        MatchCase{"rose OR plage", {}}, MatchCase{"NEAR(rose plage)", {}},
        MatchCase{"dejavu", {"noel.plm", "printemps.plm"}}, MatchCase{"neige.gif", {"noel.plm", "ete.plm", "printemps.plm"}},
        MatchCase{"printemps.plm", {"printemps.plm"}}, MatchCase{"joyeux 2026", {}},
        MatchCase{"", {"noel.plm", "ete.plm", "printemps.plm"}}, MatchCase{"\"*", {}}));

// ---- What an entry holds -------------------------------------------------------------

TEST_F(CatalogueTest, RecordsEveryFieldOfTheTemplateAsUtf8) {
  WriteTemplate(tree + "/a.plm", {"No\xEBl", "Sapin", "Plumora\x99", "Nonexistent Font Xyz",
                                  "Joyeux No\xEBl"});
  TCatalogue c(db, [](std::string_view f) { return f == "DejaVu Sans"; });
  c.Update({tree}, false);
  const auto found = Find(c, "");
  ASSERT_EQ(found.size(), 1u);
  const auto &r = found[0];
  EXPECT_EQ(r.collection, "Noël");
  EXPECT_EQ(r.display, "Sapin");
  EXPECT_EQ(r.trademark, "Plumora™");
  EXPECT_EQ(r.font, "Nonexistent Font Xyz");
  EXPECT_FALSE(r.fontInstalled);
  EXPECT_EQ(r.title, "Joyeux Noël");
  EXPECT_EQ(r.size, plm::FileSize(tree + "/a.plm"));
  EXPECT_TRUE(r.failure.empty());
  ASSERT_EQ(r.pictures.size(), 1u);
  EXPECT_EQ(r.pictures[0], (plm::CataloguePicture{"images/neige.gif", "GIF", 14, 16, 32}));
  // Nothing of the template was written beside it.
  EXPECT_EQ(ListTree(tree), (std::vector<std::string>{"a.plm", "src/", "src/0", "src/1", "src/2"}));
}

TEST_F(CatalogueTest, MissingFontKeepsOnlyReadableTemplatesWhoseFontIsNotInstalled) {
  WriteTemplate(tree + "/here.plm", {"C", "D", "T", "DejaVu Sans", "t"});
  WriteTemplate(tree + "/gone.plm", {"C", "D", "T", "Nonexistent Font Xyz", "t"});
  WriteFile(tree + "/broken.plm", "not a cabinet");
  TCatalogue c(db, [](std::string_view f) { return f == "DejaVu Sans"; });
  c.Update({tree}, true);
  EXPECT_EQ(Names(Find(c, "", true)), (std::set<std::string>{"gone.plm"}));
}

TEST_F(CatalogueTest, NamesThatAreNotUtf8AreFoundAndGivenBackByteForByte) {
  const std::string name = "caf\xE9 d\xE9j\xE0.plm"; // Windows-1252 bytes in the file name
  WriteTemplate(tree + "/" + name, {"C", "D", "T", "F", "t"});
  TCatalogue c(db);
  c.Update({tree}, false);
  const auto found = Find(c, "deja");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, tree + "/" + name);
  EXPECT_TRUE(plm::FileExists(found[0].path));
}

// ---- Staying current -----------------------------------------------------------------

TEST_F(CatalogueTest, FollowsChangedRenamedAndRemovedFiles) {
  WriteTemplate(tree + "/a.plm", {"Hiver", "A", "T", "F", "t"});
  WriteTemplate(tree + "/sub/b.plm", {"Hiver", "B", "T", "F", "t"});
  WriteTemplate(tree + "/sub/c.plm", {"Hiver", "C", "T", "F", "t"});
  TCatalogue c(db);
  auto s = c.Update({tree}, true);
  EXPECT_EQ(s.read, 3u);

  s = c.Update({tree}, true);
  EXPECT_EQ(std::tie(s.read, s.unchanged, s.removed), std::make_tuple(0u, 3u, 0u));

  WriteTemplate(tree + "/a.plm", {"Automne", "A", "T", "F", "t"}, "longer page"); // changed
  ASSERT_EQ(std::rename((tree + "/sub/b.plm").c_str(), (tree + "/sub/renamed.plm").c_str()), 0);
  ASSERT_TRUE(plm::DeleteFile(tree + "/sub/c.plm"));
  s = c.Update({tree}, true);
  EXPECT_EQ(std::tie(s.read, s.unchanged, s.removed), std::make_tuple(2u, 0u, 2u));
  EXPECT_EQ(Names(Find(c, "hiver")), (std::set<std::string>{"renamed.plm"}));
  EXPECT_EQ(Names(Find(c, "automne")), (std::set<std::string>{"a.plm"}));
}

TEST_F(CatalogueTest, WithoutRecursionOnlyTheFolderItselfIsLookedAtAndSearched) {
  WriteTemplate(tree + "/a.plm", {"Hiver", "A", "T", "F", "t"});
  WriteTemplate(tree + "/sub/b.plm", {"Hiver", "B", "T", "F", "t"});
  WriteTemplate(dir / "treeX/c.plm", {"Hiver", "C", "T", "F", "t"}); // a name that extends it
  TCatalogue c(db);
  c.Update({tree, dir / "treeX"}, true);
  EXPECT_EQ(c.Update({tree}, false).unchanged, 1u);
  CatalogueQuery q;
  q.text = "hiver";
  q.folder = tree;
  EXPECT_EQ(Names(c.Search(q)), (std::set<std::string>{"a.plm"}));
  q.recursive = true;
  EXPECT_EQ(Names(c.Search(q)), (std::set<std::string>{"a.plm", "b.plm"}));
}

TEST_F(CatalogueTest, AFailingTemplateIsRecordedWithItsReasonAndReadAgainOnlyOnceChanged) {
  WriteFile(tree + "/broken.plm", "not a cabinet at all");
  TCatalogue c(db);
  auto s = c.Update({tree}, false);
  EXPECT_EQ(std::tie(s.read, s.unreadable), std::make_tuple(0u, 1u));
  auto found = Find(c, "broken");
  ASSERT_EQ(found.size(), 1u);
  // In French, as the gallery reads it out: not the cabinet library's English.
  EXPECT_EQ(found[0].failure, "Ce fichier n'est pas un modèle : ce n'est pas une archive cabinet.");

  s = c.Update({tree}, false);
  EXPECT_EQ(std::tie(s.unreadable, s.unchanged), std::make_tuple(0u, 1u));

  WriteTemplate(tree + "/broken.plm", {"Mended", "D", "T", "F", "t"});
  s = c.Update({tree}, false);
  EXPECT_EQ(s.read, 1u);
  found = Find(c, "mended");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(found[0].failure.empty());
}

TEST_F(CatalogueTest, DamagedPicturesKeepTheFieldsReadBeforeThemAndTheFileListsNames) {
  const std::string ini = "[General]\r\nCollection=Oc\xE9\x61n\r\nDisplay=Vagues\r\n";
  const std::string page = "<HTML><TITLE>Mer</TITLE><BODY><TD id=PLUMORATEXTREGION "
                           "style=\"FONT-FAMILY: DejaVu Sans\">x</TD></BODY></HTML>";
  const std::string photo = "\xFF\xD8\xFF" + MakeData(200000, 7, false);
  const std::string path = tree + "/mer.plm";
  BuildCabinet(path, {{"content.ini", ini},
                      {"Flavor.htm", page},
                      {"images\\vagues.jpg", photo},
                      {"images\\sable.gif", "GIF89a"}});
  std::string cab = ReadFile(path);
  WriteFile(path, cab.substr(0, cab.size() - 120000)); // the pictures' blocks cut off

  TCatalogue c(db);
  EXPECT_EQ(c.Update({tree}, false).unreadable, 1u);
  for (const char *word : {"ocean", "vagues", "mer", "sable"}) {
    const auto found = Find(c, word);
    ASSERT_EQ(found.size(), 1u) << word;
    const auto &r = found[0];
    EXPECT_EQ(r.failure, "L'archive du modèle est endommagée ou incomplète.");
    EXPECT_EQ(std::tie(r.collection, r.display, r.title, r.font),
              std::make_tuple("Oc\u00E9an", "Vagues", "Mer", "DejaVu Sans"));
    ASSERT_EQ(r.pictures.size(), 2u);
    EXPECT_EQ(std::tie(r.pictures[0].name, r.pictures[0].bytes),
              std::make_tuple("images/vagues.jpg", int64_t(photo.size())));
    EXPECT_EQ(std::tie(r.pictures[1].name, r.pictures[1].bytes),
              std::make_tuple("images/sable.gif", int64_t(6)));
  }
}

// A cabinet whose first file claims more bytes than it holds: expanding it would fail or
// take that much; the limits refuse it from the file list alone.
struct HostileCase {
  const char *stored;
  uint32_t claimed;
  const char *reason;
};
void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.stored << " of " << c.claimed; }

class CatalogueHostile : public CatalogueTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(CatalogueHostile, LimitsRefuseTheTemplateBeforeAnythingIsExpanded) {
  std::string cab = RawCabinet({{GetParam().stored, "tiny"}, {"content.ini", "[General]\r\n"}});
  const uint32_t v = GetParam().claimed;
  const size_t at = plmcab::kHeaderSize + plmcab::kFolderSize; // the first file's size
  for (int i = 0; i < 4; ++i)
    cab[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
  WriteFile(tree + "/bomb.plm", cab);
  TCatalogue c(db);
  EXPECT_EQ(c.Update({tree}, false).unreadable, 1u);
  const auto found = Find(c, "bomb");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(found[0].failure.find(GetParam().reason), std::string::npos) << found[0].failure;
}

INSTANTIATE_TEST_SUITE_P(Limits, CatalogueHostile,
                         ::testing::Values(HostileCase{"big.gif", 300u << 20, "256 Mo"},
                                           HostileCase{"flavor.HTM", 20u << 20, "16 Mo"}));

// ---- The database file ---------------------------------------------------------------

enum class FileState { Garbage, Foreign, OtherVersion, Unwritable, Locked };
void PrintTo(FileState s, std::ostream *os) {
  static const char *const kNames[] = {"garbage", "foreign", "other version", "unwritable",
                                       "locked"};
  *os << kNames[int(s)];
}

// Puts the database file in the state; a lock is held as long as the handle returned.
std::unique_ptr<sqlite3, int (*)(sqlite3 *)> Spoil(FileState state, const std::string &db) {
  sqlite3 *h = nullptr;
  std::unique_ptr<sqlite3, int (*)(sqlite3 *)> held(nullptr, sqlite3_close);
  switch (state) {
  case FileState::Garbage:
    WriteFile(db, std::string(8192, '\x5A'));
    break;
  case FileState::Foreign:
  case FileState::OtherVersion:
    EXPECT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(h,
                           state == FileState::Foreign
                               ? "CREATE TABLE notes(x); INSERT INTO notes VALUES(1)"
                               : "PRAGMA application_id=1347177795; PRAGMA user_version=99",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(h);
    break;
  case FileState::Unwritable:
    plm::DeleteFile(db);
    plm::RemoveDir(db.substr(0, db.rfind('/')));
    WriteFile(db.substr(0, db.rfind('/')), "a file where the cache folder should be");
    break;
  case FileState::Locked:
    // Another program writing, and for too long: a catalogue made, then held.
    TCatalogue(db).Search(CatalogueQuery{});
    EXPECT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    held.reset(h);
    EXPECT_EQ(sqlite3_exec(h, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    break;
  }
  return held;
}

class CatalogueFile : public CatalogueTest, public ::testing::WithParamInterface<FileState> {};

TEST_P(CatalogueFile, ABadDatabaseFileIsRebuiltOrBypassedAndSearchStillWorks) {
  WriteTemplate(tree + "/a.plm", {"Hiver", "A", "T", "F", "t"});
  plm::ForceDirectories(dir / "cache");
  const auto lock = Spoil(GetParam(), db);
  const bool bypassed = GetParam() == FileState::Unwritable || GetParam() == FileState::Locked;
  TCatalogue c(db);
  c.SetLockWait(50);
  EXPECT_EQ(c.Update({tree}, false).read, 1u);
  EXPECT_EQ(Names(Find(c, "hiver")), (std::set<std::string>{"a.plm"}));
  EXPECT_EQ(c.InMemory(), bypassed);
  if (!bypassed) {
    // Rebuilt: the next program finds the entry in the file.
    TCatalogue again(db);
    EXPECT_EQ(again.Update({tree}, false).unchanged, 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(States, CatalogueFile,
                         ::testing::Values(FileState::Garbage, FileState::Foreign,
                                           FileState::OtherVersion, FileState::Unwritable,
                                           FileState::Locked));

// A new file is turned to WAL when it is made, which needs the file alone: another program
// doing the same at that moment makes the first wait, not fall back to memory.
TEST_F(CatalogueTest, ANewFileReadByAnotherProgramIsWaitedFor) {
  ASSERT_TRUE(plm::ForceDirectories(dir / "cache"));
  sqlite3 *other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  // The lock that turning the file to WAL takes for an instant, held.
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  WriteTemplate(tree + "/a.plm", {"Hiver", "A", "T", "F", "t"});
  TCatalogue c(db);
  c.Update({tree}, false);
  release.join();
  sqlite3_close(other);
  EXPECT_FALSE(c.InMemory());
  EXPECT_EQ(TCatalogue(db).Update({tree}, false).unchanged, 1u);
}

TEST_F(CatalogueTest, TwoWritersAtOnceLoseNothing) {
  for (int i = 0; i < 40; ++i) {
    WriteTemplate(tree + "/one/t" + std::to_string(i) + ".plm", {"Hiver", "A", "T", "F", "t"});
    WriteTemplate(tree + "/two/t" + std::to_string(i) + ".plm", {"Hiver", "B", "T", "F", "t"});
  }
  // Two programs, each with its own connection, over overlapping folders.
  auto run = [&](const std::string &folder) {
    TCatalogue c(db);
    c.Update({folder, tree}, true);
    EXPECT_FALSE(c.InMemory());
  };
  std::thread a(run, tree + "/one"), b(run, tree + "/two");
  a.join();
  b.join();
  TCatalogue c(db);
  const auto s = c.Update({tree}, true);
  EXPECT_EQ(std::tie(s.read, s.unchanged), std::make_tuple(0u, 80u));
  EXPECT_EQ(Find(c, "hiver").size(), 80u);
}

// A search stopped by its flag (a newer one is wanted) is no failure of the file: the
// catalogue keeps its file, and the searches after it run whole.
TEST_F(CatalogueTest, ASearchStoppedByItsFlagLeavesTheCatalogueAsItWas) {
  constexpr size_t kTemplates = 100;
  for (size_t i = 0; i < kTemplates; ++i)
    WriteTemplate(tree + "/t" + std::to_string(i) + ".plm", {"Hiver", "A", "T", "F", "t"});
  TCatalogue c(db);
  c.Update({tree}, true);
  CatalogueQuery q;
  q.text = "hiver";
  q.folder = tree;
  q.recursive = true;
  std::atomic<bool> stop{true};
  EXPECT_THROW(c.Search(q, &stop), plm::ECatalogueInterrupted);
  EXPECT_FALSE(c.InMemory());
  // The flag counts for its own search only.
  const auto found = c.Search(q);
  ASSERT_EQ(found.size(), kTemplates);
  EXPECT_FALSE(found[1].duplicateOf.empty());
  stop = false;
  EXPECT_EQ(c.Search(q, &stop).size(), kTemplates);
  EXPECT_EQ(TCatalogue(db).Update({tree}, true).unchanged, kTemplates);
}

// ---- The command line ----------------------------------------------------------------

class PlmtoolCatalogue : public CatalogueTest {
protected:
  int Tool(const std::string &args, std::string *out = nullptr) {
    const std::string outFile = dir / "out.txt";
    const int rc = cabtest::Run("XDG_CACHE_HOME=" + ShellQuote(dir / "xdg") + " " PLM_BIN_DIR "/plmtool " +
                       args + " > " + ShellQuote(outFile) + " 2>/dev/null");
    if (out) *out = ReadFile(outFile);
    return rc;
  }
};

TEST_F(PlmtoolCatalogue, SearchPrintsTabSeparatedLinesOrJsonAndExitsByWhatItFound) {
  WriteTemplate(tree + "/sub/a.plm", {"No\xEBl", "Sapin", "Plumora", "Nonexistent Font Xyz", "t"});
  std::string out;
  EXPECT_EQ(Tool("search noel " + ShellQuote(tree), &out), 1); // not recursive
  EXPECT_EQ(Tool("search --recursive noel " + ShellQuote(tree), &out), 0);
  EXPECT_EQ(out, tree + "/sub/a.plm\tNoël\tSapin\tNonexistent Font Xyz\tno\n");
  EXPECT_EQ(Tool("search --json --missing-font --recursive -- sapin " + ShellQuote(tree), &out), 0);
  EXPECT_EQ(out.rfind("{\"path\":\"" + tree + "/sub/a.plm\",", 0), 0u) << out;
  EXPECT_NE(out.find("\"pictures\":[{\"name\":\"images/neige.gif\",\"type\":\"GIF\",\"bytes\":14,"
                     "\"width\":16,\"height\":32}],\"failure\":null}\n"),
            std::string::npos)
      << out;
  for (const char *usage : {"search", "search --bogus x", "search a b c", "index",
                            "search x /nonexistent-folder"})
    EXPECT_EQ(Tool(usage), 2) << usage;
  for (const char *recursive : {"--recursive", "-r"}) {
    EXPECT_EQ(Tool("index " + std::string(recursive) + " " + ShellQuote(tree), &out), 0);
    EXPECT_EQ(out, "read 0, unchanged 1, removed 0, unreadable 0\n") << recursive;
  }
  EXPECT_TRUE(plm::FileExists(dir / "xdg/plmlooker/catalogue.sqlite"));
}

} // namespace
