// Path reduction, roots and file masks.
#include "shelltree/PathMask.h"
#include "tests/shelltree/ShellFixture.h"

#include <unistd.h>

using namespace plm;

class PathHelpers : public shelltest::TempTree {};

TEST_F(PathHelpers, NormalizeKeepsAFolderAndReducesEverythingElseToItsDeepestFolder) {
  MakeDir("a");
  MakeDir("a/b");
  MakeFile("a/b/lettre.plm");
  EXPECT_EQ(NormalizePath(Path("a/b")), Path("a/b"));
  EXPECT_EQ(NormalizePath(Path("a/b/")), Path("a/b/"));
  EXPECT_EQ(NormalizePath(Path("a/b/lettre.plm")), Path("a/b/"));
  EXPECT_EQ(NormalizePath(Path("a/b/missing/deeper/x")), Path("a/b/"));
  EXPECT_EQ(NormalizePath(Path("a/missing/")), Path("a/"));
  EXPECT_EQ(NormalizePath("/no-such-top-folder/x"), "/");
}

TEST_F(PathHelpers, NormalizeRefusesTextsWithoutRootAndUnreachableServers) {
  EXPECT_EQ(NormalizePath(""), "");
  EXPECT_EQ(NormalizePath("relative/folder"), "");
  EXPECT_EQ(NormalizePath("."), "");
  // A network path whose share is not reachable here has no existing folder at all.
  EXPECT_EQ(NormalizePath("//no-such-server/share/folder"), "");
}

TEST_F(PathHelpers, NormalizeFollowsLinksToFolders) {
  MakeDir("real");
  MakeLink(Path("real"), "link");
  MakeLink(Path("gone"), "dangling");
  EXPECT_EQ(NormalizePath(Path("link")), Path("link"));
  EXPECT_EQ(NormalizePath(Path("dangling")), fRoot + "/");
}

TEST(PathRoot, AbsoluteNetworkAndRelativePaths) {
  EXPECT_EQ(PathRoot(""), "");
  EXPECT_EQ(PathRoot("/home/u/lettres"), "/");
  EXPECT_EQ(PathRoot("/"), "/");
  EXPECT_EQ(PathRoot("//serveur/partage/dossier"), "//serveur/");
  EXPECT_EQ(PathRoot("//serveur"), "//serveur");
  EXPECT_EQ(PathRoot("lettres/a.plm"), "");
  EXPECT_EQ(PathRoot("C:\\lettres"), ""); // no drive letters here
}

TEST_F(PathHelpers, DirExistsOnlyForFolders) {
  MakeDir("d");
  MakeFile("f");
  MakeLink(Path("d"), "ld");
  EXPECT_TRUE(DirExists(Path("d")));
  EXPECT_TRUE(DirExists(Path("ld")));
  EXPECT_FALSE(DirExists(Path("f")));
  EXPECT_FALSE(DirExists(Path("none")));
  EXPECT_FALSE(DirExists(""));
}

TEST(MatchMask, WildcardsAndCase) {
  EXPECT_TRUE(MatchMask("A.TXT", "*.txt"));
  EXPECT_TRUE(MatchMask("abc.txt", "a*.txt"));
  EXPECT_TRUE(MatchMask("ab", "a?"));
  EXPECT_FALSE(MatchMask("a", "a?"));
  EXPECT_FALSE(MatchMask("abc", "a?"));
  EXPECT_FALSE(MatchMask("readme", "*.*"));
  EXPECT_TRUE(MatchMask("read.me", "*.*"));
  EXPECT_TRUE(MatchMask("readme", "*"));
  EXPECT_TRUE(MatchMask("Lettre.PLM", "lettre.plm"));
  EXPECT_FALSE(MatchMask("lettre.plm2", "lettre.plm"));
  EXPECT_FALSE(MatchMask("x", ""));
  EXPECT_TRUE(MatchMask("abc", "a*"));
  EXPECT_TRUE(MatchMask("ÉTÉ.plm", "été.*")); // letters beyond ASCII ignore case too
  EXPECT_TRUE(MatchMask("été.plm", "?t?.plm")); // "?" is one character, not one byte
}

TEST(MatchMask, ARunAfterAStarTakesItsFirstOccurrence) {
  // No backtracking: "*a" takes the first "a" of "banana", so the name must end there.
  EXPECT_FALSE(MatchMask("banana", "*a"));
  EXPECT_TRUE(MatchMask("banana", "*a*"));
  EXPECT_TRUE(MatchMask("ab.txt", "*b.txt"));
  EXPECT_FALSE(MatchMask("b.txt.b.txt", "*b.txt"));
}

TEST(MatchesAnyMask, ListOrderAndEmptyList) {
  EXPECT_TRUE(MatchesAnyMask("anything", {}));
  EXPECT_TRUE(MatchesAnyMask("a.plm", {"*.txt", "*.plm"}));
  EXPECT_FALSE(MatchesAnyMask("a.jpg", {"*.txt", "*.plm"}));
}
