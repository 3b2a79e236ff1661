// The GIF decoder against giflib and independent tools, and its rules and error cases.
#include "GifFixtures.h"
#include "TestUtil.h"

#include "imaging/PictureClasses.h"
#include "imaging/GifScreen.h"
#include "imaging/MPGifImg.h"
#include "imaging/MPTimer.h"
#include "platform/Exceptions.h"

#include <QPainter>
#include <QTimer>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <typeinfo>

using namespace plm;
using testutil::CodeWriter;
using testutil::GifBuilder;

namespace {

// Loads bytes into a picture (the load itself never fails on bad frames).
void Load(TGIFImage &gif, const std::vector<uint8_t> &bytes) {
  TMemoryStream m(bytes);
  gif.LoadFromStream(m);
}

std::vector<uint8_t> FramePixels(TGIFImage &gif, int i) {
  const QImage &img = gif.Data()->FrameBitmap(i).Image();
  std::vector<uint8_t> px;
  for (int y = 0; y < img.height(); ++y)
    px.insert(px.end(), img.constScanLine(y), img.constScanLine(y) + img.width());
  return px;
}

// Every frame decodes to the same palette indices as giflib's.
void ExpectSameAsGiflib(const std::vector<uint8_t> &bytes, const std::string &what) {
  std::vector<fixtures::Decoded> ref;
  ASSERT_TRUE(fixtures::Decode(bytes, ref)) << what << ": giflib cannot read it";
  TGIFImage gif;
  Load(gif, bytes);
  EXPECT_EQ(gif.Data()->ReadErrorMessage(), "") << what;
  ASSERT_EQ(gif.FrameCount(), int(ref.size())) << what;
  for (int i = 0; i < gif.FrameCount(); ++i) {
    const TBitmap &b = gif.Data()->FrameBitmap(i);
    ASSERT_EQ(b.Width(), ref[i].width) << what << " frame " << i;
    ASSERT_EQ(b.Height(), ref[i].height) << what << " frame " << i;
    EXPECT_EQ(FramePixels(gif, i), ref[i].pixels) << what << " frame " << i;
    EXPECT_EQ(gif.Data()->FrameDelay(i), ref[i].delay < 0 ? 0 : std::min(ref[i].delay / 10, 30))
        << what << " frame " << i;
  }
}

using fixtures::FullFrame;

std::string Shell(const std::string &cmd) {
  const int rc = std::system(cmd.c_str());
  return rc == 0 ? std::string() : "command failed (" + std::to_string(rc) + "): " + cmd;
}

template <class E> std::string ErrorOf(TGIFImage &gif) {
  try {
    if (gif.Data()->ReadError()) std::rethrow_exception(gif.Data()->ReadError());
  } catch (const E &e) {
    return e.what();
  } catch (const std::exception &e) {
    return std::string("wrong kind ") + typeid(e).name() + ": " + e.what();
  }
  return "no error";
}

} // namespace

// --- agreement with giflib

TEST(GifAgainstGiflib, EveryMinimumCodeSizeWithMidStreamClears) {
  for (int bits = 1; bits <= 8; ++bits) {
    fixtures::Gif g;
    g.width = 160;
    g.height = 120;
    g.colors = fixtures::Palette(1 << bits);
    // Noise fills the string table several times over: the encoder clears mid-stream.
    g.frames.push_back(FullFrame(160, 120, 1 << bits, uint32_t(bits)));
    g.frames.push_back(FullFrame(160, 120, 1 << bits, uint32_t(bits + 100), 9));
    ExpectSameAsGiflib(fixtures::Encode(g), "bits " + std::to_string(bits));
  }
}

TEST(GifAgainstGiflib, InterlacedHeightsOneToNine) {
  for (int h = 1; h <= 9; ++h) {
    fixtures::Gif g;
    g.width = 7;
    g.height = h;
    g.colors = fixtures::Palette(16);
    fixtures::Frame f = FullFrame(7, h, 16, uint32_t(h));
    f.interlace = true;
    // Each row distinct, so that a misplaced row shows.
    for (int y = 0; y < h; ++y)
      f.pixels[size_t(y) * 7] = uint8_t(y);
    g.frames.push_back(f);
    ExpectSameAsGiflib(fixtures::Encode(g), "height " + std::to_string(h));
  }
}

TEST(GifAgainstGiflib, LocalAndGlobalTablesAndSeveralFramesWithDelays) {
  fixtures::Gif g;
  g.width = 64;
  g.height = 48;
  g.colors = fixtures::Palette(32);
  const int delays[] = {-1, 5, 250, 299, 300, 1000};
  for (int i = 0; i < 6; ++i) {
    fixtures::Frame f = FullFrame(64 - i * 5, 48 - i * 3, i % 2 ? 4 : 32, uint32_t(i), 3);
    if (i % 2) f.colors = fixtures::Palette(4); // local table, code size 2
    f.left = i;
    f.top = i;
    f.delay = delays[i];
    g.frames.push_back(f);
  }
  const auto bytes = fixtures::Encode(g);
  ExpectSameAsGiflib(bytes, "six frames");

  TGIFImage gif;
  Load(gif, bytes);
  // Delays in units of 10 ms from hundredths: div 10, at most 30.
  EXPECT_EQ(gif.Data()->FrameDelay(0), 0);
  EXPECT_EQ(gif.Data()->FrameDelay(1), 0);
  EXPECT_EQ(gif.Data()->FrameDelay(2), 25);
  EXPECT_EQ(gif.Data()->FrameDelay(3), 29);
  EXPECT_EQ(gif.Data()->FrameDelay(4), 30);
  EXPECT_EQ(gif.Data()->FrameDelay(5), 30);
  // Palettes: frame 1 has its own four colours, frame 0 the global 32.
  const auto global = fixtures::Palette(32), local = fixtures::Palette(4);
  EXPECT_EQ(gif.Data()->FrameBitmap(0).PaletteCount(), 32);
  EXPECT_EQ(gif.Data()->FrameBitmap(0).Palette()[31],
            qRgb(global[31][0], global[31][1], global[31][2]));
  EXPECT_EQ(gif.Data()->FrameBitmap(1).PaletteCount(), 4);
  EXPECT_EQ(gif.Data()->FrameBitmap(1).Palette()[3], qRgb(local[3][0], local[3][1], local[3][2]));
}

