// plmtool index | search: the catalogue of templates from the command line. Linked
// without Qt: fonts are looked up through fontconfig, as the window framework does.
#include "catalogue/Catalogue.h"
#include "platform/FileIO.h"
#include "platform/FileSys.h"
#include "platform/InstalledFonts.h"
#include "platform/Strings.h"
#include "tools/Commands.h"
#include "tools/ProgressBar.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 2;

int Usage(const char *usage) {
  std::fprintf(stderr, "usage: plmtool %s\n", usage);
  return kUsage;
}

const char *const kIndexUsage = "index [-r | --recursive] FOLDER...";
const char *const kSearchUsage = "search [--json] [--missing-font] [-r | --recursive] QUERY [FOLDER]";

// A bar redrawn in place on a terminal; elsewhere a line now and then.
plm::CatalogueProgress ProgressOnStandardError() {
  const bool terminal = plm::IsTerminal(2);
  return [terminal, last = size_t(0)](size_t done, size_t total) mutable {
    if (total == 0) return;
    if (terminal) {
      std::fprintf(stderr, "\r%s %zu/%zu", plmtool::ProgressBar(done, total, 40).c_str(), done,
                   total);
      if (done == total) std::fputc('\n', stderr);
    } else if (done == total || done >= last + 1000 || done == 0) {
      std::fprintf(stderr, "%zu/%zu\n", done, total);
      last = done;
    }
    std::fflush(stderr);
  };
}


int CmdIndex(const std::vector<std::string> &args) {
  bool recursive = false;
  std::vector<std::string> folders;
  bool options = true;
  for (const auto &a : args) {
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "--recursive" || a == "-r")) {
      recursive = true;
    } else if (options && a.rfind("--", 0) == 0) {
      return Usage(kIndexUsage);
    } else {
      if (!plm::DirectoryExists(a)) {
        std::fprintf(stderr, "plmtool: no such folder '%s'\n", a.c_str());
        return kUsage;
      }
      folders.push_back(a);
    }
  }
  if (folders.empty()) return Usage(kIndexUsage);
  plm::TCatalogue catalogue(plm::DefaultCatalogueFileName(), plm::IsFontFamilyInstalled);
  const auto s = catalogue.Update(folders, recursive, ProgressOnStandardError());
  std::printf("read %zu, unchanged %zu, removed %zu, unreadable %zu\n", s.read, s.unchanged,
              s.removed, s.unreadable);
  return 0;
}

void AppendJsonString(std::string &out, std::string_view s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  out += '"';
}

std::string Json(const plm::TemplateRecord &r) {
  std::string o = "{\"path\":";
  AppendJsonString(o, plm::ToDisplayUtf8(r.path));
  if (!plm::IsValidUtf8(r.path)) {
    // The exact bytes of a name that is not UTF-8, so that it can be found again.
    o += ",\"path_hex\":\"";
    for (const char c : r.path) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
      o += buf;
    }
    o += '"';
  }
  o += ",\"size\":" + std::to_string(r.size) + ",\"mtime_ns\":" + std::to_string(r.mtimeNs);
  const std::pair<const char *, const std::string *> texts[] = {
      {"collection", &r.collection}, {"display", &r.display}, {"trademark", &r.trademark},
      {"font", &r.font},             {"title", &r.title}};
  for (const auto &[key, value] : texts) {
    o += ",\"" + std::string(key) + "\":";
    AppendJsonString(o, *value);
  }
  o += ",\"font_installed\":";
  o += r.fontInstalled ? "true" : "false";
  o += ",\"pictures\":[";
  for (size_t i = 0; i < r.pictures.size(); ++i) {
    const auto &p = r.pictures[i];
    o += i ? ",{\"name\":" : "{\"name\":";
    AppendJsonString(o, p.name);
    o += ",\"type\":";
    AppendJsonString(o, p.type);
    o += ",\"bytes\":" + std::to_string(p.bytes) + ",\"width\":" + std::to_string(p.width) +
         ",\"height\":" + std::to_string(p.height) + "}";
  }
  o += "],\"failure\":";
  if (r.failure.empty())
    o += "null";
  else
    AppendJsonString(o, r.failure);
  return o + "}";
}

int CmdSearch(const std::vector<std::string> &args) {
  bool json = false;
  plm::CatalogueQuery query;
  std::vector<std::string> words;
  bool options = true;
  for (const auto &a : args) {
    if (options && a == "--")
      options = false;
    else if (options && a == "--json")
      json = true;
    else if (options && a == "--missing-font")
      query.missingFontOnly = true;
    else if (options && (a == "--recursive" || a == "-r"))
      query.recursive = true;
    else if (options && a.size() > 2 && a.rfind("--", 0) == 0)
      return Usage(kSearchUsage);
    else
      words.push_back(a);
  }
  if (words.empty() || words.size() > 2) return Usage(kSearchUsage);
  query.text = words[0];
  query.folder = words.size() == 2 ? words[1] : ".";
  if (!plm::DirectoryExists(query.folder)) {
    std::fprintf(stderr, "plmtool: no such folder '%s'\n", query.folder.c_str());
    return kUsage;
  }
  query.withPictures = json;
  plm::TCatalogue catalogue(plm::DefaultCatalogueFileName(), plm::IsFontFamilyInstalled);
  // What is searched is brought up to date first; the bar only where someone watches.
  catalogue.Update({query.folder}, query.recursive,
                   plm::IsTerminal(2) ? ProgressOnStandardError() : plm::CatalogueProgress());
  const auto found = catalogue.Search(query);
  std::string out;
  for (const auto &r : found) {
    if (json) {
      out += Json(r);
    } else {
      out += r.path + '\t' + r.collection + '\t' + r.display + '\t' + r.font + '\t' +
             (r.fontInstalled ? "yes" : "no");
    }
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return found.empty() ? 1 : 0;
}

PLM_COMMAND("index", kIndexUsage, CmdIndex);
PLM_COMMAND("search", kSearchUsage, CmdSearch);

} // namespace
