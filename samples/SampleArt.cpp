#include "samples/SampleArt.h"

#include "cabinet/CabSTComps.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <random>

namespace plm::samples {

namespace {

void Put16(std::string &out, int v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}

// LZW codes of a fixed width of 9 bits: a clear code every 250 literals keeps the code
// table from ever growing past 9 bits. Larger than real LZW, and valid for any reader.
class BitPacker {
public:
  void Code(unsigned code) {
    fAcc |= code << fBits;
    fBits += 9;
    while (fBits >= 8) {
      fBytes += char(fAcc & 0xFF);
      fAcc >>= 8;
      fBits -= 8;
    }
  }
  std::string Finish() {
    if (fBits > 0) fBytes += char(fAcc & 0xFF);
    return fBytes;
  }

private:
  unsigned fAcc = 0;
  int fBits = 0;
  std::string fBytes;
};

std::string LzwData(const QImage &indexed) {
  constexpr unsigned kClear = 256, kEnd = 257;
  BitPacker p;
  p.Code(kClear);
  int run = 0;
  for (int y = 0; y < indexed.height(); ++y) {
    const uchar *row = indexed.constScanLine(y);
    for (int x = 0; x < indexed.width(); ++x) {
      if (run == 250) {
        p.Code(kClear);
        run = 0;
      }
      p.Code(row[x]);
      ++run;
    }
  }
  p.Code(kEnd);
  const std::string data = p.Finish();
  std::string out;
  out += char(8); // minimum code size
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    out += char(n);
    out.append(data, i, n);
  }
  out += char(0);
  return out;
}

QColor Hsv(std::mt19937 &rng, int sat = 160, int val = 235) {
  return QColor::fromHsv(int(rng() % 360), sat, val);
}

} // namespace

std::string EncodeGif(const std::vector<QImage> &frames, int delayCs) {
  if (frames.empty()) return {};
  const QImage first =
      frames[0].convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
  QList<QRgb> palette = first.colorTable();
  while (palette.size() < 256)
    palette.append(qRgb(0, 0, 0));
  const int w = first.width(), h = first.height();
  std::string out = "GIF89a";
  Put16(out, w);
  Put16(out, h);
  out += char(0xF7); // global palette of 256 entries, 8 bits of colour resolution
  out += char(0);
  out += char(0);
  for (QRgb c : palette) {
    out += char(qRed(c));
    out += char(qGreen(c));
    out += char(qBlue(c));
  }
  if (frames.size() > 1) {
    out += "\x21\xFF\x0B"
           "NETSCAPE2.0";
    out += std::string("\x03\x01\x00\x00\x00", 5); // loop forever
  }
  for (const QImage &f : frames) {
    const QImage idx =
        f.scaled(w, h).convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
    out += "\x21\xF9\x04";
    out += char(0x04); // keep each frame under the next
    Put16(out, frames.size() > 1 ? delayCs : 0);
    out += char(0);
    out += char(0);
    out += char(0x2C);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, w);
    Put16(out, h);
    out += char(0);
    out += LzwData(idx);
  }
  out += char(0x3B);
  return out;
}

std::string EncodePicture(const QImage &image, const std::string &format, int jpegQuality) {
  if (format == "gif") return EncodeGif({image});
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  const QImage img = format == "png" ? image : image.convertToFormat(QImage::Format_RGB32);
  if (!img.save(&buf, format.c_str(), format == "jpeg" ? jpegQuality : -1)) return {};
  return bytes.toStdString();
}

