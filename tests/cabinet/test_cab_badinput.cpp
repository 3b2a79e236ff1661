// Hostile and broken cabinets: a clear ESTCabinet, no crash, no hang, and nothing written
// outside the destination folder.
#include "cabinet/CabSTComps.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

using namespace cabtest;
using plm::ESTCabinet;
using plm::TSTCabReader;

namespace {

// Extracts into dir/box/out and reports the library code (0 on success). Nothing may
// appear in dir/box beside out.
int Extract(const TempDir &dir, const std::string &cab) {
  std::filesystem::create_directories(dir / "box");
  TSTCabReader r;
  int code = 0;
  try {
    r.ExtractFiles(cab, dir / "box/out");
  } catch (const ESTCabinet &e) {
    code = e.ErrorCode;
    EXPECT_TRUE(e.HasError);
    EXPECT_FALSE(std::string(e.what()).empty());
  }
  for (const std::string &f : ListTree(dir / "box"))
    EXPECT_TRUE(f.rfind("out/", 0) == 0 || f == "out/") << f;
  return code;
}

} // namespace

TEST(CabBadInput, TruncatedCabinetsFail) {
  TempDir dir;
  BuildCabinet(dir / "t.cab",
               {{"a.txt", MakeData(50000, 1, true)}, {"b.bin", MakeData(40000, 2, false)}});
  const std::string whole = ReadFile(dir / "t.cab");
  for (size_t len :
       {size_t(0), size_t(3), size_t(4), size_t(10), size_t(35), size_t(36), size_t(50), size_t(70), size_t(100),
        whole.size() / 3, whole.size() / 2, whole.size() - 100, whole.size() - 1}) {
    SCOPED_TRACE(len);
    WriteFile(dir / "cut.cab", whole.substr(0, len));
    const int code = Extract(dir, dir / "cut.cab");
    // Without its whole signature a file is no cabinet; with it, a cut one is damaged.
    if (len < 36)
      EXPECT_EQ(code, len < 4 ? 2 : 4);
    else
      EXPECT_NE(code, 0);
  }
}

TEST(CabBadInput, HeaderFaultsGiveTheirCodes) {
  TempDir dir;
  WriteFile(dir / "idx.cab", RawCabinet({{"a.txt", "aaa"}, {"b.txt", "bbb", 5}}));
  EXPECT_EQ(Extract(dir, dir / "idx.cab"), 4); // folder 5 of 1
  WriteFile(dir / "cont.cab", RawCabinet({{"a.txt", "aaa", 0xFFFD}}));
  EXPECT_EQ(Extract(dir, dir / "cont.cab"), 4); // continued, without a previous cabinet
  std::string noName = RawCabinet({{"x", "aaa"}});
  noName[noName.find('x')] = '\0';
  WriteFile(dir / "empty-name.cab", noName);
  EXPECT_EQ(Extract(dir, dir / "empty-name.cab"), 4);
  WriteFile(dir / "long-name.cab", RawCabinet({{std::string(256, 'n'), "aaa"}}));
  EXPECT_EQ(Extract(dir, dir / "long-name.cab"), 4);
  WriteFile(dir / "lzw.cab", RawCabinet({{"a.txt", "aaa"}}, 0x0007));
  EXPECT_EQ(Extract(dir, dir / "lzw.cab"), 6);
  std::string badData = RawCabinet({{"a.txt", "abc"}}, 1); // MSZIP without its marker
  WriteFile(dir / "mszip.cab", badData);
  EXPECT_NE(Extract(dir, dir / "mszip.cab"), 0);
  std::string past = RawCabinet({{"a.txt", "abc"}});
  past[past.find("a.txt") - 16] = char(0xF0); // claims far more bytes than the folder has
  WriteFile(dir / "past.cab", past);
  EXPECT_EQ(Extract(dir, dir / "past.cab"), 4);
}

TEST(CabBadInput, LongestNameIsExtracted) {
  TempDir dir;
  WriteFile(dir / "n.cab", RawCabinet({{std::string(255, 'n'), "aaa"}}));
  EXPECT_EQ(Extract(dir, dir / "n.cab"), 0);
  EXPECT_EQ(ReadFile(dir / ("box/out/" + std::string(255, 'n'))), "aaa");
}

TEST(CabBadInput, NamesLeadingOutOfTheDestinationAreSkipped) {
  TempDir dir;
  std::filesystem::create_directories(dir / "box/out");
  std::filesystem::create_directories(dir / "outside");
  ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "box/out/link").c_str()), 0);
  WriteFile(dir / "outside/target.txt", "untouched");
  ASSERT_EQ(::symlink((dir / "outside/target.txt").c_str(), (dir / "box/out/file.txt").c_str()), 0);
  WriteFile(dir / "evil.cab", RawCabinet({{"..\\up1.txt", "1"},
                                          {"../up2.txt", "2"},
                                          {"a\\..\\..\\up3.txt", "3"},
                                          {"link\\in.txt", "4"},
                                          {"file.txt", "5"},
                                          {"..", "6"},
                                          {"good\\ok.txt", "ok"},
                                          {"\\\\abs.txt", "7"}}));
  EXPECT_EQ(Extract(dir, dir / "evil.cab"), 0);
  EXPECT_EQ(ReadFile(dir / "box/out/good/ok.txt"), "ok");
  EXPECT_EQ(ReadFile(dir / "box/out/abs.txt"), "7"); // a rooted name stays inside
  EXPECT_EQ(ListTree(dir / "outside"), std::vector<std::string>{"target.txt"});
  EXPECT_EQ(ReadFile(dir / "outside/target.txt"), "untouched");
  EXPECT_FALSE(Exists(dir / "box/up1.txt"));
  EXPECT_FALSE(Exists(dir / "up2.txt"));
  EXPECT_FALSE(Exists(dir / "box/up3.txt"));
}

TEST(CabBadInput, MarkersInsideDataAreJustData) {
  TempDir dir;
  std::string fake = RawCabinet({{"inner.txt", "inner"}});
  const std::string payload = "MSCF" + fake + "MSCF\0\0\0\0" + fake;
  BuildCabinet(dir / "t.cab", {{"a.cab", payload}, {"b.txt", "MSCFMSCF"}}, plm::cctNone);
  EXPECT_EQ(Extract(dir, dir / "t.cab"), 0);
  EXPECT_EQ(ReadFile(dir / "box/out/a.cab"), payload);
  EXPECT_EQ(ReadFile(dir / "box/out/b.txt"), "MSCFMSCF");
  // Junk ahead of a real cabinet is not searched through.
  WriteFile(dir / "prefixed.cab", "junk" + fake);
  EXPECT_EQ(Extract(dir, dir / "prefixed.cab"), 2);
}

TEST(CabBadInput, RandomBytesAndDamagedCabinets) {
  TempDir dir;
  BuildCabinet(dir / "good.cab",
               {{"a.txt", MakeData(40000, 3, true)}, {"b.bin", MakeData(3000, 4, false)}});
  const std::string good = ReadFile(dir / "good.cab");
  uint32_t x = 12345;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (int round = 0; round < 60; ++round) {
    std::string data;
    if (round < 20) {
      data = MakeData(next() % 4096, next(), false);
      if (round % 2) data.replace(0, std::min<size_t>(4, data.size()), "MSCF");
    } else {
      data = good;
      for (int k = 0; k < 1 + round % 8; ++k)
        data[next() % data.size()] = char(next());
    }
    WriteFile(dir / "r.cab", data);
    Extract(dir, dir / "r.cab");
    std::filesystem::remove_all(dir / "box");
  }
}
