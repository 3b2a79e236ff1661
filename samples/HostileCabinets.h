#pragma once
// Hostile templates made from code for the tests, the fuzz seeds and the benchmark:
// cabinets written byte by byte, with fields the project's writer never puts there (a
// next cabinet named anywhere) or contents no real template has (gigabytes of zeros in
// a few megabytes of archive).
#include <cstdint>
#include <string>
#include <vector>

namespace plm::samples {

// One file of a hand-made cabinet: its stored name, and either its bytes or, when
// zeros is not 0, that many zero bytes. The attributes' 0x80 bit says that the name is
// UTF-8 (then taken byte for byte, valid or not); without it the name is Windows-1252.
struct CabEntry {
  std::string name;
  std::string data;
  uint64_t zeros = 0;
  uint16_t attribs = 0x20;
};

// A cabinet of one stored folder holding the files (data only). A non-empty nextCab
// fills the next-cabinet field with that name, byte for byte; iCabinet is the
// cabinet's index in its set (set 0).
std::string StoredCabinet(const std::vector<CabEntry> &files, const std::string &nextCab = "",
                          uint16_t iCabinet = 0);

// A cabinet whose files with data lie in a stored folder and whose files of zeros lie in
// an MSZIP folder that repeats one compressed block: about 1.7 KB of archive per MB of
// zeros, at most 65535 blocks of 32 KB (2 GB) in all.
std::string ZeroBombCabinet(const std::vector<CabEntry> &files);

} // namespace plm::samples
