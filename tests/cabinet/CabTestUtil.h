#pragma once
// Fixtures of the cabinet tests: scratch folders, files, and cabinets written by the
// project's writer or assembled byte by byte.
#include "cabinet/CabSTComps.h"
#include "platform/plmcab/CabFormat.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cabtest {

// A scratch folder, removed with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return fPath; }
  std::string operator/(const std::string &name) const { return fPath + "/" + name; }

private:
  std::string fPath;
};

void WriteFile(const std::string &path, const std::string &data);
std::string ReadFile(const std::string &path); // "" when missing
bool Exists(const std::string &path);
// Every entry below a folder, as relative paths, sorted ("sub/", "sub/a.txt").
std::vector<std::string> ListTree(const std::string &dir);
// Deterministic bytes: text-like when compressible, else noise.
std::string MakeData(size_t size, uint32_t seed, bool compressible);

struct SourceFile {
  std::string stored; // name inside the cabinet
  std::string data;
};

// Writes the sources under dir/src and builds cabPath from them with the writer.
void BuildCabinet(const std::string &cabPath, const std::vector<SourceFile> &files,
                  plm::TSTCabCompressionType compression = plm::cctMsZip,
                  uint32_t maxCabinetSize = 0);

// A one-folder stored cabinet assembled by hand, for inputs the writer never makes.
struct RawEntry {
  std::string name;
  std::string data;
  uint16_t folder = 0;
  uint16_t attribs = 0x20;
};
std::string RawCabinet(const std::vector<RawEntry> &entries, uint16_t compType = 0,
                       uint8_t versionMajor = 1);

// Runs a shell command; returns its exit status (-1 when it could not run).
int Run(const std::string &command);
bool HaveTool(const std::string &name);
std::string ShellQuote(const std::string &s);

} // namespace cabtest