TEST(GifAgainstGiflib, LongRunsSplitAcrossNarrowRows) {
  // Strings of hundreds of pixels in rows of 3: the decoder's split path.
  fixtures::Gif g;
  g.width = 3;
  g.height = 4000;
  g.colors = fixtures::Palette(4);
  g.frames.push_back(FullFrame(3, 4000, 4, 7, 2000));
  g.frames.push_back(FullFrame(3, 4000, 4, 8, 1));
  ExpectSameAsGiflib(fixtures::Encode(g), "narrow");
}

TEST(GifAgainstGiflib, StreamWithoutLeadingClearCode) {
  // Some encoders omit the first clear code: its first code is a string of its own.
  CodeWriter w(2);
  w.Put(1).Put(2).Put(6).Put(6).Put(3).Put(w.End());
  const auto bytes = GifBuilder(7, 1).Image(7, 1, 2, w.Bytes()).Trailer().Bytes();
  ExpectSameAsGiflib(bytes, "no leading clear");
  TGIFImage gif;
  Load(gif, bytes);
  EXPECT_EQ(FramePixels(gif, 0), (std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 3}));
}

TEST(GifAgainstGiflib, FilesMadeByImageMagickAndGifsicle) {
  testutil::TempDir dir;
  const std::string im = "/usr/bin/convert-im6.q16";
  auto p = [&](const char *n) { return dir.Path(n); };
  ASSERT_EQ(Shell(im + " -seed 7 -size 97x61 plasma:fractal -colors 60 " + p("plasma.gif")), "");
  ASSERT_EQ(Shell(im + " -seed 3 -size 50x37 plasma: -colors 16 -interlace GIF " + p("inter.gif")),
            "");
  ASSERT_EQ(Shell(im + " -seed 5 -size 80x9 gradient:red-blue -colors 3 " + p("three.gif")), "");
  ASSERT_EQ(Shell(im +
                  " -delay 7 -seed 1 -size 31x17 plasma: plasma: plasma: -colors 200 -loop 0 " +
                  p("im-anim.gif")),
            "");
  ASSERT_EQ(Shell("gifsicle -O3 --interlace --delay 12 --loopcount " + p("plasma.gif") + " " +
                  p("inter.gif") + " " + p("three.gif") + " -o " + p("gs-anim.gif")),
            "");
  ASSERT_EQ(Shell("gifsicle --colors 4 " + p("plasma.gif") + " -o " + p("gs-four.gif")), "");
  for (const char *name :
       {"plasma.gif", "inter.gif", "three.gif", "im-anim.gif", "gs-anim.gif", "gs-four.gif"})
    ExpectSameAsGiflib(fixtures::ReadFile(p(name)), name);
  TGIFImage gif;
  gif.LoadFromFile(p("gs-anim.gif"));
  EXPECT_EQ(gif.FrameCount(), 3);
  EXPECT_EQ(gif.Width(), 97);
  EXPECT_EQ(gif.Data()->FrameDelay(1), 1); // 12 hundredths div 10
}

// --- a corpus decoded line by line by giflib

namespace {

// giflib's decoding of a file, stopped at its first error: every frame begun, with the rows
// it delivered (in the picture's row order).
struct LineFrame {
  int width = 0, height = 0, delay = -1;
  std::vector<uint8_t> pixels;
  std::vector<bool> rowRead;
  bool complete = false;
};
struct LineDecoding {
  std::vector<LineFrame> frames;
  int error = 0;
};

struct MemoryReader {
  const std::vector<uint8_t> *bytes;
  size_t pos = 0;
};

int ReadMemory(GifFileType *gif, GifByteType *data, int n) {
  auto *r = static_cast<MemoryReader *>(gif->UserData);
  const size_t k = std::min(r->bytes->size() - r->pos, size_t(n));
  std::memcpy(data, r->bytes->data() + r->pos, k);
  r->pos += k;
  return int(k);
}

LineDecoding DecodeLineByLine(const std::vector<uint8_t> &bytes) {
  LineDecoding d;
  MemoryReader reader{&bytes};
  GifFileType *gif = DGifOpen(&reader, ReadMemory, &d.error);
  if (!gif) return d;
  int delay = -1;
  auto readFrame = [&] {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    LineFrame f;
    f.width = gif->Image.Width;
    f.height = gif->Image.Height;
    f.delay = std::exchange(delay, -1);
    f.pixels.assign(size_t(f.width) * f.height, 0);
    f.rowRead.assign(size_t(f.height), false);
    int row = 0, pass = 0;
    for (int i = 0; i < f.height; ++i) {
      std::vector<GifPixelType> line(size_t(f.width));
      if (DGifGetLine(gif, line.data(), f.width) == GIF_ERROR) break;
      std::copy(line.begin(), line.end(), f.pixels.begin() + ptrdiff_t(row) * f.width);
      f.rowRead[size_t(row)] = true;
      row = gif->Image.Interlace ? NextInterlacedRow(row, pass, f.height) : row + 1;
      f.complete = i == f.height - 1;
    }
    d.frames.push_back(std::move(f));
    return d.frames.back().complete;
  };
  auto readExtension = [&] {
    int code = 0;
    GifByteType *ext = nullptr;
    if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) delay = ext[2] | (ext[3] << 8);
    while (ext)
      if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return false;
    return true;
  };
  for (bool go = true; go;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) break;
    if (type == IMAGE_DESC_RECORD_TYPE)
      go = readFrame();
    else if (type == EXTENSION_RECORD_TYPE)
      go = readExtension();
  }
  d.error = gif->Error;
  int err = 0;
  DGifCloseFile(gif, &err);
  return d;
}

// Offsets of the image descriptors (their 0x2C introducers) of a well-formed file.
std::vector<size_t> ImageOffsets(const std::vector<uint8_t> &b) {
  auto skipBlocks = [&](size_t p) {
    while (b.at(p) != 0)
      p += b[p] + 1u;
    return p + 1;
  };
  std::vector<size_t> at;
  size_t p = 13 + ((b[10] & 0x80) ? 3u << ((b[10] & 7) + 1) : 0u);
  while (b.at(p) != 0x3B) {
    if (b[p] == 0x21) {
      p = skipBlocks(p + 2);
    } else {
      at.push_back(p);
      const uint8_t flags = b.at(p + 9);
      p = skipBlocks(p + 11 + ((flags & 0x80) ? 3u << ((flags & 7) + 1) : 0u));
    }
  }
  return at;
}

