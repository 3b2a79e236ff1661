// A collection's health over the catalogue: which templates count as duplicates, the
// problems each reading finds, the upgrade of an earlier catalogue, the trash step's
// safety rules, and plmtool duplicates and check.
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueStore.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "tests/ScopedEnv.h"
#include "tests/cabinet/CabTestUtil.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <set>

using namespace cabtest;
using plm::TCatalogue;

namespace {

const std::string kIni = "[General]\r\nCollection=Hiver\r\nDisplay=Neige\r\n";
const std::string kPage =
    "<HTML><HEAD><TITLE>Neige</TITLE></HEAD><BODY background=\"images/fond.gif\">"
    "<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans\">x</TD></BODY></HTML>";
const std::string kGif = std::string("GIF89a\x10\x00\x20\x00\x00\x00\x00;", 14);
const std::string kPhoto = "\xFF\xD8\xFF" + MakeData(70000, 3, false); // spans blocks

std::vector<SourceFile> Files() {
  return {{"content.ini", kIni},
          {"Flavor.htm", kPage},
          {"images\\fond.gif", kGif},
          {"images\\photo.jpg", kPhoto}};
}

bool Installed(std::string_view font) { return font == "DejaVu Sans"; }

class HealthTest : public ::testing::Test {
protected:
  TempDir dir;
  std::string tree = dir / "tree";
  std::string db = dir / "cache/catalogue.sqlite";

