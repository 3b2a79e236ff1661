// One deflate stream serves the whole context; it is reset for each block, since every
// MSZIP block of a cabinet starts afresh.
#include "platform/plmcab/fci_block.h"

#include "platform/plmcab/CabFormat.h"

namespace plmcab::fci {

BlockEncoder::~BlockEncoder() {
  if (zReady) deflateEnd(&z);
}

std::span<const uint8_t> BlockEncoder::Compress(const uint8_t *data, uint32_t n, uint16_t comp) {
  if ((comp & tcompMASK_TYPE) == tcompTYPE_NONE) return {data, n};
  if (!zReady) {
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw Failure(FCIERR_ALLOC_FAIL);
    zReady = true;
  } else if (deflateReset(&z) != Z_OK) {
    throw Failure(FCIERR_MCI_FAIL);
  }
  block.resize(2 + deflateBound(&z, n));
  block[0] = 'C';
  block[1] = 'K';
  z.next_in = const_cast<Bytef *>(data);
  z.avail_in = n;
  z.next_out = block.data() + 2;
  z.avail_out = uInt(block.size() - 2);
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw Failure(FCIERR_MCI_FAIL);
  const uint32_t outLen = uint32_t(2 + z.total_out);
  if (outLen > 0xFFFF) throw Failure(FCIERR_MCI_FAIL);
  return {block.data(), outLen};
}

uint32_t StoreBlock(SpillStore &spill, uint32_t resData, const uint8_t *data, uint32_t cbData,
                    uint32_t cbUncomp) {
  uint8_t head[kDataSize + 255] = {0};
  const uint32_t csum = resData ? 0 : BlockChecksum(data, uint16_t(cbData), uint16_t(cbUncomp));
  PutU32(head, csum);
  PutU16(head + 4, uint16_t(cbData));
  PutU16(head + 6, uint16_t(cbUncomp));
  spill.Append(head, kDataSize + resData);
  spill.Append(data, cbData);
  return kDataSize + resData + cbData;
}

} // namespace plmcab::fci