void PutLE16(std::vector<uint8_t> &b, size_t at, int v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}

fixtures::Frame NoiseFrame(int w, int h, int colors, uint32_t seed, int run) {
  fixtures::Frame f = FullFrame(w, h, colors, seed, run);
  for (int y = 0; y < h; ++y) // rows distinct, so that a misplaced row shows
    f.pixels[size_t(y) * w] = uint8_t(y % colors);
  return f;
}

// Global table, animation of every disposal method, with and without transparency; noise
// fills the string table, so the encoder clears it mid-stream.
std::vector<uint8_t> Disposals() {
  fixtures::Gif g{320, 200, fixtures::Palette(256), {}};
  for (int d = 0; d < 8; ++d) {
    fixtures::Frame f = NoiseFrame(320 - 8 * d, 200 - 5 * d, 256, uint32_t(d), d % 3 * 4 + 1);
    f.disposal = d;
    f.transparent = d % 2 ? d * 31 : -1;
    f.delay = d * 40;
    f.left = 4 * d;
    f.top = 2 * d;
    g.frames.push_back(std::move(f));
  }
  return fixtures::Encode(g);
}

// No global table: a local one per frame of 2 to 256 colours (code sizes 2 to 8); the frames
// reach past the right and bottom of the screen.
std::vector<uint8_t> LocalTablesOutsideTheScreen() {
  fixtures::Gif g{600, 600, {}, {}};
  for (int bits = 1; bits <= 8; ++bits) {
    fixtures::Frame f = NoiseFrame(61 + 13 * bits, 29 + 7 * bits, 1 << bits, uint32_t(bits), bits);
    f.colors = fixtures::Palette(1 << bits);
    f.left = 10 * bits;
    f.top = 5 * bits;
    f.interlace = bits % 3 == 0;
    g.frames.push_back(std::move(f));
  }
  auto bytes = fixtures::Encode(g);
  PutLE16(bytes, 6, 50); // screen 50 x 40
  PutLE16(bytes, 8, 40);
  return bytes;
}

// Interlaced and plain frames of odd widths (rows with padding) and heights 1 to 33, mixing
// the global table with local ones.
std::vector<uint8_t> InterlacedOddSizes() {
  fixtures::Gif g{41, 33, fixtures::Palette(32), {}};
  for (int h : {1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 33}) {
    fixtures::Frame f = NoiseFrame(41 - h, h, h % 2 ? 32 : 8, uint32_t(h), 2);
    f.interlace = h != 6;
    if (h % 2 == 0) f.colors = fixtures::Palette(8);
    g.frames.push_back(std::move(f));
  }
  return fixtures::Encode(g);
}

// Strings of thousands of pixels over rows of 1, 37 and 800 pixels.
std::vector<uint8_t> LongStrings() {
  fixtures::Gif g{800, 300, fixtures::Palette(4), {}};
  for (int w : {1, 37, 800}) {
    fixtures::Frame f = FullFrame(w, 300, 4, uint32_t(w), 30000);
    f.interlace = w == 37;
    g.frames.push_back(std::move(f));
  }
  return fixtures::Encode(g);
}

// The last frame's descriptor claims more rows than its data holds.
std::vector<uint8_t> DataEndingEarly(bool interlaced) {
  fixtures::Gif g{64, 64, fixtures::Palette(16), {}};
  g.frames.push_back(NoiseFrame(64, 64, 16, 1, 3));
  fixtures::Frame f = NoiseFrame(60, 21, 16, 2, 3);
  f.interlace = interlaced;
  g.frames.push_back(std::move(f));
  auto bytes = fixtures::Encode(g);
  PutLE16(bytes, ImageOffsets(bytes).back() + 7, 50);
  return bytes;
}

struct CorpusCase {
  std::string name;
  std::function<std::vector<uint8_t>()> make;
};

std::vector<CorpusCase> Corpus() {
  std::vector<CorpusCase> c = {
      {"Disposals", Disposals},
      {"LocalTablesOutsideTheScreen", LocalTablesOutsideTheScreen},
      {"InterlacedOddSizes", InterlacedOddSizes},
      {"LongStrings", LongStrings},
      {"DataEndingEarly", [] { return DataEndingEarly(false); }},
      {"DataEndingEarlyInterlaced", [] { return DataEndingEarly(true); }},
  };
  // The mixed file cut short everywhere: in the header and tables, in extensions, in
  // descriptors, in LZW data and between frames.
  const size_t size = InterlacedOddSizes().size();
  for (size_t cut = 5; cut < size; cut += cut < 200 ? 7 : 97)
    c.push_back({"CutAt" + std::to_string(cut), [cut] {
                   auto b = InterlacedOddSizes();
                   b.resize(cut);
                   return b;
                 }});
  return c;
}

class GifCorpus : public ::testing::TestWithParam<CorpusCase> {};

} // namespace

