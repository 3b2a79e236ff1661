#include "export/TemplateExport.h"

#include "export/ExportPage.h"
#include "imaging/DCImageInfo.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"
#include "preview/TemplateFiles.h"
#include "preview/TemplatePreview.h"
#include "preview/TemplateRules.h"

#include <gmime/gmime.h>

#include <QScopeGuard>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace plm {

namespace {

// One picture of the template that the page uses, under the address the export gives it.
struct TUsedPicture {
  std::string path; // in the unpacked folder
  std::string mimeType;
  std::string address; // "cid:..." or "data:..."
  std::string contentId;
};

// GLib's and GMime's objects and strings, each owned by one holder.
template <typename T> struct GObjectUnref {
  void operator()(T *p) const { g_object_unref(p); }
};
template <typename T> using GPtr = std::unique_ptr<T, GObjectUnref<T>>;
struct GFree {
  void operator()(void *p) const { g_free(p); }
};
using GChars = std::unique_ptr<char, GFree>;
struct GDateTimeUnref {
  void operator()(GDateTime *p) const { g_date_time_unref(p); }
};
struct GMimeFormatOptionsFree {
  void operator()(GMimeFormatOptions *p) const { g_mime_format_options_free(p); }
};

// The picture of the template a reference of its page names, or empty: anything with a
// scheme, an absolute path, a way out of the folder, a link, a missing file or a file
// that is no picture names nothing.
std::string ResolvePicture(const std::string &folder, const std::string &reference) {
  const std::string ref = TemplateFileReference(reference);
  if (ref.empty()) return {};
  const std::string path = FindTemplateFile(folder, ref);
  if (path.empty() || !IsRegularFile(path)) return {};
  for (std::string p = path; p.size() > folder.size(); p.resize(p.rfind('/')))
    if (IsSymLink(p)) return {};
  return path;
}

std::string PictureBytes(const std::string &path) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes))
    throw EFOpenError("Impossible de lire l'image \"" + ExtractFileName(path) + "\". " +
                      std::strerror(errno));
  return bytes;
}


void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

class TExport {
public:
  TExport(std::string folder, TExportFormat format) : fFolder(std::move(folder)), fFormat(format) {}

  std::string Address(const std::string &reference) {
    const std::string path = ResolvePicture(fFolder, reference);
    if (path.empty()) return {};
    if (const auto it = fIndex.find(path); it != fIndex.end()) return fPictures[it->second].address;
    TDCImageInfo info;
    info.ReadInfo(path);
    const char *mime = PictureMimeType(info.ImageType);
    if (!mime) return {};
    TUsedPicture p{path, mime, {}, {}};
    if (fFormat == TExportFormat::Message) {
      InitGMime();
      p.contentId = GChars(g_mime_utils_generate_message_id("plmlooker.invalid")).get();
      p.address = "cid:" + p.contentId;
    } else {
      const std::string bytes = PictureBytes(path);
      const GChars b64(g_base64_encode(reinterpret_cast<const guchar *>(bytes.data()), bytes.size()));
      p.address = "data:" + p.mimeType + ";base64," + b64.get();
    }
    fIndex.emplace(path, fPictures.size());
    fPictures.push_back(std::move(p));
    return fPictures.back().address;
  }

  const std::vector<TUsedPicture> &Pictures() const { return fPictures; }

private:
  std::string fFolder;
  TExportFormat fFormat;
  std::map<std::string, size_t> fIndex;
  std::vector<TUsedPicture> fPictures;
};

GMimeStream *MemoryStream(const std::string &bytes) {
  return g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char *>(bytes.data()),
                                           bytes.size());
}

void SetContent(GMimePart *part, const std::string &bytes, GMimeContentEncoding encoding) {
  const GPtr<GMimeStream> stream(MemoryStream(bytes));
  const GPtr<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  g_mime_part_set_content_encoding(part, encoding);
}