QImage PaintPicture(const std::string &kind, int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  QImage img(width, height, QImage::Format_ARGB32);
  img.fill(kind == "border" ? Qt::transparent : QColor(255, 255, 255));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(width / 2.0, height / 2.0);
  const double r = std::min(width, height) / 2.0;
  if (kind == "photo") {
    QRadialGradient g(c, std::max(width, height) * 0.7);
    g.setColorAt(0, Hsv(rng, 40, 255));
    g.setColorAt(1, Hsv(rng, 90, 220));
    p.fillRect(img.rect(), g);
    for (int i = 0; i < 12; ++i) {
      QColor col = Hsv(rng, 60, 250);
      col.setAlpha(90);
      p.setPen(Qt::NoPen);
      p.setBrush(col);
      const double rr = 10 + rng() % std::max(1, int(r / 2));
      p.drawEllipse(QPointF(rng() % std::max(1, width), rng() % std::max(1, height)), rr, rr);
    }
  } else if (kind == "flower") {
    const QColor petal = Hsv(rng, 170, 240);
    p.setPen(QPen(petal.darker(140), 1));
    p.setBrush(petal);
    for (int i = 0; i < 8; ++i) {
      p.save();
      p.translate(c);
      p.rotate(i * 45);
      p.drawEllipse(QPointF(0, -r * 0.5), r * 0.22, r * 0.45);
      p.restore();
    }
    p.setBrush(QColor(250, 210, 40));
    p.drawEllipse(c, r * 0.25, r * 0.25);
  } else if (kind == "border") {
    p.setPen(QPen(QColor(60, 120, 50), 3));
    p.drawLine(0, height / 2, width, height / 2);
    for (int x = 8; x < width; x += 18) {
      p.setBrush(QColor(90, 160, 70, 200));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPointF(x, height / 2 + ((x / 18) % 2 ? -5 : 5)), 7, 4);
    }
  } else if (kind == "star") {
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
      const double a = -M_PI / 2 + i * M_PI / 5;
      const double rr = i % 2 ? r * 0.4 : r * 0.95;
      const QPointF pt(c.x() + rr * std::cos(a), c.y() + rr * std::sin(a));
      i ? star.lineTo(pt) : star.moveTo(pt);
    }
    star.closeSubpath();
    p.fillRect(img.rect(), QColor(20, 30, 80));
    p.setPen(QPen(QColor(200, 150, 0), 2));
    p.setBrush(QColor(255, 220, 60));
    p.drawPath(star);
  } else if (kind == "balloons") {
    for (int i = 0; i < 5; ++i) {
      const QPointF bc(width * (0.15 + 0.17 * i), height * (0.3 + 0.1 * (i % 2)));
      p.setPen(QPen(Qt::darkGray, 1));
      p.drawLine(bc + QPointF(0, r * 0.3), QPointF(width / 2.0, height - 2));
      p.setBrush(Hsv(rng, 200, 240));
      p.drawEllipse(bc, r * 0.22, r * 0.3);
    }
  } else if (kind == "wave") {
    p.fillRect(img.rect(), QColor(200, 230, 250));
    for (int k = 0; k < 4; ++k) {
      QPainterPath wave;
      wave.moveTo(0, height);
      for (int x = 0; x <= width; x += 4)
        wave.lineTo(x, height * (0.4 + 0.12 * k) + 8 * std::sin((x + 20 * k) / 15.0));
      wave.lineTo(width, height);
      QColor col(30 + 30 * k, 110 + 20 * k, 200, 150);
      p.setPen(Qt::NoPen);
      p.setBrush(col);
      p.drawPath(wave);
    }
  } else if (kind == "noise") {
    // Incompressible content, for pictures that must weigh what their size says.
    p.end();
    for (int y = 0; y < height; ++y) {
      QRgb *row = reinterpret_cast<QRgb *>(img.scanLine(y));
      for (int x = 0; x < width; ++x)
        row[x] = qRgb(int(rng() & 0xFF), int(rng() & 0xFF), int(rng() & 0xFF));
    }
    return img;
  } else {
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, Hsv(rng));
    g.setColorAt(1, Hsv(rng));
    p.fillRect(img.rect(), g);
  }
  return img;
}

std::vector<QImage> PaintAnimation(int width, int height, int frames) {
  std::vector<QImage> out;
  std::mt19937 rng(7);
  std::vector<QPointF> flakes;
  for (int i = 0; i < 40; ++i)
    flakes.emplace_back(rng() % width, rng() % height);
  for (int f = 0; f < frames; ++f) {
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(QColor(25, 40, 90));
    QPainter p(&img);
    QPolygonF tree;
    tree << QPointF(width / 2.0, height * 0.1) << QPointF(width * 0.2, height * 0.85)
         << QPointF(width * 0.8, height * 0.85);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 120, 50));
    p.drawPolygon(tree);
    p.setBrush(QColor(110, 70, 30));
    p.drawRect(QRectF(width * 0.45, height * 0.85, width * 0.1, height * 0.1));
    p.setBrush(Qt::white);
    for (const auto &fl : flakes) {
      const double y = std::fmod(fl.y() + f * height / double(frames), height);
      p.drawEllipse(QPointF(fl.x(), y), 2, 2);
    }
    out.push_back(img);
  }
  return out;
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void PackTemplate(const std::string &cabPath,
                  const std::vector<std::pair<std::string, std::string>> &files) {
  TSTCabWriter w;
  w.setCompressionType(cctMsZip);
  w.StartCabinet(cabPath);
  for (const auto &[src, stored] : files)
    w.AddFile(src, stored);
  w.CloseCabinet(true);
}

} // namespace plm::samples
