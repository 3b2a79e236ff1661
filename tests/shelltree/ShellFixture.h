#pragma once
// The shell tests run with a home folder of their own (made by main before anything reads
// the environment), so the desktop, the trash and the user folders are the test's.
#include "platform/shell/ShellApi.h"
#include "tests/components/FakeVolumes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace shelltest {

// The temporary home folder of this test run (no trailing "/").
const std::string &Home();
// A fresh folder under the home folder, removed at the end of the test.
class TempTree : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string &rel) const { return fRoot + "/" + rel; }
  void MakeDir(const std::string &rel, unsigned mode = 0755) const;
  void MakeFile(const std::string &rel, const std::string &content = {}) const;
  void MakeLink(const std::string &target, const std::string &rel) const;
  std::string fRoot;
  size_t fBlocksAtStart = 0;
};

// Parses an absolute path through the desktop; null on failure.
plm::LPITEMIDLIST Parse(const std::string &path, plm::ULONG *attributes = nullptr);
// The folder of a path.
plm::ComPtr<plm::IShellFolder> FolderOf(const std::string &path);
// The names a folder enumerates with flags, in enumeration order.
std::vector<std::string> EnumNames(plm::IShellFolder *folder, plm::SHCONTF flags);
// A display name through the STRRET record (every form).
std::string NameOf(plm::IShellFolder *folder, plm::LPCITEMIDLIST item, plm::SHGDNF flags,
                   plm::UINT *form = nullptr);
void Free(plm::LPITEMIDLIST p);
// A list from the allocator holding exactly these bytes.
plm::LPITEMIDLIST Bytes(const std::vector<uint8_t> &bytes);

// Volumes the drives folder lists, on top of the fake volume facts.
class ShellVolumes : public FakeVolumes {
public:
  std::vector<std::string> Order;
  std::vector<std::string> MountedVolumes() override { return Order; }
};

} // namespace shelltest
