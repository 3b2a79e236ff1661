// Settings files and line lists: the INI semantics the viewer's settings and the
// template's "content.ini" rely on, and the line splitting of the template page.
#include "platform/Exceptions.h"
#include "platform/IniFile.h"
#include "platform/LineList.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace plm;

namespace {

class TempFolder {
public:
  TempFolder() {
    char tmpl[] = "/tmp/plm-ini-XXXXXX";
    fPath = ::mkdtemp(tmpl);
  }
  ~TempFolder() { std::system(("rm -rf '" + fPath + "'").c_str()); }
  std::string File(const std::string &name) const { return fPath + "/" + name; }
  const std::string &Path() const { return fPath; }

private:
  std::string fPath;
};

std::string Slurp(const std::string &path) {
  std::string s;
  EXPECT_TRUE(ReadFileBytes(path, s));
  return s;
}

void Put(const std::string &path, const std::string &data) {
  ASSERT_EQ(WriteFileBytes(path, data), 0);
}

} // namespace

TEST(IniFile, ReadsIgnoringCaseAndSurroundingBlanks) {
  TempFolder t;
  Put(t.File("a.ini"), "  [ general ]\r\n  LastFolder  =  /home/u/Lettres  \r\n"
                       "SavePath=\r\n[TradeMark]\r\nTradeMark=ACME\t\r\n");
  TIniFile ini(t.File("a.ini"));
  EXPECT_EQ(ini.ReadString("GENERAL", "lastfolder", "x"), "/home/u/Lettres");
  EXPECT_EQ(ini.ReadString("General", "SavePath", "dflt"), "");
  EXPECT_EQ(ini.ReadString("General", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("Nope", "LastFolder", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("trademark", "TRADEMARK", ""), "ACME");
  // A key is looked for in its own section only.
  EXPECT_EQ(ini.ReadString("General", "TradeMark", "none"), "none");
}

TEST(IniFile, MissingOrUnreadableFileGivesDefaults) {
  TempFolder t;
  TIniFile missing(t.File("none.ini"));
  EXPECT_EQ(missing.ReadString("General", "Collection", "Unknowed"), "Unknowed");
  EXPECT_TRUE(missing.ReadSection("General").empty());
  EXPECT_FALSE(missing.SectionExists("General"));
  TIniFile folder(t.Path()); // a folder in place of the file
  EXPECT_EQ(folder.ReadString("General", "Collection", "Unknowed"), "Unknowed");
}

TEST(IniFile, KeysComeInFileOrderAndFirstDuplicateWins) {
  TempFolder t;
  Put(t.File("a.ini"), "[ListUsualFolder]\nFolder0=/a  \nFolder7=/b\n; a comment\n"
                       "no equals sign\nfolder0=/dup\n[Other]\nFolder9=/c\n");
  TIniFile ini(t.File("a.ini"));
  const auto keys = ini.ReadSection("listusualfolder");
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], "Folder0");
  EXPECT_EQ(keys[1], "Folder7");
  EXPECT_EQ(keys[2], "folder0");
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "FOLDER0", ""), "/a");
  const auto values = ini.ReadSectionValues("ListUsualFolder");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[1], "Folder7=/b");
  const auto sections = ini.ReadSections();
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[1], "Other");
}

TEST(IniFile, WritesReachTheDiskAndKeepOtherLines) {
  TempFolder t;
  const std::string f = t.File("s.ini");
  TIniFile ini(f);
  ini.WriteString("General", "LastFolder", "/x");
  EXPECT_EQ(Slurp(f), "[General]\nLastFolder=/x\n");
  ini.WriteString("general", "LASTFOLDER", "/y");
  ini.WriteString("ListUsualFolder", "Folder0", "/a");
  ini.WriteString("General", "SavePath", "/s/");
  // A second reader sees every write at once: nothing waits in a cache.
  TIniFile other(f);
  EXPECT_EQ(other.ReadString("General", "LastFolder", ""), "/y");
  EXPECT_EQ(Slurp(f), "[General]\nLastFolder=/y\nSavePath=/s/\n[ListUsualFolder]\nFolder0=/a\n");
}

TEST(IniFile, KeepsBytesLineEndingsCommentsAndBlankSeparators) {
  TempFolder t;
  const std::string f = t.File("s.ini");
  Put(f, "; "
         "settings\r\n[General]\r\nLastFolder=/d\xe9j\xe0\r\n\r\n[ListUsualFolder]\r\nFolder0=\"/"
         "q\"\r\n");
  TIniFile ini(f);
  EXPECT_EQ(ini.ReadString("General", "LastFolder", ""), "/d\xe9j\xe0");
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder0", ""), "\"/q\"");
  ini.WriteString("General", "SavePath", "/\xe9t\xe9/");
  EXPECT_EQ(Slurp(f),
            "; settings\r\n[General]\r\nLastFolder=/d\xe9j\xe0\r\nSavePath=/\xe9t\xe9/\r\n"
            "\r\n[ListUsualFolder]\r\nFolder0=\"/q\"\r\n");
}

