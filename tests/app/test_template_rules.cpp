// The rules that turn a template's page into the preview: where the font name is read,
// where the sample text goes, and which entries count as pictures.
#include "preview/TemplatePreview.h"

#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

using namespace plm;

namespace {

std::string Region(const std::string &style) {
  return "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION style=\"" + style +
         "\" vAlign=top>\r\n<DIV>old</DIV></TD></TR></TABLE></BODY></HTML>\r\n";
}

class TempFolder {
public:
  TempFolder() {
    char tmpl[] = "/tmp/plm-rules-XXXXXX";
    fPath = ::mkdtemp(tmpl);
  }
  ~TempFolder() { std::system(("rm -rf '" + fPath + "'").c_str()); }
  std::string File(const std::string &n) const { return fPath + "/" + n; }
  const std::string &Path() const { return fPath; }
  void Put(const std::string &n, const std::string &bytes) const {
    ASSERT_EQ(WriteFileBytes(File(n), bytes), 0);
  }

private:
  std::string fPath;
};

} // namespace

TEST(StringPositions, PosAndCopyFollowTheOneBasedRules) {
  EXPECT_EQ(Pos("b", "abcb"), 2u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab"); // a start below 1 counts as 1
  EXPECT_EQ(Copy("abcdef", -5, 2), "ab");
  EXPECT_EQ(Copy("abcdef", 3, -1), "");    // a count below 0 counts as 0
  EXPECT_EQ(Copy("abcdef", 5, 100), "ef"); // the run stops at the end
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("", 1, 1), "");
}

TEST(FontCheck, NameEndsAtTheQuoteIsTrimmedLeftAndCutAtTheSemicolon) {
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY: Comic Sans MS; FONT-SIZE: 12pt")),
            "Comic Sans MS");
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY: Arial;FONT-SIZE: 10pt")), "Arial");
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY: Arial")), "Arial");
  // Only leading blanks go: a blank before ";" stays part of the name.
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY: Arial ;FONT-SIZE: 10pt")), "Arial ");
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY:\t  Verdana")), "Verdana");
  // Blanks after the semicolon cut are removed again from the left.
  EXPECT_EQ(TemplateFontName(Region("FONT-FAMILY:  ; x")), "");
  // The property may come anywhere in the style, as long as it is within reach.
  EXPECT_EQ(TemplateFontName(Region("COLOR: #fff; FONT-FAMILY: Georgia")), "Georgia");
}

TEST(FontCheck, WithoutAQuoteInReachTheNameIsEmpty) {
  // No double quote within the 128 characters after the marker.
  const std::string page =
      "<TD id=PLUMORATEXTREGION style=FONT-FAMILY:Arial>" + std::string(300, 'x');
  EXPECT_EQ(TemplateFontName(page), "");
  // The quote exists but lies past the 128 characters taken.
  const std::string far =
      "<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY:" + std::string(130, 'a') + "\"";
  EXPECT_EQ(TemplateFontName(far), "");
}

TEST(FontCheck, MissingOrDistantMarkersReadFromFixedPositions) {
  // No "FONT-FAMILY:" within 255 characters of the identifier: the text is read from
  // position 12 of the region text on, so it starts with "REGION".
  const std::string noFamily = "<TD id=PLUMORATEXTREGION style=\"COLOR: red\">";
  EXPECT_EQ(TemplateFontName(noFamily), "REGION style=");
  const std::string farFamily =
      "<TD id=PLUMORATEXTREGION style=\"" + std::string(250, ' ') + "FONT-FAMILY: Arial\">";
  EXPECT_EQ(TemplateFontName(farFamily), "REGION style=");
  // A lower-case property is not the marker.
  EXPECT_EQ(TemplateFontName("<TD id=PLUMORATEXTREGION style=\"font-family: Arial\">"),
            "REGION style=");
  // No identifier at all: the first 255 characters of the page are searched.
  EXPECT_EQ(TemplateFontName("<P style=\"FONT-FAMILY: Tahoma\">x</P>"), "Tahoma");
  EXPECT_EQ(TemplateFontName(""), "");
  // The first occurrence of the identifier counts, even outside the cell.
  EXPECT_EQ(TemplateFontName(
                "<!-- PLUMORATEXTREGION --><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: A\">"),
            "A");
}