// Every frame giflib reads whole, the decoder reads to the same indices and delay, and it
// keeps no frame giflib could not read, but for data that ends early: that frame is kept,
// with giflib's rows and the rest at index 0.
TEST_P(GifCorpus, FramesMatchGiflibLineByLine) {
  const std::vector<uint8_t> bytes = GetParam().make();
  const LineDecoding ref = DecodeLineByLine(bytes);
  size_t expected = 0;
  while (expected < ref.frames.size() && ref.frames[expected].complete)
    ++expected;
  if (expected < ref.frames.size() && ref.error == D_GIF_ERR_EOF_TOO_SOON) ++expected;

  TGIFImage gif;
  Load(gif, bytes);
  ASSERT_EQ(gif.FrameCount(), int(expected))
      << "giflib error " << ref.error << ", ours \"" << gif.Data()->ReadErrorMessage() << '"';
  for (int i = 0; i < gif.FrameCount(); ++i) {
    const LineFrame &f = ref.frames[size_t(i)];
    const QImage &img = gif.Data()->FrameBitmap(i).Image();
    ASSERT_EQ(img.width(), f.width) << "frame " << i;
    ASSERT_EQ(img.height(), f.height) << "frame " << i;
    for (int y = 0; y < f.height; ++y) {
      const std::vector<uint8_t> ours(img.constScanLine(y), img.constScanLine(y) + f.width);
      const auto want = f.rowRead[size_t(y)]
                            ? std::vector<uint8_t>(f.pixels.begin() + ptrdiff_t(y) * f.width,
                                                   f.pixels.begin() + ptrdiff_t(y + 1) * f.width)
                            : std::vector<uint8_t>(size_t(f.width), 0);
      ASSERT_EQ(ours, want) << "frame " << i << " row " << y;
    }
    EXPECT_EQ(gif.Data()->FrameDelay(i), f.delay < 0 ? 0 : std::min(f.delay / 10, 30))
        << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Generated, GifCorpus, ::testing::ValuesIn(Corpus()),
                         [](const auto &info) { return info.param.name; });

// --- the decoder's rules

TEST(GifDecoder, InterlacedRowOrder) {
  // The rows each pass visits, heights 1 to 9.
  for (int h = 1; h <= 9; ++h) {
    std::vector<int> rows;
    int pass = 0, row = 0;
    while (row < h) {
      rows.push_back(row);
      row = NextInterlacedRow(row, pass, h);
    }
    std::vector<int> expected;
    for (int y = 0; y < h; y += 8)
      expected.push_back(y);
    for (int y = 4; y < h; y += 8)
      expected.push_back(y);
    for (int y = 2; y < h; y += 4)
      expected.push_back(y);
    for (int y = 1; y < h; y += 2)
      expected.push_back(y);
    EXPECT_EQ(rows, expected) << "height " << h;
  }
}

TEST(GifDecoder, FirstCodeAfterClearAtOrAboveNextIsZero) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(6).Put(1).Put(6).Put(w.End()); // 6 is the next free code after a clear
  TGIFImage gif;
  Load(gif, GifBuilder(4, 1).Image(4, 1, 2, w.Bytes()).Trailer().Bytes());
  ASSERT_EQ(gif.FrameCount(), 1) << gif.Data()->ReadErrorMessage();
  EXPECT_EQ(FramePixels(gif, 0), (std::vector<uint8_t>{0, 1, 0, 1}));
}

TEST(GifDecoder, CodeSizeNineIsAcceptedOneAndTenAreNot) {
  CodeWriter w(9);
  w.Put(w.Clear()).Put(300).Put(5).Put(w.End());
  TGIFImage gif;
  Load(gif, GifBuilder(2, 1).Image(2, 1, 9, w.Bytes()).Trailer().Bytes());
  ASSERT_EQ(gif.FrameCount(), 1) << gif.Data()->ReadErrorMessage();
  EXPECT_EQ(FramePixels(gif, 0), (std::vector<uint8_t>{300 & 0xFF, 5}));

  for (int size : {0, 1, 10, 12}) {
    TGIFImage bad;
    Load(bad, GifBuilder(2, 1).Image(2, 1, size, {0x44, 0x01}).Trailer().Bytes());
    EXPECT_EQ(bad.FrameCount(), 0);
    EXPECT_EQ(ErrorOf<EInvalidGraphicOperation>(bad),
              "Invalid LZW Code Size: " + std::to_string(size));
  }
}

TEST(GifDecoder, StreamErrorsKeepTheFramesBefore) {
  const auto good = [] {
    CodeWriter w(2);
    w.Put(w.Clear()).Put(1).Put(2).Put(w.End());
    return w.Bytes();
  }();
  struct Case {
    const char *name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  {
    CodeWriter w(2);
    w.Put(w.Clear()).Put(w.End());
    cases.push_back({"end after clear", w.Bytes()});
  }
  {
    CodeWriter w(2);
    w.Put(w.Clear()).Put(0).Put(7); // next free code is 6
    cases.push_back({"code above next", w.Bytes()});
  }
  for (const Case &c : cases) {
    TGIFImage gif;
    Load(gif, GifBuilder(2, 1).Image(2, 1, 2, good).Image(2, 1, 2, c.data).Trailer().Bytes());
    EXPECT_EQ(gif.FrameCount(), 1) << c.name;
    EXPECT_EQ(ErrorOf<EStreamError>(gif), "Invalid stream format") << c.name;
    EXPECT_EQ(gif.CurrentFrame(), 0);
  }
}

TEST(GifDecoder, DeferredClearCodeKeepsTheFullTable) {
  // The table fills at 12 bits; the codes after it, one naming the last entry, use it as it
  // stands until the clear code that comes later, as giflib reads them.
  CodeWriter w(2);
  w.Put(w.Clear()).Put(0);
  while (w.Next() < 4096)
    w.Put(1); // 4091 pixels; entry 6 is 0 1, the others 1 1
  ASSERT_EQ(w.Size(), 12);
  w.Put(2).Put(4095).Put(3).Put(6).Put(w.Clear()).Put(1).Put(2).Put(1).Put(w.End()); // 4100
  const auto bytes = GifBuilder(2050, 2).Image(2050, 2, 2, w.Bytes()).Trailer().Bytes();
  ExpectSameAsGiflib(bytes, "deferred clear");
  TGIFImage gif;
  Load(gif, bytes);
  const auto px = FramePixels(gif, 0);
  EXPECT_EQ(std::vector<uint8_t>(px.end() - 8, px.end()),
            (std::vector<uint8_t>{1, 1, 3, 0, 1, 1, 2, 1}));
}

TEST(GifDecoder, DataEndingEarlyEndsTheImage) {
  // No end code and too few pixels: decoded rows are kept, the rest stays 0, no error.
  CodeWriter w(2);
  w.Put(w.Clear()).Put(3).Put(3).Put(2);
  TGIFImage gif;
  Load(gif, GifBuilder(3, 3).Image(3, 3, 2, w.Bytes()).Trailer().Bytes());
  ASSERT_EQ(gif.FrameCount(), 1) << gif.Data()->ReadErrorMessage();
  EXPECT_EQ(FramePixels(gif, 0), (std::vector<uint8_t>{3, 3, 2, 0, 0, 0, 0, 0, 0}));
  // Data beyond the picture is dropped.
  CodeWriter more(2);
  more.Put(more.Clear());
  for (int i = 0; i < 50; ++i)
    more.Put(1);
  more.Put(more.End());
  TGIFImage gif2;
  Load(gif2, GifBuilder(2, 2).Image(2, 2, 2, more.Bytes()).Trailer().Bytes());
  EXPECT_EQ(FramePixels(gif2, 0), (std::vector<uint8_t>(4, 1)));
}

TEST(GifDecoder, ZeroAndHugeSizes) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(1).Put(2).Put(w.End());
  TGIFImage gif;
  Load(gif, GifBuilder(0, 0).Image(0, 5, 2, w.Bytes()).Image(5, 0, 2, w.Bytes()).Trailer().Bytes());
  ASSERT_EQ(gif.FrameCount(), 2) << gif.Data()->ReadErrorMessage();
  EXPECT_TRUE(gif.Data()->FrameBitmap(0).Empty());
  EXPECT_EQ(gif.Width(), 0);
  // 65535 x 65535 is far above the pixel limit: refused before anything is allocated,
  // the frame before it kept.
  TGIFImage big;
  Load(big, GifBuilder(65535, 65535)
                .Image(2, 1, 2, w.Bytes())
                .Image(65535, 65535, 2, w.Bytes())
                .Trailer()
                .Bytes());
  EXPECT_EQ(big.FrameCount(), 1);
  EXPECT_EQ(big.Width(), 65535);
  EXPECT_NE(big.Data()->ReadErrorMessage().find("too large"), std::string::npos);
}

