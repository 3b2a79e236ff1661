// The quick reader of the cache's PNG entries gives what the general reader gives, pixels
// and keys, for every picture it takes; refuses damaged files; leaves other kinds of PNG to
// the general reader.
#include "gallery/ThumbnailPng.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QRandomGenerator>

#include <libdeflate.h>

#include <string>
#include <vector>

using namespace plm;

namespace {

QByteArray Saved(const QImage &image, int quality = 80) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "PNG", quality));
  return png;
}

QImage GeneralRead(QByteArray png) {
  QBuffer buffer(&png);
  return QImageReader(&buffer, "png").read();
}

// Compares the quick reader's result with the general reader's on the same bytes.
void ExpectReadAsTheGeneralReaderDoes(const QByteArray &png) {
  QImage quick;
  ASSERT_EQ(ReadThumbnailPng(png.constData(), size_t(png.size()), quick), PngRead::Done);
  const QImage general = GeneralRead(png);
  ASSERT_FALSE(general.isNull());
  EXPECT_EQ(quick.format(), general.format());
  EXPECT_EQ(quick, general);
  EXPECT_EQ(quick.textKeys(), general.textKeys());
  for (const QString &key : general.textKeys()) EXPECT_EQ(quick.text(key), general.text(key)) << key.toStdString();
}

QImage Noisy(int w, int h, QImage::Format format, quint32 seed) {
  QImage image(w, h, format);
  QRandomGenerator random(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Smooth areas with noise, so that the writer picks several kinds of row filter.
      const int noise = int(random.bounded(24));
      image.setPixel(x, y, qRgba((x * 255 / w + noise) & 255, (y * 255 / h) & 255, (x + y + noise) & 255,
                                 format == QImage::Format_ARGB32 ? (x * 7 + y) & 255 : 255));
    }
  return image;
}

struct SavedCase {
  const char *Name;
  QImage Picture;
  int Quality;
};

void PrintTo(const SavedCase &c, std::ostream *os) { *os << c.Name; }

class PicturesAsTheCacheWritesThem : public ::testing::TestWithParam<SavedCase> {};

TEST_P(PicturesAsTheCacheWritesThem, ReadAsTheGeneralReaderReadsThem) {
  QImage picture = GetParam().Picture;
  picture.setText("Thumb::URI", "file:///home/quelqu'un/Mod%C3%A8les/un%20nom%20assez%20long%20"
                                "pour%20%C3%AAtre%20compress%C3%A9/No%C3%ABl.plm");
  picture.setText("Thumb::MTime", "1796886013");
  picture.setText("X-Plmlooker::Reason", QString::fromUtf8("L'archive du modèle est endommagée."));
  picture.setText("Latin", QString::fromLatin1("d\xe9j\xe0 vu"));
  ExpectReadAsTheGeneralReaderDoes(Saved(picture, GetParam().Quality));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PicturesAsTheCacheWritesThem,
    ::testing::Values(SavedCase{"Page", Noisy(256, 208, QImage::Format_RGB32, 1), 80},
                      SavedCase{"PageBestCompression", Noisy(256, 208, QImage::Format_RGB32, 2), 0},
                      SavedCase{"Alpha", Noisy(31, 17, QImage::Format_ARGB32, 3), 80},
                      SavedCase{"OnePixel", Noisy(1, 1, QImage::Format_RGB32, 4), 80}),
    [](const auto &info) { return std::string(info.param.Name); });

