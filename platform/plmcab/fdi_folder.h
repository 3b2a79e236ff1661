#pragma once
// Direct decoding of the stored and MSZIP folders of a cabinet that stands alone, with
// libdeflate: about twice as fast as libmspack's inflater, and with the cabinet read in
// large pieces. Anything unusual (a damaged or oddly cut block, a checksum that does not
// match, a short read) makes it step aside, so that libmspack decodes the file and
// reports the fault as it always has.
#include "platform/plmcab/fdi_fci.h"

#include <cstdint>
#include <string>
#include <vector>

struct libdeflate_decompressor;

namespace plmcab {

// The caller's file callbacks that the decoder reads the cabinet and writes files with.
struct FileCallbacks {
  PFNOPEN open;
  PFNREAD read;
  PFNWRITE write;
  PFNCLOSE close;
  PFNSEEK seek;
};

// Where a folder's data blocks lie and how they are compressed.
struct FolderPlace {
  uint32_t dataOffset = 0;
  uint16_t blocks = 0;
  uint16_t comp = 0;
};

class FolderDecoder {
public:
  enum class Result {
    Done,        // every byte of the file written
    WriteFailed, // the write callback failed
    StepAside,   // nothing more written: libmspack takes over after the bytes written
  };

  // resData is the reserve in each data block's header.
  FolderDecoder(const FileCallbacks &io, uint8_t resData);
  ~FolderDecoder(); // closes the cabinet
  // Opens the cabinet for reading; false when it cannot be opened.
  bool Open(const std::string &path);
  FolderDecoder(const FolderDecoder &) = delete;
  FolderDecoder &operator=(const FolderDecoder &) = delete;

  // Whether the decoder handles folders of this compression.
  static bool Handles(uint16_t comp);

  // Writes bytes [offset, offset + length) of the folder's decoded data to out. written
  // gets the bytes written, also when the decoder steps aside. Files are best taken in
  // their order in the folder: going back restarts the folder.
  Result Extract(int folder, const FolderPlace &place, uint32_t offset, uint32_t length,
                 CABHANDLE out, uint32_t &written);

private:
  bool Restart(int folder, const FolderPlace &place);
  bool NextBlock();
  bool Inflate(uint8_t *data, uint16_t cbData, uint16_t cbUncomp);
  size_t ReadAtLeast(uint8_t *dst, size_t least, size_t most);

  FileCallbacks fIo;
  CABHANDLE fCabinet = -1;
  uint8_t fResData;
  libdeflate_decompressor *fInflater = nullptr;

  // The folder being decoded and its current block: bytes [fBlockStart, fBlockStart +
  // fBlockLen) of the folder's data, at fBlock.
  int fFolder = -1;
  FolderPlace fPlace;
  uint32_t fNextBlock = 0;
  uint64_t fBlockStart = 0;
  uint32_t fBlockLen = 0;
  const uint8_t *fBlock = nullptr;
  bool fHasHistory = false; // the current block is a full one that the next may refer to

  // Each block's data is read with the header of the next one, into one of two buffers in
  // turn, so that the block before stays readable. Ahead of the data there is room for a
  // stored deflate block that carries the previous block's output: together one stream,
  // in which references to the previous block resolve.
  std::vector<uint8_t> fStreams[2];
  int fCurrent = 0;
  uint8_t fHead[8 + 255];
  bool fHeadRead = false;       // fHead holds the next block's header
  std::vector<uint8_t> fOutput; // the history again, then the block (deflated blocks)
};

} // namespace plmcab