  std::vector<plm::TemplateRecord> All(TCatalogue &c) {
    plm::CatalogueQuery q;
    q.folder = tree;
    q.recursive = true;
    return c.Search(q);
  }
};

// ---- What counts as a duplicate ------------------------------------------------------

using Writer = std::function<void(const std::string &path)>;
struct PairCase {
  const char *what;
  Writer second;
  bool same;
};
void PrintTo(const PairCase &c, std::ostream *os) { *os << c.what; }

void WriteFirst(const std::string &path) { BuildCabinet(path, Files()); }

std::vector<RawEntry> Raw(std::vector<SourceFile> files) {
  std::vector<RawEntry> raw;
  for (auto &f : files)
    raw.push_back({f.stored, f.data});
  return raw;
}

class DuplicatePairs : public HealthTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(DuplicatePairs, TheSameFilesWithTheSameBytesAreTheSameContent) {
  WriteFirst(tree + "/a.plm");
  GetParam().second(tree + "/b.plm");
  TCatalogue c(db, Installed);
  c.Update({tree}, false);
  const auto groups = c.Duplicates({tree}, false);
  if (GetParam().same) {
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].paths, (std::vector<std::string>{tree + "/a.plm", tree + "/b.plm"}));
    EXPECT_EQ(groups[0].fingerprint.size(), 32u);
    EXPECT_EQ(groups[0].contentBytes,
              int64_t(kIni.size() + kPage.size() + kGif.size() + kPhoto.size()));
    for (const auto &r : All(c))
      EXPECT_EQ(plm::ExtractFileName(r.duplicateOf), r.path == tree + "/a.plm" ? "b.plm" : "a.plm");
  } else {
    EXPECT_TRUE(groups.empty());
    for (const auto &r : All(c))
      EXPECT_TRUE(r.duplicateOf.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, DuplicatePairs,
    ::testing::Values(
        PairCase{"a plain copy", [](const std::string &p) { WriteFirst(p); }, true},
        PairCase{"stored, not compressed",
                 [](const std::string &p) { BuildCabinet(p, Files(), plm::cctNone); }, true},
        PairCase{"one stored block layout by hand",
                 [](const std::string &p) { WriteFile(p, RawCabinet(Raw(Files()))); }, true},
        PairCase{"files in another order",
                 [](const std::string &p) {
                   auto f = Files();
                   std::reverse(f.begin(), f.end());
                   BuildCabinet(p, f);
                 },
                 true},
        PairCase{"names in another case",
                 [](const std::string &p) {
                   auto f = Files();
                   f[0].stored = "CONTENT.INI";
                   f[1].stored = "FLAVOR.HTM";
                   f[2].stored = "Images\\FOND.GIF";
                   BuildCabinet(p, f);
                 },
                 true},
        PairCase{"older time stamps",
                 [](const std::string &p) {
                   WriteFirst(p);
                   ASSERT_EQ(cabtest::Run("touch -d 2001-02-03 " + ShellQuote(p)), 0);
                 },
                 true},
        PairCase{"one byte of one picture",
                 [](const std::string &p) {
                   auto f = Files();
                   f[3].data[40000] ^= 1;
                   BuildCabinet(p, f);
                 },
                 false},
        PairCase{"one picture under another name",
                 [](const std::string &p) {
                   auto f = Files();
                   f[3].stored = "images\\photo2.jpg";
                   BuildCabinet(p, f);
                 },
                 false},
        PairCase{"one more file",
                 [](const std::string &p) {
                   auto f = Files();
                   f.push_back({"readme.txt", ""});
                   BuildCabinet(p, f);
                 },
                 false},
        PairCase{"the same, damaged",
                 [](const std::string &p) {
                   WriteFirst(p);
                   const std::string cab = ReadFile(p);
                   WriteFile(p, cab.substr(0, cab.size() - 30000));
                 },
                 false}));

TEST_F(HealthTest, GroupsComeInFileListOrderAcrossFoldersAndAnEmptyCabinetIsNoneOfThem) {
  WriteFirst(tree + "/sub/z.plm");
  WriteFirst(tree + "/b.plm");
  WriteFirst(tree + "/A.plm");
  WriteFirst(tree + "/aa/c.plm"); // before b.plm in bytes, after it in the list
  BuildCabinet(tree + "/autre/x.plm", {{"content.ini", kIni}, {"Flavor.htm", "<p>"}});
  BuildCabinet(tree + "/y.plm", {{"content.ini", kIni}, {"Flavor.htm", "<p>"}});
  WriteFile(tree + "/vide1.plm", RawCabinet({}));
  WriteFile(tree + "/vide2.plm", RawCabinet({}));
  TCatalogue c(db, Installed);
  c.Update({tree}, true);
  const auto groups = c.Duplicates({tree}, true);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].paths,
            (std::vector<std::string>{tree + "/A.plm", tree + "/b.plm", tree + "/aa/c.plm",
                                      tree + "/sub/z.plm"}));
  EXPECT_EQ(groups[1].paths, (std::vector<std::string>{tree + "/y.plm", tree + "/autre/x.plm"}));
  // Only within the folder when not recursive; the folders given together otherwise.
  EXPECT_EQ(c.Duplicates({tree}, false).size(), 1u);
  EXPECT_EQ(c.Duplicates({tree + "/sub", tree + "/autre"}, false).size(), 0u);
  EXPECT_EQ(c.Duplicates({tree + "/sub", tree}, false)[0].paths.size(), 3u);

  plm::CatalogueQuery q;
  q.folder = tree;
  q.recursive = true;
  q.duplicatesOnly = true;
  std::vector<std::string> shown;
  for (const auto &r : c.Search(q))
    shown.push_back(plm::ExtractFileName(r.path));
  EXPECT_EQ(shown,
            (std::vector<std::string>{"A.plm", "b.plm", "c.plm", "z.plm", "y.plm", "x.plm"}));

  // A plain search gives each entry the first other copy in the list.
  std::map<std::string, std::string> of;
  for (const auto &r : All(c))
    of[plm::ExtractFileName(r.path)] = plm::ExtractFileName(r.duplicateOf);
  EXPECT_EQ(of, (std::map<std::string, std::string>{{"A.plm", "b.plm"},
                                                    {"b.plm", "A.plm"},
                                                    {"c.plm", "A.plm"},
                                                    {"z.plm", "A.plm"},
                                                    {"y.plm", "x.plm"},
                                                    {"x.plm", "y.plm"},
                                                    {"vide1.plm", ""},
                                                    {"vide2.plm", ""}}));
}

// ---- The problems --------------------------------------------------------------------

struct ProblemCase {
  const char *what;
  Writer write;
  std::vector<std::pair<std::string, std::string>> expected; // code, name
  const char *firstText;
};
void PrintTo(const ProblemCase &c, std::ostream *os) { *os << c.what; }

class Problems : public HealthTest, public ::testing::WithParamInterface<ProblemCase> {};

TEST_P(Problems, EachReadingSaysWhatIsWrongWithAStableCodeAndFrenchText) {
  GetParam().write(tree + "/t.plm");
  TCatalogue c(db, Installed);
  c.Update({tree}, false);
  const auto found = All(c);
  ASSERT_EQ(found.size(), 1u);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto &p : found[0].problems)
    got.emplace_back(p.code, p.name);
  EXPECT_EQ(got, GetParam().expected);
  if (GetParam().firstText) {
    ASSERT_FALSE(found[0].problems.empty());
    EXPECT_EQ(found[0].problems[0].text, GetParam().firstText);
  }
  plm::CatalogueQuery q;
  q.folder = tree;
  q.problemsOnly = true;
  EXPECT_EQ(c.Search(q).size(), GetParam().expected.empty() ? 0u : 1u);
}

