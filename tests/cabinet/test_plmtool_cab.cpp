// plmtool list, extract and create.
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace cabtest;

namespace {

std::string Tool() { return std::string(PLM_BIN_DIR) + "/plmtool"; }

// Runs plmtool with the arguments; stdout and stderr go to files in dir.
int Plmtool(const TempDir &dir, const std::string &args) {
  return Run(ShellQuote(Tool()) + " " + args + " >" + ShellQuote(dir / "stdout") + " 2>" +
             ShellQuote(dir / "stderr"));
}

} // namespace

TEST(Plmtool, CreateListAndExtract) {
  TempDir dir;
  WriteFile(dir / "in/a.txt", MakeData(50000, 1, true));
  WriteFile(dir / "in/b.bin", MakeData(3000, 2, false));
  ASSERT_EQ(Plmtool(dir, "create " + ShellQuote(dir / "t.cab") + " " +
                             ShellQuote(dir / "in/a.txt") + " " + ShellQuote(dir / "in/b.bin")),
            0);
  ASSERT_EQ(Plmtool(dir, "list " + ShellQuote(dir / "t.cab")), 0);
  EXPECT_EQ(ReadFile(dir / "stdout"), "50000 a.txt\n3000 b.bin\n");
  ASSERT_EQ(Plmtool(dir, "extract " + ShellQuote(dir / "t.cab") + " " + ShellQuote(dir / "out")),
            0);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), MakeData(50000, 1, true));
  EXPECT_EQ(ReadFile(dir / "out/b.bin"), MakeData(3000, 2, false));
}

TEST(Plmtool, CreateWithSizeLimitNamesTheSetByTheDefaultTemplate) {
  TempDir dir;
  WriteFile(dir / "in/big.bin", MakeData(200000, 3, false));
  ASSERT_EQ(Plmtool(dir, "create --compression none --max-cabinet-size 60000 " +
                             ShellQuote(dir / "set/Data.cab") + " " +
                             ShellQuote(dir / "in/big.bin")),
            0);
  EXPECT_TRUE(Exists(dir / "set/Data2.cab"));
  EXPECT_TRUE(Exists(dir / "set/Data4.cab"));
  ASSERT_EQ(Plmtool(dir, "list " + ShellQuote(dir / "set/Data.cab")), 0);
  EXPECT_EQ(ReadFile(dir / "stdout"), "200000 big.bin\n");
  ASSERT_EQ(
      Plmtool(dir, "extract " + ShellQuote(dir / "set/Data.cab") + " " + ShellQuote(dir / "o")), 0);
  EXPECT_EQ(ReadFile(dir / "o/big.bin"), MakeData(200000, 3, false));
}

TEST(Plmtool, FailuresExitWithOneAndAMessage) {
  TempDir dir;
  EXPECT_EQ(Plmtool(dir, "extract " + ShellQuote(dir / "none.cab") + " " + ShellQuote(dir / "o")),
            1);
  EXPECT_EQ(ReadFile(dir / "stderr"),
            "plmtool: Cabinet not found [0x0001].\r\nNo such file or directory [0x0002].\n");
  EXPECT_EQ(Plmtool(dir, "create --compression lzx " + ShellQuote(dir / "x.cab") + " a"), 1);
  EXPECT_NE(ReadFile(dir / "stderr").find("lzx"), std::string::npos);
  EXPECT_EQ(Plmtool(dir, "create " + ShellQuote(dir / "x.cab") + " " + ShellQuote(dir / "missing")),
            1);
  EXPECT_NE(ReadFile(dir / "stderr").find("Failure opening file to be stored in cabinet"),
            std::string::npos);
  EXPECT_EQ(Plmtool(dir, "list"), 1);
  EXPECT_EQ(Plmtool(dir, "create --max-cabinet-size -5 x.cab a"), 1);
}

TEST(Plmtool, OneCommandLineOverTheChainOfPrograms) {
  TempDir dir;
  ASSERT_EQ(Plmtool(dir, "--help"), 0);
  const std::string help = ReadFile(dir / "stdout");
  EXPECT_EQ(help.rfind("usage: plmtool COMMAND [ARGS...]\n", 0), 0u) << help;
  size_t at = 0;
  for (const char *verb : {"list", "extract", "create", "imginfo", "gifframes", "preview",
                           "snapshot"}) {
    const size_t found = help.find(std::string("\n  ") + verb + " ");
    ASSERT_NE(found, std::string::npos) << verb;
    EXPECT_GT(found, at) << verb << " is listed with the verbs of its own program";
    at = found;
  }
  EXPECT_EQ(Plmtool(dir, ""), 2);
  EXPECT_EQ(ReadFile(dir / "stdout"), help);

  EXPECT_EQ(Plmtool(dir, "frobnicate x"), 2);
  EXPECT_EQ(ReadFile(dir / "stdout"), "");
  EXPECT_EQ(ReadFile(dir / "stderr"), "plmtool: unknown command 'frobnicate'\n" + help);

  // A verb of the last program, reached through the others, keeps its arguments.
  EXPECT_EQ(Plmtool(dir, "snapshot --scale 5 a.plm b.jpg"), 2);
  EXPECT_EQ(ReadFile(dir / "stderr").rfind("plmtool: bad value for --scale: 5\n", 0), 0u)
      << ReadFile(dir / "stderr");
}

// The cabinet verbs start as fast as a plain C program: no Qt library, nor any of those
// that Qt brings along, is loaded; the picture verbs load no widgets.
TEST(Plmtool, CabinetVerbsLoadNoQtAndPictureVerbsNoWidgets) {
  TempDir dir;
  const auto needed = [&](const char *program) {
    EXPECT_EQ(cabtest::Run("ldd " + ShellQuote(std::string(PLM_BIN_DIR) + "/" + program) + " >" +
                  ShellQuote(dir / "ldd")),
              0);
    return ReadFile(dir / "ldd");
  };
  const std::string cabinet = needed("plmtool");
  EXPECT_NE(cabinet.find("libc.so"), std::string::npos) << cabinet;
  for (const char *lib : {"libQt6", "libicu", "libglib", "libgio", "libpcre2", "libzstd",
                          "libdouble-conversion", "libgomp", "libmspack", "libz.so"})
    EXPECT_EQ(cabinet.find(lib), std::string::npos) << lib << " in\n" << cabinet;
  const std::string pictures = needed("plmtool-gui");
  for (const char *lib : {"libQt6Widgets", "libQt6WebEngine"})
    EXPECT_EQ(pictures.find(lib), std::string::npos) << lib;
}