TEST(PageRewrite, SampleBecomesTheCellsFirstContent) {
  const std::string s = SampleBlock();
  EXPECT_EQ(s.rfind("<DIV>Texte exemple, Texte exemple", 0), 0u);
  EXPECT_EQ(s.size(), 5 + 18 * 13 + 17 * 2 + 6);
  EXPECT_EQ(s.substr(s.size() - 19), "Texte exemple</DIV>");

  const std::string page = "<TABLE><TR><TD>head</TD></TR><TR><TD id=PLUMORATEXTREGION style=\"x\">"
                           "<DIV>old</DIV></TD><TD>after</TD></TR></TABLE>";
  EXPECT_EQ(InsertSampleText(page),
            "<TABLE><TR><TD>head</TD></TR><TR><TD id=PLUMORATEXTREGION style=\"x\">" + s +
                "<DIV>old</DIV></TD><TD>after</TD></TR></TABLE>");
}

TEST(PageRewrite, MissingCellMarkerOrCellEnd) {
  const std::string s = SampleBlock();
  // No marker: the cell runs from the page's start to its first "</TD>", and the sample
  // follows the page's first ">".
  EXPECT_EQ(InsertSampleText("<HTML><BODY><TD>a</TD>b"), "<HTML>" + s + "<BODY><TD>a</TD>b");
  // The marker without a "</TD>" after it: the cell is the marker's first four
  // characters, and the sample goes in front of them.
  EXPECT_EQ(InsertSampleText("<P><TD id=PLUMORATEXTREGION>text"),
            "<P>" + s + "<TD id=PLUMORATEXTREGION>text");
  // Neither a marker nor any ">" nor "</TD>".
  EXPECT_EQ(InsertSampleText("plain"), s + "plain");
  EXPECT_EQ(InsertSampleText(""), s);
  // A lower-case marker is not the marker.
  EXPECT_EQ(InsertSampleText("<td id=PLUMORATEXTREGION>x</TD>"),
            "<td id=PLUMORATEXTREGION>" + s + "x</TD>");
}

TEST(PageRewrite, TheSavedPageHasCrLfLineBreaksAndNothingElseChanges) {
  TempFolder t;
  t.Put("Flavor.htm",
        "<HTML>\n<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: Arial\">\rx</TD>\n</HTML>");
  TTemplatePreview p(t.Path());
  p.LoadPage();
  EXPECT_EQ(p.FontName(), "Arial");
  p.RewritePage();
  p.SavePage();
  std::string saved;
  ASSERT_TRUE(ReadFileBytes(t.File("Flavor.htm"), saved));
  EXPECT_EQ(saved, "<HTML>\r\n<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: Arial\">" +
                       SampleBlock() + "\r\nx</TD>\r\n</HTML>\r\n");
}

TEST(TemplateFiles, DescriptionAndPageAreFoundWhateverTheirCase) {
  TempFolder t;
  t.Put("CONTENT.INI", "[general]\r\nCOLLECTION= Saisons \r\n[TRADEMARK]\r\ntrademark=ACME\r\n");
  t.Put("flavor.HTM", "<HTML></HTML>");
  t.Put("image1.dat", "GIF89a");
  ASSERT_TRUE(CreateDir(t.File("images")));
  const TemplateFields f = ReadTemplateFields(t.Path());
  EXPECT_EQ(f.Collection, "Saisons");
  EXPECT_EQ(f.Display, "Unknowed");
  EXPECT_EQ(f.TradeMark, "ACME");
  TTemplatePreview p(t.Path());
  p.LoadPage();
  EXPECT_EQ(p.PagePath(), t.File("flavor.HTM"));
  auto pics = p.Pictures();
  std::sort(pics.begin(), pics.end());
  ASSERT_EQ(pics.size(), 2u); // the sub-folder is listed, the two known files are not
  EXPECT_EQ(pics[0], "image1.dat");
  EXPECT_EQ(pics[1], "images");
  EXPECT_EQ(FindEntryNoCase(t.Path(), "Content.Ini"), "CONTENT.INI");
  EXPECT_EQ(FindEntryNoCase(t.Path(), "missing"), "");
}

TEST(TemplateFiles, MissingDescriptionGivesUnknowedAndMissingPageRaises) {
  TempFolder t;
  const TemplateFields f = ReadTemplateFields(t.Path());
  EXPECT_EQ(f.Collection, "Unknowed");
  EXPECT_EQ(f.Display, "Unknowed");
  EXPECT_EQ(f.TradeMark, "Unknowed");
  // The trade mark lives in its own section, not in "General".
  t.Put("content.ini", "[General]\nTradeMark=wrong place\n");
  EXPECT_EQ(ReadTemplateFields(t.Path()).TradeMark, "Unknowed");
  TTemplatePreview p(t.Path());
  EXPECT_THROW(p.LoadPage(), EFOpenError);
  EXPECT_TRUE(TemplatePictures(t.File("nope")).empty());
}
