#include "catalogue/TemplateReader.h"

#include "cabinet/CabIntf.h"
#include "cabinet/CabSTComps.h"
#include "catalogue/PageReferences.h"
#include "imaging/DCImageInfo.h"
#include "platform/FileIO.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/graphics/Streams.h"
#include "preview/TemplateFiles.h"
#include "preview/TemplatePreview.h"
#include "preview/TemplateRules.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

namespace plm {

namespace {

// Of a picture, only this much is kept: the header inspector finds what it needs there.
constexpr size_t kPictureHeadBytes = 256 << 10;
// Handles of the buffers stand far above any file descriptor.
constexpr CABHANDLE kMemoryHandleBase = CABHANDLE(1) << 40;

enum class Role { Ini, Page, Picture };

struct Output {
  Role role;
  std::string name; // stored name, UTF-8, "/" between folders
  int64_t bytes = 0;
  std::string data; // the whole file for the description and the page, a head otherwise
  bool whole = false; // expanded to its end
  // Every byte is hashed as it goes by, none kept beyond data.
  std::unique_ptr<sha256_ctx> hash;
  std::string digest; // SHA-256 of the file, once whole
};

struct ReadJob {
  std::vector<Output> outputs;
  TTemplateBudget budget;
  std::string nextCabinet;
  int osError = 0;
  // After a failure: the cabinet's file list is walked once more, nothing expanded, for
  // the names and sizes of the files the failure kept from being reached.
  bool listing = false;
};

thread_local ReadJob *tJob = nullptr;

Output *OutputOf(CABHANDLE hf) {
  if (!tJob || hf < kMemoryHandleBase) return nullptr;
  const size_t i = size_t(hf - kMemoryHandleBase);
  return i < tJob->outputs.size() ? &tJob->outputs[i] : nullptr;
}

void *CabAlloc(uint32_t cb) { return std::malloc(cb ? cb : 1); }
void CabFree(void *p) { std::free(p); }

// The library opens only the cabinets for reading: the files it extracts come from the
// copy-file notification below.
CABHANDLE CabOpen(char *name, int, int) {
  FileOpenHints hints;
  hints.sequentialScan = true;
  int e = 0;
  const FileHandle h =
      FileOpenHandle(name ? name : "", FileAccess::Read, FileDisposition::OpenExisting, hints, e);
  if (h == INVALID_FILE_HANDLE && tJob) tJob->osError = e;
  return h == INVALID_FILE_HANDLE ? -1 : CABHANDLE(h);
}

uint32_t CabRead(CABHANDLE hf, void *pv, uint32_t cb) {
  int e = 0;
  const int64_t n = FileReadHandle(hf, pv, cb, e);
  return n < 0 ? uint32_t(-1) : uint32_t(n);
}

uint32_t CabWrite(CABHANDLE hf, void *pv, uint32_t cb) {
  Output *o = OutputOf(hf);
  if (!o) return uint32_t(-1);
  if (o->hash) sha256_update(o->hash.get(), cb, static_cast<const uint8_t *>(pv));
  // The page is within its limit already; a description beyond it is not read further.
  const size_t keep = o->role == Role::Picture ? kPictureHeadBytes : size_t(kMaxPageBytes);
  const size_t room = o->data.size() < keep ? keep - o->data.size() : 0;
  o->data.append(static_cast<const char *>(pv), std::min<size_t>(cb, room));
  return cb;
}

int CabClose(CABHANDLE hf) {
  if (hf >= kMemoryHandleBase) return 0;
  int e = 0;
  return FileCloseHandle(hf, e) ? 0 : -1;
}

int32_t CabSeek(CABHANDLE hf, int32_t dist, int seektype) {
  if (hf >= kMemoryHandleBase) return -1;
  int e = 0;
  const int64_t r = FileSeekHandle(hf, dist, seektype, e);
  return r >= 0 && r <= INT32_MAX ? int32_t(r) : -1;
}

CABHANDLE Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  ReadJob *job = tJob;
  if (!job || !n) return -1;
  switch (type) {
  case fdintCABINET_INFO: {
    const std::string next = n->psz1 ? n->psz1 : "";
    job->nextCabinet = IsPlainCabinetName(next) ? JoinPath({n->psz3 ? n->psz3 : "", next}) : "";
    return 0;
  }
  case fdintCOPY_FILE: {
    // Weighed by the stored size before a byte is expanded, as the preview does.
    const uint64_t size = uint32_t(n->cb);
    std::string name = n->psz1 ? n->psz1 : "";
    name = (n->attribs & _A_NAME_IS_UTF) ? name : Cp1252ToUtf8(name);
    for (char &c : name)
      if (c == '\\') c = '/';
    if (job->listing) {
      const bool known = std::any_of(job->outputs.begin(), job->outputs.end(),
                                     [&](const Output &o) { return o.name == name; });
      if (!known && job->outputs.size() < kMaxTemplateFiles)
        job->outputs.push_back({Role::Picture, std::move(name), int64_t(size), {}, false, {}, {}});
      return 0;
    }
    const bool page = IsPageFileName(name);
    if (!job->budget.Add(size, page).empty()) return -1;
    Output o;
    o.role = page ? Role::Page : IsDescriptionFileName(name) ? Role::Ini : Role::Picture;
    o.name = std::move(name);
    o.bytes = int64_t(size);
    if (o.role != Role::Picture) o.data.reserve(std::min<size_t>(size, kMaxPageBytes));
    o.hash = std::make_unique<sha256_ctx>();
    sha256_init(o.hash.get());
    job->outputs.push_back(std::move(o));
    return kMemoryHandleBase + CABHANDLE(job->outputs.size() - 1);
  }
  case fdintCLOSE_FILE_INFO:
    if (Output *o = OutputOf(n->hf)) {
      o->whole = true;
      if (o->hash) {
        uint8_t md[SHA256_DIGEST_SIZE];
        sha256_digest(o->hash.get(), sizeof md, md);
        o->digest.assign(reinterpret_cast<const char *>(md), sizeof md);
      }
      o->hash.reset();
    }
    return 1;
  case fdintNEXT_CABINET:
    return n->fdie == FDIERROR_NONE ? 0 : -1;
  default:
    return 0;
  }
}

// Text read from a template: UTF-8 when it is valid UTF-8, Windows-1252 otherwise.
std::string Text(std::string_view s) { return ToDisplayUtf8(s); }

// The key of a stored name: as a page's reference finds it, or the name itself (marked,
// so that it matches no key) when no reference can name it.
std::string NameKey(const std::string &name) {
  std::string key = TemplateFileKey(name);
  return key.empty() ? std::string(1, '\0') + name : key;
}

// SHA-256 over the files sorted by their keys, each as its key, its size and its own
// SHA-256: the same content gives the same fingerprint whatever the cabinet's layout, the
// files' order or the names' case. Empty when a file was not hashed whole, or none is.
std::string Fingerprint(const std::vector<Output> &outputs) {
  if (outputs.empty()) return {};
  std::vector<std::tuple<std::string, int64_t, const std::string *>> files;
  for (const Output &o : outputs) {
    if (!o.whole || o.digest.empty()) return {};
    files.emplace_back(NameKey(o.name), o.bytes, &o.digest);
  }
  std::sort(files.begin(), files.end(), [](const auto &a, const auto &b) {
    return std::tie(std::get<0>(a), std::get<1>(a), *std::get<2>(a)) <
           std::tie(std::get<0>(b), std::get<1>(b), *std::get<2>(b));
  });
  sha256_ctx hash;
  sha256_init(&hash);
  for (const auto &[key, bytes, digest] : files) {
    uint8_t size[8];
    for (int i = 0; i < 8; ++i)
      size[i] = static_cast<uint8_t>(uint64_t(bytes) >> (8 * i));
    // The key with its terminating 0, so that no name runs into the next.
    sha256_update(&hash, key.size() + 1, reinterpret_cast<const uint8_t *>(key.c_str()));
    sha256_update(&hash, sizeof size, size);
    sha256_update(&hash, digest->size(), reinterpret_cast<const uint8_t *>(digest->data()));
  }
  uint8_t md[SHA256_DIGEST_SIZE];
  sha256_digest(&hash, sizeof md, md);
  return std::string(reinterpret_cast<const char *>(md), sizeof md);
}

// The files the page loads that the template lacks, each once, in the page's order,
// matched by the rule the preview finds them with.
void MissingPictures(const std::vector<Output> &outputs, const std::string &page,
                     std::vector<TemplateProblem> &problems) {
  std::set<std::string> have, reported;
  for (const Output &o : outputs)
    have.insert(NameKey(o.name));
  std::vector<std::string> names;
  PageFileReferences(page, names); // a page the parser gives no tree for loads nothing
  for (const std::string &name : names) {
    const std::string key = TemplateFileKey(name);
    if (key.empty() || have.count(key) || !reported.insert(key).second) continue;
    const std::string shown = Text(name);
    problems.push_back({kProblemMissingPicture, "Image absente : " + shown, shown});
  }
}

} // namespace

