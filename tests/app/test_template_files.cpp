// A page names its files in whatever letter case its author typed: the template's files
// are found ignoring case, and never outside the template's folder.
#include "preview/TemplateFiles.h"

#include "platform/FileCopy.h"
#include "platform/FileSys.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

using namespace plm;

namespace {

class TemplateFolder {
public:
  TemplateFolder() {
    char tmpl[] = "/tmp/plm-files-XXXXXX";
    fRoot = ::mkdtemp(tmpl);
    fPath = fRoot + "/tpl";
    CreateDir(fPath);
    for (const char *n : {"fond.gif", "ETOILE.jpg", "twin.gif", "TWIN.gif", "Twin.GIF",
                          "\xC3\xA9t\xC3\xA9.gif", "Flavor.htm"})
      WriteFileBytes(fPath + "/" + n, "x");
    CreateDir(fPath + "/Images");
    WriteFileBytes(fPath + "/Images/Ciel.PNG", "x");
    WriteFileBytes(fRoot + "/secret.gif", "x");
    ::symlink((fRoot + "/secret.gif").c_str(), (fPath + "/Dehors.gif").c_str());
    ::symlink("Images", (fPath + "/Lien").c_str());
  }
  ~TemplateFolder() { std::system(("rm -rf '" + fRoot + "'").c_str()); }
  const std::string &Path() const { return fPath; }

private:
  std::string fRoot, fPath;
};

struct Reference {
  const char *name;
  const char *found; // relative to the template's folder; empty: refused
};

// Rows are named by the reference, bytes outside printable ASCII escaped, so that test
// names stay the same from one build to the next.
void PrintTo(const Reference &r, std::ostream *os) {
  *os << '"';
  for (const unsigned char c : std::string(r.name)) {
    if (c >= 0x20 && c < 0x7F) {
      *os << c;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      *os << "\\x" << kHex[c >> 4] << kHex[c & 15];
    }
  }
  *os << '"';
}

class FindTemplateFileCase : public testing::TestWithParam<Reference> {};

TEST_P(FindTemplateFileCase, FindsTheStoredNameOrRefuses) {
  static const TemplateFolder t; // one folder for every row, removed at exit
  const Reference &r = GetParam();
  const std::string found = FindTemplateFile(t.Path(), r.name);
  EXPECT_EQ(found, *r.found ? t.Path() + "/" + r.found : std::string()) << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    References, FindTemplateFileCase,
    testing::Values(Reference{"fond.gif", "fond.gif"}, Reference{"FOND.GIF", "fond.gif"},
                    Reference{"Etoile.JPG", "ETOILE.jpg"}, Reference{"etoile.jpg", "ETOILE.jpg"},
                    Reference{"images/ciel.png", "Images/Ciel.PNG"},
                    Reference{"IMAGES\\CIEL.PNG", "Images/Ciel.PNG"},
                    Reference{"./Images//ciel.png", "Images/Ciel.PNG"},
                    Reference{"lien/CIEL.png", "Lien/Ciel.PNG"}, // a link inside the folder
                    // Two stored names differing only in case: the exact one wins,
                    // otherwise always the same one.
                    Reference{"Twin.GIF", "Twin.GIF"}, Reference{"twin.gif", "twin.gif"},
                    Reference{"TWIN.GIF", "TWIN.gif"},
                    // Accented letters, sent as UTF-8 or as Windows-1252 bytes.
                    Reference{"\xC3\x89T\xC3\x89.GIF", "\xC3\xA9t\xC3\xA9.gif"},
                    Reference{"\xC9T\xC9.gif", "\xC3\xA9t\xC3\xA9.gif"},
                    // Refused: missing, leaving the folder, absolute, through a link out.
                    Reference{"missing.gif", ""}, Reference{"Images/fond.gif", ""},
                    Reference{"../SECRET.GIF", ""}, Reference{"Images/../../secret.gif", ""},
                    Reference{"/etc/passwd", ""}, Reference{"\\FOND.GIF", ""},
                    Reference{"C:\\fond.gif", ""}, Reference{"dehors.gif", ""},
                    Reference{"Dehors.gif", ""}, Reference{"", ""}, Reference{".", ""}));

} // namespace
