#include "platform/DisplayText.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <QString>
#include <gtest/gtest.h>

#include <map>

using namespace plm;

TEST(Paths, AddBackslashOnlyWhenMissing) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("/tmp"), "/tmp/");
  EXPECT_EQ(AddBackslash("/tmp/"), "/tmp/");
}

TEST(Paths, JoinPathKeepsExactlyOneSeparatorAtEachSeam) {
  EXPECT_EQ(JoinPath({"/a/", "/b"}), "/a/b");
  EXPECT_EQ(JoinPath({"/a", "b"}), "/a/b");
  EXPECT_EQ(JoinPath({"/a/", "b"}), "/a/b");
  EXPECT_EQ(JoinPath({"", "b", "", "c/"}), "b/c/");
  EXPECT_EQ(JoinPath({"", ""}), "");
  // Only one separator is dropped at a seam: a doubled one in a piece stays.
  EXPECT_EQ(JoinPath({"/a/", "//b"}), "/a//b");
}

TEST(Paths, NameParts) {
  EXPECT_EQ(ExtractFilePath("/x/y/my.letter.plm"), "/x/y/");
  EXPECT_EQ(ExtractFileName("/x/y/my.letter.plm"), "my.letter.plm");
  EXPECT_EQ(ExtractFileExt("/x/y.d/name"), "");
  EXPECT_EQ(ExtractFileExt("/x/y/my.letter.plm"), ".plm");
  EXPECT_EQ(ChangeFileExt("/x.d/image1.dat", ".GIF"), "/x.d/image1.GIF");
  EXPECT_EQ(ChangeFileExt("/x.d/image1", ".GIF"), "/x.d/image1.GIF");
}

TEST(Paths, DriveIsTheRootOrTheServer) {
  EXPECT_EQ(ExtractFileDrive("/home/u"), "/");
  EXPECT_EQ(ExtractFileDrive("//server/share/x"), "//server/");
  EXPECT_EQ(ExtractFileDrive("rel/x"), "");
}

TEST(Paths, ExpandFileNameResolvesDotsAndRelativePaths) {
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/../.."), "/");
  EXPECT_EQ(ExpandFileName("x"), JoinPath({GetCurrentDir(), "x"}));
}

TEST(Strings, DisplayTakesUtf8OrElseWindows1252) {
  EXPECT_EQ(ToDisplay("caf\xc3\xa9"), QString::fromUtf8("café"));
  EXPECT_EQ(ToDisplay("caf\xe9"), QString::fromUtf8("café"));
  EXPECT_EQ(ToDisplay("\x80"), QString(QChar(0x20AC)));
  EXPECT_EQ(Cp1252ToUtf8("\x93ok\x94"), "\xe2\x80\x9cok\xe2\x80\x9d");
  for (const char *s : {"caf\xc3\xa9", "caf\xe9 \x80", "\xc0\x80"})
    EXPECT_EQ(ToDisplayUtf8(s), ToDisplay(s).toStdString()) << s;
  EXPECT_FALSE(IsValidUtf8("\xc0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xe2\x82"));      // cut short
  EXPECT_TRUE(IsValidUtf8("\xf0\x9f\x98\x80"));
}

TEST(Strings, EveryWindows1252ByteBecomesOneCharacter) {
  // One code point each: Latin-1 outside 0x80..0x9F, the code page's own characters
  // inside, U+FFFD for the five codes that it leaves unassigned.
  const std::map<int, char16_t> high = {{0x80, 0x20AC}, {0x81, 0xFFFD}, {0x8A, 0x0160},
                                        {0x8D, 0xFFFD}, {0x8F, 0xFFFD}, {0x90, 0xFFFD},
                                        {0x99, 0x2122}, {0x9D, 0xFFFD}, {0x9F, 0x0178}};
  for (int b = 0; b < 256; ++b) {
    const std::string utf8 = Cp1252ToUtf8(std::string(1, char(b)));
    ASSERT_TRUE(IsValidUtf8(utf8)) << b;
    const QString q = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    ASSERT_EQ(q.size(), 1) << b;
    if (b < 0x80 || b >= 0xA0)
      EXPECT_EQ(q[0].unicode(), char16_t(b)) << b;
    else if (high.count(b))
      EXPECT_EQ(q[0].unicode(), high.at(b)) << b;
    else
      EXPECT_GE(q[0].unicode(), 0x100) << b;
  }
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0\xe9", 3)), std::string("a\0\xc3\xa9", 4));
}

TEST(Strings, CaseAndTrim) {
  EXPECT_TRUE(SameText("Flavor.HTM", "flavor.htm"));
  EXPECT_FALSE(SameText("flavor.htm", "flavor.html"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  Arial "), "Arial ");
  EXPECT_EQ(TrimRight("  Arial \x01"), "  Arial");
}

TEST(FileSys, DosTimeRejectsImpossibleDates) {
  std::time_t t;
  EXPECT_FALSE(DosDateTimeToTime(0, 0, t)); // day 0, month 0
  // 2020-06-15 10:30:20
  const uint16_t date = uint16_t(((2020 - 1980) << 9) | (6 << 5) | 15);
  const uint16_t time = uint16_t((10 << 11) | (30 << 5) | 10);
  ASSERT_TRUE(DosDateTimeToTime(date, time, t));
  std::tm *tm = std::localtime(&t);
  EXPECT_EQ(tm->tm_year + 1900, 2020);
  EXPECT_EQ(tm->tm_hour, 10);
  EXPECT_EQ(tm->tm_sec, 20);
}
