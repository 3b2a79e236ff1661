// What a template may expand to in the preview step: bombs of zeros, too many files and
// a huge page are refused before they are written out, and what had been written goes.
#include "preview/TemplatePreview.h"

#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"
#include "samples/HostileCabinets.h"

#include <gtest/gtest.h>

using namespace plm;
using samples::CabEntry;

namespace {

constexpr uint64_t kMB = 1ull << 20;

class PreviewLimits : public ::testing::Test {
protected:
  std::string Template(const std::string &name, const std::string &bytes) {
    const std::string path = fScratch.Path() + "/" + name;
    EXPECT_EQ(WriteFileBytes(path, bytes), 0);
    return path;
  }
  std::string Folder() const { return fScratch.Path() + "/~plmlook"; }
  // Extracts the template into the preview folder; the refusal's text, "" when none.
  std::string Refusal(const std::string &templatePath) {
    TTemplatePreview p(Folder());
    try {
      p.Extract(templatePath);
      p.LoadPage();
    } catch (const ETemplateTooLarge &e) {
      return e.what();
    }
    return {};
  }
  TTempFolder fScratch{"plm-limits-"};
};

} // namespace

TEST_F(PreviewLimits, FilesAddingUpBeyondTheLimitAreRefusedAndWhatWasWrittenGoes) {
  // 2 MB of archive for 300 MB of picture, after a page and pictures already written.
  const std::string bomb = samples::ZeroBombCabinet({{"Flavor.htm", "<HTML>page</HTML>"},
                                                     {"a.gif", "GIF89a"},
                                                     {"sub\\b.gif", "GIF89a"},
                                                     {"huge.bmp", "", 300 * kMB}});
  EXPECT_LT(bomb.size(), 2 * kMB);
  ASSERT_TRUE(ForceDirectories(Folder()));
  ASSERT_EQ(WriteFileBytes(Folder() + "/kept.txt", "already there"), 0);
  const std::string why = Refusal(Template("bombe \xc3\xa9t\xc3\xa9.plm", bomb));
  EXPECT_EQ(why, "Le modèle \"bombe \xc3\xa9t\xc3\xa9.plm\" est refusé : ses fichiers dépassent "
                 "256 Mo une fois décompressés.");
  EXPECT_EQ(ListDirectory(Folder()), std::vector<std::string>{"kept.txt"});

  // Many files that each pass add up the same way.
  std::vector<CabEntry> many;
  for (int i = 0; i < 5; ++i)
    many.push_back({"part" + std::to_string(i) + ".bmp", "", 60 * kMB});
  EXPECT_NE(Refusal(Template("many.plm", samples::ZeroBombCabinet(many))).find("256 Mo"),
            std::string::npos);
  EXPECT_EQ(ListDirectory(Folder()), std::vector<std::string>{"kept.txt"});
}

TEST_F(PreviewLimits, MoreThanTenThousandFilesAreRefused) {
  std::vector<CabEntry> files{{"Flavor.htm", "<HTML></HTML>"}};
  for (int i = 1; i < 10000; ++i)
    files.push_back({"f" + std::to_string(i), ""});
  EXPECT_EQ(Refusal(Template("limit.plm", samples::StoredCabinet(files))), "");
  EXPECT_EQ(ListDirectory(Folder()).size(), 10000u);
  DeleteEntryNoFollow(Folder());

  files.push_back({"one-more", ""});
  EXPECT_EQ(Refusal(Template("over.plm", samples::StoredCabinet(files))),
            "Le modèle \"over.plm\" est refusé : il contient plus de 10000 fichiers.");
  EXPECT_TRUE(ListDirectory(Folder()).empty());
}

TEST_F(PreviewLimits, APageAboveSixteenMegabytesIsRefusedWhateverItsCase) {
  for (const char *name : {"Flavor.htm", "FLAVOR.HTM"}) {
    const std::string t = Template(
        "page.plm", samples::ZeroBombCabinet({{"a.gif", "GIF89a"}, {name, "", 16 * kMB + 1}}));
    EXPECT_EQ(Refusal(t), "Le modèle \"page.plm\" est refusé : sa page dépasse 16 Mo.") << name;
    EXPECT_TRUE(ListDirectory(Folder()).empty()) << name;
  }
  // A page of the limit itself is shown; a file of that name in a sub-folder is no page.
  const std::string t = Template("edge.plm", samples::ZeroBombCabinet({{"Flavor.htm", "", 16 * kMB},
                                                                       {"sub\\Flavor.htm", "", 17 * kMB}}));
  TTemplatePreview p(Folder());
  p.Extract(t);
  p.LoadPage();
  p.RewritePage();
  p.SavePage();
  EXPECT_EQ(FileSize(p.PagePath()), int64_t(16 * kMB + SampleBlock().size() + 2));
}

TEST_F(PreviewLimits, APageFoundTooLargeWhenLoadedIsRefusedToo) {
  // A page that reaches the folder by another way than the archive's own size.
  const std::string t = Template("small.plm", samples::StoredCabinet({{"a.gif", "GIF89a"}}));
  TTemplatePreview p(Folder());
  p.Extract(t);
  ASSERT_EQ(WriteFileBytes(Folder() + "/flavor.htm", std::string(16 * kMB + 1, 'x')), 0);
  EXPECT_THROW(p.LoadPage(), ETemplateTooLarge);
  EXPECT_TRUE(ListDirectory(Folder()).empty());
  // Without an extraction, nothing in the folder is the preview's to remove.
  ASSERT_TRUE(ForceDirectories(Folder()));
  ASSERT_EQ(WriteFileBytes(Folder() + "/Flavor.htm", std::string(16 * kMB + 1, 'x')), 0);
  TTemplatePreview q(Folder());
  EXPECT_THROW(q.LoadPage(), ETemplateTooLarge);
  EXPECT_TRUE(FileExists(Folder() + "/Flavor.htm"));
}

TEST(PageText, LoadedAsALineListGivesItWithRoomForTheSample) {
  TTempFolder t("plm-text-");
  const std::string f = t.Path() + "/p.htm";
  auto load = [&](const std::string &bytes) {
    EXPECT_EQ(WriteFileBytes(f, bytes), 0);
    return LoadLineText(f, 100);
  };
  for (const std::string &bytes :
       {std::string(""), std::string("a"), std::string("a\r\nb\rc\nd"), std::string("\n\n\r\r\n"),
        std::string("x\r"), std::string("x\n"), std::string("\0a\rb\0", 5)}) {
    TLineList l;
    l.LoadFromFile([&] {
      EXPECT_EQ(WriteFileBytes(f, bytes), 0);
      return f;
    }());
    const std::string text = load(bytes);
    EXPECT_EQ(text, l.Text()) << bytes;
    EXPECT_GE(text.capacity(), text.size() + 100) << bytes;
  }
  EXPECT_THROW(LoadLineText(t.Path() + "/missing"), EFOpenError);
  EXPECT_THROW(LoadLineText(t.Path()), EFOpenError);
}
