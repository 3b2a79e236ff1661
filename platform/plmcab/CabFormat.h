#pragma once
// The cabinet file format as both halves of the library read and write it: field
// layouts, little-endian access and the data block checksum.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace plmcab {

constexpr uint32_t kHeaderSize = 36;       // fixed part of the cabinet header
constexpr uint32_t kHeaderReserveInfo = 4; // cbCFHeader, cbCFFolder, cbCFData
constexpr uint32_t kFolderSize = 8;        // coffCabStart, cCFData, typeCompress
constexpr uint32_t kFileSize = 16;         // before the name
constexpr uint32_t kDataSize = 8;          // csum, cbData, cbUncomp
constexpr uint32_t kMaxBlock = 32768;      // uncompressed bytes of a data block
constexpr uint32_t kMaxHeaderReserve = 60000;
constexpr uint32_t kMaxNameBytes = 255; // without the terminating zero
constexpr uint32_t kMaxFolderBytes = 0x7FFF8000u;

// Where each field lies in its record, by the format's own field names.
namespace cfheader { // the fixed part of the cabinet header
constexpr size_t signature = 0, cbCabinet = 8, coffFiles = 16, versionMinor = 24,
                 versionMajor = 25, cFolders = 26, cFiles = 28, flags = 30, setID = 32,
                 iCabinet = 34;
} // namespace cfheader
namespace cfreserve { // after the fixed part when kFlagReservePresent is set
constexpr size_t cbCFHeader = 0, cbCFFolder = 2, cbCFData = 3;
} // namespace cfreserve
namespace cffolder {
constexpr size_t coffCabStart = 0, cCFData = 4, typeCompress = 6;
} // namespace cffolder
namespace cffile { // before the name
constexpr size_t cbFile = 0, uoffFolderStart = 4, iFolder = 8, date = 10, time = 12, attribs = 14;
} // namespace cffile
namespace cfdata {
constexpr size_t csum = 0, cbData = 4, cbUncomp = 6;
} // namespace cfdata

constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

constexpr uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

inline uint16_t GetU16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutU16(uint8_t *p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutU32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Appends little-endian values to a byte string.
inline void AddU8(std::string &s, uint8_t v) { s.push_back(char(v)); }
inline void AddU16(std::string &s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
inline void AddU32(std::string &s, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s.push_back(char((v >> (8 * i)) & 0xFF));
}

// The checksum of the cabinet format: little-endian words XORed together, the last
// one to three bytes taken high byte first.
inline uint32_t Checksum(const uint8_t *data, size_t n, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = n / 4;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight words at a time into four independent lanes, folded at the end: the same
    // XOR, without one long chain of dependent steps.
    uint64_t a = 0, b = 0, c = 0, d = 0;
    for (; words >= 8; words -= 8, data += 32) {
      uint64_t w, x, y, z;
      std::memcpy(&w, data, 8);
      std::memcpy(&x, data + 8, 8);
      std::memcpy(&y, data + 16, 8);
      std::memcpy(&z, data + 24, 8);
      a ^= w;
      b ^= x;
      c ^= y;
      d ^= z;
    }
    const uint64_t wide = a ^ b ^ c ^ d;
    sum ^= uint32_t(wide) ^ uint32_t(wide >> 32);
  }
  for (; words--; data += 4)
    sum ^= GetU32(data);
  uint32_t ul = 0;
  switch (n & 3) {
  case 3:
    ul |= uint32_t(*data++) << 16;
    [[fallthrough]];
  case 2:
    ul |= uint32_t(*data++) << 8;
    [[fallthrough]];
  case 1:
    ul |= *data;
    break;
  default:
    break;
  }
  return sum ^ ul;
}

// The checksum stored in a data block: over the data, then over cbData and cbUncomp.
inline uint32_t BlockChecksum(const uint8_t *data, uint16_t cbData, uint16_t cbUncomp) {
  uint8_t sizes[4];
  PutU16(sizes, cbData);
  PutU16(sizes + 2, cbUncomp);
  return Checksum(sizes, 4, Checksum(data, cbData, 0));
}

} // namespace plmcab
