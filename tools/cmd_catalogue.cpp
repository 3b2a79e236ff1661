// plmtool index | search | duplicates | check: the catalogue of templates from the
// command line. Linked
// without Qt: fonts are looked up through fontconfig, as the window framework does.
#include "catalogue/Catalogue.h"
#include "platform/FileIO.h"
#include "platform/FileSys.h"
#include "platform/InstalledFonts.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "preview/TemplateWalk.h"
#include "tools/Commands.h"
#include "tools/ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <map>
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
const char *const kDuplicatesUsage = "duplicates [-r | --recursive] [--json] FOLDER...";
const char *const kCheckUsage = "check [-r | --recursive] [--json] TEMPLATE|FOLDER...";

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

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
    hex += buf;
  }
  return hex;
}

// A path as a JSON object's member: "path", and "path_hex" beside it for a name that is
// not UTF-8, its exact bytes, so that it can be found again.
void AppendJsonPath(std::string &o, const std::string &path) {
  o += "\"path\":";
  AppendJsonString(o, plm::ToDisplayUtf8(path));
  if (!plm::IsValidUtf8(path)) o += ",\"path_hex\":\"" + Hex(path) + '"';
}

std::string Json(const plm::TemplateRecord &r) {
  std::string o = "{";
  AppendJsonPath(o, r.path);
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

// The options of duplicates and check, and the paths they are given; false on a wrong
// option (an unknown one, or no path).
bool HealthArguments(const std::vector<std::string> &args, bool &recursive, bool &json,
                     std::vector<std::string> &paths) {
  bool options = true;
  for (const auto &a : args) {
    if (options && a == "--")
      options = false;
    else if (options && (a == "--recursive" || a == "-r"))
      recursive = true;
    else if (options && a == "--json")
      json = true;
    else if (options && a.size() > 1 && a[0] == '-')
      return false;
    else
      paths.push_back(a);
  }
  return !paths.empty();
}

int CmdDuplicates(const std::vector<std::string> &args) {
  bool recursive = false, json = false;
  std::vector<std::string> folders;
  if (!HealthArguments(args, recursive, json, folders)) return Usage(kDuplicatesUsage);
  for (const auto &f : folders)
    if (!plm::DirectoryExists(f)) {
      std::fprintf(stderr, "plmtool: no such folder '%s'\n", f.c_str());
      return kUsage;
    }
  plm::TCatalogue catalogue(plm::DefaultCatalogueFileName(), plm::IsFontFamilyInstalled);
  catalogue.Update(folders, recursive,
                   plm::IsTerminal(2) ? ProgressOnStandardError() : plm::CatalogueProgress());
  const auto groups = catalogue.Duplicates(folders, recursive);
  std::string out;
  if (json) {
    out = "{\"groups\":[";
    for (size_t g = 0; g < groups.size(); ++g) {
      out += g ? ",{" : "{";
      out += "\"fingerprint\":\"" + Hex(groups[g].fingerprint) + "\",\"paths\":[";
      for (size_t i = 0; i < groups[g].paths.size(); ++i) {
        const std::string &p = groups[g].paths[i];
        if (i) out += ',';
        if (plm::IsValidUtf8(p)) {
          AppendJsonString(out, p);
        } else {
          // A name that is not UTF-8: an object with its exact bytes beside its text.
          out += '{';
          AppendJsonPath(out, p);
          out += '}';
        }
      }
      out += "],\"size\":" + std::to_string(groups[g].contentBytes) + "}";
    }
    out += "]}\n";
  } else {
    for (size_t g = 0; g < groups.size(); ++g) {
      if (g) out += '\n';
      for (const auto &p : groups[g].paths)
        out += p + '\n';
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int CmdCheck(const std::vector<std::string> &args) {
  bool recursive = false, json = false;
  std::vector<std::string> paths;
  if (!HealthArguments(args, recursive, json, paths)) return Usage(kCheckUsage);
  plm::TCatalogue catalogue(plm::DefaultCatalogueFileName(), plm::IsFontFamilyInstalled);
  std::vector<plm::TemplateRecord> checked; // those with problems, and those named alone
  size_t total = 0;
  for (const auto &path : paths) {
    if (plm::DirectoryExists(path)) {
      const auto summary = catalogue.Update(
          {path}, recursive,
          plm::IsTerminal(2) ? ProgressOnStandardError() : plm::CatalogueProgress());
      total += summary.read + summary.unchanged + summary.unreadable;
      auto found = catalogue.Problems(path, recursive);
      checked.insert(checked.end(), std::make_move_iterator(found.begin()),
                     std::make_move_iterator(found.end()));
    } else if (plm::FileExists(path)) {
      // A template named alone: its folder's entries brought up to date, then its own; a
      // file the walk does not take for a template (another extension) is read as it is.
      const std::string full = plm::ExpandFileName(path);
      const std::string folder = plm::CatalogueFolder(plm::ExtractFilePath(full));
      catalogue.Update({folder}, false);
      plm::CatalogueQuery q;
      q.folder = folder;
      auto found = catalogue.Search(q);
      const auto it = std::find_if(found.begin(), found.end(),
                                   [&](const auto &r) { return r.path == full; });
      ++total;
      if (it != found.end()) {
        checked.push_back(std::move(*it));
      } else {
        plm::TTemplateReader reader;
        plm::TemplateRecord r;
        r.path = full;
        plm::ReadTemplateRecord(reader, full, r, plm::IsFontFamilyInstalled);
        checked.push_back(std::move(r));
      }
    } else {
      std::fprintf(stderr, "plmtool: no such template or folder '%s'\n", path.c_str());
      return kUsage;
    }
  }
  std::string out = json ? "{\"templates\":[" : "";
  size_t withProblems = 0;
  for (const auto &r : checked) {
    if (r.problems.empty()) continue;
    if (json) {
      out += withProblems ? ",{" : "{";
      AppendJsonPath(out, r.path);
      out += ",\"problems\":[";
      for (size_t i = 0; i < r.problems.size(); ++i) {
        const auto &p = r.problems[i];
        out += i ? ",{\"code\":" : "{\"code\":";
        AppendJsonString(out, p.code);
        out += ",\"text\":";
        AppendJsonString(out, p.text);
        out += ",\"name\":";
        if (p.name.empty())
          out += "null";
        else
          AppendJsonString(out, p.name);
        out += '}';
      }
      out += "]}";
    } else {
      for (const auto &p : r.problems)
        out += r.path + '\t' + p.code + '\t' + p.text + '\n';
    }
    ++withProblems;
  }
  if (json) out += "]}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fprintf(stderr, "%zu templates checked, %zu with problems\n", total, withProblems);
  return withProblems ? 1 : 0;
}

PLM_COMMAND("index", kIndexUsage, CmdIndex);
PLM_COMMAND("search", kSearchUsage, CmdSearch);
PLM_COMMAND("duplicates", kDuplicatesUsage, CmdDuplicates);
PLM_COMMAND("check", kCheckUsage, CmdCheck);

} // namespace
