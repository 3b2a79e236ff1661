#include "tests/cabinet/CabTestUtil.h"

#include "platform/FileSys.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace cabtest {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "plmcabtest-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  fPath = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only entries would stop the removal of their folder's content as root does not
  // need it, but a normal user does.
  for (auto it = fs::recursive_directory_iterator(fPath, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(fPath, ec);
}

void WriteFile(const std::string &path, const std::string &data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), std::streamsize(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListTree(const std::string &dir) {
  std::vector<std::string> r;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string rel = it->path().lexically_relative(dir).string();
    if (it->is_directory() && !it->is_symlink()) rel += "/";
    r.push_back(rel);
  }
  std::sort(r.begin(), r.end());
  return r;
}

std::string MakeData(size_t size, uint32_t seed, bool compressible) {
  static const char *words[] = {"lettre ", "papier ", "fleur ",    "Noël ",  "bleu ",
                                "<p>",     "\r\n",    "template ", "image ", "1234 "};
  std::string s;
  s.reserve(size);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    if (compressible)
      s += words[x % 10];
    else
      s.push_back(char(x & 0xFF));
  }
  s.resize(size);
  return s;
}

void BuildCabinet(const std::string &cabPath, const std::vector<SourceFile> &files,
                  plm::TSTCabCompressionType compression, uint32_t maxCabinetSize) {
  const std::string srcDir = fs::path(cabPath).parent_path().string() + "/src";
  plm::TSTCabWriter w;
  w.setCompressionType(compression);
  w.CabinetSizeThreshold = maxCabinetSize;
  w.StartCabinet(cabPath);
  int i = 0;
  for (const SourceFile &f : files) {
    const std::string src = srcDir + "/" + std::to_string(i++);
    WriteFile(src, f.data);
    w.AddFile(src, f.stored);
  }
  w.CloseCabinet(true);
}

std::string RawCabinet(const std::vector<RawEntry> &entries, uint16_t compType,
                       uint8_t versionMajor) {
  using namespace plmcab;
  std::string data;
  for (const RawEntry &e : entries)
    data += e.data;
  // Stored blocks of at most 32768 bytes.
  std::string blocks;
  uint16_t nBlocks = 0;
  for (size_t at = 0; at < data.size() || nBlocks == 0; at += kMaxBlock) {
    const std::string part = data.substr(at, kMaxBlock);
    AddU32(blocks, 0);
    AddU16(blocks, uint16_t(part.size()));
    AddU16(blocks, uint16_t(part.size()));
    blocks += part;
    ++nBlocks;
    if (data.empty()) break;
  }
  std::string files;
  uint32_t offset = 0;
  for (const RawEntry &e : entries) {
    AddU32(files, uint32_t(e.data.size()));
    AddU32(files, offset);
    AddU16(files, e.folder);
    AddU16(files, 0x5A21); // 2025-01-01
    AddU16(files, 0x6000); // 12:00:00
    AddU16(files, e.attribs);
    files += e.name;
    files += '\0';
    offset += uint32_t(e.data.size());
  }
  const uint32_t coffFiles = kHeaderSize + kFolderSize;
  const uint32_t dataStart = coffFiles + uint32_t(files.size());
  std::string h = "MSCF";
  AddU32(h, 0);
  AddU32(h, dataStart + uint32_t(blocks.size()));
  AddU32(h, 0);
  AddU32(h, coffFiles);
  AddU32(h, 0);
  AddU8(h, 3);
  AddU8(h, versionMajor);
  AddU16(h, 1);
  AddU16(h, uint16_t(entries.size()));
  AddU16(h, 0);
  AddU16(h, 0);
  AddU16(h, 0);
  AddU32(h, dataStart);
  AddU16(h, nBlocks);
  AddU16(h, compType);
  return h + files + blocks;
}

int Run(const std::string &command) {
  const int st = std::system(command.c_str());
  if (st == -1 || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}

bool HaveTool(const std::string &name) {
  return Run("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string ShellQuote(const std::string &s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'')
      r += "'\\''";
    else
      r += c;
  }
  return r + "'";
}

} // namespace cabtest
