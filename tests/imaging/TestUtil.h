#pragma once
// Small helpers shared by the imaging tests: a private temporary folder, byte-level
// GIF building and LZW code writing.
#include <QTemporaryDir>

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

class TempDir {
public:
  TempDir() : fDir() {}
  std::string Path(const std::string &name) const { return fDir.path().toStdString() + "/" + name; }
  std::string Root() const { return fDir.path().toStdString(); }

private:
  QTemporaryDir fDir;
};

// LZW codes packed from the least significant bit, with the code size following the
// decoder's rules (grows when the next free code reaches the limit, up to 12 bits).
class CodeWriter {
public:
  explicit CodeWriter(int minCodeSize)
      : fM(minCodeSize), fClear(1 << minCodeSize), fEnd(fClear + 1), fSize(minCodeSize + 1),
        fNext(fEnd + 1) {}
  CodeWriter &Put(int code) {
    fAcc |= uint64_t(code) << fBits;
    fBits += fSize;
    while (fBits >= 8) {
      fBytes.push_back(uint8_t(fAcc));
      fAcc >>= 8;
      fBits -= 8;
    }
    if (code == fClear) {
      fSize = fM + 1;
      fNext = fEnd + 1;
      fFirst = true;
    } else if (code != fEnd) {
      if (fFirst) {
        fFirst = false;
      } else if (fNext < 4096) {
        ++fNext;
        if (fNext >= (1 << fSize) && fSize < 12) ++fSize;
      }
    }
    return *this;
  }
  int Clear() const { return fClear; }
  int End() const { return fEnd; }
  int Next() const { return fNext; }
  int Size() const { return fSize; }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = fBytes;
    if (fBits > 0) b.push_back(uint8_t(fAcc));
    return b;
  }

private:
  int fM, fClear, fEnd, fSize, fNext;
  bool fFirst = true;
  uint64_t fAcc = 0;
  int fBits = 0;
  std::vector<uint8_t> fBytes;
};

// A GIF file written block by block.
class GifBuilder {
public:
  // A global table of 2^tableBits entries (grey shades), none when tableBits is 0.
  GifBuilder(int width, int height, int tableBits = 2, const char *signature = "GIF89a") {
    fBytes.assign(signature, signature + 6);
    Le16(width);
    Le16(height);
    fBytes.push_back(tableBits > 0 ? uint8_t(0x80 | (tableBits - 1)) : 0);
    fBytes.push_back(0);
    fBytes.push_back(0);
    for (int i = 0; i < (tableBits > 0 ? 1 << tableBits : 0); ++i)
      for (int k = 0; k < 3; ++k)
        fBytes.push_back(uint8_t(i * 255 / ((1 << tableBits) - 1)));
  }
  GifBuilder &Gce(int delay) {
    Raw({0x21, 0xF9, 4, 0, uint8_t(delay), uint8_t(delay >> 8), 0, 0});
    return *this;
  }
  GifBuilder &Comment(const std::string &text) {
    Raw({0x21, 0xFE});
    SubBlocks(std::vector<uint8_t>(text.begin(), text.end()));
    return *this;
  }
  // An image descriptor (flags as given; a local table of 2^localBits entries follows when
  // localBits > 0), the code size byte and the data sub-blocks.
  GifBuilder &Image(int width, int height, int codeSize, const std::vector<uint8_t> &data,
                    uint8_t flags = 0, int localBits = 0) {
    fBytes.push_back(0x2C);
    Le16(0);
    Le16(0);
    Le16(width);
    Le16(height);
    if (localBits > 0) flags = uint8_t(flags | 0x80 | (localBits - 1));
    fBytes.push_back(flags);
    for (int i = 0; i < (localBits > 0 ? 1 << localBits : 0); ++i)
      Raw({uint8_t(i), 0x80, 0x40});
    fBytes.push_back(uint8_t(codeSize));
    SubBlocks(data);
    return *this;
  }
  GifBuilder &SubBlocks(const std::vector<uint8_t> &data) {
    for (size_t i = 0; i < data.size(); i += 255) {
      const size_t n = std::min<size_t>(255, data.size() - i);
      fBytes.push_back(uint8_t(n));
      fBytes.insert(fBytes.end(), data.begin() + long(i), data.begin() + long(i + n));
    }
    fBytes.push_back(0);
    return *this;
  }
  GifBuilder &Raw(std::initializer_list<uint8_t> bytes) {
    fBytes.insert(fBytes.end(), bytes);
    return *this;
  }
  GifBuilder &Trailer() { return Raw({0x3B}); }
  const std::vector<uint8_t> &Bytes() const { return fBytes; }

private:
  void Le16(int v) {
    fBytes.push_back(uint8_t(v));
    fBytes.push_back(uint8_t(v >> 8));
  }
  std::vector<uint8_t> fBytes;
};

} // namespace testutil
