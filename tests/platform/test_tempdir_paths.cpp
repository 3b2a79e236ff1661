// The private temporary folder, the preview-folder helpers, the settings-file location
// and the open-command lookup seam.
#include "platform/AppPaths.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/OpenCommand.h"
#include "platform/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

using namespace plm;

namespace {

class TempFolder {
public:
  TempFolder() {
    char tmpl[] = "/tmp/plm-tmp-XXXXXX";
    fPath = ::mkdtemp(tmpl);
  }
  ~TempFolder() { std::system(("chmod -R u+w '" + fPath + "'; rm -rf '" + fPath + "'").c_str()); }
  std::string File(const std::string &name) const { return fPath + "/" + name; }
  const std::string &Path() const { return fPath; }

private:
  std::string fPath;
};

// Sets an environment variable for the life of the object.
class EnvVar {
public:
  EnvVar(const char *name, const std::optional<std::string> &value) : fName(name) {
    if (const char *old = std::getenv(name)) fOld = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~EnvVar() {
    if (fOld)
      ::setenv(fName, fOld->c_str(), 1);
    else
      ::unsetenv(fName);
  }

private:
  const char *fName;
  std::optional<std::string> fOld;
};

unsigned ModeOf(const std::string &p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

void Touch(const std::string &p) { std::ofstream(p) << "x"; }

} // namespace

TEST(TempPath, DoubledSeparatorRuleRemovesOnlyTheFirstPair) {
  EXPECT_EQ(DropFirstDoubledSeparator("/tmp//"), "/tmp/");
  EXPECT_EQ(DropFirstDoubledSeparator("/a//b//"), "/a/b//");
  EXPECT_EQ(DropFirstDoubledSeparator("/a///"), "/a//");
  EXPECT_EQ(DropFirstDoubledSeparator("/tmp/"), "/tmp/");
}

TEST(TempPath, UsesAPrivateRuntimeFolderWithATrailingSeparator) {
  TempFolder t;
  ASSERT_EQ(::chmod(t.Path().c_str(), 0700), 0);
  EnvVar rt("XDG_RUNTIME_DIR", t.Path());
  EXPECT_EQ(UserTempDir(), t.Path() + "/");
}

TEST(TempPath, FallsBackToAPrivateFolderUnderTmpdir) {
  TempFolder t;
  TempFolder open;
  ASSERT_EQ(::chmod(open.Path().c_str(), 0755), 0); // not private: not used
  EnvVar rt("XDG_RUNTIME_DIR", open.Path());
  EnvVar tmp("TMPDIR", t.Path() + "/");
  const std::string expected = t.Path() + "/plmlooker-" + std::to_string(::getuid()) + "/";
  EXPECT_EQ(UserTempDir(), expected);
  EXPECT_EQ(ModeOf(expected), 0700u);
  // A folder of ours left with wider rights is narrowed again.
  ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
  EXPECT_EQ(UserTempDir(), expected);
  EXPECT_EQ(ModeOf(expected), 0700u);
}

TEST(TempPath, RefusesALinkPlantedInPlaceOfThePrivateFolder) {
  TempFolder t;
  TempFolder target;
  EnvVar rt("XDG_RUNTIME_DIR", std::nullopt);
  EnvVar tmp("TMPDIR", t.Path());
  const std::string planted = t.Path() + "/plmlooker-" + std::to_string(::getuid());
  ASSERT_EQ(::symlink(target.Path().c_str(), planted.c_str()), 0);
  EXPECT_THROW(UserTempDir(), EOSError);
  Touch(t.File("file"));
  EXPECT_THROW(MakePrivateFolder(t.File("file")), EOSError);
  EXPECT_THROW(MakePrivateFolder(t.File("no/such/parent")), EOSError);
}

TEST(PreviewFolder, DeletingEntriesNeverFollowsLinks) {
  TempFolder t;
  TempFolder outside;
  Touch(outside.File("keep.txt"));
  const std::string pv = t.File("~plmlook");
  MakePrivateFolder(pv);
  EXPECT_EQ(ModeOf(pv), 0700u);
  ASSERT_EQ(::symlink(outside.File("keep.txt").c_str(), (pv + "/filelink").c_str()), 0);
  ASSERT_EQ(::symlink(outside.Path().c_str(), (pv + "/dirlink").c_str()), 0);
  ASSERT_TRUE(CreateDir(pv + "/sub"));
  ASSERT_EQ(::symlink(outside.Path().c_str(), (pv + "/sub/deeplink").c_str()), 0);
  Touch(pv + "/sub/a.gif");
  for (const auto &n : ListDirectory(pv))
    EXPECT_TRUE(DeleteEntryNoFollow(pv + "/" + n)) << n;
  EXPECT_TRUE(ListDirectory(pv).empty());
  EXPECT_TRUE(FileExists(outside.File("keep.txt")));
  EXPECT_TRUE(DeleteEntryNoFollow(pv));
  EXPECT_FALSE(DirectoryExists(pv));
  EXPECT_TRUE(DeleteEntryNoFollow(pv)); // already gone
}

TEST(SettingsFile, OverrideAndExecutableFolderRule) {
  SetSettingsFileOverride("/x/y.ini");
  EXPECT_EQ(SettingsFileName(), "/x/y.ini");
  SetSettingsFileOverride("");
  // The test binary's folder is writable, so the file sits beside it.
  EXPECT_EQ(SettingsFileName(), ExecutableDir() + "plmlooker.ini");
  EXPECT_FALSE(ExecutableDir().empty());
  EXPECT_EQ(ExecutableDir().back(), '/');
  EnvVar home("HOME", "/home/someone/");
  EXPECT_EQ(HomeDir(), "/home/someone");
}

TEST(OpenCommand, SourceCanBeReplacedAndUnknownTypesGiveNothing) {
  auto old = SetOpenCommandSource([](const std::string &n) { return "mailer %f " + n; });
  EXPECT_EQ(OpenCommandFor("test.plm"), "mailer %f test.plm");
  SetOpenCommandSource(old);
  // No desktop registers this made-up type.
  EXPECT_EQ(OpenCommandFor("test.zzqxplm"), "");
}
