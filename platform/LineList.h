#pragma once
// TLineList: a list of text lines loaded from and saved to a file through the whole-file
// reads and writes of FileCopy.h. Loading splits at CR, LF or CR LF; the whole text joins
// the lines with CR LF after each line; saving writes that text. Bytes are kept as read.
#include "platform/FileCopy.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// The whole text that loading the file into a line list gives (every CR, LF or CR LF
// made a CR LF, and one after a last line that has none), read without making the list:
// one block of at most twice the file's size (and a final CR LF) plus extra, where extra
// bytes more can be inserted without moving the text. Raises EFOpenError as
// TLineList::LoadFromFile does.
std::string LoadLineText(const std::string &path, size_t extra = 0);

class TLineList {
public:
  TLineList() = default;

  // Raises EFOpenError "Impossible d'ouvrir le fichier ..." when the file can't be read.
  void LoadFromFile(const std::string &path);
  // Raises EFOpenError "Impossible de créer le fichier ..." when it can't be written.
  void SaveToFile(const std::string &path) const;

  std::string Text() const;
  void SetText(std::string_view text);

  size_t Count() const { return fLines.size(); }
  const std::string &operator[](size_t i) const { return fLines.at(i); }
  void Add(std::string line) { fLines.push_back(std::move(line)); }
  void Clear() { fLines.clear(); }
  const std::vector<std::string> &Lines() const { return fLines; }

private:
  std::vector<std::string> fLines;
};

} // namespace plm
