// The launcher seam: the file reaches whatever launcher is installed, unchanged.
#include "platform/Launcher.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Launcher, InstalledLauncherReceivesThePathAndCanBeRemoved) {
  std::vector<std::string> seen;
  plm::LaunchFunction previous = plm::SetLauncher([&](const std::string &p) {
    seen.push_back(p);
    return true;
  });
  EXPECT_TRUE(plm::ShellOpenFile("/data/lettres/Noël d'été.plm"));
  EXPECT_TRUE(plm::ShellOpenFile("/data/a b.plm"));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "/data/lettres/Noël d'été.plm");
  EXPECT_EQ(seen[1], "/data/a b.plm");

  plm::SetLauncher([](const std::string &) { return false; });
  EXPECT_FALSE(plm::ShellOpenFile("/x.plm"));
  plm::SetLauncher(std::move(previous));
  // The desktop's launcher refuses an empty path without asking anyone.
  EXPECT_FALSE(plm::ShellOpenFile(""));
}
