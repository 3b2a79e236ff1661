// The picture framework: streams, bitmaps, icons, the picture object and its registry.
#include "TestUtil.h"

#include "imaging/PictureClasses.h"
#include "platform/Exceptions.h"
#include "platform/graphics/Graphics.h"
#include "platform/graphics/Streams.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdio>

using namespace plm;

TEST(Streams, MemoryStreamReadWriteSeek) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  EXPECT_EQ(m.Size(), 6);
  EXPECT_EQ(m.Position(), 6);
  m.SetPosition(2);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 4u); // fewer at the end
  EXPECT_STREQ(buf, "cdef");
  EXPECT_EQ(m.Read(buf, 1), 0u);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  m.Seek(-2, TSeekOrigin::soEnd);
  EXPECT_EQ(m.ReadByte(), 'e');
  m.Seek(-100, TSeekOrigin::soCurrent);
  EXPECT_EQ(m.Position(), 0);
  m.WriteLE32(0x01020304);
  m.SetPosition(0);
  EXPECT_EQ(m.ReadLE16(), 0x0304);
  EXPECT_EQ(m.ReadLE16(), 0x0102);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  m.Seek(10, TSeekOrigin::soBeginning); // beyond the end: a write fills the gap with zeros
  m.WriteBuffer("z", 1);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Bytes()[5], 0);
}

TEST(Streams, CopyingExactCounts) {
  TMemoryStream src(std::vector<uint8_t>{1, 2, 3, 4, 5}), dst;
  src.SetPosition(1);
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(dst.Bytes(), (std::vector<uint8_t>{2, 3, 4}));
  EXPECT_EQ(dst.CopyFrom(src, 0), 0); // nothing, not the whole source
  EXPECT_EQ(dst.Size(), 3);
  try {
    dst.CopyFrom(src, 5);
    ADD_FAILURE();
  } catch (const EReadError &e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  src.SetPosition(2);
  TMemoryStream rest;
  EXPECT_EQ(rest.CopyRest(src), 3);
  TMemoryStream whole;
  whole.LoadFromStream(src); // from the start, whatever the position
  EXPECT_EQ(whole.Size(), 5);
}

TEST(Streams, FileStreams) {
  testutil::TempDir dir;
  const std::string path = dir.Path("f.bin");
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("hello", 5);
    EXPECT_EQ(f.Size(), 5);
  }
  {
    TFileStream f(path, fmOpenRead);
    char buf[5];
    f.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
    EXPECT_EQ(f.Seek(1, TSeekOrigin::soBeginning), 1);
    EXPECT_EQ(f.ReadByte(), 'e');
  }
  try {
    TFileStream f(dir.Path("none"), fmOpenRead);
    ADD_FAILURE();
  } catch (const EFOpenError &e) {
    EXPECT_EQ(e.message().rfind("Cannot open file \"" + dir.Path("none") + "\". ", 0), 0u)
        << e.message();
  }
  try {
    TFileStream f(dir.Path("no/such/folder"), fmCreate);
    ADD_FAILURE();
  } catch (const EFOpenError &e) {
    EXPECT_EQ(e.message().rfind("Cannot create file \"", 0), 0u) << e.message();
  }
  EXPECT_THROW(TFileStream(dir.Root(), fmOpenRead), EFOpenError); // a folder
  TMemoryStream m;
  m.LoadFromFile(path);
  EXPECT_EQ(m.Size(), 5);
  m.SaveToFile(dir.Path("copy.bin"));
  TMemoryStream c;
  c.LoadFromFile(dir.Path("copy.bin"));
  EXPECT_EQ(c.Bytes(), m.Bytes());
}

TEST(Bitmaps, IndexedPixelsAndPalette) {
  TBitmap b;
  int changes = 0;
  b.OnChange = [&](TGraphic *) { ++changes; };
  b.SetPixelFormat(TPixelFormat::pf8bit);
  b.SetPalette({qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)});
  b.SetSize(4, 3);
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(b.PaletteCount(), 4);
  EXPECT_EQ(b.Palette().size(), 4);
  EXPECT_EQ(b.Image().colorCount(), 256); // every index draws
  b.SetPixelIndex(3, 2, 2);
  b.SetPixelIndex(9, 9, 1); // outside: ignored
  EXPECT_EQ(b.PixelIndex(3, 2), 2);
  EXPECT_EQ(b.PixelIndex(0, 0), 0);
  EXPECT_EQ(b.Image().pixel(3, 2), qRgb(0, 255, 0));
  EXPECT_EQ(changes, 4); // format, palette, size, one pixel
  // Growing keeps the pixels and the palette.
  b.SetSize(6, 4);
  EXPECT_EQ(b.PixelIndex(3, 2), 2);
  EXPECT_EQ(b.Palette()[3], qRgb(0, 0, 255));
  // Drawing maps changed pixels to the nearest entry and leaves the others alone.
  b.Paint([](QPainter &p) { p.fillRect(QRect(0, 0, 2, 1), QColor(250, 10, 10)); });
  EXPECT_EQ(b.PixelIndex(0, 0), 1);
  EXPECT_EQ(b.PixelIndex(1, 0), 1);
  EXPECT_EQ(b.PixelIndex(3, 2), 2);
  EXPECT_EQ(b.PixelIndex(2, 0), 0);
  // Drawing it stretched.
  QImage canvas(12, 8, QImage::Format_RGB32);
  QPainter p(&canvas);
  b.Draw(p, QRect(0, 0, 12, 8));
  p.end();
  EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(canvas.pixel(7, 5), qRgb(0, 255, 0));
}

