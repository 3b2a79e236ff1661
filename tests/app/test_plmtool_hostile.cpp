// plmtool preview on hostile templates: refused with a message and exit 1, and nothing
// of the template left in the output folder, whatever names its files carry.
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/TempFolder.h"
#include "samples/HostileCabinets.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

using namespace plm;

namespace {

struct ToolRun {
  int rc = -1;
  std::string err;
};

ToolRun Preview(const std::string &tpl, const std::string &out, const std::string &scratch) {
  const std::string errFile = scratch + "/stderr.txt";
  const std::string cmd = std::string(PLM_BIN_DIR) + "/plmtool preview '" + tpl + "' '" + out +
                          "' >/dev/null 2>'" + errFile + "'";
  ToolRun r;
  const int status = std::system(cmd.c_str());
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ReadFileBytes(errFile, r.err);
  return r;
}

class PlmtoolHostile : public ::testing::Test {
protected:
  std::string Put(const std::string &name, const std::string &bytes) {
    const std::string path = fRoot.Path() + "/" + name;
    EXPECT_EQ(WriteFileBytes(path, bytes), 0);
    return path;
  }
  TTempFolder fRoot{"plm-tool-hostile-"};
};

// Flagged as UTF-8 without being so: written byte for byte, a name no QString keeps.
const std::string kBadName = "caf\xe9\xff.gif";

} // namespace

TEST_F(PlmtoolHostile, ABombIsRefusedAndLeavesNothing) {
  const std::string bomb =
      Put("bomb.plm", samples::ZeroBombCabinet({{"Flavor.htm", "<HTML></HTML>"},
                                                {kBadName, "GIF89a", 0, 0xA0},
                                                {"huge.bmp", "", 400ull << 20}}));
  // Into a folder that did not exist: it is not left behind either.
  ToolRun r = Preview(bomb, fRoot.Path() + "/new", fRoot.Path());
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "plmtool: Le modèle \"bomb.plm\" est refusé : ses fichiers dépassent 256 Mo une fois "
                   "décompressés.\n");
  EXPECT_FALSE(DirectoryExists(fRoot.Path() + "/new"));
  // Into a folder of the user's: what was there stays, nothing is added.
  ASSERT_TRUE(ForceDirectories(fRoot.Path() + "/mine"));
  Put("mine/notes.txt", "mine");
  r = Preview(bomb, fRoot.Path() + "/mine", fRoot.Path());
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(ListDirectory(fRoot.Path() + "/mine"), std::vector<std::string>{"notes.txt"});

  const std::string page = Put("page.plm", samples::ZeroBombCabinet({{"Flavor.htm", "", 20 << 20}}));
  r = Preview(page, fRoot.Path() + "/mine", fRoot.Path());
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "plmtool: Le modèle \"page.plm\" est refusé : sa page dépasse 16 Mo.\n");
  EXPECT_EQ(ListDirectory(fRoot.Path() + "/mine"), std::vector<std::string>{"notes.txt"});
}

TEST_F(PlmtoolHostile, AFailedTemplateLeavesNoneOfItsFilesWhateverTheirNames) {
  // No page: the step fails after every file was unpacked.
  const std::string tpl = Put("nopage.plm", samples::StoredCabinet({{kBadName, "GIF89a", 0, 0xA0},
                                                                   {"sub\\" + kBadName, "x", 0, 0xA0},
                                                                   {"content.ini", "[General]"}}));
  ASSERT_TRUE(ForceDirectories(fRoot.Path() + "/out"));
  const ToolRun r = Preview(tpl, fRoot.Path() + "/out", fRoot.Path());
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err.rfind("plmtool: Impossible d'ouvrir le fichier", 0), 0u) << r.err;
  EXPECT_TRUE(ListDirectory(fRoot.Path() + "/out").empty());
}

TEST_F(PlmtoolHostile, ASucceededTemplateIsMovedIntoTheOutputFolderWholeAndNamesKept) {
  const std::string tpl = Put("ok.plm", samples::StoredCabinet({{"Flavor.htm", "<HTML>"},
                                                               {kBadName, "GIF89a", 0, 0xA0},
                                                               {"sub\\" + kBadName, "x", 0, 0xA0}}));
  const std::string out = fRoot.Path() + "/out";
  ASSERT_TRUE(ForceDirectories(out + "/sub"));
  Put("out/sub/other.txt", "kept");
  Put("out/Flavor.htm", "old page");
  const ToolRun r = Preview(tpl, out, fRoot.Path());
  ASSERT_EQ(r.rc, 0) << r.err;
  auto names = ListDirectory(out);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Flavor.htm", kBadName, "sub"}));
  auto sub = ListDirectory(out + "/sub");
  std::sort(sub.begin(), sub.end());
  EXPECT_EQ(sub, (std::vector<std::string>{kBadName, "other.txt"}));
  std::string page;
  ASSERT_TRUE(ReadFileBytes(out + "/Flavor.htm", page));
  EXPECT_NE(page.find("Texte exemple"), std::string::npos);
}