TEST(GifDecoder, FrameAndPixelLimitsKeepWhatWasRead) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(1).Put(w.End());
  GifBuilder b(1, 1);
  for (int i = 0; i < 40; ++i)
    b.Image(1, 1, 2, w.Bytes());
  b.Trailer();
  const int savedFrames = TGIFData::MaxFrames;
  const int64_t savedPixels = TGIFData::MaxPixels;
  TGIFData::MaxFrames = 25;
  TGIFImage gif;
  Load(gif, b.Bytes());
  TGIFData::MaxFrames = savedFrames;
  EXPECT_EQ(gif.FrameCount(), 25);
  EXPECT_NE(gif.Data()->ReadErrorMessage().find("Too many GIF frames"), std::string::npos);

  TGIFData::MaxPixels = 30;
  TGIFImage gif2;
  Load(gif2, b.Bytes());
  TGIFData::MaxPixels = savedPixels;
  EXPECT_EQ(gif2.FrameCount(), 30);
}

// --- the stream as read

TEST(GifStream, SignatureIsNotExamined) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(2).Put(w.End());
  TGIFImage gif;
  Load(gif, GifBuilder(1, 1, 2, "XXXXXX").Image(1, 1, 2, w.Bytes()).Trailer().Bytes());
  EXPECT_EQ(gif.FrameCount(), 1);
  EXPECT_EQ(FramePixels(gif, 0), std::vector<uint8_t>{2});
}

TEST(GifStream, MissingTrailerAndTruncatedData) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(2).Put(w.End());
  auto bytes = GifBuilder(1, 1).Image(1, 1, 2, w.Bytes()).Image(1, 1, 2, w.Bytes()).Bytes();
  TGIFImage gif;
  Load(gif, bytes); // no trailer
  EXPECT_EQ(gif.FrameCount(), 2);
  EXPECT_EQ(ErrorOf<EReadError>(gif), "Stream read error");
  bytes.resize(bytes.size() - 3); // the second data block cut short
  TGIFImage cut;
  Load(cut, bytes);
  EXPECT_EQ(cut.FrameCount(), 1);
  EXPECT_EQ(ErrorOf<EReadError>(cut), "Stream read error");
  // A header cut short: no frames, and nothing raised.
  TGIFImage stub;
  Load(stub, std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a', 1});
  EXPECT_EQ(stub.FrameCount(), 0);
  EXPECT_EQ(stub.CurrentFrame(), -1);
}

TEST(GifStream, ExtensionsBeforeTheTrailerMakeAnEmptyFrame) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(2).Put(w.End());
  TGIFImage gif;
  Load(gif, GifBuilder(1, 1)
                .Gce(40)
                .Image(1, 1, 2, w.Bytes())
                .Comment("made by hand")
                .Gce(70)
                .Raw({0x21, 0x99, 3, 1, 2, 3, 0}) // unknown label: skipped
                .Trailer()
                .Bytes());
  ASSERT_EQ(gif.FrameCount(), 2) << gif.Data()->ReadErrorMessage();
  EXPECT_EQ(gif.Data()->FrameDelay(0), 4);
  EXPECT_EQ(gif.Data()->FrameDelay(1), 0);
  EXPECT_TRUE(gif.Data()->FrameBitmap(1).Empty());
}

TEST(GifStream, BadSeparatorIsReportedInHex) {
  CodeWriter w(2);
  w.Put(w.Clear()).Put(2).Put(w.End());
  TGIFImage gif;
  Load(gif, GifBuilder(1, 1).Image(1, 1, 2, w.Bytes()).Raw({0x2A}).Trailer().Bytes());
  EXPECT_EQ(gif.FrameCount(), 1);
  EXPECT_EQ(ErrorOf<EInvalidGraphicOperation>(gif), "Invalid GIF format seperator: $2A");
}