std::vector<SourceFile> WithPage(const std::string &page) {
  auto f = Files();
  f[1].data = page;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Problems,
    ::testing::Values(
        ProblemCase{"a sound template", WriteFirst, {}, nullptr},
        ProblemCase{"not a cabinet", [](const std::string &p) { WriteFile(p, "PK\x03\x04 zip"); },
                    {{"damaged", ""}},
                    "Fichier endommagé ou qui n'est pas un modèle : Ce fichier n'est pas un "
                    "modèle : ce n'est pas une archive cabinet."},
        ProblemCase{"no page",
                    [](const std::string &p) { BuildCabinet(p, {{"content.ini", kIni}}); },
                    {{"no-page", ""}}, "Le modèle n'a pas de page (Flavor.htm)"},
        ProblemCase{"an empty cabinet", [](const std::string &p) { WriteFile(p, RawCabinet({})); },
                    {{"no-page", ""}, {"no-description", ""}}, nullptr},
        ProblemCase{"pictures the page names and the template lacks",
                    [](const std::string &p) {
                      BuildCabinet(p, WithPage(
                          "<body background='IMAGES/Fond.GIF'><TD id=PLUMORATEXTREGION style="
                          "\"FONT-FAMILY: DejaVu Sans\"><img src=\"images/absente.png\">"
                          "<img src='images/absente.png?x'><img src='http://a/b.gif'>"
                          "<img src='images/photo.jpg'><img src='cid:x'>"
                          "<p style=\"background: url('cadre%20bleu.gif')\">"
                          "<style>td { background-image: url(style.png) }</style>"));
                    },
                    {{"missing-picture", "images/absente.png"},
                     {"missing-picture", "cadre bleu.gif"},
                     {"missing-picture", "style.png"}},
                    "Image absente : images/absente.png"},
        ProblemCase{"a font that is not installed",
                    [](const std::string &p) {
                      BuildCabinet(p, WithPage("<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: "
                                               "Comic Xyz\"><img src=images/fond.gif></TD>"));
                    },
                    {{"missing-font", "Comic Xyz"}}, "Police non installée : Comic Xyz"},
        ProblemCase{"beyond the limits",
                    [](const std::string &p) {
                      WriteFile(p, RawCabinet({{"Flavor.htm", std::string(64, 'x')}}));
                      // The file list claims a page above the limit.
                      std::string cab = ReadFile(p);
                      const size_t at = cab.find("Flavor.htm") - 16;
                      cab[at + 2] = '\x10'; // 17 MB
                      cab[at + 3] = '\x01';
                      WriteFile(p, cab);
                    },
                    {{"over-limits", ""}},
                    "Trop grand pour être affiché : sa page dépasse 16 Mo."},
        ProblemCase{"no description",
                    [](const std::string &p) {
                      auto f = Files();
                      f[0].data = " \r\n";
                      BuildCabinet(p, f);
                    },
                    {{"no-description", ""}}, "content.ini absent ou vide"}));

// ---- An earlier catalogue ------------------------------------------------------------

