#include "platform/IniFile.h"

#include "platform/Exceptions.h"
#include "platform/LineList.h"
#include "platform/Strings.h"

#include <cstdint>
#include <cstdlib>

namespace plm {

namespace {

struct IniLine {
  enum Kind { Other, Section, Key };
  std::string raw;
  Kind kind = Other;
  std::string name;  // section or key name, trimmed
  std::string value; // key value, trimmed
};

struct IniDoc {
  std::string bom;
  std::vector<IniLine> lines;
  std::string eol = "\n";
};

IniLine ParseLine(std::string raw) {
  IniLine l;
  const std::string t = TrimLeft(raw);
  if (!t.empty() && t[0] == '[') {
    const size_t close = t.find(']');
    l.kind = IniLine::Section;
    l.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  } else if (!t.empty() && t[0] != ';') {
    const size_t eq = t.find('=');
    if (eq != std::string::npos) {
      l.kind = IniLine::Key;
      l.name = TrimRight(t.substr(0, eq));
      l.value = Trim(t.substr(eq + 1));
    }
  }
  l.raw = std::move(raw);
  return l;
}

IniDoc Parse(std::string data) {
  IniDoc doc;
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    doc.bom = data.substr(0, 3);
    data.erase(0, 3);
  }
  if (data.find("\r\n") != std::string::npos) doc.eol = "\r\n";
  TLineList lines;
  lines.SetText(data);
  doc.lines.reserve(lines.Count());
  for (const auto &l : lines.Lines())
    doc.lines.push_back(ParseLine(l));
  return doc;
}

IniDoc Load(const std::string &file) {
  std::string data;
  if (!ReadFileBytes(file, data)) return IniDoc{};
  return Parse(std::move(data));
}

std::string Serialize(const IniDoc &doc) {
  std::string r = doc.bom;
  for (const auto &l : doc.lines) {
    r += l.raw;
    r += doc.eol;
  }
  return r;
}

constexpr size_t npos = std::string::npos;

size_t FindSection(const IniDoc &doc, const std::string &section) {
  for (size_t i = 0; i < doc.lines.size(); ++i)
    if (doc.lines[i].kind == IniLine::Section && SameText(doc.lines[i].name, section)) return i;
  return npos;
}

// One past the last line of the section whose header is at index h.
size_t SectionEnd(const IniDoc &doc, size_t h) {
  size_t i = h + 1;
  while (i < doc.lines.size() && doc.lines[i].kind != IniLine::Section)
    ++i;
  return i;
}

size_t FindKey(const IniDoc &doc, const std::string &section, const std::string &ident) {
  const size_t h = FindSection(doc, section);
  if (h == npos) return npos;
  const size_t end = SectionEnd(doc, h);
  for (size_t i = h + 1; i < end; ++i)
    if (doc.lines[i].kind == IniLine::Key && SameText(doc.lines[i].name, ident)) return i;
  return npos;
}

[[noreturn]] void WriteFailed(const std::string &file) {
  throw EIniFileException("Impossible d'écrire dans " + file);
}

void Store(const std::string &file, const IniDoc &doc) {
  if (WriteFileBytes(file, Serialize(doc)) != 0) WriteFailed(file);
}

bool HoldsLineBreak(const std::string &s) {
  return s.find_first_of(std::string("\r\n\0", 3)) != npos;
}

} // namespace

std::string IniTextValue(std::string_view text, const std::string &section,
                         const std::string &ident, const std::string &Default) {
  const IniDoc doc = Parse(std::string(text));
  const size_t k = FindKey(doc, section, ident);
  return k == npos ? Default : doc.lines[k].value;
}

TIniFile::TIniFile(std::string fileName) : fFileName(std::move(fileName)) {}

std::string TIniFile::ReadString(const std::string &section, const std::string &ident,
                                 const std::string &Default) const {
  const IniDoc doc = Load(fFileName);
  const size_t k = FindKey(doc, section, ident);
  return k == npos ? Default : doc.lines[k].value;
}