TEST(IniFile, EraseSectionAndDeleteKey) {
  TempFolder t;
  const std::string f = t.File("s.ini");
  Put(f, "[General]\nLastFolder=/x\n[ListUsualFolder]\nFolder0=/a\nFolder2=/c\n[Tail]\nk=v\n");
  TIniFile ini(f);
  EXPECT_TRUE(ini.SectionExists("ListUsualFolder"));
  ini.EraseSection("listusualfolder");
  EXPECT_FALSE(ini.SectionExists("ListUsualFolder"));
  EXPECT_EQ(Slurp(f), "[General]\nLastFolder=/x\n[Tail]\nk=v\n");
  ini.EraseSection("Missing"); // nothing happens
  ini.DeleteKey("tail", "K");
  EXPECT_FALSE(ini.ValueExists("Tail", "k"));
  EXPECT_TRUE(ini.ValueExists("general", "lastfolder"));
  // A section without keys does not "exist" for the settings rules.
  EXPECT_FALSE(ini.SectionExists("Tail"));
}

TEST(IniFile, FailedWritesRaiseTheFrenchMessageAndLoseNothing) {
  TempFolder t;
  const std::string missingDir = t.File("no/such/dir/s.ini");
  TIniFile a(missingDir);
  try {
    a.WriteString("General", "LastFolder", "/x");
    FAIL() << "no exception";
  } catch (const EIniFileException &e) {
    EXPECT_EQ(e.message(), "Impossible d'écrire dans " + missingDir);
  }
  // A read-only file (no write bit for anyone) is not written, even by root.
  const std::string ro = t.File("ro.ini");
  Put(ro, "[General]\nLastFolder=/old\n");
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  TIniFile b(ro);
  EXPECT_THROW(b.WriteString("General", "LastFolder", "/new"), EIniFileException);
  EXPECT_THROW(b.EraseSection("General"), EIniFileException);
  EXPECT_EQ(Slurp(ro), "[General]\nLastFolder=/old\n");
  // A line break would split the value into lines the file cannot give back.
  TIniFile c(t.File("c.ini"));
  EXPECT_THROW(c.WriteString("General", "LastFolder", "/a\nFolder0=/evil"), EIniFileException);
  EXPECT_THROW(c.WriteString("Gen]eral", "k", "v"), EIniFileException);
  EXPECT_THROW(c.WriteString("General", "k=j", "v"), EIniFileException);
}

TEST(IniFile, RewritingKeepsTheFileModeAndWritesThroughALink) {
  TempFolder t;
  const std::string f = t.File("s.ini");
  Put(f, "[General]\nLastFolder=/x\n");
  ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(f.c_str(), t.File("link.ini").c_str()), 0);
  TIniFile ini(t.File("link.ini"));
  ini.WriteString("General", "LastFolder", "/y");
  struct stat st;
  ASSERT_EQ(::lstat(t.File("link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Slurp(f), "[General]\nLastFolder=/y\n");
}

TEST(IniFile, IntegersAndBooleans) {
  TempFolder t;
  TIniFile ini(t.File("n.ini"));
  ini.WriteInteger("N", "a", -42);
  ini.WriteBool("N", "b", true);
  ini.WriteString("N", "c", "12abc");
  EXPECT_EQ(ini.ReadInteger("N", "a", 0), -42);
  EXPECT_TRUE(ini.ReadBool("N", "b", false));
  EXPECT_EQ(ini.ReadInteger("N", "c", 7), 7);
  EXPECT_EQ(ini.ReadInteger("N", "zz", 7), 7);
}

TEST(LineList, SplitsAtCrLfOrCrLfAndJoinsWithCrLf) {
  TLineList l;
  l.SetText("a\r\nb\nc\rd");
  ASSERT_EQ(l.Count(), 4u);
  EXPECT_EQ(l[0], "a");
  EXPECT_EQ(l[3], "d");
  EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n");
  l.SetText("x\r\n\r\ny\n"); // a blank line stays, the final break adds no line
  ASSERT_EQ(l.Count(), 3u);
  EXPECT_EQ(l[1], "");
  EXPECT_EQ(l.Text(), "x\r\n\r\ny\r\n");
  l.SetText("\n\r"); // LF then a lone CR: two empty lines
  EXPECT_EQ(l.Count(), 2u);
  l.SetText("");
  EXPECT_EQ(l.Count(), 0u);
  EXPECT_EQ(l.Text(), "");
  l.SetText(std::string("nul\0byte", 8)); // bytes are kept, a NUL included
  EXPECT_EQ(l[0].size(), 8u);
}

TEST(LineList, LoadAndSaveFilesOrRaise) {
  TempFolder t;
  const std::string f = t.File("Flavor.htm");
  Put(f, "<HTML>\n<BODY>\xe9</BODY>");
  TLineList l;
  l.LoadFromFile(f);
  ASSERT_EQ(l.Count(), 2u);
  l.SaveToFile(f);
  EXPECT_EQ(Slurp(f), "<HTML>\r\n<BODY>\xe9</BODY>\r\n");
  TLineList m;
  try {
    m.LoadFromFile(t.File("missing.htm"));
    FAIL() << "no exception";
  } catch (const EFOpenError &e) {
    EXPECT_NE(e.message().find("Impossible d'ouvrir le fichier"), std::string::npos);
    EXPECT_NE(e.message().find("missing.htm"), std::string::npos);
  }
  EXPECT_THROW(m.SaveToFile(t.File("no/dir/x.htm")), EFOpenError);
  EXPECT_THROW(m.LoadFromFile(t.Path()), EFOpenError); // a folder is no file
}
