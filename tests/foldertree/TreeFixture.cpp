#include "tests/foldertree/TreeFixture.h"

#include "platform/LineList.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"

#include <QTest>

#include <cstdlib>
#include <unistd.h>

using namespace plm;

namespace plmtest {

void TreeTest::SetUp() {
  char tmpl[] = "/tmp/plm-tree-XXXXXX";
  fRoot = ::mkdtemp(tmpl);
  ForceDirectories(fRoot + "/home");
  ::setenv("HOME", (fRoot + "/home").c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  fPreviousUI = SetShellUI(&fUI);
  fWindow = std::make_unique<QWidget>();
  fWindow->resize(400, 400);
}

void TreeTest::TearDown() {
  fWindow.reset();
  SetShellUI(fPreviousUI);
  ::chdir("/");
  std::system(("chmod -R u+rwx '" + fRoot + "' 2>/dev/null; rm -rf '" + fRoot + "'").c_str());
}

std::string TreeTest::Dir(const std::string &relative) const {
  const std::string d = fRoot + "/" + relative;
  ForceDirectories(d);
  return d;
}

std::string TreeTest::File(const std::string &relative, const std::string &bytes) const {
  const std::string f = fRoot + "/" + relative;
  ForceDirectories(ExtractFilePath(f));
  EXPECT_EQ(WriteFileBytes(f, bytes), 0);
  return f;
}

TShellTree &TreeTest::Tree(const std::string &rootDir, TVisOptions options) {
  fTree = new TShellTree(fWindow.get());
  fTree->setGeometry(0, 0, 300, 380);
  fTree->OnChange = [this](QObject *, TShellnode *) { ++fChanges; };
  fTree->setOptions(options);
  fTree->setRootUsePIDL(false);
  fTree->setRootDir(rootDir);
  fTree->show();
  fWindow->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(fWindow.get()));
  return *fTree;
}

TShellTree &TreeTest::DesktopTree() {
  fTree = new TShellTree(fWindow.get());
  fTree->setGeometry(0, 0, 300, 380);
  fTree->OnChange = [this](QObject *, TShellnode *) { ++fChanges; };
  fTree->show();
  fWindow->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(fWindow.get()));
  return *fTree;
}

TShellnode *TreeTest::ChildNamed(TShellnode *node, const std::string &name) {
  for (int i = 0; node && i < node->Count(); ++i)
    if (node->Child(i)->Text() == name) return node->Child(i);
  return nullptr;
}

std::vector<std::string> TreeTest::Labels(TShellnode *node) {
  std::vector<std::string> out;
  for (int i = 0; node && i < node->Count(); ++i)
    out.push_back(node->Child(i)->Text());
  return out;
}

} // namespace plmtest
