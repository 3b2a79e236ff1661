// plmtool imginfo, imgdecode and gifframes (the decoder's frames and the frames as shown).
#include "GifFixtures.h"
#include "PcxFixtures.h"
#include "TestUtil.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

namespace {

struct Result {
  int code = -1;
  std::string out;
};

Result Plmtool(const std::string &args) {
  Result r;
  const std::string cmd = std::string(PLM_BIN_DIR) + "/plmtool " + args + " 2>/dev/null";
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p))
      r.out += buf;
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

std::vector<uint8_t> QtEncoded(const char *format, QRgb colour) {
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, 100);
  return {bytes.begin(), bytes.end()};
}

struct Decoded {
  const char *file, *className;
  std::vector<uint8_t> bytes;
  QRgb centre;
};

// One 300 x 200 picture of each registered class, as a template holds them: an 8-bit
// run-length encoded PCX with its 256 colours after the pixels, every pixel of index $D7.
std::vector<Decoded> EveryClass() {
  fixtures::Pcx pcx;
  pcx.width = 300;
  pcx.height = 200;
  pcx.pixels.assign(300 * 200, 0xD7);
  pcx.trailingColors.assign(256, qRgb(0, 0, 0));
  pcx.trailingColors[0xD7] = qRgb(0x30, 0x90, 0xE0);
  const fixtures::Rgb gifColour = fixtures::Palette(4)[2];
  return {
      {"a.PCX", "TPCXImage", fixtures::Encode(pcx), qRgb(0x30, 0x90, 0xE0)},
      {"b.gif", "TGIFImage", fixtures::OneFrameGif(300, 200, 4, std::vector<uint8_t>(300 * 200, 2)),
       qRgb(gifColour[0], gifColour[1], gifColour[2])},
      {"c.jpg", "TJPEGImage", QtEncoded("JPG", qRgb(0, 0, 255)), qRgb(0, 0, 255)},
      {"d.png", "TPNGImage", QtEncoded("PNG", qRgb(10, 200, 30)), qRgb(10, 200, 30)},
      {"e.bmp", "TBitmap", QtEncoded("BMP", qRgb(200, 10, 30)), qRgb(200, 10, 30)},
      {"f.tif", "TTIFFImage", QtEncoded("TIFF", qRgb(90, 90, 10)), qRgb(90, 90, 10)},
  };
}

} // namespace

// The built program, not a test linking the classes: each class is in the registry that
// opens pictures by their extension.
TEST(Plmtool, ImgDecodeReadsEachClassThroughTheRegistry) {
  testutil::TempDir dir;
  for (const Decoded &d : EveryClass()) {
    SCOPED_TRACE(d.file);
    fixtures::WriteFile(dir.Path(d.file), d.bytes);
    const std::string out = dir.Path(std::string(d.file) + ".png");
    const Result r = Plmtool("imgdecode " + dir.Path(d.file) + " " + out);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string(d.className) + " " + out + " 300x200\n");
    const QImage back(QString::fromStdString(out));
    const QRgb got = back.pixel(150, 100);
    EXPECT_LE(std::abs(qRed(got) - qRed(d.centre)) + std::abs(qGreen(got) - qGreen(d.centre)) +
                  std::abs(qBlue(got) - qBlue(d.centre)),
              12)
        << std::hex << got;
  }
  EXPECT_EQ(Plmtool("imgdecode " + dir.Path("a.xyz") + " " + dir.Path("x.png")).code, 1);
  EXPECT_EQ(Plmtool("imgdecode").code, 2);
}

TEST(Plmtool, ImgInfoPrintsTheFiveLinesOfEachFile) {
  testutil::TempDir dir;
  const auto gif = fixtures::OneFrameGif(120, 60, 256, std::vector<uint8_t>(120 * 60, 3));
  fixtures::WriteFile(dir.Path("a.gif"), gif);
  fixtures::WriteFile(dir.Path("b.txt"), {'h', 'i'});
  const Result r = Plmtool(dir.Path("a.gif") + " " + dir.Path("b.txt"));
  EXPECT_NE(r.code, 0); // no such command: the name comes first
  const Result info = Plmtool("imginfo " + dir.Path("a.gif") + " " + dir.Path("b.txt"));
  EXPECT_EQ(info.code, 0);
  EXPECT_EQ(info.out, "Image Type: GIF\nWidth:120\nHeight:60\nDepth:8\nFile Size:" +
                          std::to_string(gif.size()) +
                          " octets\n\nImage Type Undefined\nWidth:0\nHeight:0\nDepth:0\nFile "
                          "Size:2 octets\n\n");
  EXPECT_EQ(Plmtool("imginfo").code, 2);
}