std::string PageTitle(std::string_view page) {
  const std::string lower = LowerCase(page.substr(0, std::min<size_t>(page.size(), 1 << 20)));
  const size_t open = lower.find("<title");
  if (open == std::string::npos) return {};
  const size_t start = lower.find('>', open);
  if (start == std::string::npos) return {};
  const size_t end = lower.find("</title", start);
  if (end == std::string::npos) return {};
  std::string t = Trim(page.substr(start + 1, end - start - 1));
  for (char &c : t)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return t;
}

TTemplateReader::TTemplateReader() = default;

TTemplateReader::~TTemplateReader() {
  if (fContext && CabIntf::FDIDestroy) CabIntf::FDIDestroy(fContext);
}

void TTemplateReader::Read(const std::string &templatePath, TemplateRecord &record,
                           const FontCheck &fontCheck) {
  CabIntf::LoadCabinetLibrary();
  if (!fContext) {
    fError = ERF{};
    fContext =
        CabIntf::FDICreate(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                                  cpuUNKNOWN, &fError);
    if (!fContext) throw ESTCabinet(fError, false);
  }
  ReadJob job;
  tJob = &job;
  struct Reset {
    ~Reset() { tJob = nullptr; }
  } reset;

  // The cabinets of the set, each once, as the cabinet reader follows them. A damaged one
  // ends the walk; the fields read before it are kept and the damage raised at the end.
  std::set<std::string> done;
  std::optional<ESTCabinet> damage;
  std::string current = ExpandFileName(templatePath);
  while (!current.empty()) {
    done.insert(current);
    job.nextCabinet.clear();
    std::string name = ExtractFileName(current), folder = ExtractFilePath(current);
    fError = ERF{};
    const CABBOOL ok = CabIntf::FDICopy(fContext, name.data(), folder.data(), 0, Notify, nullptr,
                                        nullptr);
    if (!ok) {
      if (!job.budget.Refusal().empty())
        throw ETemplateTooLarge(ExtractFileName(templatePath), job.budget.Refusal());
      if (!fError.erfType) fError.erfType = job.osError;
      damage.emplace(fError, false);
      // What lies beyond the damage is still named by the file list.
      job.listing = true;
      fError = ERF{};
      CabIntf::FDICopy(fContext, name.data(), folder.data(), 0, Notify, nullptr, nullptr);
      break;
    }
    current = job.nextCabinet.empty() ? std::string() : ExpandFileName(job.nextCabinet);
    if (!current.empty() && (!IsRegularFile(current) || done.count(current))) current.clear();
  }

  // A description or page cut short by the damage is not read: half a page names a wrong
  // font or title.
  const Output *ini = nullptr, *page = nullptr;
  for (const Output &o : job.outputs) {
    if (o.role == Role::Ini && !ini && o.whole) ini = &o;
    if (o.role == Role::Page && !page && o.whole) page = &o;
  }
  record.problems.clear();
  record.fingerprint = damage ? std::string() : Fingerprint(job.outputs);
  record.contentBytes = 0;
  for (const Output &o : job.outputs)
    record.contentBytes += o.bytes;
  const std::string iniText = ini ? ini->data : std::string();
  if (Trim(iniText).empty())
    record.problems.push_back({kProblemNoDescription, "content.ini absent ou vide", {}});
  record.collection = Text(IniTextValue(iniText, "General", "Collection", kUnknowed));
  record.display = Text(IniTextValue(iniText, "General", "Display", kUnknowed));
  record.trademark = Text(IniTextValue(iniText, "TradeMark", "TradeMark", kUnknowed));
  record.pictures.clear();
  for (const Output &o : job.outputs) {
    if (o.role != Role::Picture) continue;
    TMemoryStream head(std::vector<uint8_t>(o.data.begin(), o.data.end()));
    TDCImageInfo info;
    info.ReadInfo(head);
    record.pictures.push_back({o.name, PictureTypeName(info.ImageType), o.bytes, info.Width, info.Height});
  }
  if (!page) {
    record.font.clear();
    record.fontInstalled = false;
    record.title.clear();
    if (damage) throw *damage;
    throw ETemplateHasNoPage();
  }
  record.font = Text(TemplateFontName(page->data));
  record.fontInstalled = !record.font.empty() && fontCheck && fontCheck(record.font);
  record.title = Text(PageTitle(page->data));
  if (damage) throw *damage;
  MissingPictures(job.outputs, page->data, record.problems);
  if (!record.font.empty() && !record.fontInstalled)
    record.problems.push_back(
        {kProblemMissingFont, "Police non installée : " + record.font, record.font});
}

void ReadTemplateRecord(TTemplateReader &reader, const std::string &templatePath,
                        TemplateRecord &record, const FontCheck &fontCheck) {
  record.failure.clear();
  record.problems.clear();
  record.fingerprint.clear();
  try {
    reader.Read(templatePath, record, fontCheck);
    return;
  } catch (const ETemplateTooLarge &e) {
    record.failure = TemplateFailureReason(e);
    record.problems = {{kProblemOverLimits, "Trop grand pour être affiché : " + e.Why, {}}};
  } catch (const ETemplateHasNoPage &e) {
    record.failure = TemplateFailureReason(e);
    // What the description's reading found stays beside it.
    record.problems.insert(record.problems.begin(),
                           {kProblemNoPage, "Le modèle n'a pas de page (Flavor.htm)", {}});
  } catch (const std::exception &e) {
    record.failure = TemplateFailureReason(e);
    record.problems = {{kProblemDamaged,
                        "Fichier endommagé ou qui n'est pas un modèle : " + record.failure, {}}};
  }
  if (record.problems.front().code != kProblemNoPage) record.fingerprint.clear();
}

} // namespace plm