TEST(GifStream, SubBlockReaders) {
  TMemoryStream m(std::vector<uint8_t>{3, 'a', 'b', 'c', 2, 'd', 'e', 0, 9});
  std::vector<std::string> lines;
  ReadSubBlockStrings(m, lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"abc", "de"}));
  EXPECT_EQ(m.ReadByte(), 9);

  // A short first sub-block fills the first fields only; a longer one is not skipped.
  TMemoryStream s(std::vector<uint8_t>{2, 7, 8, 5});
  uint8_t f[4] = {1, 1, 1, 1};
  EXPECT_EQ(ReadFixedBlock(s, f, 4), 2);
  EXPECT_EQ(f[0], 7);
  EXPECT_EQ(f[1], 8);
  EXPECT_EQ(f[2], 0);
  EXPECT_EQ(s.ReadByte(), 5);
  TMemoryStream z(std::vector<uint8_t>{0, 4});
  EXPECT_EQ(ReadFixedBlock(z, f, 4), 0);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(z.ReadByte(), 4);

  TMemoryStream past(std::vector<uint8_t>{200, 1, 2});
  EXPECT_THROW(SkipSubBlocks(past), EReadError);
  TMemoryStream target, copy(std::vector<uint8_t>{2, 1, 2, 1, 3, 0});
  CopySubBlocks(copy, target);
  EXPECT_EQ(target.Bytes(), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(GifStream, ColorTable) {
  TMemoryStream m(std::vector<uint8_t>{1, 2, 3, 10, 20, 30});
  TColorTable t(m, 6);
  EXPECT_EQ(t.Count(), 2);
  EXPECT_EQ(t.GetEntry(1), (TGIFColor{10, 20, 30}));
  EXPECT_EQ(t.GetColor(1), 10u + 256u * 20 + 65536u * 30);
  EXPECT_EQ(t.CreatePalette(), (QList<QRgb>{qRgb(1, 2, 3), qRgb(10, 20, 30)}));
  try {
    t.GetEntry(2);
    ADD_FAILURE();
  } catch (const EListError &e) {
    EXPECT_STREQ(e.what(), "Index 2 out of range [0..1]");
  }
  TColorTable empty(m, 0);
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_TRUE(empty.CreatePalette().isEmpty());
}

TEST(GifStream, PlainTextIsDrawnInTheForegroundColour) {
  CodeWriter w(2);
  w.Put(w.Clear());
  for (int i = 0; i < 40 * 20; ++i)
    w.Put(0);
  w.Put(w.End());
  GifBuilder b(40, 20);
  // Grid (2, 2) 36 x 16, cells 8 x 16, foreground 3 (white), background 1.
  b.Raw({0x21, 0x01, 12, 2, 0, 2, 0, 36, 0, 16, 0, 8, 16, 3, 1});
  b.SubBlocks({'H', 'I', '#', '#'});
  b.Image(40, 20, 2, w.Bytes()).Trailer();
  TGIFImage gif;
  Load(gif, b.Bytes());
  ASSERT_EQ(gif.FrameCount(), 1) << gif.Data()->ReadErrorMessage();
  const auto px = FramePixels(gif, 0);
  int fg = 0, outside = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint8_t v = px[size_t(y) * 40 + x];
      const bool inGrid = x >= 2 && x < 38 && y >= 2 && y < 18;
      if (v == 3) ++fg;
      if (!inGrid && v != 0) ++outside;
    }
  EXPECT_GT(fg, 10);     // text was drawn
  EXPECT_EQ(outside, 0); // and clipped to its grid
}

// --- the picture

TEST(GifImage, SavingWritesTheStoredBytesUnchanged) {
  const auto bytes = fixtures::OneFrameGif(20, 10, 8, fixtures::Pixels(20, 10, 8, 1));
  testutil::TempDir dir;
  fixtures::WriteFile(dir.Path("a.gif"), bytes);
  TGIFImage gif;
  gif.LoadFromFile(dir.Path("a.gif"));
  gif.SaveToFile(dir.Path("b.gif"));
  EXPECT_EQ(fixtures::ReadFile(dir.Path("b.gif")), bytes);

  TMemoryStream persisted;
  gif.WriteData(persisted);
  persisted.SetPosition(0);
  TGIFImage back;
  back.ReadData(persisted);
  EXPECT_EQ(back.Data()->Stream()->Bytes(), bytes);
  EXPECT_EQ(back.FrameCount(), 1);

  TGIFImage empty;
  EXPECT_TRUE(empty.Empty());
  TMemoryStream out;
  try {
    empty.SaveToStream(out);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation &e) {
    EXPECT_STREQ(e.what(), "No GIF data");
  }
  empty.WriteData(out);
  EXPECT_EQ(out.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0}));
  // A persisted count larger than the bytes present is a read error.
  TMemoryStream shortData(std::vector<uint8_t>{100, 0, 0, 0, 'G', 'I', 'F'});
  EXPECT_THROW(empty.ReadData(shortData), EReadError);
}

TEST(GifImage, FramesAndCurrentFrame) {
  fixtures::Gif g;
  g.width = 30;
  g.height = 20;
  g.colors = fixtures::Palette(4);
  const int delays[] = {50, 400, 120}; // Delay 5, 30 (the cap), 12
  for (int i = 0; i < 3; ++i) {
    g.frames.push_back(FullFrame(10 + i, 5 + i, 4, uint32_t(i)));
    g.frames.back().delay = delays[i];
  }
  TGIFImage gif;
  int changes = 0;
  gif.OnChange = [&](TGraphic *) { ++changes; };
  Load(gif, fixtures::Encode(g));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(gif.Width(), 30);
  EXPECT_EQ(gif.Height(), 20);
  EXPECT_EQ(gif.CurrentFrame(), 0);
  gif.SetCurrentFrame(99);
  EXPECT_EQ(gif.CurrentFrame(), 2);
  gif.SetCurrentFrame(-4);
  EXPECT_EQ(gif.CurrentFrame(), 0);
  EXPECT_EQ(changes, 3);
  gif.SetCurrentFrame(0);
  EXPECT_EQ(changes, 3); // unchanged: no signal
  gif.NextFrame();
  gif.NextFrame();
  EXPECT_EQ(gif.CurrentFrame(), 2);
  gif.NextFrame();
  EXPECT_EQ(gif.CurrentFrame(), 0);
  auto interval = [&] { return GIFTimerPool()->TriggerByHandle(gif.TriggerHandle())->Interval(); };
  EXPECT_EQ(interval(), 55); // 50 ms, raised to the floor
  gif.NextFrame();
  EXPECT_EQ(interval(), 300);
  gif.SetFrameDelays(7);
  EXPECT_EQ(gif.Data()->FrameDelay(2), 7);
  EXPECT_EQ(interval(), 300); // until the next step
  gif.NextFrame();
  EXPECT_EQ(interval(), 70);

  try {
    gif.Data()->FrameBitmap(3);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation &e) {
    EXPECT_STREQ(e.what(), "Invalid frame number 3 (0..2)");
  }
  try {
    gif.Data()->FrameBitmap(0).SetPixelIndex(0, 0, 1);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation &e) {
    EXPECT_STREQ(e.what(), "Cannot modify TGIFFrame bitmap");
  }
  // Recorded sizes: capped at the screen, a change signalled only when they differ.
  changes = 0;
  gif.SetWidth(500);
  gif.SetWidth(40);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(gif.Width(), 30);

  TGIFImage one;
  Load(one, GifBuilder(1, 1)
                .Image(1, 1, 2, CodeWriter(2).Put(4).Put(1).Put(5).Bytes())
                .Trailer()
                .Bytes());
  int oneChanges = 0;
  one.OnChange = [&](TGraphic *) { ++oneChanges; };
  one.NextFrame();
  EXPECT_EQ(one.CurrentFrame(), 0);
  EXPECT_EQ(oneChanges, 0);

  TGIFImage none;
  none.SetCurrentFrame(3);
  EXPECT_EQ(none.CurrentFrame(), -1);
  none.NextFrame();
  EXPECT_EQ(none.CurrentFrame(), -1);
  QImage canvas(4, 4, QImage::Format_RGB32);
  QPainter p(&canvas);
  none.Draw(p, QRect(0, 0, 4, 4)); // draws nothing, raises nothing
}