TEST(Bitmaps, BmpFilesRoundTrip) {
  testutil::TempDir dir;
  QImage img(7, 5, QImage::Format_RGB32);
  img.fill(qRgb(10, 20, 30));
  img.setPixel(6, 4, qRgb(200, 100, 0));
  TBitmap a(img);
  a.SaveToFile(dir.Path("x.bmp"));
  TBitmap b;
  b.LoadFromFile(dir.Path("x.bmp"));
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Image().pixel(6, 4), qRgb(200, 100, 0));
  TMemoryStream junk(std::vector<uint8_t>(40, 7));
  EXPECT_THROW(b.LoadFromStream(junk), EInvalidGraphic);
  TBitmap c;
  c.Assign(&a);
  EXPECT_EQ(c.Image().pixel(0, 0), qRgb(10, 20, 30));
}

TEST(Pictures, RegistryLookupIgnoresCaseAndTheDot) {
  RegisterPictureClasses();
  for (const char *ext : {"bmp", "BMP", ".Bmp", "ico", "ICO", "png", ".PNG", "tif", "Tiff"})
    EXPECT_NE(TPicture::FindFileFormat(ext), nullptr) << ext;
  for (const char *ext : {"webp", "svg", "dat", ""})
    EXPECT_EQ(TPicture::FindFileFormat(ext), nullptr) << ext;
  TPicture::RegisterFileFormat<TBitmap>("Xyz", "Test pictures");
  ASSERT_NE(TPicture::FindFileFormat("xYZ"), nullptr);
  EXPECT_EQ(TPicture::FindFileFormat("xyz")->Description, "Test pictures");
  TPicture::UnregisterFileFormat(".XYZ");
  EXPECT_EQ(TPicture::FindFileFormat("xyz"), nullptr);
}

TEST(Pictures, LoadingByExtension) {
  RegisterPictureClasses();
  testutil::TempDir dir;
  QImage img(9, 4, QImage::Format_RGB32);
  img.fill(Qt::blue);
  img.save(QString::fromStdString(dir.Path("a.BMP")), "BMP");
  img.save(QString::fromStdString(dir.Path("b.webp")), "PNG");
  QImage(16, 16, QImage::Format_ARGB32).save(QString::fromStdString(dir.Path("c.ico")), "ICO");

  TPicture p;
  int changes = 0;
  p.OnChange = [&](TPicture *) { ++changes; };
  p.LoadFromFile(dir.Path("a.BMP"));
  EXPECT_NE(dynamic_cast<TBitmap *>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Width(), 9);
  EXPECT_EQ(changes, 1);
  try {
    p.LoadFromFile(dir.Path("b.webp"));
    ADD_FAILURE();
  } catch (const EInvalidGraphic &e) {
    EXPECT_STREQ(e.what(), "Unknown picture file extension (.webp)");
  }
  EXPECT_EQ(p.Width(), 9); // an unknown extension changes nothing
  p.LoadFromFile(dir.Path("c.ico"));
  EXPECT_NE(dynamic_cast<TIcon *>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Height(), 16);
  // A file that is not what its extension says: the picture is left empty.
  std::rename(dir.Path("b.webp").c_str(), dir.Path("b.bmp").c_str());
  EXPECT_THROW(p.LoadFromFile(dir.Path("b.bmp")), EInvalidGraphic);
  EXPECT_EQ(p.Graphic(), nullptr);
  EXPECT_THROW(p.LoadFromFile(dir.Path("gone.bmp")), EFOpenError);
  // Bitmap() turns the picture into a bitmap.
  TBitmap *b = p.Bitmap();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(p.Bitmap(), b);
}

TEST(Pictures, ApplicationExceptionDisplay) {
  std::string shown;
  SetApplicationExceptionHandler([&](const std::exception &e) { shown = e.what(); });
  ApplicationHandleException(EListError("boom"));
  SetApplicationExceptionHandler({});
  EXPECT_EQ(shown, "boom");
}
