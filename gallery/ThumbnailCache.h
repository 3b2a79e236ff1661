#pragma once
// The desktop's shared thumbnail cache, as the freedesktop thumbnail standard keeps it:
// a PNG a template in ROOT/large, named by the MD5 of the template's URI, holding the
// template's URI, modification time, size and type in its text keys; a picture is current
// while those match the file. A template that cannot be shown leaves a failure entry in
// ROOT/fail/plmlooker-VERSION instead, not tried again until the file changes. Entries
// are written under a temporary name and renamed, mode 0600, in folders of mode 0700.
// Every call may run on any thread: the cache holds no state but its root.
#include <QImage>
#include <QString>

#include <cstdint>
#include <string>

namespace plm {

inline constexpr const char *kTemplateMimeType = "application/x-plumora-template";

// What the cache knows a template by, taken when its picture is looked up or made.
struct TTemplateStamp {
  std::string Path; // absolute
  std::string Uri;
  int64_t MTime = -1; // seconds
  int64_t Size = -1;  // bytes
  bool Valid() const { return !Uri.empty() && MTime >= 0 && Size >= 0; }
};

class TThumbnailCache {
public:
  // Tests and benchmarks point the cache anywhere; an empty root is the user's
  // ($XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails).
  explicit TThumbnailCache(std::string root = std::string());
  const std::string &Root() const { return fRoot; }

  // The template's stamp now; not Valid() when the file cannot be looked at.
  static TTemplateStamp Stamp(const std::string &templatePath);
  // The entry names: MD5 of the URI in lower-case hexadecimal, then ".png".
  static std::string EntryName(const std::string &uri);
  std::string PicturePath(const std::string &uri) const;
  std::string FailurePath(const std::string &uri) const;

  enum class Found { Nothing, Picture, Failure };
  struct Entry {
    Found Kind = Found::Nothing;
    QImage Picture;  // with Found::Picture
    QString Reason;  // with Found::Failure, French
  };
  // The current entry of the template: its picture when one matches the stamp, else a
  // matching failure, else nothing (a missing, damaged or outdated entry).
  Entry Lookup(const TTemplateStamp &stamp) const;

  // Stores the template's picture and removes a failure entry left by an earlier state.
  // Returns 0 or the OS error code (a read-only or full cache keeps nothing; the picture
  // is still shown).
  int Store(const TTemplateStamp &stamp, const QImage &picture) const;
  // Records that the template cannot be shown, with the reason.
  int StoreFailure(const TTemplateStamp &stamp, const QString &reason) const;

private:
  int Write(const std::string &folder, const std::string &path, const QImage &image) const;

  std::string fRoot;
};

} // namespace plm