// A PNG of 8-bit RGB rows, each row written with the given filter (0 to 4; any other is
// written as given, the row left as it is).
QByteArray FilteredPng(const std::vector<std::vector<unsigned char>> &rows, int width,
                       const std::vector<int> &filters) {
  auto chunk = [](QByteArray &out, const char *type, const QByteArray &body) {
    const quint32 n = quint32(body.size());
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    const QByteArray typed = QByteArray(type, 4) + body;
    out.append(typed);
    const quint32 crc = libdeflate_crc32(0, typed.constData(), size_t(typed.size()));
    out.append(char(crc >> 24)).append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
  };
  const size_t bytes = size_t(width) * 3;
  QByteArray raw;
  std::vector<unsigned char> prev(bytes, 0);
  for (size_t y = 0; y < rows.size(); ++y) {
    const auto &row = rows[y];
    raw.append(char(filters[y]));
    for (size_t i = 0; i < bytes; ++i) {
      const int a = i >= 3 ? row[i - 3] : 0, b = prev[i], c = i >= 3 ? prev[i - 3] : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int predictor[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      raw.append(char(row[i] - (filters[y] <= 4 ? predictor[filters[y]] : 0)));
    }
    prev = row;
  }
  QByteArray png("\x89PNG\r\n\x1a\n", 8), header(13, '\0');
  header[3] = char(width);
  header[7] = char(rows.size());
  header[8] = 8; // bits
  header[9] = 2; // RGB
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", qCompress(raw).mid(4)); // qCompress puts the size before the zlib stream
  chunk(png, "IEND", QByteArray());
  return png;
}

TEST(ThumbnailPngFilters, EveryRowFilterIsUndone) {
  QRandomGenerator random(7);
  const int width = 19;
  std::vector<std::vector<unsigned char>> rows(10, std::vector<unsigned char>(width * 3));
  for (auto &row : rows)
    for (auto &v : row) v = static_cast<unsigned char>(random.bounded(256));
  // Each filter on the first row (no row above) and on later ones.
  for (int first = 0; first < 5; ++first) {
    SCOPED_TRACE(first);
    ExpectReadAsTheGeneralReaderDoes(FilteredPng(rows, width, {first, 0, 1, 2, 3, 4, 4, 3, 2, 1}));
  }
}

// Sets the CRC of the chunk at pos after its bytes were changed.
void FixCrc(QByteArray &png, int pos) {
  const auto *p = reinterpret_cast<const unsigned char *>(png.constData()) + pos;
  const quint32 length = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
  const quint32 crc = libdeflate_crc32(0, p + 4, length + 4);
  for (int i = 0; i < 4; ++i) png[pos + 8 + int(length) + i] = char(crc >> (24 - 8 * i));
}

TEST(ThumbnailPngDamage, IsRefusedWithoutAPicture) {
  const QByteArray good = Saved(Noisy(40, 30, QImage::Format_RGB32, 9));
  const int idat = good.indexOf("IDAT") - 4, iend = good.indexOf("IEND") - 4;
  std::vector<std::pair<const char *, QByteArray>> damaged;
  damaged.emplace_back("empty", QByteArray());
  damaged.emplace_back("cut in the header", good.left(20));
  damaged.emplace_back("cut in the pixels", good.left(idat + 30));
  damaged.emplace_back("no end", good.left(iend));
  QByteArray crc = good;
  crc[idat + 20] = char(crc[idat + 20] ^ 0x55);
  damaged.emplace_back("wrong CRC", crc);
  QByteArray deflate = crc;
  deflate[idat + 8] = char(0xff); // the zlib header
  FixCrc(deflate, idat);
  damaged.emplace_back("bad compressed data", deflate);
  QByteArray taller = good;
  taller[8 + 8 + 7] = char(taller[8 + 8 + 7] + 1); // one row more than the data holds
  FixCrc(taller, 8);
  damaged.emplace_back("fewer rows than said", taller);
  damaged.emplace_back("unknown filter", FilteredPng({{1, 2, 3}}, 1, {5}));
  for (const auto &[name, png] : damaged) {
    SCOPED_TRACE(name);
    QImage picture(1, 1, QImage::Format_RGB32);
    EXPECT_EQ(ReadThumbnailPng(png.constData(), size_t(png.size()), picture), PngRead::Damaged);
    EXPECT_TRUE(picture.isNull());
  }
}

TEST(ThumbnailPngKinds, OthersAreLeftToTheGeneralReader) {
  QImage palette = Noisy(16, 16, QImage::Format_RGB32, 5).convertToFormat(QImage::Format_Indexed8);
  const QImage others[] = {palette, Noisy(16, 16, QImage::Format_RGB32, 6).convertToFormat(QImage::Format_Grayscale8),
                           Noisy(16, 16, QImage::Format_ARGB32, 7).convertToFormat(QImage::Format_RGBA64)};
  for (const QImage &other : others) {
    const QByteArray png = Saved(other);
    QImage picture;
    EXPECT_EQ(ReadThumbnailPng(png.constData(), size_t(png.size()), picture), PngRead::Unsupported)
        << other.format();
    EXPECT_FALSE(GeneralRead(png).isNull());
  }
}

} // namespace
