#include "platform/plmcab/fdi_folder.h"

#include "platform/plmcab/CabFormat.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace plmcab {

namespace {

constexpr uint32_t kHistory = kMaxBlock;           // what a block may refer back to
constexpr uint32_t kMaxData = kMaxBlock + 6144;    // the largest compressed block
constexpr size_t kStoredHeader = 5;                // a stored deflate block's header
constexpr size_t kDataAt = kStoredHeader + kHistory; // where a block's data is read to
constexpr size_t kReadAhead = 256 * 1024;

} // namespace

FolderDecoder::FolderDecoder(const FileCallbacks &io, uint8_t resData)
    : fIo(io), fResData(resData), fInput(kReadAhead), fStream(kDataAt + kMaxData),
      fOutput(kHistory + kMaxBlock) {
  fInflater = libdeflate_alloc_decompressor();
  if (!fInflater) throw std::bad_alloc();
}

FolderDecoder::~FolderDecoder() {
  libdeflate_free_decompressor(fInflater);
  if (fCabinet != -1) fIo.close(fCabinet);
}

bool FolderDecoder::Open(const std::string &path) {
  if (fCabinet != -1) return true;
  std::string name = path;
  fCabinet = fIo.open(name.data(), CAB_O_RDONLY | CAB_O_BINARY | CAB_O_SEQUENTIAL, 0);
  return fCabinet != -1;
}

bool FolderDecoder::Handles(uint16_t comp) {
  const uint16_t type = comp & tcompMASK_TYPE;
  return type == tcompTYPE_NONE || type == tcompTYPE_MSZIP;
}

bool FolderDecoder::Read(uint8_t *dst, size_t n) {
  while (n > 0) {
    if (fInPos == fInLen) {
      const uint32_t got = fIo.read(fCabinet, fInput.data(), uint32_t(fInput.size()));
      if (got == uint32_t(-1) || got == 0 || got > fInput.size()) return false;
      fInPos = 0;
      fInLen = got;
    }
    const size_t k = std::min(n, fInLen - fInPos);
    std::memcpy(dst, fInput.data() + fInPos, k);
    fInPos += k;
    dst += k;
    n -= k;
  }
  return true;
}

bool FolderDecoder::Restart(int folder, const FolderPlace &place) {
  fFolder = -1;
  if (place.dataOffset > uint32_t(INT32_MAX) ||
      fIo.seek(fCabinet, int32_t(place.dataOffset), 0) == -1)
    return false;
  fInPos = fInLen = 0;
  fPlace = place;
  fNextBlock = 0;
  fBlockStart = 0;
  fBlockLen = 0;
  fBlock = nullptr;
  fHistory = 0;
  fFolder = folder;
  return true;
}

bool FolderDecoder::NextBlock() {
  if (fNextBlock >= fPlace.blocks) return false;
  uint8_t head[kDataSize + 255];
  if (!Read(head, kDataSize + fResData)) return false;
  const uint32_t csum = GetU32(head + cfdata::csum);
  const uint16_t cbData = GetU16(head + cfdata::cbData);
  const uint16_t cbUncomp = GetU16(head + cfdata::cbUncomp);
  // Blocks cut at a cabinet's end (no uncompressed size) belong to sets, which libmspack
  // joins; a full history is needed for the next block to refer back into.
  const bool last = fNextBlock + 1 == fPlace.blocks;
  if (cbUncomp == 0 || cbUncomp > kMaxBlock || cbData > kMaxData || (!last && cbUncomp != kMaxBlock))
    return false;
  uint8_t *data = fStream.data() + kDataAt;
  if (!Read(data, cbData)) return false;
  if (csum != 0 && BlockChecksum(data, cbData, cbUncomp) != csum) return false;

  if ((fPlace.comp & tcompMASK_TYPE) == tcompTYPE_NONE) {
    if (cbData != cbUncomp) return false;
    fBlock = data;
  } else {
    if (cbData < 2 || data[0] != 'C' || data[1] != 'K') return false;
    // The history goes in as a stored block that ends where the deflate data begins
    // (over the block's "CK" signature, checked already).
    uint8_t *start = data + 2;
    if (fHistory) {
      start -= kStoredHeader + fHistory;
      std::memcpy(start + kStoredHeader, fBlock, fHistory);
      start[0] = 0; // not the last block, stored
      PutU16(start + 1, uint16_t(fHistory));
      PutU16(start + 3, uint16_t(~fHistory));
    }
    // The stream must fill the block exactly and end with the block's data: libmspack
    // would look for the next block's signature in bytes left over.
    const size_t inBytes = size_t(data + cbData - start);
    size_t used = 0;
    if (libdeflate_deflate_decompress_ex(fInflater, start, inBytes, fOutput.data(),
                                         fHistory + cbUncomp, &used,
                                         nullptr) != LIBDEFLATE_SUCCESS ||
        used != inBytes)
      return false;
    fBlock = fOutput.data() + fHistory;
    fHistory = kHistory; // the next block, if any, follows a full one
  }
  fBlockStart += fBlockLen;
  fBlockLen = cbUncomp;
  ++fNextBlock;
  return true;
}

FolderDecoder::Result FolderDecoder::Extract(int folder, const FolderPlace &place,
                                             uint32_t offset, uint32_t length, CABHANDLE out,
                                             uint32_t &written) {
  written = 0;
  if (uint64_t(offset) + length > kMaxFolderBytes) return Result::StepAside;
  if (fCabinet == -1) return Result::StepAside;
  if (folder != fFolder || offset < fBlockStart) {
    if (!Restart(folder, place)) return Result::StepAside;
  }
  while (length > 0) {
    if (offset >= fBlockStart + fBlockLen) {
      if (!NextBlock()) {
        fFolder = -1; // the next file starts the folder again
        return Result::StepAside;
      }
      continue;
    }
    const uint32_t from = uint32_t(offset - fBlockStart);
    const uint32_t n = std::min(fBlockLen - from, length);
    if (fIo.write(out, const_cast<uint8_t *>(fBlock + from), n) != n) {
      fFolder = -1;
      return Result::WriteFailed;
    }
    offset += n;
    length -= n;
    written += n;
  }
  return Result::Done;
}

} // namespace plmcab
