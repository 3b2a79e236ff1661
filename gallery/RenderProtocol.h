#pragma once
// What a renderer process and its client say to each other over the process's standard
// input and output. Each message is a frame: its length (4 bytes, little-endian), then
// that many bytes.
//   request   the path of a template (bytes as on disk)
//   answer    one kind byte, then:
//             'P' the thumbnail: width and height (4 bytes each, little-endian), then
//                 width x height pixels of 4 bytes (QImage::Format_RGB32)
//             'F' why the template cannot be shown (UTF-8, French)
//             'C' nothing: the template changed while it was made; ask again
// The process also writes the template's entry of the thumbnail cache (picture or
// failure) before it answers; it ends at the end of its input.
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plm::render {

inline constexpr char kPicture = 'P';
inline constexpr char kFailure = 'F';
inline constexpr char kChanged = 'C';
// Far beyond any request or answer (a 256 x 256 picture is 256 KB): a longer frame means
// the stream is out of step.
inline constexpr uint32_t kMaxFrame = 64u << 20;
inline constexpr size_t kHeaderSize = 4;
// The longest a client waits for a template's answer; the process gives up a page a
// little before (ServerTimeoutMs), so that a slow page is told as such, not as a hang.
inline constexpr int kTemplateTimeoutMs = 20000;
inline constexpr int ServerTimeoutMs(int clientTimeoutMs) { return clientTimeoutMs * 3 / 4; }
// The largest side of a picture answered: far above any thumbnail.
inline constexpr uint32_t kMaxPictureSide = 4096;

inline void PutU32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(char((v >> (8 * i)) & 0xFF));
}

inline uint32_t GetU32(std::string_view in, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= uint32_t(uint8_t(in[at + size_t(i)])) << (8 * i);
  return v;
}

inline std::string Frame(std::string_view payload) {
  std::string out;
  out.reserve(kHeaderSize + payload.size());
  PutU32(out, uint32_t(payload.size()));
  out.append(payload);
  return out;
}

// The answers, as the process writes them.
std::string PictureAnswer(const QImage &picture); // any format; sent as RGB32
std::string FailureAnswer(const QString &reason);
std::string ChangedAnswer();

// An answer as the client reads it; false when it is not one the process writes.
struct Answer {
  char Kind = 0;
  QImage Picture; // kPicture
  QString Reason; // kFailure
};
bool ReadAnswer(std::string_view payload, Answer &answer);

} // namespace plm::render
