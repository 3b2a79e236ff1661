// plmtool list | extract | create: the cabinet components from the command line.
#include "cabinet/CabSTComps.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "tools/Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int Fail(const std::string &message) {
  std::fprintf(stderr, "plmtool: %s\n", message.c_str());
  return 1;
}

// Every file of the cabinet set, as "size name"; nothing is written.
int CmdList(const std::vector<std::string> &args) {
  if (args.size() != 1) return Fail("usage: plmtool list CABINET");
  plm::TSTCabReader reader;
  reader.OnCopyFile = [](plm::TSTCabReader *, const std::string &name, int32_t size, uint16_t,
                         uint16_t, uint16_t attrs, uint16_t, std::string &dst, bool &) {
    const std::string shown = (attrs & _A_NAME_IS_UTF) ? name : plm::Cp1252ToUtf8(name);
    std::printf("%u %s\n", unsigned(uint32_t(size)), shown.c_str());
    dst.clear();
  };
  reader.ExtractFiles(args[0], "/nonexistent-plmtool-list");
  return 0;
}

int CmdExtract(const std::vector<std::string> &args) {
  if (args.size() != 2) return Fail("usage: plmtool extract CABINET DESTDIR");
  plm::TSTCabReader reader;
  reader.ExtractFiles(args[0], args[1]);
  return 0;
}

bool ParseSize(const std::string &s, uint32_t &out) {
  if (s.empty() || s[0] == '-') return false;
  errno = 0;
  char *end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (errno || *end || v == 0 || v > 0x7FFFFFFFull) return false;
  out = uint32_t(v);
  return true;
}

int CmdCreate(const std::vector<std::string> &args) {
  const char *usage =
      "usage: plmtool create [--compression none|mszip] [--max-cabinet-size BYTES] CABINET FILE...";
  plm::TSTCabCompressionType compression = plm::cctMsZip;
  uint32_t maxSize = 0;
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--") {
      ++i;
      break;
    }
    if (i + 1 >= args.size()) return Fail(usage);
    if (args[i] == "--compression") {
      const std::string &v = args[++i];
      if (v == "none")
        compression = plm::cctNone;
      else if (v == "mszip")
        compression = plm::cctMsZip;
      else
        return Fail("unknown compression '" + v + "' (none or mszip)");
    } else if (args[i] == "--max-cabinet-size") {
      if (!ParseSize(args[++i], maxSize)) return Fail("bad cabinet size '" + args[i] + "'");
    } else {
      return Fail(usage);
    }
  }
  if (args.size() - i < 2) return Fail(usage);
  plm::TSTCabWriter writer;
  writer.setCompressionType(compression);
  writer.CabinetSizeThreshold = maxSize;
  writer.StartCabinet(args[i]);
  for (size_t k = i + 1; k < args.size(); ++k)
    writer.AddFile(args[k], plm::ExtractFileName(args[k]));
  writer.CloseCabinet(true);
  return 0;
}

} // namespace

PLM_COMMAND("list", "list CABINET                 one line per file of the set: size and name",
            CmdList);
PLM_COMMAND("extract", "extract CABINET DESTDIR      extract every file of the set into DESTDIR",
            CmdExtract);
PLM_COMMAND("create",
            "create [--compression none|mszip] [--max-cabinet-size BYTES] CABINET FILE...",
            CmdCreate);