TEST(GifImage, AssignSharesTheData) {
  fixtures::Gif g;
  g.width = 8;
  g.height = 8;
  g.colors = fixtures::Palette(4);
  g.frames.push_back(FullFrame(8, 8, 4, 1));
  g.frames.push_back(FullFrame(8, 8, 4, 2));
  TGIFImage a;
  Load(a, fixtures::Encode(g));
  a.SetCurrentFrame(1);
  {
    TGIFImage b;
    int changed = 0;
    b.OnChange = [&](TGraphic *) { ++changed; };
    b.Assign(&a);
    EXPECT_EQ(b.Data(), a.Data());
    EXPECT_EQ(a.Data()->RefCount(), 2);
    EXPECT_EQ(b.CurrentFrame(), 1);
    EXPECT_EQ(changed, 1);
    b.Assign(nullptr);
    EXPECT_EQ(a.Data()->RefCount(), 1);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.CurrentFrame(), -1);
    b.Assign(&a);
  }
  EXPECT_EQ(a.Data()->RefCount(), 1);
  EXPECT_EQ(a.FrameCount(), 2);
  TBitmap bmp;
  try {
    a.Assign(&bmp);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation &e) {
    EXPECT_STREQ(e.what(), "Cannot assign to TGIFImage");
  }
}

TEST(GifImage, DrawStretchesTheCurrentFrameOverTheRectangle) {
  // A 2 x 1 frame on a 10 x 10 screen at offset (5, 5): offsets have no effect.
  GifBuilder b(10, 10);
  b.Raw({0x2C, 5, 0, 5, 0, 2, 0, 1, 0, 0, 2});
  b.SubBlocks(CodeWriter(2).Put(4).Put(0).Put(3).Put(5).Bytes());
  b.Trailer();
  TGIFImage gif;
  Load(gif, b.Bytes());
  ASSERT_EQ(gif.FrameCount(), 1);
  QImage canvas(20, 10, QImage::Format_RGB32);
  canvas.fill(Qt::red);
  {
    QPainter p(&canvas);
    gif.Draw(p, QRect(0, 0, 20, 10));
  }
  EXPECT_EQ(canvas.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(canvas.pixel(9, 9), qRgb(0, 0, 0));
  EXPECT_EQ(canvas.pixel(10, 0), qRgb(255, 255, 255));
  EXPECT_EQ(canvas.pixel(19, 9), qRgb(255, 255, 255));
}

TEST(GifImage, SharedTimerPoolAndAnimation) {
  ASSERT_EQ(GIFTimerPool(), nullptr);
  {
    TGIFImage a;
    ASSERT_NE(GIFTimerPool(), nullptr);
    TMPTimerPool *pool = GIFTimerPool();
    EXPECT_FALSE(pool->DefEnabled);
    TTrigger *t = pool->TriggerByHandle(a.TriggerHandle());
    EXPECT_FALSE(t->Enabled());
    EXPECT_EQ(t->Interval(), 55);
    EXPECT_EQ(t->Count(), -1);
    {
      TGIFImage b;
      EXPECT_EQ(GIFTimerPool(), pool);
      EXPECT_EQ(pool->TriggerCount(), 2);
      EXPECT_NE(a.TriggerHandle(), b.TriggerHandle());
    }
    EXPECT_EQ(pool->TriggerCount(), 1);
    fixtures::Gif g;
    g.width = 2;
    g.height = 2;
    g.colors = fixtures::Palette(4);
    g.frames.push_back(FullFrame(2, 2, 4, 1));
    g.frames.push_back(FullFrame(2, 2, 4, 2));
    g.frames[1].delay = 120;
    Load(a, fixtures::Encode(g));
    a.SetAnimate(true);
    EXPECT_TRUE(t->Enabled());
    ASSERT_NE(pool->Timer(), nullptr);
    // One pass of the pool: the trigger steps the picture and takes the new frame's delay.
    t->Fire(t->LastTick + 100);
    EXPECT_EQ(a.CurrentFrame(), 1);
    EXPECT_EQ(t->Interval(), 120);
    EXPECT_EQ(pool->Timer()->interval(), 120);
    a.SetAnimate(false);
    EXPECT_EQ(pool->Timer(), nullptr);
  }
  EXPECT_EQ(GIFTimerPool(), nullptr);
}

TEST(GifImage, RegisteredForGifInAnyCase) {
  RegisterPictureClasses();
  testutil::TempDir dir;
  fixtures::WriteFile(dir.Path("x.GiF"),
                      fixtures::OneFrameGif(3, 2, 4, fixtures::Pixels(3, 2, 4, 1)));
  const TFileFormat *f = TPicture::FindFileFormat("GIF");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Description, "Graphics Interchange Format");
  TPicture picture;
  picture.LoadFromFile(dir.Path("x.GiF"));
  ASSERT_NE(dynamic_cast<TGIFImage *>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 3);
}

// --- the frames composed on the logical screen, against giflib's images composed