TEST_F(HealthTest, AVersion1CatalogueIsBroughtUpToDateNotThrownAway) {
  WriteFirst(tree + "/a.plm");
  WriteFirst(tree + "/b.plm");
  plm::ForceDirectories(dir / "cache");
  sqlite3 *h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  // The first version's schema, with its entries for the two templates as it wrote them.
  const std::string v1 =
      "CREATE TABLE templates(id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE, folder BLOB "
      "NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL, collection TEXT, display "
      "TEXT, trademark TEXT, font TEXT, font_installed INTEGER NOT NULL DEFAULT 0, title "
      "TEXT, failure TEXT);"
      "CREATE INDEX templates_folder ON templates(folder);"
      "CREATE INDEX templates_stamp ON templates(path, size, mtime);"
      "CREATE TABLE pictures(template INTEGER NOT NULL, name TEXT, type TEXT, bytes INTEGER, "
      "width INTEGER, height INTEGER);"
      "CREATE INDEX pictures_template ON pictures(template);"
      "CREATE VIRTUAL TABLE search USING fts5(name, collection, display, trademark, font, "
      "title, pictures, tokenize = \"unicode61 remove_diacritics 2\");"
      "PRAGMA application_id=1347177795; PRAGMA user_version=1;";
  ASSERT_EQ(sqlite3_exec(h, v1.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  for (const char *name : {"a.plm", "b.plm"}) {
    const std::string path = tree + "/" + name;
    const std::string row = "INSERT INTO templates(path, folder, size, mtime, collection) "
                            "VALUES(CAST('" + path + "' AS BLOB), CAST('" + tree +
                            "' AS BLOB), " + std::to_string(plm::FileSize(path)) +
                            ", 0, 'Ancien'); INSERT INTO search(rowid, name, collection) "
                            "VALUES(last_insert_rowid(), '" + name + "', 'Ancien');";
    ASSERT_EQ(sqlite3_exec(h, row.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  }
  sqlite3_close(h);

  TCatalogue c(db, Installed);
  plm::CatalogueQuery q;
  q.text = "ancien";
  q.folder = tree;
  EXPECT_EQ(c.Search(q).size(), 2u); // kept, and searchable before anything is read
  EXPECT_FALSE(c.InMemory());
  const auto s = c.Update({tree}, false);
  EXPECT_EQ(std::tie(s.read, s.unchanged), std::make_tuple(2u, 0u)); // read again, once
  EXPECT_EQ(c.Duplicates({tree}, false).size(), 1u);
  EXPECT_EQ(c.Update({tree}, false).unchanged, 2u);
  EXPECT_EQ(TCatalogue(db).Update({tree}, false).unchanged, 2u);
}

// ---- The trash step ------------------------------------------------------------------

TEST_F(HealthTest, TheTrashKeepsTheFirstOfEachGroupAndLeavesChangedOrSameFilesAlone) {
  plmtest::ScopedEnv env;
  env.Set("XDG_DATA_HOME", dir / "data"); // the desktop's trash, in the scratch folder
  // GLib reads the variable once per process: never the user's own trash.
  ASSERT_EQ(std::string(g_get_user_data_dir()), dir / "data");
  for (const char *name : {"a.plm", "b.plm", "c.plm", "d.plm"})
    WriteFirst(tree + "/" + name);
  ASSERT_EQ(::link((tree + "/a.plm").c_str(), (tree + "/e.plm").c_str()), 0); // a itself
  WriteFirst(tree + "/k/x.plm");
  WriteFirst(tree + "/k/y.plm");
  TCatalogue c(db, Installed);
  c.Update({tree}, true);
  auto groups = c.Duplicates({tree}, true);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].paths.size(), 7u);
  // Rewritten between the catalogue and the trash step, to the same size and time: its
  // content is read again.
  {
    auto f = Files();
    f[3].data[100] ^= 1;
    BuildCabinet(dir / "other.plm", f);
    const std::string stamp = dir / "stamp";
    ASSERT_EQ(cabtest::Run("touch -r " + ShellQuote(tree + "/c.plm") + " " + ShellQuote(stamp)), 0);
    WriteFile(tree + "/c.plm", ReadFile(dir / "other.plm"));
    ASSERT_EQ(cabtest::Run("touch -r " + ShellQuote(stamp) + " " + ShellQuote(tree + "/c.plm")), 0);
  }
  ASSERT_EQ(plm::FileSize(tree + "/c.plm"), int64_t(groups[0].stamps[2].size));
  // A second group whose kept member changed: nothing of it goes.
  groups.push_back(groups[0]);
  groups[1].paths = {tree + "/k/x.plm", tree + "/k/y.plm"};
  groups[1].stamps = {groups[0].stamps[5], groups[0].stamps[6]};
  groups[0].paths.resize(5);
  groups[0].stamps.resize(5);
  WriteFile(tree + "/k/x.plm", "changed");

  // Stopped before it starts, it moves nothing.
  const std::atomic<bool> stopped{true};
  EXPECT_TRUE(plm::TrashDuplicates(groups, plm::MoveToTrash, {}, &stopped).trashed.empty());
  EXPECT_TRUE(plm::FileExists(tree + "/b.plm"));

  std::vector<std::pair<size_t, size_t>> heard;
  const auto report = plm::TrashDuplicates(
      groups, plm::MoveToTrash, [&](size_t done, size_t total) { heard.emplace_back(done, total); });
  // Every file looked at is counted, whether it went or not; the kept ones are not.
  EXPECT_EQ(heard, (std::vector<std::pair<size_t, size_t>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
  EXPECT_EQ(report.trashed, (std::vector<std::string>{tree + "/b.plm", tree + "/d.plm"}));
  std::map<std::string, std::string> left(report.leftAlone.begin(), report.leftAlone.end());
  EXPECT_EQ(left.size(), 3u);
  EXPECT_EQ(left[tree + "/c.plm"], "Le modèle a changé depuis le catalogue.");
  EXPECT_EQ(left[tree + "/e.plm"], "C'est le même fichier que le modèle gardé.");
  EXPECT_EQ(left[tree + "/k/y.plm"], "Le modèle gardé a changé depuis le catalogue.");
  for (const char *kept : {"a.plm", "c.plm", "e.plm", "k/x.plm", "k/y.plm"})
    EXPECT_TRUE(plm::FileExists(tree + "/" + kept)) << kept;
  for (const char *gone : {"b.plm", "d.plm"}) {
    EXPECT_FALSE(plm::FileExists(tree + "/" + gone)) << gone;
    EXPECT_TRUE(plm::FileExists(dir / "data/Trash/files/" + gone)) << gone; // restorable
  }
  // Once more, from the catalogue brought up to date: k/y is now a's copy, e still a.
  c.Update({tree}, true);
  const auto again = plm::TrashDuplicates(c.Duplicates({tree}, true), plm::MoveToTrash);
  EXPECT_EQ(again.trashed, (std::vector<std::string>{tree + "/k/y.plm"}));
  EXPECT_TRUE(plm::FileExists(tree + "/a.plm") && plm::FileExists(tree + "/e.plm"));
}

// ---- The command line ----------------------------------------------------------------

class PlmtoolHealth : public HealthTest {
protected:
  int Tool(const std::string &args, std::string *out = nullptr, std::string *err = nullptr) {
    const std::string outFile = dir / "out.txt", errFile = dir / "err.txt";
    const int rc = cabtest::Run("XDG_CACHE_HOME=" + ShellQuote(dir / "xdg") + " " PLM_BIN_DIR
                       "/plmtool " + args + " > " + ShellQuote(outFile) + " 2> " +
                       ShellQuote(errFile));
    if (out) *out = ReadFile(outFile);
    if (err) *err = ReadFile(errFile);
    return rc;
  }
};

TEST_F(PlmtoolHealth, DuplicatesAndCheckPrintLinesOrJsonAndExitByWhatTheyFound) {
  const std::string odd = "caf\xE9.plm"; // not UTF-8
  WriteFirst(tree + "/a.plm");
  WriteFirst(tree + "/sub/" + odd);
  WriteFile(tree + "/sub/broken.plm", "not a cabinet");
  std::string out, err;
  EXPECT_EQ(Tool("duplicates " + ShellQuote(tree), &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Tool("duplicates -r " + ShellQuote(tree), &out), 0);
  EXPECT_EQ(out, tree + "/a.plm\n" + tree + "/sub/" + odd + "\n");
  EXPECT_EQ(Tool("duplicates --recursive --json " + ShellQuote(tree), &out), 0);
  EXPECT_NE(out.find("\"paths\":[\"" + tree + "/a.plm\",{\"path\":\"" + tree +
                     "/sub/café.plm\",\"path_hex\":\""),
            std::string::npos)
      << out;
  EXPECT_EQ(out.rfind("{\"groups\":[{\"fingerprint\":\"", 0), 0u) << out;
  EXPECT_NE(out.find("],\"size\":" +
                     std::to_string(kIni.size() + kPage.size() + kGif.size() + kPhoto.size()) +
                     "}]}\n"),
            std::string::npos)
      << out;

  BuildCabinet(dir / "sain.plm", {{"content.ini", kIni}, {"Flavor.htm", "<p>ok</p>"}});
  EXPECT_EQ(Tool("check " + ShellQuote(dir / "sain.plm"), &out, &err), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "1 templates checked, 0 with problems\n");
  EXPECT_EQ(Tool("check -r " + ShellQuote(tree), &out, &err), 1);
  EXPECT_NE(out.find(tree + "/sub/broken.plm\tdamaged\tFichier endommagé ou qui n'est pas un "
                            "modèle : "),
            std::string::npos)
      << out;
  EXPECT_NE(err.find("3 templates checked"), std::string::npos) << err;
  EXPECT_EQ(Tool("check --json " + ShellQuote(tree + "/sub/broken.plm"), &out), 1);
  EXPECT_EQ(out.rfind("{\"templates\":[{\"path\":\"" + tree +
                          "/sub/broken.plm\",\"problems\":[{\"code\":\"damaged\",\"text\":",
                      0),
            0u)
      << out;
  EXPECT_NE(out.find("\"name\":null}]}]}\n"), std::string::npos) << out;
  for (const char *usage : {"duplicates", "duplicates --bogus x", "check", "check -x y",
                            "duplicates /nonexistent-folder", "check /nonexistent"})
    EXPECT_EQ(Tool(usage), 2) << usage;
}

} // namespace
