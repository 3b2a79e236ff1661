// Both ways with independent tools: the project's cabinets extract with cabextract, and
// cabinets made by gcab extract with the project's reader.
#include "cabinet/CabSTComps.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace cabtest;

namespace {

std::vector<SourceFile> SampleFiles() {
  return {{"Flavor.htm", MakeData(120000, 21, true)},
          {"content.ini", "[Info]\r\nDisplayName=Essai\r\n"},
          {"img\\fond.jpg", MakeData(70000, 22, false)},
          {"img\\vide.gif", ""},
          {"img\\deep\\x.png", MakeData(33000, 23, false)}};
}

std::string LocalPath(std::string stored) {
  for (char &c : stored)
    if (c == '\\') c = '/';
  return stored;
}

void ExpectSameFiles(const std::vector<SourceFile> &files, const std::string &out) {
  for (const SourceFile &f : files)
    EXPECT_EQ(ReadFile(out + "/" + LocalPath(f.stored)), f.data) << f.stored;
}

} // namespace

class CabInterop : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveTool("cabextract") || !HaveTool("gcab"))
      GTEST_SKIP() << "cabextract or gcab missing (scripts/setup.sh installs them)";
  }
};

TEST_F(CabInterop, CabextractReadsProjectCabinets) {
  for (auto comp : {plm::cctNone, plm::cctMsZip}) {
    TempDir dir;
    const auto files = SampleFiles();
    BuildCabinet(dir / "t.plm", files, comp);
    EXPECT_EQ(cabtest::Run("cabextract -q -t " + ShellQuote(dir / "t.plm") + " >/dev/null"), 0);
    ASSERT_EQ(cabtest::Run("cabextract -q -d " + ShellQuote(dir / "out") + " " +
                           ShellQuote(dir / "t.plm")),
              0);
    ExpectSameFiles(files, dir / "out");
  }
}

TEST_F(CabInterop, CabextractReadsProjectCabinetSets) {
  for (auto comp : {plm::cctNone, plm::cctMsZip}) {
    TempDir dir;
    const auto files = SampleFiles();
    BuildCabinet(dir / "Data.cab", files, comp, 40000);
    ASSERT_TRUE(Exists(dir / "Data3.cab"));
    ASSERT_EQ(cabtest::Run("cabextract -q -d " + ShellQuote(dir / "out") + " " +
                           ShellQuote(dir / "Data.cab")),
              0);
    ExpectSameFiles(files, dir / "out");
  }
}

TEST_F(CabInterop, ReaderReadsGcabMsZipCabinets) {
  TempDir dir;
  const auto files = SampleFiles();
  std::string args;
  for (const SourceFile &f : files) {
    WriteFile(dir / ("in/" + LocalPath(f.stored)), f.data);
    args += " " + ShellQuote(LocalPath(f.stored));
  }
  ASSERT_EQ(cabtest::Run("cd " + ShellQuote(dir / "in") + " && gcab -c -z ../g.cab" + args), 0);
  plm::TSTCabReader r;
  std::vector<std::string> names;
  r.OnCopyFile = [&](plm::TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t,
                     uint16_t, uint16_t, std::string &, bool &) { names.push_back(src); };
  r.ExtractFiles(dir / "g.cab", dir / "out");
  EXPECT_EQ(names.size(), files.size());
  ExpectSameFiles(files, dir / "out");
}
