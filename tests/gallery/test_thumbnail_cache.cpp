// The shared thumbnail cache: names, keys, reuse, failures, permissions and atomic writes,
// read back as another program of the desktop would read them.
#include "GalleryFixtures.h"

#include "gallery/ThumbnailCache.h"
#include "platform/FileSys.h"
#include "platform/FileUri.h"
#include "platform/TempFolder.h"

#include <gtest/gtest.h>

#include <QImageReader>

#include <sys/stat.h>
#include <unistd.h>

using namespace plm;

namespace {

struct UriCase {
  const char *Path;
  const char *Uri;
};

void PrintTo(const UriCase &c, std::ostream *os) { *os << c.Uri; }

class FileUris : public ::testing::TestWithParam<UriCase> {};

TEST_P(FileUris, AreWrittenAsGLibWritesThem) {
  EXPECT_EQ(FileNameToUri(GetParam().Path), GetParam().Uri);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileUris,
    ::testing::Values(UriCase{"/home/jens/photos/me.png", "file:///home/jens/photos/me.png"},
                      UriCase{"/tmp/a b/\xc3\xa9t\xc3\xa9.plm", "file:///tmp/a%20b/%C3%A9t%C3%A9.plm"},
                      UriCase{"/tmp/caf\xe9\xff.plm", "file:///tmp/caf%E9%FF.plm"},
                      UriCase{"/tmp/100%#?.plm", "file:///tmp/100%25%23%3F.plm"},
                      UriCase{"relative.plm", ""}));

TEST(ThumbnailCacheNames, AreTheMd5OfTheUri) {
  // The thumbnail standard's own example.
  EXPECT_EQ(TThumbnailCache::EntryName("file:///home/jens/photos/me.png"),
            "c6ee772d9e49320e97ec29a7eb5b1697.png");
  const TThumbnailCache cache("/c");
  EXPECT_EQ(cache.PicturePath("file:///home/jens/photos/me.png"),
            "/c/large/c6ee772d9e49320e97ec29a7eb5b1697.png");
  EXPECT_EQ(cache.FailurePath("file:///home/jens/photos/me.png").rfind("/c/fail/plmlooker-", 0), 0u);
}

class ThumbnailCacheFiles : public ::testing::Test {
protected:
  void SetUp() override {
    tpl = gallerytest::WriteTemplate(fRoot.Path() + "/mon modèle.plm");
    stamp = TThumbnailCache::Stamp(tpl);
    picture = QImage(200, 150, QImage::Format_RGB32);
    picture.fill(gallerytest::kPageColour);
  }
  static unsigned Mode(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  TTempFolder fRoot{"plm-thumbcache-"};
  TThumbnailCache cache{fRoot.Path() + "/cache/thumbnails"};
  std::string tpl;
  TTemplateStamp stamp;
  QImage picture;
};

TEST_F(ThumbnailCacheFiles, APictureIsKeptWithTheStandardKeysInPrivateFiles) {
  ASSERT_TRUE(stamp.Valid());
  EXPECT_EQ(stamp.Uri, "file://" + fRoot.Path() + "/mon%20mod%C3%A8le.plm");
  EXPECT_EQ(cache.Lookup(stamp).Kind, TThumbnailCache::Found::Nothing);
  ASSERT_EQ(cache.Store(stamp, picture), 0);

  const std::string file = cache.PicturePath(stamp.Uri);
  QImage stored = QImageReader(QString::fromStdString(file), "png").read();
  ASSERT_FALSE(stored.isNull());
  EXPECT_EQ(stored.text("Thumb::URI").toStdString(), stamp.Uri);
  EXPECT_EQ(stored.text("Thumb::MTime").toLongLong(), FileModTime(tpl));
  EXPECT_EQ(stored.text("Thumb::Size").toLongLong(), FileSize(tpl));
  EXPECT_EQ(stored.text("Thumb::Mimetype"), "application/x-plumora-template");
  EXPECT_EQ(Mode(file), 0600u);
  EXPECT_EQ(Mode(cache.Root()), 0700u);
  EXPECT_EQ(Mode(cache.Root() + "/large"), 0700u);
  EXPECT_EQ(ListDirectory(cache.Root() + "/large").size(), 1u); // no temporary file left

  const auto found = cache.Lookup(stamp);
  ASSERT_EQ(found.Kind, TThumbnailCache::Found::Picture);
  EXPECT_EQ(found.Picture.convertToFormat(QImage::Format_RGB32), picture);

  // The template changes: the picture is outdated.
  ASSERT_TRUE(SetFileModTime(tpl, FileModTime(tpl) + 10));
  EXPECT_EQ(cache.Lookup(TThumbnailCache::Stamp(tpl)).Kind, TThumbnailCache::Found::Nothing);
}

TEST_F(ThumbnailCacheFiles, ANewPictureReplacesTheOldOneByRenaming) {
  ASSERT_EQ(cache.Store(stamp, picture), 0);
  const std::string file = cache.PicturePath(stamp.Uri);
  const std::string reader = fRoot.Path() + "/held-open";
  ASSERT_EQ(::link(file.c_str(), reader.c_str()), 0); // a reader holding the old file
  QImage other = picture;
  other.fill(Qt::blue);
  ASSERT_EQ(cache.Store(stamp, other), 0);
  EXPECT_EQ(QImage(QString::fromStdString(reader)).pixelColor(0, 0), gallerytest::kPageColour);
  EXPECT_EQ(cache.Lookup(stamp).Picture.pixelColor(0, 0), QColor(Qt::blue));
}

TEST_F(ThumbnailCacheFiles, AFailureIsKeptUntilTheTemplateChanges) {
  ASSERT_EQ(cache.StoreFailure(stamp, QString::fromUtf8("Page introuvable, hélas.")), 0);
  EXPECT_EQ(Mode(cache.FailurePath(stamp.Uri)), 0600u);
  auto found = cache.Lookup(stamp);
  ASSERT_EQ(found.Kind, TThumbnailCache::Found::Failure);
  EXPECT_EQ(found.Reason, QString::fromUtf8("Page introuvable, hélas."));

  ASSERT_TRUE(SetFileModTime(tpl, FileModTime(tpl) + 10));
  const TTemplateStamp changed = TThumbnailCache::Stamp(tpl);
  EXPECT_EQ(cache.Lookup(changed).Kind, TThumbnailCache::Found::Nothing);
  // Made at last: the failure goes.
  ASSERT_EQ(cache.StoreFailure(changed, "x"), 0);
  ASSERT_EQ(cache.Store(changed, picture), 0);
  EXPECT_FALSE(FileExists(cache.FailurePath(changed.Uri)));
  EXPECT_EQ(cache.Lookup(changed).Kind, TThumbnailCache::Found::Picture);
}

TEST_F(ThumbnailCacheFiles, DamagedEntriesAndUnusableFoldersAreNoPictures) {
  ASSERT_TRUE(ForceDirectories(cache.Root() + "/large"));
  gallerytest::WriteTemplate(cache.PicturePath(stamp.Uri)); // not a PNG
  EXPECT_EQ(cache.Lookup(stamp).Kind, TThumbnailCache::Found::Nothing);
  EXPECT_EQ(cache.Lookup(TThumbnailCache::Stamp(fRoot.Path() + "/missing.plm")).Kind,
            TThumbnailCache::Found::Nothing);

  // A cache under a file can keep nothing; it says so and raises nothing.
  const TThumbnailCache blocked(tpl + "/thumbnails");
  EXPECT_NE(blocked.Store(stamp, picture), 0);
  EXPECT_NE(blocked.StoreFailure(stamp, "x"), 0);
  EXPECT_EQ(blocked.Lookup(stamp).Kind, TThumbnailCache::Found::Nothing);
}

} // namespace
