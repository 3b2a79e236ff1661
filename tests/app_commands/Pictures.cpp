#include "Pictures.h"

#include "preview/Snapshot.h"

#include <QBuffer>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fixtures {

namespace {

void Put16(std::vector<uint8_t> &out, int v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

// LZW data of count pixels of colour index 1 with a minimum code size of 2: a clear code
// every two pixels keeps every code 3 bits wide.
std::vector<uint8_t> LzwOnes(int count) {
  std::vector<uint8_t> bytes;
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](uint32_t code) {
    acc |= code << bits;
    bits += 3;
    while (bits >= 8) {
      bytes.push_back(static_cast<uint8_t>(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0) put(4); // clear
    put(1);
  }
  put(5); // end of information
  if (bits > 0) bytes.push_back(static_cast<uint8_t>(acc & 0xFF));
  return bytes;
}

} // namespace

std::vector<uint8_t> AnimatedGif(int width, int height, const std::vector<QColor> &frames,
                                 int delayCs) {
  std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(g, width);
  Put16(g, height);
  g.insert(g.end(), {0x00, 0x00, 0x00}); // no global colour table
  const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                          'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  g.insert(g.end(), std::begin(loop), std::end(loop));
  const std::vector<uint8_t> data = LzwOnes(width * height);
  for (const QColor &c : frames) {
    g.insert(g.end(), {0x21, 0xF9, 0x04, 0x00});
    Put16(g, delayCs);
    g.insert(g.end(), {0x00, 0x00});
    g.push_back(0x2C);
    Put16(g, 0);
    Put16(g, 0);
    Put16(g, width);
    Put16(g, height);
    g.push_back(0x81); // local colour table of 4 entries
    const uint8_t table[] = {0,
                             0,
                             0,
                             static_cast<uint8_t>(c.red()),
                             static_cast<uint8_t>(c.green()),
                             static_cast<uint8_t>(c.blue()),
                             0,
                             0,
                             0,
                             255,
                             255,
                             255};
    g.insert(g.end(), std::begin(table), std::end(table));
    g.push_back(0x02);
    for (size_t i = 0; i < data.size(); i += 255) {
      const size_t n = std::min<size_t>(255, data.size() - i);
      g.push_back(static_cast<uint8_t>(n));
      g.insert(g.end(), data.begin() + static_cast<long>(i),
               data.begin() + static_cast<long>(i + n));
    }
    g.push_back(0x00);
  }
  g.push_back(0x3B);
  return g;
}

std::vector<uint8_t> Jpeg(int width, int height, QColor colour) {
  QImage img(width, height, QImage::Format_RGB888);
  img.fill(colour);
  return plm::EncodeSnapshot(img, 75);
}

std::vector<uint8_t> Png(int width, int height, QColor colour) {
  QImage img(width, height, QImage::Format_RGB32);
  img.fill(colour);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return {bytes.begin(), bytes.end()};
}

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string &path, const std::string &text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

JpegFacts ReadJpegFacts(const std::vector<uint8_t> &b) {
  JpegFacts f;
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return f;
  size_t p = 2;
  while (p + 4 <= b.size() && b[p] == 0xFF) {
    const uint8_t marker = b[p + 1];
    const size_t len = (size_t(b[p + 2]) << 8) | b[p + 3];
    const size_t body = p + 4, end = p + 2 + len;
    if (end > b.size()) break;
    if (marker == 0xDB) {
      for (size_t q = body; q < end;) {
        const bool wide = (b[q] >> 4) != 0;
        ++q;
        std::vector<int> t;
        for (int i = 0; i < 64 && q < end; ++i) {
          t.push_back(wide ? (b[q] << 8) | b[q + 1] : b[q]);
          q += wide ? 2 : 1;
        }
        f.Tables.push_back(t);
      }
    } else if (marker >= 0xC0 && marker <= 0xC3) {
      f.Baseline = marker == 0xC0;
      f.Height = (b[body + 1] << 8) | b[body + 2];
      f.Width = (b[body + 3] << 8) | b[body + 4];
      f.Components = b[body + 5];
    } else if (marker == 0xDA) {
      break; // the scan data follows
    }
    p = end;
  }
  return f;
}

std::vector<int> ExpectedLuminanceTable(int quality) {
  static const int base[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                               58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                               22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                               77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                               103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  std::vector<int> t;
  for (int v : base)
    t.push_back(std::clamp((v * scale + 50) / 100, 1, 255));
  return t;
}

} // namespace fixtures
