#pragma once
// The catalogue of templates: kept current folder by folder (a template is read again
// when its size or time changed, dropped when its file is gone), and searched by words.
// It is a cache: a database file that is damaged, foreign or of another version is
// rebuilt; one that cannot be used (locked too long, unwritable) is bypassed for a
// database in memory. Neither shows the user more than a slower answer.
#include "catalogue/Interrupted.h"
#include "catalogue/TemplateReader.h"
#include "catalogue/TemplateRecord.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plm {

class TCatalogueStore;

// $XDG_CACHE_HOME/plmlooker/catalogue.sqlite (~/.cache when unset).
std::string DefaultCatalogueFileName();

struct CatalogueSummary {
  size_t read = 0, unchanged = 0, removed = 0, unreadable = 0;
};

// Templates done so far of those to look at; called on the thread that updates.
using CatalogueProgress = std::function<void(size_t done, size_t total)>;

struct CatalogueQuery {
  // Words as the user typed them, each matched as a word prefix in some field, without
  // regard to case or accents; blank finds every template, punctuation alone none.
  std::string text;
  std::string folder;
  bool recursive = false;
  bool missingFontOnly = false;
  bool withPictures = false;
  // Only the templates with problems.
  bool problemsOnly = false;
  // Only the templates whose content another under the folder shares, group by group
  // (groups by their first member), each group's members in file-list order.
  bool duplicatesOnly = false;
  // Whether each entry found is given the first other member of its group (duplicateOf).
  bool withDuplicates = true;
};

// Templates with the same content, in file-list order.
struct DuplicateGroup {
  std::string fingerprint; // 32 bytes
  int64_t contentBytes = 0;
  std::vector<std::string> paths;
  std::vector<FileStamp> stamps; // each path's, as catalogued
};

// Moves one file to the trash; false with the reason when it could not.
using TrashFile = std::function<bool(const std::string &path, std::string &error)>;

struct TrashReport {
  std::vector<std::string> trashed;
  std::vector<std::pair<std::string, std::string>> leftAlone; // path, why (French)
};

// For each group, keeps its first member and moves the others to the trash with trash,
// each only when its file and the kept one are both still as catalogued (the same size,
// time and content, read again now) and are two files, not one under two names: the last
// copy of a content is never moved. What is left alone is reported with why. progress,
// when given, hears after each file looked at (done of total, the kept ones not counted);
// cancel, when given and set, stops between two files (what was moved stays moved).
using TrashProgress = std::function<void(size_t done, size_t total)>;
TrashReport TrashDuplicates(const std::vector<DuplicateGroup> &groups, const TrashFile &trash,
                            const TrashProgress &progress = {},
                            const std::atomic<bool> *cancel = nullptr);

class TCatalogue {
public:
  explicit TCatalogue(std::string fileName = DefaultCatalogueFileName(),
                      FontCheck fontCheck = {});
  ~TCatalogue();
  TCatalogue(const TCatalogue &) = delete;
  TCatalogue &operator=(const TCatalogue &) = delete;

  // Brings the entries of the folders (and their subfolders) up to date, reading the
  // templates on every core. cancel, when given and set, stops between templates
  // (what was read is kept).
  CatalogueSummary Update(const std::vector<std::string> &folders, bool recursive,
                          const CatalogueProgress &progress = {},
                          const std::atomic<bool> *cancel = nullptr);
  // The matching entries, by path, each with its problems and the first other member of
  // its group of duplicates under the folder; the entries are not updated first. cancel,
  // when given and set meanwhile, stops the search soon: ECatalogueInterrupted.
  std::vector<TemplateRecord> Search(const CatalogueQuery &query,
                                     const std::atomic<bool> *cancel = nullptr);
  // The templates with problems under the folder (and its subfolders), each with its
  // path and problems alone, in file-list order; the entries are not updated first.
  std::vector<TemplateRecord> Problems(const std::string &folder, bool recursive);
  // The groups of duplicates under the folders (and their subfolders) together, ordered
  // by their first members in file-list order; the entries are not updated first.
  std::vector<DuplicateGroup> Duplicates(const std::vector<std::string> &folders,
                                         bool recursive);

  // How long a write waits for another program's write before the file is bypassed.
  void SetLockWait(int ms) { fLockWaitMs = ms; }

  // Whether the database is the private one in memory (the file could not be used).
  bool InMemory() const { return fInMemory; }
  const std::string &FileName() const { return fFileName; }

private:
  TCatalogueStore &Store();
  // After a failure of the store: the file rebuilt when damaged, else the memory.
  void Recover(bool damaged);
  template <class F> auto WithRecovery(F &&f) -> decltype(f());
  CatalogueSummary UpdateFolder(const std::string &folder, bool recursive,
                                const CatalogueProgress &progress,
                                const std::atomic<bool> *cancel);

  std::string fFileName;
  FontCheck fFontCheck;
  std::unique_ptr<TCatalogueStore> fStore;
  bool fInMemory = false;
  int fLockWaitMs;
};

// A folder as the catalogue keys it: absolute, without "." or "..", no trailing "/".
std::string CatalogueFolder(const std::string &folder);

} // namespace plm
