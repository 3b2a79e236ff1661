// Copies and replacements either complete or leave everything as it was.
#include "platform/FileCopy.h"
#include "platform/FileSys.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace plm;

namespace {

std::string Read(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
void Write(const fs::path &p, const std::string &text) {
  std::ofstream(p, std::ios::binary) << text;
}
// Entries of the folder other than the expected ones (left-over temporary files).
std::vector<std::string> Others(const fs::path &dir, std::initializer_list<std::string> known) {
  std::vector<std::string> out;
  for (const auto &e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (std::find(known.begin(), known.end(), n) == known.end()) out.push_back(n);
  }
  return out;
}

class FileCopyTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    dir = fs::path(tmp.path().toStdString());
    src = dir / "src.gif";
    Write(src, std::string("GIF89a\0\1\2binary", 15));
  }
  std::string P(const char *name) const { return (dir / name).string(); }
  QTemporaryDir tmp;
  fs::path dir, src;
};

} // namespace

TEST_F(FileCopyTest, CopyKeepsBytesTimeAndReadOnlyState) {
  SetFileModTime(src.string(), 1000000000);
  FileSetAttr(src.string(), FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(CopyFileBytes(src.string(), P("copy.GIF"), true), 0);
  EXPECT_EQ(Read(dir / "copy.GIF"), Read(src));
  EXPECT_EQ(FileModTime(P("copy.GIF")), 1000000000);
  EXPECT_TRUE(FileGetAttr(P("copy.GIF")) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(Others(dir, {"src.gif", "copy.GIF"}).empty());
}

TEST_F(FileCopyTest, ExistingTargetRefusedOrReplaced) {
  Write(dir / "t.gif", "old");
  EXPECT_EQ(CopyFileBytes(src.string(), P("t.gif"), true), EEXIST);
  EXPECT_EQ(Read(dir / "t.gif"), "old");
  ASSERT_EQ(CopyFileBytes(src.string(), P("t.gif"), false), 0);
  EXPECT_EQ(Read(dir / "t.gif"), Read(src));
  EXPECT_TRUE(Others(dir, {"src.gif", "t.gif"}).empty());
}

TEST_F(FileCopyTest, NeverWritesThroughALinkAtTheTarget) {
  fs::create_directory(dir / "outside");
  fs::create_symlink(dir / "outside/planted", dir / "t.gif"); // dangling
  EXPECT_EQ(CopyFileBytes(src.string(), P("t.gif"), true), EEXIST);
  EXPECT_FALSE(fs::exists(dir / "outside/planted"));
  EXPECT_TRUE(fs::is_symlink(dir / "t.gif"));
}

TEST_F(FileCopyTest, FailuresLeaveNothingBehind) {
  fs::create_directory(dir / "a-folder");
  Write(dir / "a-folder/inside", "x");
  EXPECT_EQ(CopyFileBytes(src.string(), P("a-folder"), false), EISDIR); // target is a folder
  EXPECT_EQ(Read(dir / "a-folder/inside"), "x");
  EXPECT_EQ(CopyFileBytes(src.string(), P("missing-folder/t.gif"), false), ENOENT);
  EXPECT_EQ(CopyFileBytes(P("no-such-source"), P("t.gif"), false), ENOENT);
  EXPECT_EQ(CopyFileBytes(P("a-folder"), P("t.gif"), false), EISDIR); // source is a folder
  EXPECT_EQ(CopyFileBytes("", P("t.gif"), false), ENOENT);
  EXPECT_TRUE(Others(dir, {"src.gif", "a-folder"}).empty());
}

TEST_F(FileCopyTest, WriteReplacingSwapsTheWholeFile) {
  Write(dir / "snap.jpg", "previous snapshot");
  const std::string data(100000, '\xAB');
  ASSERT_EQ(WriteFileBytes(P("snap.jpg"), data), 0);
  EXPECT_EQ(Read(dir / "snap.jpg"), data);
  ASSERT_EQ(WriteFileBytes(P("empty.jpg"), ""), 0);
  EXPECT_EQ(fs::file_size(dir / "empty.jpg"), 0u);
  // A scratch file (not flushed) is replaced whole all the same.
  Write(dir / "Flavor.htm", std::string(5000, 'x'));
  ASSERT_EQ(WriteScratchFileBytes(P("Flavor.htm"), "<HTML>"), 0);
  EXPECT_EQ(Read(dir / "Flavor.htm"), "<HTML>");
  EXPECT_TRUE(Others(dir, {"src.gif", "snap.jpg", "empty.jpg", "Flavor.htm"}).empty());
}

TEST_F(FileCopyTest, WriteReplacingFailsCleanly) {
  fs::create_directory(dir / "snap.jpg");
  EXPECT_EQ(WriteFileBytes(P("snap.jpg"), "x"), EISDIR);
  EXPECT_TRUE(fs::is_directory(dir / "snap.jpg"));
  EXPECT_EQ(WriteFileBytes(P("gone/snap.jpg"), "x"), ENOENT);
  EXPECT_TRUE(Others(dir, {"src.gif", "snap.jpg"}).empty());
}

TEST_F(FileCopyTest, ReplacingFileChangesNothingUntilCommitted) {
  Write(dir / "t.cab", "old");
  fs::permissions(dir / "t.cab", fs::perms(0640));
  {
    TReplacingFile f;
    ASSERT_EQ(f.Open(P("t.cab")), 0);
    ASSERT_EQ(f.Write("half", 4), 0);
    EXPECT_EQ(Read(dir / "t.cab"), "old");
  } // never committed: dropped
  EXPECT_EQ(Read(dir / "t.cab"), "old");
  EXPECT_TRUE(Others(dir, {"src.gif", "t.cab"}).empty());

  TReplacingFile f;
  ASSERT_EQ(f.Open(P("t.cab")), 0);
  ASSERT_EQ(f.Write("new", 3), 0);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_EQ(Read(dir / "t.cab"), "old");
  ASSERT_EQ(f.Commit(), 0);
  EXPECT_EQ(Read(dir / "t.cab"), "new");
  EXPECT_EQ(fs::status(dir / "t.cab").permissions(), fs::perms(0640));
  EXPECT_TRUE(Others(dir, {"src.gif", "t.cab"}).empty());

  // A read-only target is refused, whoever runs the program.
  fs::permissions(dir / "t.cab", fs::perms(0444));
  EXPECT_EQ(f.Open(P("t.cab")), EACCES);
  EXPECT_EQ(WriteFileBytes(P("t.cab"), "x"), EACCES);
  EXPECT_EQ(Read(dir / "t.cab"), "new");
}

TEST_F(FileCopyTest, ANewFileNeverTakesTheNameOfOneThatAppearedMeanwhile) {
  TReplacingFile f;
  ASSERT_EQ(f.Open(P("t.gif"), true), 0);
  ASSERT_EQ(f.Write("mine", 4), 0);
  Write(dir / "t.gif", "theirs");
  EXPECT_EQ(f.Commit(), EEXIST);
  EXPECT_EQ(Read(dir / "t.gif"), "theirs");
  EXPECT_TRUE(Others(dir, {"src.gif", "t.gif"}).empty());
}