namespace {

struct ComposeCase {
  std::string name;
  fixtures::Gif gif;
};

std::ostream &operator<<(std::ostream &o, const ComposeCase &c) { return o << c.name; }

// An image of w x h at (left, top) with pixels of the first `colors` indices in runs.
fixtures::Frame Patch(int left, int top, int w, int h, uint32_t seed, int delay, int disposal = 0,
                      int transparent = -1, int colors = 8) {
  fixtures::Frame f;
  f.left = left;
  f.top = top;
  f.width = w;
  f.height = h;
  f.pixels = fixtures::Pixels(w, h, colors, seed, 3);
  f.delay = delay;
  f.disposal = disposal;
  f.transparent = transparent;
  return f;
}

std::vector<ComposeCase> ComposeCases() {
  auto gif = [](std::vector<fixtures::Frame> frames) {
    fixtures::Gif g;
    g.width = 16;
    g.height = 12;
    g.colors = fixtures::Palette(8);
    g.frames = std::move(frames);
    return g;
  };
  std::vector<ComposeCase> cases;
  cases.push_back({"KeepWithTransparency", gif({Patch(0, 0, 16, 12, 1, 10),
                                                Patch(3, 2, 6, 5, 2, 10, 1, 2),
                                                Patch(8, 6, 8, 6, 3, 10, 0, 0)})});
  cases.push_back({"RestoreToBackground", gif({Patch(0, 0, 16, 12, 4, 10),
                                               Patch(2, 2, 5, 5, 5, 10, 2, 1),
                                               Patch(4, 4, 6, 6, 6, 10, 2),
                                               Patch(1, 9, 3, 3, 7, 10)})});
  cases.push_back({"RestoreToPrevious", gif({Patch(0, 0, 16, 12, 8, 10, 3),
                                             Patch(2, 1, 9, 7, 9, 10, 3, 4),
                                             Patch(5, 3, 8, 8, 10, 10, 3),
                                             Patch(0, 0, 4, 4, 11, 10, 1)})});
  // Nothing under the first images: transparent where they do not draw.
  cases.push_back({"PartialFirstFramesOverTransparency",
                   gif({Patch(4, 3, 6, 4, 12, 10, 0, 3), Patch(10, 0, 6, 12, 13, 10, 2, 5),
                        Patch(0, 8, 16, 4, 14, 10, 1, 6)})});
  cases.push_back({"OutsideTheScreen", gif({Patch(0, 0, 16, 12, 15, 10),
                                            Patch(12, 9, 10, 10, 16, 10, 2),
                                            Patch(20, 20, 4, 4, 17, 10, 3),
                                            Patch(0, 0, 20, 15, 18, 10, 0, 7)})});
  // No extension, or a delay of 0: shown with the images that follow.
  cases.push_back({"ImagesWithoutDelay", gif({Patch(0, 0, 16, 6, 19, -1),
                                              Patch(0, 6, 16, 6, 20, 0, 0, 1),
                                              Patch(5, 5, 4, 4, 21, 10, 2),
                                              Patch(1, 1, 3, 3, 22, -1),
                                              Patch(8, 2, 5, 5, 23, 0, 3, 2),
                                              Patch(9, 3, 2, 8, 24, 5)})});
  fixtures::Gif inter = gif({Patch(0, 0, 16, 12, 25, 10), Patch(3, 2, 11, 7, 26, 10, 2, 1),
                             Patch(1, 4, 9, 8, 27, 10, 0, 3, 4)});
  for (auto &f : inter.frames)
    f.interlace = true;
  inter.frames[2].colors = fixtures::Palette(4); // a local table
  cases.push_back({"InterlacedAndLocalTable", inter});
  return cases;
}

class GifComposed : public ::testing::TestWithParam<ComposeCase> {};

} // namespace

TEST_P(GifComposed, ShownFramesMatchGiflibImagesComposed) {
  const auto bytes = fixtures::Encode(GetParam().gif);
  int w = 0, h = 0;
  std::vector<std::vector<uint32_t>> ref;
  ASSERT_TRUE(fixtures::Compose(bytes, w, h, ref));
  TGIFImage gif;
  Load(gif, bytes);
  gif.SetComposed(true);
  ASSERT_EQ(gif.Screen().Count(), int(ref.size()));
  for (int s = 0; s < int(ref.size()); ++s) {
    gif.SetCurrentFrame(gif.Screen().LastImage(s));
    const QImage shown = gif.ToImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), QSize(w, h));
    std::vector<uint32_t> px;
    for (int y = 0; y < h; ++y) {
      const auto *line = reinterpret_cast<const QRgb *>(shown.constScanLine(y));
      px.insert(px.end(), line, line + w);
    }
    EXPECT_EQ(px, ref[size_t(s)]) << "shown frame " << s;
  }
  // Stepping on wraps to the first shown frame, composed again from a transparent screen.
  gif.NextFrame();
  EXPECT_EQ(gif.CurrentFrame(), gif.Screen().LastImage(0));
  const QImage first = gif.ToImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(reinterpret_cast<const QRgb *>(first.constBits())[0], ref[0][0]);
}

INSTANTIATE_TEST_SUITE_P(Cases, GifComposed, ::testing::ValuesIn(ComposeCases()),
                         [](const auto &info) { return info.param.name; });

TEST(GifComposed, EmptyImagesShowWhatLiesBelowAndDecoderFramesStay) {
  // A full image that clears its area when it goes, a zero-size image, an image whose
  // data ends at once and one whose data ends after 6 pixels, each with a delay.
  CodeWriter full(2), six(2);
  full.Put(full.Clear());
  for (int i = 0; i < 16; ++i)
    full.Put(3);
  full.Put(full.End());
  six.Put(six.Clear());
  for (int i = 0; i < 6; ++i)
    six.Put(1);
  GifBuilder b(4, 4);
  b.Raw({0x21, 0xF9, 4, 2 << 2, 10, 0, 0, 0}).Image(4, 4, 2, full.Bytes());
  b.Gce(10).Image(0, 0, 2, {}).Gce(10).Image(4, 4, 2, {});
  b.Gce(10).Image(4, 4, 2, six.Bytes()).Comment("after").Trailer();
  TGIFImage gif;
  Load(gif, b.Bytes());
  ASSERT_EQ(gif.Data()->ReadErrorMessage(), "");
  ASSERT_EQ(gif.FrameCount(), 5); // the comment before the trailer makes a frame of its own
  EXPECT_EQ(FramePixels(gif, 2), std::vector<uint8_t>(16, 0)); // the decoder's frame as it was
  gif.SetComposed(true);
  ASSERT_EQ(gif.Screen().Count(), 4);
  const QRgb white = qRgb(255, 255, 255), grey = qRgb(85, 85, 85);
  for (int s = 0; s < 4; ++s) {
    gif.SetCurrentFrame(gif.Screen().LastImage(s));
    const QImage shown = gif.ToImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), QSize(4, 4));
    for (int i = 0; i < 16; ++i) {
      const QRgb expected = s == 0 ? white : s == 3 && i < 6 ? grey : 0;
      EXPECT_EQ(shown.pixel(i % 4, i / 4), expected) << s << " " << i;
    }
  }
  // A screen too large to compose shows nothing rather than allocating it.
  TGIFImage huge;
  Load(huge, GifBuilder(65535, 65535).Image(4, 4, 2, full.Bytes()).Trailer().Bytes());
  huge.SetComposed(true);
  EXPECT_EQ(huge.Screen().Count(), 0);
  EXPECT_NE(huge.Screen().Error().find("too large"), std::string::npos);
  EXPECT_TRUE(huge.ToImage().isNull());
}