std::string MessageBytes(const std::string &subject, const std::string &page,
                         const std::vector<TUsedPicture> &pictures) {
  InitGMime();
  const GPtr<GMimeMessage> message(g_mime_message_new(FALSE));
  GMimeObject *object = GMIME_OBJECT(message.get());
  g_mime_object_set_header(object, "MIME-Version", "1.0", nullptr);
  const std::unique_ptr<GDateTime, GDateTimeUnref> now(g_date_time_new_now_local());
  g_mime_message_set_date(message.get(), now.get());
  g_mime_message_set_subject(message.get(), subject.c_str(), "utf-8");
  // Mail clients open such a message as a new one to write.
  g_mime_object_set_header(object, "X-Unsent", "1", nullptr);

  const GPtr<GMimeMultipart> related(g_mime_multipart_new_with_subtype("related"));
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(related.get()), "type", "text/html");

  const GPtr<GMimeTextPart> root(g_mime_text_part_new_with_subtype("html"));
  SetContent(GMIME_PART(root.get()), page, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  g_mime_text_part_set_charset(root.get(), "utf-8");
  g_mime_multipart_add(related.get(), GMIME_OBJECT(root.get()));

  for (const TUsedPicture &p : pictures) {
    const std::string bytes = PictureBytes(p.path);
    const size_t slash = p.mimeType.find('/');
    const GPtr<GMimePart> part(g_mime_part_new_with_type(p.mimeType.substr(0, slash).c_str(),
                                                         p.mimeType.substr(slash + 1).c_str()));
    SetContent(part.get(), bytes, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_part_set_content_id(part.get(), p.contentId.c_str());
    g_mime_object_set_disposition(GMIME_OBJECT(part.get()), GMIME_DISPOSITION_INLINE);
    g_mime_part_set_filename(part.get(), ExtractFileName(p.path).c_str());
    g_mime_multipart_add(related.get(), GMIME_OBJECT(part.get()));
  }
  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(related.get()));

  const std::unique_ptr<GMimeFormatOptions, GMimeFormatOptionsFree> options(
      g_mime_format_options_new());
  g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
  const GPtr<GMimeStream> out(g_mime_stream_mem_new());
  const ssize_t written = g_mime_object_write_to_stream(object, options.get(), out.get());
  if (written < 0) throw EStreamError("Le message n'a pas pu être composé.");
  const GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char *>(bytes->data), bytes->len);
}

void WriteTarget(const std::string &target, const std::string &bytes) {
  TReplacingFile file;
  int e = file.Open(target);
  if (!e) e = file.Write(bytes.data(), bytes.size());
  if (!e) e = file.Commit();
  if (e)
    throw EFOpenError("Impossible d'enregistrer l'export sous \"" + target + "\". " +
                      std::strerror(e));
}

// The subject of the message: the template's display name, else its file name without
// its extension; as UTF-8 (names inside templates are Windows-1252).
std::string SubjectOf(const TemplateFields &fields, const std::string &templatePath) {
  const std::string display = Trim(fields.Display);
  if (!display.empty() && display != kUnknowed) return ToDisplayUtf8(display);
  return ToDisplayUtf8(ChangeFileExt(ExtractFileName(templatePath), ""));
}

} // namespace

std::optional<TExportFormat> ExportFormatOf(const std::string &fileName) {
  const std::string ext = LowerCase(ExtractFileExt(fileName));
  if (ext == ".eml") return TExportFormat::Message;
  if (ext == ".html" || ext == ".htm") return TExportFormat::Page;
  return std::nullopt;
}

TExportedTemplate ExportTemplateBytes(const std::string &templatePath, TExportFormat format) {
  // In the program's temporary folder, which is private to the user (mode 0700).
  const TTempFolder stage("export-");
  return ExportTemplateBytesIn(templatePath, format, stage.Path());
}

TExportedTemplate ExportTemplateBytesIn(const std::string &templatePath, TExportFormat format,
                                        const std::string &stage) {
  const auto emptied = qScopeGuard([&stage] { DeleteEntryNoFollow(stage); });
  TTemplatePreview preview(stage);
  preview.Extract(templatePath);
  const TemplateFields fields = preview.ReadFields();
  // Said as the preview says it, not as a missing file of the private folder.
  if (FindEntryNoCase(preview.Folder(), kPageFileName).empty()) throw ETemplateHasNoPage();
  preview.LoadPage();

  TExport exported(stage, format);
  std::string page = RewritePageForExport(
      preview.PageText(), [&](const std::string &ref) { return exported.Address(ref); });
  TExportedTemplate result;
  result.bytes = format == TExportFormat::Message
                     ? MessageBytes(SubjectOf(fields, templatePath), page, exported.Pictures())
                     : std::move(page);
  result.display = fields.Display;
  result.collection = fields.Collection;
  return result;
}

void ExportTemplate(const std::string &templatePath, const std::string &target,
                    TExportFormat format) {
  WriteTarget(target, ExportTemplateBytes(templatePath, format).bytes);
}

} // namespace plm