int TIniFile::ReadInteger(const std::string &section, const std::string &ident, int Default) const {
  const std::string s = ReadString(section, ident, "");
  if (s.empty()) return Default;
  char *end = nullptr;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const long v = std::strtol(s.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (*end != '\0' || v < INT32_MIN || v > INT32_MAX) return Default;
  return int(v);
}

bool TIniFile::ReadBool(const std::string &section, const std::string &ident, bool Default) const {
  return ReadInteger(section, ident, Default ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string &section, const std::string &ident,
                           const std::string &value) {
  if (section.empty() || ident.empty() || HoldsLineBreak(section) || HoldsLineBreak(ident) ||
      HoldsLineBreak(value) || section.find(']') != npos || ident.find('=') != npos)
    WriteFailed(fFileName);
  IniDoc doc = Load(fFileName);
  const size_t k = FindKey(doc, section, ident);
  if (k != npos) {
    doc.lines[k] = ParseLine(doc.lines[k].name + "=" + value);
  } else {
    size_t h = FindSection(doc, section);
    if (h == npos) {
      doc.lines.push_back(ParseLine("[" + section + "]"));
      doc.lines.push_back(ParseLine(ident + "=" + value));
    } else {
      // After the section's last non-blank line, so blank separators stay in place.
      size_t at = SectionEnd(doc, h);
      while (at > h + 1 && Trim(doc.lines[at - 1].raw).empty())
        --at;
      doc.lines.insert(doc.lines.begin() + long(at), ParseLine(ident + "=" + value));
    }
  }
  Store(fFileName, doc);
}

void TIniFile::WriteInteger(const std::string &section, const std::string &ident, int value) {
  WriteString(section, ident, std::to_string(value));
}

void TIniFile::WriteBool(const std::string &section, const std::string &ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSection(const std::string &section) const {
  std::vector<std::string> keys;
  const IniDoc doc = Load(fFileName);
  const size_t h = FindSection(doc, section);
  if (h == npos) return keys;
  const size_t end = SectionEnd(doc, h);
  for (size_t i = h + 1; i < end; ++i)
    if (doc.lines[i].kind == IniLine::Key) keys.push_back(doc.lines[i].name);
  return keys;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  const IniDoc doc = Load(fFileName);
  for (const auto &l : doc.lines) {
    if (l.kind != IniLine::Section) continue;
    bool seen = false;
    for (const auto &n : names)
      seen = seen || SameText(n, l.name);
    if (!seen) names.push_back(l.name);
  }
  return names;
}

std::vector<std::string> TIniFile::ReadSectionValues(const std::string &section) const {
  std::vector<std::string> values;
  const IniDoc doc = Load(fFileName);
  const size_t h = FindSection(doc, section);
  if (h == npos) return values;
  const size_t end = SectionEnd(doc, h);
  for (size_t i = h + 1; i < end; ++i)
    if (doc.lines[i].kind == IniLine::Key)
      values.push_back(doc.lines[i].name + "=" + doc.lines[i].value);
  return values;
}

bool TIniFile::SectionExists(const std::string &section) const {
  return !ReadSection(section).empty();
}

bool TIniFile::ValueExists(const std::string &section, const std::string &ident) const {
  return FindKey(Load(fFileName), section, ident) != npos;
}

void TIniFile::EraseSection(const std::string &section) {
  IniDoc doc = Load(fFileName);
  const size_t h = FindSection(doc, section);
  if (h == npos) return;
  doc.lines.erase(doc.lines.begin() + long(h), doc.lines.begin() + long(SectionEnd(doc, h)));
  Store(fFileName, doc);
}

void TIniFile::DeleteKey(const std::string &section, const std::string &ident) {
  IniDoc doc = Load(fFileName);
  const size_t k = FindKey(doc, section, ident);
  if (k == npos) return;
  doc.lines.erase(doc.lines.begin() + long(k));
  Store(fFileName, doc);
}

} // namespace plm
