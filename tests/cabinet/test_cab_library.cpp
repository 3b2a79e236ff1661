// The run-time binding: loading, the nine names, failures that leave it unloaded.
#include "cabinet/CabIntf.h"
#include "cabinet/CabSTComps.h"
#include "tests/cabinet/CabTestUtil.h"

#include "platform/DynLib.h"
#include "platform/FileSys.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <latch>
#include <thread>
#include <vector>

using namespace cabtest;
namespace ci = plm::CabIntf;

namespace {
// Each test leaves the binding as it found it: the real library, not loaded.
class CabLibrary : public ::testing::Test {
protected:
  void SetUp() override { ci::UnloadCabinetLibrary(); }
  void TearDown() override {
    ci::UnloadCabinetLibrary();
    ci::SetLibraryName(ci::DefaultLibraryName);
  }
};
} // namespace

TEST_F(CabLibrary, LoadsBesideTheProgramAndResolvesAllNine) {
  EXPECT_FALSE(ci::LibraryLoaded());
  EXPECT_EQ(ci::FDICopy, nullptr);
  ci::LoadCabinetLibrary();
  EXPECT_TRUE(ci::LibraryLoaded());
  EXPECT_NE(ci::FCICreate, nullptr);
  EXPECT_NE(ci::FCIAddFile, nullptr);
  EXPECT_NE(ci::FCIFlushCabinet, nullptr);
  EXPECT_NE(ci::FCIFlushFolder, nullptr);
  EXPECT_NE(ci::FCIDestroy, nullptr);
  EXPECT_NE(ci::FDICreate, nullptr);
  EXPECT_NE(ci::FDIIsCabinet, nullptr);
  EXPECT_NE(ci::FDICopy, nullptr);
  EXPECT_NE(ci::FDIDestroy, nullptr);
  EXPECT_EQ(ci::CabBool[false], 0);
  EXPECT_EQ(ci::CabBool[true], 1);
  ci::UnloadCabinetLibrary();
  EXPECT_EQ(ci::FDICopy, nullptr);
}

TEST_F(CabLibrary, MissingLibraryRaisesOsErrorAndALaterAttemptLoadsAgain) {
  ci::SetLibraryName("libplmcab-absent.so");
  plm::TSTCabReader r;
  TempDir dir;
  try {
    r.ExtractFiles(dir / "x.cab", dir / "out");
    ADD_FAILURE();
  } catch (const plm::EOSError &e) {
    EXPECT_EQ(e.ErrorCode, plm::ERROR_MOD_NOT_FOUND);
    EXPECT_NE(std::string(e.what()).find("Erreur système.  Code : 126.\n"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("libplmcab-absent.so"), std::string::npos);
  }
  EXPECT_FALSE(ci::LibraryLoaded());
  EXPECT_EQ(r.Context(), nullptr);
  ci::SetLibraryName(ci::DefaultLibraryName);
  BuildCabinet(dir / "t.cab", {{"a", "a"}});
  r.ExtractFiles(dir / "t.cab", dir / "out");
  EXPECT_EQ(ReadFile(dir / "out/a"), "a");
}

TEST_F(CabLibrary, MissingEntryPointRaisesOsErrorAndUnloads) {
  ci::SetLibraryName("libplmcab_incomplete.so");
  try {
    ci::LoadCabinetLibrary();
    ADD_FAILURE();
  } catch (const plm::EOSError &e) {
    EXPECT_EQ(e.ErrorCode, plm::ERROR_PROC_NOT_FOUND);
    EXPECT_NE(std::string(e.what()).find("FDIIsCabinet"), std::string::npos);
  }
  EXPECT_FALSE(ci::LibraryLoaded());
  EXPECT_EQ(ci::FCICreate, nullptr);
}

// Readers started together on an unloaded library, as a batch's threads are: each one
// finds the nine names resolved, whichever of them loads it.
TEST_F(CabLibrary, ReadersStartedTogetherAllFindItLoaded) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a", "a"}});
  constexpr int kThreads = 8;
  for (int round = 0; round < 25; ++round) {
    ci::UnloadCabinetLibrary();
    std::latch start(kThreads);
    std::vector<std::string> read(kThreads);
    {
      std::vector<std::jthread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          const std::string out = dir / ("out" + std::to_string(round) + "-" + std::to_string(t));
          plm::TSTCabReader r;
          start.arrive_and_wait();
          r.ExtractFiles(dir / "t.cab", out);
          read[t] = ReadFile(out + "/a");
        });
    }
    EXPECT_EQ(read, std::vector<std::string>(kThreads, "a")) << "round " << round;
  }
}

TEST_F(CabLibrary, WriterLoadsTheLibraryItself) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "t.cab");
  EXPECT_TRUE(ci::LibraryLoaded());
  w.AddFile(dir / "a", "a");
  w.CloseCabinet(true);
}

// The library's own answers to a caller that uses it directly.
TEST_F(CabLibrary, IsCabinetReadsTheHeader) {
  TempDir dir;
  BuildCabinet(dir / "Data.cab", {{"a", MakeData(80000, 1, false)}}, plm::cctNone, 50000);
  ci::LoadCabinetLibrary();
  ERF erf{};
  HFDI h = ci::FDICreate([](uint32_t n) { return std::malloc(n); }, [](void *p) { std::free(p); },
                         [](char *name, int, int) -> CABHANDLE {
                           FILE *f = std::fopen(name, "rb");
                           return f ? CABHANDLE(f) : -1;
                         },
                         [](CABHANDLE hf, void *pv, uint32_t cb) -> uint32_t {
                           return uint32_t(std::fread(pv, 1, cb, reinterpret_cast<FILE *>(hf)));
                         },
                         [](CABHANDLE, void *, uint32_t) -> uint32_t { return uint32_t(-1); },
                         [](CABHANDLE hf) { return std::fclose(reinterpret_cast<FILE *>(hf)); },
                         [](CABHANDLE hf, int32_t d, int t) -> int32_t {
                           FILE *f = reinterpret_cast<FILE *>(hf);
                           return std::fseek(f, d, t) == 0 ? int32_t(std::ftell(f)) : -1;
                         },
                         cpuUNKNOWN, &erf);
  ASSERT_NE(h, nullptr);
  FILE *f = std::fopen((dir / "Data2.cab").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  FDICABINETINFO info{};
  EXPECT_TRUE(ci::FDIIsCabinet(h, CABHANDLE(f), &info));
  std::fclose(f);
  EXPECT_EQ(info.iCabinet, 1);
  EXPECT_EQ(info.cFolders, 1);
  EXPECT_TRUE(info.hasprev);
  EXPECT_EQ(int64_t(info.cbCabinet), plm::FileSize(dir / "Data2.cab"));
  WriteFile(dir / "no.cab", "MSCX not a cabinet at all, but long enough to read");
  f = std::fopen((dir / "no.cab").c_str(), "rb");
  EXPECT_FALSE(ci::FDIIsCabinet(h, CABHANDLE(f), &info));
  std::fclose(f);
  EXPECT_TRUE(ci::FDIDestroy(h));
  EXPECT_FALSE(ci::FDIDestroy(nullptr));
}
