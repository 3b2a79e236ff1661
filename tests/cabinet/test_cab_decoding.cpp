// Decoding of folders: files taken in any selection from several folders, blocks that
// the fast decoder leaves to libmspack in the middle of a file, and the block checksum.
#include "cabinet/CabSTComps.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <set>

using namespace cabtest;
using plm::TSTCabReader;

namespace {

// Files of a cabinet with several folders, some spanning blocks, some inside one block.
std::vector<SourceFile> FolderFiles() {
  std::vector<SourceFile> files;
  const size_t sizes[] = {50000, 700, 90000, 0, 33000, 5, 70000, 1200, 40000, 65536};
  for (size_t i = 0; i < std::size(sizes); ++i)
    files.push_back({"f" + std::to_string(i), MakeData(sizes[i], uint32_t(i + 7), i % 3 != 1)});
  return files;
}

class CabSelection : public ::testing::TestWithParam<plm::TSTCabCompressionType> {};

} // namespace

// Each selection skips files at the start, in the middle and at the end of folders (three
// files a folder), so that decoding goes on past files nobody wants.
TEST_P(CabSelection, SkippedFilesLeaveTheOthersExact) {
  TempDir dir;
  const std::vector<SourceFile> files = FolderFiles();
  {
    plm::TSTCabWriter w;
    w.setCompressionType(GetParam());
    w.FolderFileCountThreshold = 3;
    w.StartCabinet(dir / "t.cab");
    for (size_t i = 0; i < files.size(); ++i) {
      WriteFile(dir / files[i].stored, files[i].data);
      w.AddFile(dir / files[i].stored, files[i].stored);
    }
    w.CloseCabinet(true);
  }
  for (const std::set<std::string> &wanted : std::vector<std::set<std::string>>{
           {"f1", "f2", "f4", "f8"}, {"f0", "f5", "f6", "f9"}, {"f3", "f7", "f9"}}) {
    std::string out = dir / ("out" + *wanted.begin());
    TSTCabReader r;
    r.OnCopyFile = [&](TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t,
                       uint16_t, uint16_t, std::string &dst, bool &) {
      if (!wanted.count(src)) dst.clear();
    };
    r.ExtractFiles(dir / "t.cab", out);
    std::vector<std::string> expected(wanted.begin(), wanted.end());
    EXPECT_EQ(ListTree(out), expected);
    for (const SourceFile &f : files) {
      if (wanted.count(f.stored)) {
        EXPECT_EQ(ReadFile(out + "/" + f.stored), f.data) << f.stored;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Compressions, CabSelection,
                         ::testing::Values(plm::cctMsZip, plm::cctNone));

namespace {

struct Oddity {
  const char *what;
  int block;         // the data block changed
  bool beforeMarker; // a byte put before the block's "CK", else after its stream
};

class CabOddBlocks : public ::testing::TestWithParam<Oddity> {};

// Puts a byte into one data block of a one-folder MSZIP cabinet, with its sizes and
// checksum made right again. libmspack reads past such a byte; the fast decoder does not.
std::string WithOddBlock(const std::string &cab, const Oddity &odd) {
  using namespace plmcab;
  std::string c = cab;
  auto *b = reinterpret_cast<uint8_t *>(c.data());
  size_t pos = GetU32(b + kHeaderSize + cffolder::coffCabStart);
  for (int i = 0; i < odd.block; ++i)
    pos += kDataSize + GetU16(b + pos + cfdata::cbData);
  const uint16_t cbData = GetU16(b + pos + cfdata::cbData);
  const uint16_t cbUncomp = GetU16(b + pos + cfdata::cbUncomp);
  c.insert(pos + kDataSize + (odd.beforeMarker ? 0 : cbData), 1, '\x5A');
  b = reinterpret_cast<uint8_t *>(c.data());
  PutU16(b + pos + cfdata::cbData, uint16_t(cbData + 1));
  PutU32(b + pos + cfdata::csum,
         BlockChecksum(b + pos + kDataSize, uint16_t(cbData + 1), cbUncomp));
  PutU32(b + cfheader::cbCabinet, uint32_t(c.size()));
  return c;
}

} // namespace

// Noise makes stored frames, text deflated ones; the odd block lies at the start of the
// first file, in the middle of a file begun by the fast decoder, or in a later file.
TEST_P(CabOddBlocks, LibmspackFinishesTheFileExactly) {
  TempDir dir;
  const std::vector<SourceFile> files = {{"a.txt", MakeData(50000, 1, true)},
                                         {"b.bin", MakeData(90000, 2, false)},
                                         {"c.txt", MakeData(3000, 3, true)}};
  BuildCabinet(dir / "t.cab", files);
  WriteFile(dir / "odd.cab", WithOddBlock(ReadFile(dir / "t.cab"), GetParam()));
  TSTCabReader r;
  r.ExtractFiles(dir / "odd.cab", dir / "out");
  for (const SourceFile &f : files)
    EXPECT_EQ(ReadFile(dir / ("out/" + f.stored)), f.data) << f.stored;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, CabOddBlocks,
    ::testing::Values(Oddity{"FirstBlockMarker", 0, true}, Oddity{"TextMarker", 1, true},
                      Oddity{"TextTail", 1, false}, Oddity{"NoiseTail", 2, false},
                      Oddity{"NoiseMarker", 3, true}, Oddity{"LastBlockTail", 4, false}),
    [](const ::testing::TestParamInfo<Oddity> &info) { return std::string(info.param.what); });

// The word-parallel checksum against the format's definition, over every length of tail.
TEST(CabChecksum, MatchesTheWordByWordDefinition) {
  const std::string data = MakeData(300, 9, false);
  const auto *p = reinterpret_cast<const uint8_t *>(data.data());
  for (size_t n = 0; n <= 80; ++n) {
    uint32_t expected = 0x12345678;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
      expected ^= plmcab::GetU32(p + i);
    uint32_t tail = 0;
    for (; i < n; ++i)
      tail = (tail << 8) | p[i];
    EXPECT_EQ(plmcab::Checksum(p, n, 0x12345678), expected ^ tail) << n;
  }
}
