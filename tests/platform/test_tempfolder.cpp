// A temporary folder goes with its object, and with its program however that ends: its
// watcher removes it, names byte for byte, links removed and never followed.
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

using namespace plm;

namespace {

// Fills a folder with what a hostile template leaves: a name that is not UTF-8, a
// sub-folder, and links out of the folder.
void Fill(const std::string &folder, const std::string &outside) {
  WriteFileBytes(folder + "/caf\xe9\xff.gif", "x");
  ForceDirectories(folder + "/sub/deeper");
  WriteFileBytes(folder + "/sub/deeper/\x80\x81", "x");
  ::symlink(outside.c_str(), (folder + "/dir-link").c_str());
  ::symlink((outside + "/keep.txt").c_str(), (folder + "/sub/file-link").c_str());
}

class TempFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plm-tempfolder-XXXXXX";
    fBase = ::mkdtemp(tmpl);
    fOutside = fBase + "/outside";
    ForceDirectories(fOutside);
    WriteFileBytes(fOutside + "/keep.txt", "keep");
    ForceDirectories(fBase + "/in");
  }
  void TearDown() override { std::system(("rm -rf '" + fBase + "'").c_str()); }
  void ExpectOutsideKept() {
    std::string s;
    EXPECT_TRUE(ReadFileBytes(fOutside + "/keep.txt", s));
    EXPECT_EQ(s, "keep");
  }
  std::string fBase, fOutside;
};

} // namespace

TEST_F(TempFolderTest, GoesWithItsObject) {
  std::string path;
  {
    TTempFolder t("tool-", fBase + "/in");
    path = t.Path();
    EXPECT_EQ(path.rfind(fBase + "/in/tool-", 0), 0u);
    EXPECT_EQ(path.size(), (fBase + "/in/tool-").size() + 6);
    EXPECT_EQ(FileGetAttr(path) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    Fill(path, fOutside);
  }
  EXPECT_FALSE(DirectoryExists(path));
  EXPECT_TRUE(ListDirectory(fBase + "/in").empty());
  ExpectOutsideKept();

  TTempFolder t("tool-", fBase + "/in");
  Fill(t.Path(), fOutside);
  EXPECT_TRUE(t.Remove());
  EXPECT_TRUE(t.Remove());
  EXPECT_TRUE(ListDirectory(fBase + "/in").empty());
  EXPECT_THROW(TTempFolder("x-", fBase + "/missing/folder"), EOSError);
}

TEST_F(TempFolderTest, GoesWithItsProgramWhateverEndsIt) {
  // This test takes the orphaned watchers in, so that their end can be awaited.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (const int sig : {SIGINT, SIGTERM, SIGKILL, 0}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TTempFolder t("tool-", fBase + "/in");
      Fill(t.Path(), fOutside);
      if (sig) ::kill(::getpid(), sig);
      std::_Exit(3); // no destructor: the watcher alone removes it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (sig)
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    else
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    // The watcher, now ours, ends once it has done its work.
    while (::waitpid(-1, &status, 0) > 0) {
    }
    EXPECT_TRUE(ListDirectory(fBase + "/in").empty()) << sig;
    ExpectOutsideKept();
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST_F(TempFolderTest, MergeMovesEntriesWithoutFollowingLinks) {
  const std::string from = fBase + "/from", to = fBase + "/to";
  ForceDirectories(from + "/sub");
  ForceDirectories(to + "/sub");
  WriteFileBytes(from + "/caf\xe9.gif", "new");
  WriteFileBytes(from + "/sub/a.txt", "new a");
  WriteFileBytes(to + "/caf\xe9.gif", "old");
  WriteFileBytes(to + "/sub/b.txt", "old b");
  EXPECT_TRUE(MergeFolderInto(from, to));
  std::string s;
  EXPECT_TRUE(ReadFileBytes(to + "/caf\xe9.gif", s) && s == "new");
  EXPECT_TRUE(ReadFileBytes(to + "/sub/a.txt", s) && s == "new a");
  EXPECT_TRUE(ReadFileBytes(to + "/sub/b.txt", s) && s == "old b");
  // A folder never merges into a link to one, nor a file into a folder.
  ForceDirectories(from + "/linked");
  WriteFileBytes(from + "/linked/x.txt", "x");
  ::symlink(fOutside.c_str(), (to + "/linked").c_str());
  EXPECT_FALSE(MergeFolderInto(from, to));
  EXPECT_FALSE(FileExists(fOutside + "/x.txt"));
  ExpectOutsideKept();
}
