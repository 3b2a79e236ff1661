#include "platform/plmcab/fdi_folder.h"

#include "platform/plmcab/CabFormat.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace plmcab {

namespace {

constexpr uint32_t kHistory = kMaxBlock;             // what a block may refer back to
constexpr uint32_t kMaxData = kMaxBlock + 6144;      // the largest compressed block
constexpr size_t kStoredHeader = 5;                  // a stored deflate block's header
constexpr size_t kDataAt = kStoredHeader + kHistory; // where a block's data is read to
constexpr size_t kMaxHead = kDataSize + 255;         // a block header with its reserve

} // namespace

FolderDecoder::FolderDecoder(const FileCallbacks &io, uint8_t resData)
    : fIo(io), fResData(resData), fOutput(kHistory + kMaxBlock) {
  for (auto &s : fStreams)
    s.resize(kDataAt + kMaxData + kMaxHead);
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

// Reads up to most bytes, stopping once at least least of them are there; the count read.
size_t FolderDecoder::ReadAtLeast(uint8_t *dst, size_t least, size_t most) {
  size_t got = 0;
  while (got < least) {
    const uint32_t n = fIo.read(fCabinet, dst + got, uint32_t(most - got));
    if (n == uint32_t(-1) || n == 0 || n > most - got) break;
    got += n;
  }
  return got;
}

bool FolderDecoder::Restart(int folder, const FolderPlace &place) {
  fFolder = -1;
  if (place.dataOffset > uint32_t(INT32_MAX) ||
      fIo.seek(fCabinet, int32_t(place.dataOffset), 0) == -1)
    return false;
  fPlace = place;
  fNextBlock = 0;
  fBlockStart = 0;
  fBlockLen = 0;
  fBlock = nullptr;
  fHasHistory = false;
  fHeadRead = false;
  fFolder = folder;
  return true;
}

bool FolderDecoder::NextBlock() {
  if (fNextBlock >= fPlace.blocks) return false;
  const size_t headLen = kDataSize + fResData;
  if (!fHeadRead && ReadAtLeast(fHead, headLen, headLen) != headLen) return false;
  fHeadRead = false;
  const uint32_t csum = GetU32(fHead + cfdata::csum);
  const uint16_t cbData = GetU16(fHead + cfdata::cbData);
  const uint16_t cbUncomp = GetU16(fHead + cfdata::cbUncomp);
  // Blocks cut at a cabinet's end (no uncompressed size) belong to sets, which libmspack
  // joins; a full history is needed for the next block to refer back into.
  const bool last = fNextBlock + 1 == fPlace.blocks;
  if (cbUncomp == 0 || cbUncomp > kMaxBlock || cbData > kMaxData ||
      (!last && cbUncomp != kMaxBlock))
    return false;
  fCurrent ^= 1;
  uint8_t *data = fStreams[fCurrent].data() + kDataAt;
  const size_t ahead = last ? 0 : headLen;
  const size_t got = ReadAtLeast(data, cbData, cbData + ahead);
  if (got < cbData) return false;
  if (got > cbData) {
    // The next header, or the start of it.
    const size_t part = got - cbData;
    std::memcpy(fHead, data + cbData, part);
    fHeadRead = part == headLen ||
                ReadAtLeast(fHead + part, headLen - part, headLen - part) == headLen - part;
    if (!fHeadRead) fPlace.blocks = uint16_t(fNextBlock + 1); // no block can follow
  }
  if (csum != 0 && BlockChecksum(data, cbData, cbUncomp) != csum) return false;

  if ((fPlace.comp & tcompMASK_TYPE) == tcompTYPE_NONE) {
    if (cbData != cbUncomp) return false;
    fBlock = data;
  } else if (cbData >= 2 && data[0] == 'C' && data[1] == 'K' && cbData == 7 + cbUncomp &&
             (data[2] & 7) == 1 && GetU16(data + 3) == cbUncomp &&
             GetU16(data + 5) == uint16_t(~cbUncomp)) {
    // One final stored block, as compressors write incompressible data: the block's
    // bytes are there already.
    fBlock = data + 7;
  } else if (!Inflate(data, cbData, cbUncomp)) {
    return false;
  }
  fHasHistory = cbUncomp == kHistory;
  fBlockStart += fBlockLen;
  fBlockLen = cbUncomp;
  ++fNextBlock;
  return true;
}

bool FolderDecoder::Inflate(uint8_t *data, uint16_t cbData, uint16_t cbUncomp) {
  if (cbData < 2 || data[0] != 'C' || data[1] != 'K') return false;
  // The history goes in as a stored block that ends where the deflate data begins (over
  // the block's signature, checked already).
  uint8_t *start = data + 2;
  const uint32_t history = fHasHistory ? kHistory : 0;
  if (history) {
    start -= kStoredHeader + history;
    std::memcpy(start + kStoredHeader, fBlock, history);
    start[0] = 0; // stored, not the last block
    PutU16(start + 1, uint16_t(history));
    PutU16(start + 3, uint16_t(~history));
  }
  // The stream must fill the block exactly and end with the block's data: libmspack
  // would look for the next block's signature in bytes left over.
  const size_t inBytes = size_t(data + cbData - start);
  size_t used = 0;
  if (libdeflate_deflate_decompress_ex(fInflater, start, inBytes, fOutput.data(),
                                       history + cbUncomp, &used, nullptr) != LIBDEFLATE_SUCCESS ||
      used != inBytes)
    return false;
  fBlock = fOutput.data() + history;
  return true;
}

FolderDecoder::Result FolderDecoder::Extract(int folder, const FolderPlace &place, uint32_t offset,
                                             uint32_t length, CABHANDLE out, uint32_t &written) {
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
