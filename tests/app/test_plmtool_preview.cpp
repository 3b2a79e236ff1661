// plmtool preview: the viewer's unpack-and-rewrite from the command line.
#include "preview/TemplatePreview.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "samples/SampleArt.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace plm;

namespace {

struct ToolRun {
  int rc = -1;
  std::string out, err;
};

ToolRun Plmtool(const std::string &args, const std::string &scratch) {
  const std::string errFile = scratch + "/stderr.txt";
  const std::string cmd = std::string(PLM_BIN_DIR) + "/plmtool " + args + " 2>'" + errFile + "'";
  ToolRun r;
  std::FILE *p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
    r.out.append(buf, n);
  const int status = ::pclose(p);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ReadFileBytes(errFile, r.err);
  return r;
}

class PlmtoolPreview : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plm-tool-XXXXXX";
    fRoot = ::mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf '" + fRoot + "'").c_str()); }
  std::string Pack(const std::string &name,
                   const std::vector<std::pair<std::string, std::string>> &files) {
    std::vector<std::pair<std::string, std::string>> packed;
    for (const auto &[stored, bytes] : files) {
      const std::string src = fRoot + "/src-" + std::to_string(packed.size());
      WriteFileBytes(src, bytes);
      packed.emplace_back(src, stored);
    }
    const std::string path = fRoot + "/" + name;
    samples::PackTemplate(path, packed);
    return path;
  }
  std::string fRoot;
};

} // namespace

TEST_F(PlmtoolPreview, PrintsTheInformationSideAndLeavesTheRewrittenPage) {
  const std::string page =
      "<HTML><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans; X: 1\">a</TD></HTML>";
  const std::string tpl =
      Pack("t.plm", {{"Content.ini", "[General]\r\nCollection=F\xeates\r\nDisplay=D\r\n"},
                     {"Flavor.htm", page},
                     {"pic.gif", samples::EncodeGif({samples::PaintPicture("star", 8, 8)})}});
  const std::string out = fRoot + "/out/deeper";
  const ToolRun r = Plmtool("preview '" + tpl + "' '" + out + "'", fRoot);
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "Collection: F\xc3\xaates\n" // 8-bit text printed as UTF-8
                   "Identification: D\n"
                   "Marque de fabrique: Unknowed\n"
                   "Police de caractère: DejaVu Sans (installée)\n"
                   "Images: pic.gif\n"
                   "Page: " +
                       out + "/Flavor.htm\n");
  std::string saved;
  ASSERT_TRUE(ReadFileBytes(out + "/Flavor.htm", saved));
  EXPECT_EQ(saved, InsertSampleText(page) + "\r\n");
  EXPECT_TRUE(FileExists(out + "/pic.gif"));
}

TEST_F(PlmtoolPreview, FailuresExitWithOneAndTheErrorText) {
  const std::string good = Pack("g.plm", {{"Flavor.htm", "<HTML>"}});
  std::string bytes;
  ReadFileBytes(good, bytes);
  WriteFileBytes(fRoot + "/bad.plm", bytes.substr(0, 20));
  ToolRun r = Plmtool("preview '" + fRoot + "/bad.plm' '" + fRoot + "/o1'", fRoot);
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(r.err.empty());

  const std::string nopage = Pack("n.plm", {{"content.ini", "[General]\r\n"}});
  r = Plmtool("preview '" + nopage + "' '" + fRoot + "/o2'", fRoot);
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err.rfind("plmtool: Impossible d'ouvrir le fichier", 0), 0u) << r.err;

  r = Plmtool("preview only-one-argument", fRoot);
  EXPECT_EQ(r.rc, 2);
}
