#include "gallery/RenderProtocol.h"

#include <cstring>

namespace plm::render {

namespace {

constexpr size_t kPictureHead = 1 + 4 + 4; // kind, width, height

} // namespace

std::string PictureAnswer(const QImage &picture) {
  const QImage rgb = picture.format() == QImage::Format_RGB32
                         ? picture
                         : picture.convertToFormat(QImage::Format_RGB32);
  std::string a(1, kPicture);
  a.reserve(kPictureHead + size_t(rgb.width()) * size_t(rgb.height()) * 4);
  PutU32(a, uint32_t(rgb.width()));
  PutU32(a, uint32_t(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y)
    a.append(reinterpret_cast<const char *>(rgb.constScanLine(y)), size_t(rgb.width()) * 4);
  return a;
}

std::string FailureAnswer(const QString &reason) {
  return std::string(1, kFailure) + reason.toUtf8().toStdString();
}

std::string ChangedAnswer() { return std::string(1, kChanged); }

bool ReadAnswer(std::string_view p, Answer &answer) {
  answer = Answer{};
  if (p.empty()) return false;
  answer.Kind = p[0];
  switch (p[0]) {
  case kPicture: {
    if (p.size() < kPictureHead) return false;
    const uint32_t w = GetU32(p, 1), h = GetU32(p, 5);
    if (w == 0 || h == 0 || w > kMaxPictureSide || h > kMaxPictureSide ||
        p.size() != kPictureHead + size_t(w) * h * 4)
      return false;
    QImage picture(int(w), int(h), QImage::Format_RGB32);
    if (picture.isNull()) return false;
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(picture.scanLine(int(y)), p.data() + kPictureHead + size_t(y) * w * 4,
                  size_t(w) * 4);
    answer.Picture = std::move(picture);
    return true;
  }
  case kFailure:
    answer.Reason = QString::fromUtf8(p.data() + 1, qsizetype(p.size() - 1));
    return true;
  case kChanged: return p.size() == 1;
  default: return false;
  }
}

} // namespace plm::render
