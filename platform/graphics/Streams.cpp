#include "platform/graphics/Streams.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plm {

int64_t TStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

size_t TStream::ReadAt(int64_t pos, void *buffer, size_t count) {
  if (Seek(pos, TSeekOrigin::soBeginning) != pos) return 0;
  return Read(buffer, count);
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void *buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void *buffer, size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream &source, int64_t count) {
  uint8_t buf[65536];
  int64_t left = count;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, sizeof buf));
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    left -= static_cast<int64_t>(n);
  }
  return count;
}

int64_t TStream::CopyRest(TStream &source) {
  uint8_t buf[65536];
  int64_t total = 0;
  for (;;) {
    const size_t n = source.Read(buf, sizeof buf);
    if (n == 0) break;
    WriteBuffer(buf, n);
    total += static_cast<int64_t>(n);
  }
  return total;
}

uint8_t TStream::ReadByte() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

uint16_t TStream::ReadLE16() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t TStream::ReadLE32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void TStream::WriteLE32(uint32_t v) {
  const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  WriteBuffer(b, 4);
}

// --- TMemoryStream

size_t TMemoryStream::Read(void *buffer, size_t count) {
  if (fPos >= fData.size()) return 0;
  const size_t n = std::min(count, fData.size() - fPos);
  std::memcpy(buffer, fData.data() + fPos, n);
  fPos += n;
  return n;
}

size_t TMemoryStream::Write(const void *buffer, size_t count) {
  if (count == 0) return 0;
  if (fPos + count > fData.size()) fData.resize(fPos + count);
  std::memcpy(fData.data() + fPos, buffer, count);
  fPos += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::soCurrent) base = static_cast<int64_t>(fPos);
  if (origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(fData.size());
  // A position before the start is clamped to it; beyond the end it is allowed (a later
  // write fills the gap with zeros, a read returns nothing).
  fPos = static_cast<size_t>(std::max<int64_t>(0, base + offset));
  return static_cast<int64_t>(fPos);
}

void TMemoryStream::SetSize(int64_t size) {
  fData.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  if (fPos > fData.size()) fPos = fData.size();
}

void TMemoryStream::Clear() {
  fData.clear();
  fData.shrink_to_fit();
  fPos = 0;
}

void TMemoryStream::LoadFromStream(TStream &source) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, size)));
  source.ReadBuffer(bytes.data(), bytes.size());
  fData.swap(bytes);
  fPos = 0;
}

void TMemoryStream::LoadFromFile(const std::string &fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream &dest) const {
  dest.WriteBuffer(fData.data(), fData.size());
}

void TMemoryStream::SaveToFile(const std::string &fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

// --- TFileStream

TFileStream::TFileStream(const std::string &fileName, unsigned mode) : fFileName(fileName) {
  if (mode == fmCreate) {
    fFd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fFd < 0)
      throw EFOpenError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    return;
  }
  int flags = O_RDONLY;
  if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
  if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
  fFd = ::open(fileName.c_str(), flags | O_CLOEXEC);
  if (fFd >= 0) {
    struct stat st;
    if (::fstat(fFd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fFd);
      fFd = -1;
      errno = EISDIR;
    }
  }
  if (fFd < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
  if (fFd >= 0) ::close(fFd);
}

size_t TFileStream::Read(void *buffer, size_t count) {
  size_t done = 0;
  auto *p = static_cast<uint8_t *>(buffer);
  while (done < count) {
    const ssize_t n = ::read(fFd, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t TFileStream::Write(const void *buffer, size_t count) {
  size_t done = 0;
  auto *p = static_cast<const uint8_t *>(buffer);
  while (done < count) {
    const ssize_t n = ::write(fFd, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = ::lseek(fFd, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fFd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

size_t TFileStream::ReadAt(int64_t pos, void *buffer, size_t count) {
  size_t done = 0;
  auto *p = static_cast<uint8_t *>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(fFd, p + done, count - done, static_cast<off_t>(pos + int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fFd, static_cast<off_t>(size)) != 0) RaiseLastOSError();
}

} // namespace plm
