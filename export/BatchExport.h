#pragma once
// Many templates exported in one go, for plmtool and the gallery window alike: a folder of
// messages (.eml) mirroring the input's subfolders, one mailbox (mboxrd) holding them all,
// or self-contained pages with an index page of the collection. Each template is exported
// as the single export makes it; one that fails is reported with its French reason and
// never stops the others. Every file is written through the atomic writer, so a cancelled
// or failed batch leaves only whole files.
#include <atomic>
#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace plm {

enum class TBatchKind { Messages, Mailbox, Pages };

struct TBatchFailure {
  std::string path;   // the template
  std::string reason; // French
};

struct TBatchResult {
  size_t total = 0;    // templates found
  size_t exported = 0; // written (for a mailbox: messages in it)
  std::vector<TBatchFailure> failures;
  bool cancelled = false;
  std::vector<std::string> written; // the files made, the mailbox and index page included
};

struct TBatchOptions {
  TBatchKind kind = TBatchKind::Messages;
  // Folders among the inputs are walked into their subfolders too.
  bool recursive = false;
  // The output folder (made when missing), or the mailbox file.
  std::string out;
  // Read now and then by the batch: once true, no new template is started, the ones
  // under way are finished and every output is closed whole.
  const std::atomic<bool> *cancel = nullptr;
  // Called after each template (done of total, the template's path), from whichever
  // thread finished it, one call at a time.
  std::function<void(size_t done, size_t total, const std::string &path)> progress;
  // The thumbnail cache the index page takes its pictures from (empty: the user's);
  // pictures missing there are made by the gallery's renderer program first.
  std::string thumbnailCache;
  std::string rendererProgram; // empty: the one beside the running program
  bool makeThumbnails = true;
  unsigned threads = 0; // 0: twice the cores (at least 4)
};

// The name a template's export takes in folder (relative to the output, "" for its top):
// the template's file name with ext instead of ".plm", its bytes kept as they are, with
// " (2)", " (3)"… before the extension while the name is in taken (case-sensitive, with
// the folder) or an entry of that name exists in outRoot. The name is added to taken.
std::string FreeExportName(const std::string &outRoot, const std::string &folder,
                           const std::string &templateName, const std::string &ext,
                           std::set<std::string> &taken);

// The templates of inputs (template files, and folders walked with the catalogue's walk,
// never into the output folder) exported as options say. Raises, in French, only when
// the output itself cannot be made (a folder that cannot be created, a mailbox that
// cannot be started); each template's trouble is a failure of the result. A mailbox is
// written only when at least one message went in; a failed mailbox leaves an existing
// file as it was.
TBatchResult ExportBatch(const std::vector<std::string> &inputs, const TBatchOptions &options);

// One "From " line of mboxrd: "From " then the sender and the date in asctime's layout.
std::string MboxSeparator(long long unixTime);
// A message as it goes into mboxrd after its separator: lines ending with LF, every line
// starting with ">*From " given one more ">", a blank line after it.
std::string MboxEscaped(const std::string &message);

} // namespace plm
