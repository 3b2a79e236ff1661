// Hostile cabinet chains: a next-cabinet field may name any path, and a name may stand
// for a device or a pipe. The reader follows only plain names beside the cabinet, opens
// only regular files, and never blocks.
#include "tests/cabinet/CabTestUtil.h"

#include "samples/HostileCabinets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

using namespace cabtest;
using plm::samples::CabEntry;
using plm::samples::StoredCabinet;

namespace {

// Runs f on another thread. When it has not returned after a generous time (it is then
// blocked, which is the fault under test), unblock() frees it and the result is false.
bool ReturnsWithoutBlocking(const std::function<void()> &f, const std::function<void()> &unblock) {
  auto done = std::async(std::launch::async, [&] {
    try {
      f();
    } catch (...) {
    }
  });
  if (done.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return true;
  unblock();
  done.wait();
  return false;
}

class CabChain : public ::testing::Test {
protected:
  void SetUp() override {
    WriteFile(fTmp / "tpl/first.cab", StoredCabinet({{"own.txt", "own"}}, "next.cab"));
    WriteFile(fTmp / "tpl/next.cab", StoredCabinet({{"beside.txt", "beside"}}, "", 1));
  }
  // Extracts tpl/first.cab after giving it the next-cabinet name; the files it yields.
  std::vector<std::string> ExtractWithNext(const std::string &next) {
    WriteFile(fTmp / "tpl/first.cab", StoredCabinet({{"own.txt", "own"}}, next));
    const std::string out = fTmp / ("out" + std::to_string(fRuns++));
    plm::TSTCabReader r;
    r.ExtractFiles(fTmp / "tpl/first.cab", out);
    return ListTree(out);
  }
  TempDir fTmp;
  int fRuns = 0;
};

} // namespace

TEST_F(CabChain, APlainNameBesideTheCabinetIsFollowed) {
  EXPECT_EQ(ExtractWithNext("next.cab"), (std::vector<std::string>{"beside.txt", "own.txt"}));
}

TEST_F(CabChain, NamesThatLeaveTheCabinetsFolderAreCabinetsThatAreNotThere) {
  const std::string elsewhere = StoredCabinet({{"elsewhere.txt", "x"}}, "", 1);
  WriteFile(fTmp / "other/next.cab", elsewhere);
  WriteFile(fTmp / "tpl/sub/next.cab", elsewhere);
  WriteFile(fTmp / "tpl/sub\\next.cab", elsewhere); // a file whose name holds a backslash
  const std::vector<std::string> own{"own.txt"};
  for (const std::string &name :
       {std::string("../other/next.cab"), std::string("sub/next.cab"), std::string("sub\\next.cab"),
        fTmp / "other/next.cab", std::string(".."), std::string("."), std::string("./next.cab")})
    EXPECT_EQ(ExtractWithNext(name), own) << name;
  // The event still tells what the cabinet says.
  WriteFile(fTmp / "tpl/first.cab", StoredCabinet({{"own.txt", "own"}}, "../other/next.cab"));
  plm::TSTCabReader r;
  std::string told;
  r.OnCabinetInfo = [&](plm::TSTCabReader *, const std::string &next, const std::string &,
                        const std::string &, uint16_t, uint16_t, bool &) { told = next; };
  r.ExtractFiles(fTmp / "tpl/first.cab", fTmp / "outEvent");
  EXPECT_EQ(told, "../other/next.cab");
  EXPECT_TRUE(r.NextCabName().empty());
}

TEST_F(CabChain, OnlyRegularFilesAreOpenedAndNothingBlocks) {
  // Standard input a pipe that nobody writes to: reading it would wait for ever.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int savedIn = ::dup(0);
  ::dup2(fds[0], 0);
  ::close(fds[0]);
  ASSERT_EQ(::mkfifo((fTmp / "tpl/fifo.cab").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((fTmp / "tpl/fifo.cab").c_str(), (fTmp / "tpl/link.cab").c_str()), 0);
  const std::vector<std::string> own{"own.txt"};
  std::vector<std::string> got;
  for (const std::string &name : {std::string("../../../../../../../../../../dev/stdin"),
                                  std::string("fifo.cab"), std::string("link.cab")}) {
    EXPECT_TRUE(ReturnsWithoutBlocking([&] { got = ExtractWithNext(name); },
                                       [&] {
                                         // Frees a reader blocked on the pipe or the FIFO.
                                         ::close(fds[1]);
                                         fds[1] = -1;
                                         const int w = ::open((fTmp / "tpl/fifo.cab").c_str(),
                                                              O_WRONLY | O_NONBLOCK);
                                         if (w >= 0) ::close(w);
                                       }))
        << name;
    EXPECT_EQ(got, own) << name;
  }
  // As the first cabinet: "Cabinet not found", whatever the entry would have given.
  for (const std::string &path : {fTmp / "tpl/fifo.cab", std::string("/dev/stdin"),
                                  std::string("/dev/zero"), fTmp / "tpl"}) {
    bool refused = false;
    EXPECT_TRUE(ReturnsWithoutBlocking(
        [&] {
          plm::TSTCabReader r;
          try {
            r.ExtractFiles(path, fTmp / "outFirst");
          } catch (const plm::ESTCabinet &e) {
            refused = e.ErrorCode == 1;
          }
        },
        [&] {
          if (fds[1] >= 0) ::close(fds[1]);
          fds[1] = -1;
        }))
        << path;
    EXPECT_TRUE(refused) << path;
  }
  ::dup2(savedIn, 0);
  ::close(savedIn);
  if (fds[1] >= 0) ::close(fds[1]);
}

TEST_F(CabChain, AContinuedFileIsNeverLookedForOutsideTheFolder) {
  // A set split by the writer, whose second cabinet it names "../x2.cab" and writes in
  // the parent folder: the library must not go there for the rest of the file.
  const std::string data = MakeData(300000, 7, false);
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.CabinetSizeThreshold = 100000;
  w.CabinetNameTemplate = "../x*.cab";
  w.StartCabinet(fTmp / "set/in/x1.cab");
  WriteFile(fTmp / "src.bin", data);
  w.AddFile(fTmp / "src.bin", "big.bin");
  w.CloseCabinet(true);
  ASSERT_TRUE(Exists(fTmp / "set/x2.cab"));
  plm::TSTCabReader r;
  EXPECT_THROW(r.ExtractFiles(fTmp / "set/in/x1.cab", fTmp / "outSet"), plm::ESTCabinet);
  EXPECT_NE(ReadFile(fTmp / "outSet/big.bin"), data);

  // The same set with plain names is whole.
  plm::TSTCabWriter plain;
  plain.setCompressionType(plm::cctNone);
  plain.CabinetSizeThreshold = 100000;
  plain.StartCabinet(fTmp / "plain/y1.cab");
  plain.AddFile(fTmp / "src.bin", "big.bin");
  plain.CloseCabinet(true);
  plm::TSTCabReader r2;
  r2.ExtractFiles(fTmp / "plain/y1.cab", fTmp / "outPlain");
  EXPECT_EQ(ReadFile(fTmp / "outPlain/big.bin"), data);
}

TEST(CabChainName, PlainNamesOnly) {
  EXPECT_TRUE(plm::IsPlainCabinetName("next.cab"));
  EXPECT_TRUE(plm::IsPlainCabinetName("..next.cab"));
  EXPECT_TRUE(plm::IsPlainCabinetName("n\xe9xt.cab"));
  for (const char *bad : {"", ".", "..", "a/b.cab", "a\\b.cab", "/next.cab", "next.cab/"})
    EXPECT_FALSE(plm::IsPlainCabinetName(bad)) << bad;
}
