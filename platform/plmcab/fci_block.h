#pragma once
// Data blocks as the writer emits them: compressed (MSZIP) or stored, then put behind
// their block header into the spill store.
#include "platform/plmcab/fci_spill.h"

#include <zlib.h>

#include <cstdint>
#include <span>
#include <vector>

namespace plmcab::fci {

class BlockEncoder {
public:
  BlockEncoder() = default;
  ~BlockEncoder();
  BlockEncoder(const BlockEncoder &) = delete;
  BlockEncoder &operator=(const BlockEncoder &) = delete;

  // The block's bytes as stored in the cabinet: data itself for no compression, else the
  // MSZIP block, valid until the next call.
  std::span<const uint8_t> Compress(const uint8_t *data, uint32_t n, uint16_t comp);

private:
  z_stream z{};
  bool zReady = false;
  std::vector<uint8_t> block;
};

// Stores one data block, or the head of a block cut at a cabinet's end (uncompressed
// size 0), with resData reserved bytes in its header. Returns the bytes stored.
uint32_t StoreBlock(SpillStore &spill, uint32_t resData, const uint8_t *data, uint32_t cbData,
                    uint32_t cbUncomp);

} // namespace plmcab::fci