TEST(Plmtool, GifFramesWritesEachFrameAsDecoded) {
  testutil::TempDir dir;
  fixtures::Gif g;
  g.width = 20;
  g.height = 10;
  g.colors = fixtures::Palette(4);
  for (int i = 0; i < 3; ++i) {
    fixtures::Frame f;
    f.width = 20 - i * 5;
    f.height = 10 - i * 2;
    f.pixels.assign(size_t(f.width) * f.height, uint8_t(i + 1));
    f.delay = 100 * i;
    g.frames.push_back(f);
  }
  auto bytes = fixtures::Encode(g);
  fixtures::WriteFile(dir.Path("a.gif"), bytes);
  const Result r = Plmtool("gifframes " + dir.Path("a.gif") + " " + dir.Path("out"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "frame000.png 20x10 delay 0\nframe001.png 15x8 delay 10\nframe002.png 10x6 delay 20\n");
  const auto pal = fixtures::Palette(4);
  for (int i = 0; i < 3; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "out/frame%03d.png", i);
    QImage img(QString::fromStdString(dir.Path(name)));
    ASSERT_FALSE(img.isNull()) << name;
    EXPECT_EQ(img.width(), 20 - i * 5);
    EXPECT_EQ(img.pixel(0, 0), qRgb(pal[i + 1][0], pal[i + 1][1], pal[i + 1][2]));
  }
  // A damaged file: the frames before the damage are written, and the exit code says so.
  bytes.resize(bytes.size() - 20);
  fixtures::WriteFile(dir.Path("cut.gif"), bytes);
  const Result cut = Plmtool("gifframes " + dir.Path("cut.gif") + " " + dir.Path("cut"));
  EXPECT_EQ(cut.code, 1);
  EXPECT_EQ(cut.out, "frame000.png 20x10 delay 0\nframe001.png 15x8 delay 10\n");
  EXPECT_EQ(Plmtool("gifframes " + dir.Path("missing.gif") + " " + dir.Path("x")).code, 1);
}

TEST(Plmtool, GifFramesShownWritesTheLogicalScreenOfEachShownFrame) {
  testutil::TempDir dir;
  fixtures::Gif g;
  g.width = 12;
  g.height = 9;
  g.colors = fixtures::Palette(8);
  auto patch = [](int left, int top, int w, int h, int delay, int disposal, int transparent) {
    fixtures::Frame f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.pixels = fixtures::Pixels(w, h, 8, uint32_t(left * 31 + top), 2);
    f.delay = delay;
    f.disposal = disposal;
    f.transparent = transparent;
    return f;
  };
  // A patch over transparency, a second image without delay, one restoring what was below.
  g.frames = {patch(2, 1, 6, 5, 30, 1, 4), patch(0, 5, 12, 4, 0, 0, -1),
              patch(5, 0, 7, 7, 250, 3, 2), patch(1, 1, 3, 3, 20, 0, -1)};
  const auto bytes = fixtures::Encode(g);
  fixtures::WriteFile(dir.Path("a.gif"), bytes);
  int w = 0, h = 0;
  std::vector<std::vector<uint32_t>> ref;
  ASSERT_TRUE(fixtures::Compose(bytes, w, h, ref));
  ASSERT_EQ(ref.size(), 3u);
  const Result r = Plmtool("gifframes --shown " + dir.Path("a.gif") + " " + dir.Path("out"));
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "frame000.png 12x9 delay 3\nframe001.png 12x9 delay 25\nframe002.png 12x9 delay 2\n");
  for (size_t i = 0; i < ref.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "out/frame%03d.png", int(i));
    const QImage img(QString::fromStdString(dir.Path(name)));
    ASSERT_EQ(img.size(), QSize(12, 9)) << name;
    EXPECT_TRUE(img.hasAlphaChannel()) << name;
    const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
    std::vector<uint32_t> px;
    for (int y = 0; y < 9; ++y) {
      const auto *line = reinterpret_cast<const uint32_t *>(argb.constScanLine(y));
      px.insert(px.end(), line, line + 12);
    }
    EXPECT_EQ(px, ref[i]) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path("out/frame003.png")));
}
