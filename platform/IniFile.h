#pragma once
// TIniFile: the settings files of the program, with the semantics the viewer relies on:
// section and key names compared without regard to case, values returned without their
// surrounding blanks, keys in file order, and every write on disk before the call
// returns. Bytes are kept as written (no escaping, no quoting).
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// TIniFile::ReadString's answer for the text of a settings file held in memory.
std::string IniTextValue(std::string_view text, const std::string &section,
                         const std::string &ident, const std::string &Default);

class TIniFile {
public:
  explicit TIniFile(std::string fileName);

  const std::string &FileName() const { return fFileName; }

  // The value of the first key of that name in the first section of that name, or
  // Default when either is missing or the file cannot be read.
  std::string ReadString(const std::string &section, const std::string &ident,
                         const std::string &Default) const;
  int ReadInteger(const std::string &section, const std::string &ident, int Default) const;
  bool ReadBool(const std::string &section, const std::string &ident, bool Default) const;

  // Replaces the value of an existing key, or adds the key at the end of its section
  // (the section at the end of the file). Raises EIniFileException when the file
  // cannot be written, or when a name or value holds a line break the file can't keep.
  void WriteString(const std::string &section, const std::string &ident, const std::string &value);
  void WriteInteger(const std::string &section, const std::string &ident, int value);
  void WriteBool(const std::string &section, const std::string &ident, bool value);

  // Key names of a section, in file order (empty when the section is missing).
  std::vector<std::string> ReadSection(const std::string &section) const;
  // Section names, in file order.
  std::vector<std::string> ReadSections() const;
  // "key=value" lines of a section, in file order.
  std::vector<std::string> ReadSectionValues(const std::string &section) const;
  // True when the section holds at least one key.
  bool SectionExists(const std::string &section) const;
  bool ValueExists(const std::string &section, const std::string &ident) const;

  // Removes the section with all its lines; nothing happens when it is missing.
  void EraseSection(const std::string &section);
  void DeleteKey(const std::string &section, const std::string &ident);

  // Every write is already on disk; kept for callers written against a cached reader.
  void UpdateFile() {}

private:
  std::string fFileName;
};

} // namespace plm
