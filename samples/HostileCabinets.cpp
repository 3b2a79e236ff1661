#include "samples/HostileCabinets.h"

#include "platform/plmcab/CabFormat.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace plm::samples {

namespace {

using namespace plmcab;

constexpr uint16_t kStored = 0, kMsZip = 1;

struct Folder {
  std::string blocks; // the data blocks, ready to be written
  uint16_t count = 0;
  uint16_t comp = kStored;
};

void AddBlock(Folder &f, const std::string &payload, uint16_t uncompressed) {
  if (f.count == 0xFFFF) throw std::length_error("too many data blocks for one folder");
  AddU32(f.blocks, 0); // no checksum
  AddU16(f.blocks, uint16_t(payload.size()));
  AddU16(f.blocks, uncompressed);
  f.blocks += payload;
  ++f.count;
}

// One MSZIP frame: "CK" and a whole deflate stream of n zero bytes.
std::string ZeroFrame(uint32_t n) {
  const std::string zeros(n, '\0');
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&z, n) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
  z.avail_in = n;
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = uInt(out.size());
  const int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return "CK" + out;
}

std::string Assemble(const std::vector<CabEntry> &files, const std::vector<uint16_t> &folderOf,
                     const std::vector<uint32_t> &offsets, const std::vector<Folder> &folders,
                     const std::string &nextCab, uint16_t iCabinet) {
  std::string table;
  for (size_t i = 0; i < files.size(); ++i) {
    const CabEntry &e = files[i];
    AddU32(table, uint32_t(e.zeros ? e.zeros : e.data.size()));
    AddU32(table, offsets[i]);
    AddU16(table, folderOf[i]);
    AddU16(table, 0x5A21); // 2025-01-01
    AddU16(table, 0x6000); // 12:00:00
    AddU16(table, e.attribs);
    table += e.name;
    table += '\0';
  }
  std::string names;
  if (!nextCab.empty()) names = nextCab + '\0' + '\0'; // the name, an empty disk name
  const uint32_t coffFiles =
      kHeaderSize + uint32_t(names.size()) + kFolderSize * uint32_t(folders.size());
  uint32_t dataAt = coffFiles + uint32_t(table.size());
  std::string folderTable, data;
  for (const Folder &f : folders) {
    AddU32(folderTable, dataAt + uint32_t(data.size()));
    AddU16(folderTable, f.count);
    AddU16(folderTable, f.comp);
    data += f.blocks;
  }
  std::string h = "MSCF";
  AddU32(h, 0);
  AddU32(h, dataAt + uint32_t(data.size()));
  AddU32(h, 0);
  AddU32(h, coffFiles);
  AddU32(h, 0);
  AddU8(h, 3);
  AddU8(h, 1);
  AddU16(h, uint16_t(folders.size()));
  AddU16(h, uint16_t(files.size()));
  AddU16(h, nextCab.empty() ? 0 : kFlagNextCabinet);
  AddU16(h, 0);
  AddU16(h, iCabinet);
  return h + names + folderTable + table + data;
}

void AddStoredBlocks(Folder &f, const std::string &data) {
  for (size_t at = 0; at < data.size(); at += kMaxBlock) {
    const std::string part = data.substr(at, kMaxBlock);
    AddBlock(f, part, uint16_t(part.size()));
  }
  if (f.count == 0) AddBlock(f, std::string(), 0); // files of no bytes still have a folder
}

} // namespace

std::string StoredCabinet(const std::vector<CabEntry> &files, const std::string &nextCab,
                          uint16_t iCabinet) {
  Folder folder;
  std::string data;
  std::vector<uint16_t> folderOf;
  std::vector<uint32_t> offsets;
  for (const CabEntry &e : files) {
    folderOf.push_back(0);
    offsets.push_back(uint32_t(data.size()));
    data += e.data;
  }
  AddStoredBlocks(folder, data);
  return Assemble(files, folderOf, offsets, {folder}, nextCab, iCabinet);
}

std::string ZeroBombCabinet(const std::vector<CabEntry> &files) {
  Folder stored, zeros;
  zeros.comp = kMsZip;
  std::string data;
  uint64_t zeroBytes = 0;
  std::vector<uint16_t> folderOf;
  std::vector<uint32_t> offsets;
  for (const CabEntry &e : files) {
    if (e.zeros) {
      folderOf.push_back(1);
      offsets.push_back(uint32_t(zeroBytes));
      zeroBytes += e.zeros;
    } else {
      folderOf.push_back(0);
      offsets.push_back(uint32_t(data.size()));
      data += e.data;
    }
  }
  AddStoredBlocks(stored, data);
  const std::string full = ZeroFrame(kMaxBlock);
  for (uint64_t left = zeroBytes; left > 0;) {
    const uint32_t n = uint32_t(std::min<uint64_t>(left, kMaxBlock));
    AddBlock(zeros, n == kMaxBlock ? full : ZeroFrame(n), uint16_t(n));
    left -= n;
  }
  std::vector<Folder> folders{stored};
  if (zeros.count) folders.push_back(zeros);
  return Assemble(files, folderOf, offsets, folders, "", 0);
}

} // namespace plm::samples
