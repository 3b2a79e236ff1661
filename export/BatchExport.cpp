#include "export/BatchExport.h"

#include "export/TemplateExport.h"
#include "gallery/RenderQueue.h"
#include "gallery/ThumbnailCache.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"
#include "preview/TemplatePreview.h"
#include "preview/TemplateRules.h"
#include "preview/TemplateWalk.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace plm {

namespace {

// One template of the batch: where it is, the folder of the output it goes to (relative,
// "" for the top) and, for files, the name it was given there (relative to the output).
struct TItem {
  std::string path;
  std::string folder;
  std::string outName;
};

// What a finished template leaves for the writer of the ordered outputs (the mailbox, the
// index page), which takes them in the batch's order.
struct TDone {
  bool ok = false;
  std::string message; // the mailbox's message
  std::string display, collection, thumbnail; // the index's entry (thumbnail: PNG bytes)
};

bool EntryExists(const std::string &path) {
  return FileExists(path) || DirectoryExists(path) || IsSymLink(path);
}

std::string Joined(const std::string &folder, const std::string &name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

std::string HtmlText(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (const char c : s) {
    switch (c) {
    case '&': r += "&amp;"; break;
    case '<': r += "&lt;"; break;
    case '>': r += "&gt;"; break;
    case '"': r += "&quot;"; break;
    default: r += c;
    }
  }
  return r;
}

// A relative link to the file: each byte outside the unreserved ones %-escaped, so that a
// name that is not UTF-8 still names its file.
std::string RelativeHref(const std::string &relPath) {
  char *escaped = g_uri_escape_bytes(reinterpret_cast<const guint8 *>(relPath.data()),
                                     relPath.size(), "/");
  std::string r = escaped;
  g_free(escaped);
  return r;
}

std::string Base64(const std::string &bytes) {
  gchar *b64 = g_base64_encode(reinterpret_cast<const guchar *>(bytes.data()), bytes.size());
  std::string r = b64;
  g_free(b64);
  return r;
}

// The template's text (Windows-1252 in "content.ini") as UTF-8, "" when unknown.
std::string FieldText(const std::string &field) {
  const std::string t = Trim(field);
  return t.empty() || t == kUnknowed ? std::string() : ToDisplayUtf8(t);
}

// The current picture of the template in the cache, as the PNG file's bytes; "" when none.
std::string CachedThumbnail(const TThumbnailCache &cache, const std::string &path) {
  const TTemplateStamp stamp = TThumbnailCache::Stamp(path);
  if (!stamp.Valid() || cache.Lookup(stamp).Kind != TThumbnailCache::Found::Picture) return {};
  std::string bytes;
  return ReadFileBytes(cache.PicturePath(stamp.Uri), bytes) ? bytes : std::string();
}

// Makes the cache's missing pictures with the gallery's renderer, one process for all, on
// this thread's event loop (there is none without a Qt application: nothing is made).
void MakeMissingThumbnails(const TThumbnailCache &cache, const std::vector<TItem> &items,
                           const TBatchOptions &options) {
  if (!QCoreApplication::instance()) return;
  std::deque<std::string> queue;
  for (const TItem &item : items) {
    const TTemplateStamp stamp = TThumbnailCache::Stamp(item.path);
    if (stamp.Valid() && cache.Lookup(stamp).Kind == TThumbnailCache::Found::Nothing)
      queue.push_back(item.path);
  }
  if (queue.empty()) return;
  TRenderOptions renderOptions;
  renderOptions.CacheRoot = cache.Root();
  renderOptions.Program = QString::fromStdString(options.rendererProgram);
  TRenderQueue renderer(renderOptions, 1);
  QEventLoop loop;
  // Told as the batch's first steps: none of its templates done yet.
  const size_t total = items.size();
  auto cancelled = [&] { return options.cancel && options.cancel->load(); };
  renderer.NextTemplate = [&] {
    if (queue.empty() || cancelled()) return std::string();
    if (options.progress) options.progress(0, total, queue.front());
    std::string path = std::move(queue.front());
    queue.pop_front();
    return path;
  };
  auto answered = [&] {
    if (!renderer.Busy() && (queue.empty() || cancelled())) loop.quit();
  };
  QObject::connect(&renderer, &TRenderQueue::Rendered, &loop, answered);
  QObject::connect(&renderer, &TRenderQueue::Failed, &loop, answered);
  QObject::connect(&renderer, &TRenderQueue::Again, &loop,
                   [&](const std::string &path) { queue.push_front(path); });
  QMetaObject::invokeMethod(
      &loop,
      [&] {
        renderer.Pump();
        answered();
      },
      Qt::QueuedConnection);
  loop.exec();
}

// An ordered output being written: the mailbox or the index page, each a single file
// through the atomic writer, committed at the end (after a cancel too) or discarded.
class TOrderedOutput {
public:
  explicit TOrderedOutput(std::string path) : fPath(std::move(path)) {}
  const std::string &Path() const { return fPath; }
  int Open() { return fError = fFile.Open(fPath); }
  void Put(std::string_view bytes) {
    if (!fError) fError = fFile.Write(bytes.data(), bytes.size());
  }
  int Error() const { return fError; }
  int Commit() { return fError ? fError : (fError = fFile.Commit()); }
  void Discard() { fFile.Discard(); }

private:
  std::string fPath;
  TReplacingFile fFile;
  int fError = 0;
};

constexpr const char *kIndexName = "index"; // .html

std::string IndexHead() {
  return "<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\">"
         "<title>Modèles</title><style>"
         "body{font-family:sans-serif;margin:1em}"
         "ul{list-style:none;padding:0;display:flex;flex-wrap:wrap;gap:1em}"
         "li{width:200px}li img{max-width:200px;max-height:200px;display:block}"
         ".c,.f{color:#666;font-size:smaller}"
         "</style></head><body>\n<h1>Modèles</h1>\n";
}

std::string IndexEntry(const TItem &item, const TDone &done) {
  std::string display = FieldText(done.display);
  const std::string file = ToDisplayUtf8(ExtractFileName(item.path));
  if (display.empty()) display = ToDisplayUtf8(ChangeFileExt(ExtractFileName(item.path), ""));
  std::string r = "<li><a href=\"" + RelativeHref(item.outName) + "\">";
  if (!done.thumbnail.empty())
    r += "<img alt=\"\" src=\"data:image/png;base64," + Base64(done.thumbnail) + "\">";
  r += "<span class=\"d\">" + HtmlText(display) + "</span></a>";
  if (const std::string c = FieldText(done.collection); !c.empty())
    r += "<div class=\"c\">" + HtmlText(c) + "</div>";
  r += "<div class=\"f\">" + HtmlText(file) + "</div></li>\n";
  return r;
}

const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::string FreeExportName(const std::string &outRoot, const std::string &folder,
                           const std::string &templateName, const std::string &ext,
                           std::set<std::string> &taken) {
  const std::string base = HasTemplateExtension(templateName)
                               ? templateName.substr(0, templateName.size() - 4)
                               : templateName;
  std::string rel = Joined(folder, base + ext);
  for (int n = 2; taken.count(rel) || EntryExists(Joined(outRoot, rel)); ++n)
    rel = Joined(folder, base + " (" + std::to_string(n) + ")" + ext);
  taken.insert(rel);
  return rel;
}

std::string MboxSeparator(long long unixTime) {
  // asctime's layout in English, whatever the locale: "From - Thu Dec 10 12:27:04 2026".
  GDateTime *t = g_date_time_new_from_unix_utc(unixTime);
  if (!t) t = g_date_time_new_from_unix_utc(0);
  char line[80];
  std::snprintf(line, sizeof line, "From MAILER-DAEMON %s %s %2d %02d:%02d:%02d %d\n",
                kDays[g_date_time_get_day_of_week(t) % 7], kMonths[g_date_time_get_month(t) - 1],
                g_date_time_get_day_of_month(t), g_date_time_get_hour(t),
                g_date_time_get_minute(t), g_date_time_get_second(t), g_date_time_get_year(t));
  g_date_time_unref(t);
  return line;
}

std::string MboxEscaped(const std::string &message) {
  std::string r;
  r.reserve(message.size() + message.size() / 64 + 2);
  size_t at = 0;
  while (at < message.size()) {
    size_t end = message.find('\n', at);
    const bool lastLine = end == std::string::npos;
    if (lastLine) end = message.size();
    std::string_view line(message.data() + at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes).starts_with("From ")) r += '>';
    r += line;
    r += '\n';
    at = end + 1;
  }
  r += '\n';
  return r;
}

TBatchResult ExportBatch(const std::vector<std::string> &inputs, const TBatchOptions &options) {
  const bool mailbox = options.kind == TBatchKind::Mailbox;
  const bool pages = options.kind == TBatchKind::Pages;
  const std::string ext = pages ? ".html" : ".eml";
  const std::string out = WithoutTrailingSlashes(options.out);
  const auto cancelled = [&] { return options.cancel && options.cancel->load(); };

  // The output folder is made first, so that the walk knows it and never enters it.
  if (!mailbox && !DirectoryExists(out) && !ForceDirectories(out))
    throw EFOpenError("Impossible de créer le dossier \"" + out + "\". " + std::strerror(errno));

  std::vector<TItem> items;
  for (const std::string &input : inputs) {
    if (DirectoryExists(input)) {
      TemplateWalk how;
      how.recursive = options.recursive;
      if (!mailbox) how.skip.push_back(out);
      const std::string root = WithoutTrailingSlashes(input);
      const size_t from = root.size() + (root.back() == '/' ? 0 : 1);
      for (FoundTemplate &t : FindTemplates(root, how)) {
        const size_t slash = t.path.rfind('/');
        std::string folder = slash > from ? t.path.substr(from, slash - from) : std::string();
        items.push_back({std::move(t.path), std::move(folder), {}});
      }
    } else {
      items.push_back({input, {}, {}});
    }
  }
  // The index lists a folder's templates under one heading: those of one subfolder found
  // through several inputs come together, in the order of their first appearance.
  if (pages) {
    std::map<std::string, size_t> firstSeen;
    for (const TItem &item : items)
      firstSeen.emplace(item.folder, firstSeen.size());
    std::stable_sort(items.begin(), items.end(), [&](const TItem &a, const TItem &b) {
      return firstSeen[a.folder] < firstSeen[b.folder];
    });
  }

  TBatchResult result;
  result.total = items.size();
  std::set<std::string> taken;
  std::optional<TOrderedOutput> ordered;
  if (mailbox) {
    ordered.emplace(out);
  } else if (pages) {
    ordered.emplace(Joined(out, FreeExportName(out, "", kIndexName, ".html", taken)));
  }
  if (!mailbox)
    for (TItem &item : items)
      item.outName = FreeExportName(out, item.folder, ExtractFileName(item.path), ext, taken);
  if (ordered && ordered->Open())
    throw EFOpenError("Impossible d'enregistrer \"" + ordered->Path() + "\". " +
                      std::strerror(ordered->Error()));

  const TThumbnailCache cache(options.thumbnailCache);
  if (pages && options.makeThumbnails) MakeMissingThumbnails(cache, items, options);

  const long long now = std::time(nullptr);
  // Each template is unpacked in a folder of its own inside this one.
  const TTempFolder stage("export-"); // in the program's own temporary folder
  if (pages) ordered->Put(IndexHead());

  // Twice the cores: each file is flushed to the disk before it takes its name, and while
  // one thread waits for its flush another unpacks; the flushes waiting together are
  // committed together by the file system.
  const unsigned threads = std::max(
      1u, std::min<unsigned>(options.threads ? options.threads
                                             : std::max(4u, 2 * std::thread::hardware_concurrency()),
                             static_cast<unsigned>(std::max<size_t>(items.size(), 1))));
  // Templates are started at most this far ahead of the ordered output's writer, so that
  // what waits for it stays a few templates, whatever the count.
  const size_t window = ordered ? 2 * threads : items.size();

  std::mutex mutex;
  std::condition_variable room;
  size_t next = 0, written = 0, finished = 0;
  std::vector<std::optional<TDone>> waiting(ordered ? items.size() : 0);
  std::string heading; // the index's current subfolder
  bool headingOpen = false;

  // Under the lock: hands the finished templates at the front to the ordered output.
  const auto flush = [&] {
    while (written < waiting.size() && waiting[written]) {
      TDone &d = *waiting[written];
      if (d.ok && mailbox) {
        ordered->Put(MboxSeparator(now));
        ordered->Put(MboxEscaped(d.message));
      } else if (d.ok) {
        const std::string &folder = items[written].folder;
        if (!headingOpen || folder != heading) {
          if (headingOpen) ordered->Put("</ul>\n");
          if (!folder.empty()) ordered->Put("<h2>" + HtmlText(ToDisplayUtf8(folder)) + "</h2>\n");
          ordered->Put("<ul>\n");
          heading = folder;
          headingOpen = true;
        }
        ordered->Put(IndexEntry(items[written], d));
      }
      waiting[written].reset();
      waiting[written].emplace(); // kept engaged: the slot is done, its bytes freed
      ++written;
    }
    room.notify_all();
  };

  const auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      room.wait(lock, [&] { return next >= items.size() || cancelled() || next < written + window; });
      if (next >= items.size() || cancelled()) return;
      const size_t i = next++;
      lock.unlock();
      TItem &item = items[i];
      TDone done;
      std::string failure;
      try {
        TExportedTemplate e =
            ExportTemplateBytesIn(item.path, pages ? TExportFormat::Page : TExportFormat::Message,
                                  stage.Path() + "/" + std::to_string(i));
        if (mailbox) {
          done.message = std::move(e.bytes);
        } else {
          const std::string folder = Joined(out, item.folder);
          if (!item.folder.empty() && !DirectoryExists(folder)) ForceDirectories(folder);
          TReplacingFile file;
          int err = file.Open(Joined(out, item.outName), true);
          while (err == EEXIST) { // a file of that name appeared since the names were given
            {
              const std::lock_guard again(mutex);
              item.outName =
                  FreeExportName(out, item.folder, ExtractFileName(item.path), ext, taken);
            }
            err = file.Open(Joined(out, item.outName), true);
          }
          if (!err) err = file.Write(e.bytes.data(), e.bytes.size());
          if (!err) err = file.Commit();
          if (err)
            throw EFOpenError("Impossible d'enregistrer l'export sous \"" +
                              Joined(out, item.outName) + "\". " + std::strerror(err));
          if (pages) {
            done.display = std::move(e.display);
            done.collection = std::move(e.collection);
            done.thumbnail = CachedThumbnail(cache, item.path);
          }
        }
        done.ok = true;
      } catch (const std::exception &e) {
        failure = TemplateFailureReason(e);
      }
      lock.lock();
      if (done.ok) {
        ++result.exported;
        if (!mailbox) result.written.push_back(Joined(out, item.outName));
      } else {
        result.failures.push_back({item.path, failure});
      }
      if (ordered) {
        waiting[i] = std::move(done);
        flush();
      }
      ++finished;
      if (options.progress) options.progress(finished, items.size(), item.path);
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t)
      helpers.emplace_back(work);
    work();
  }
  result.cancelled = finished < items.size();
  // The failures in the batch's order, whatever thread met them first.
  std::map<std::string, size_t> order;
  for (size_t i = 0; i < items.size(); ++i)
    order.emplace(items[i].path, i);
  std::stable_sort(result.failures.begin(), result.failures.end(),
                   [&](const TBatchFailure &a, const TBatchFailure &b) {
                     return order[a.path] < order[b.path];
                   });

  if (mailbox) {
    if (result.exported == 0) {
      ordered->Discard();
    } else if (const int err = ordered->Commit()) {
      result.exported = 0;
      throw EFOpenError("Impossible d'enregistrer la boîte aux lettres \"" + out + "\". " +
                        std::strerror(err));
    } else {
      result.written.push_back(out);
    }
  } else if (pages) {
    if (result.exported == 0) {
      ordered->Discard();
    } else {
      if (headingOpen) ordered->Put("</ul>\n");
      ordered->Put("</body></html>\n");
      if (const int err = ordered->Commit())
        result.failures.push_back({ordered->Path(), "Impossible d'enregistrer la page d'index. " +
                                                        std::string(std::strerror(err))});
      else
        result.written.push_back(ordered->Path());
    }
  }
  return result;
}

} // namespace plm
