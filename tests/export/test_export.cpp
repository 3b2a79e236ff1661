// Exported templates read back as a mail client and a browser would: the message with
// GMime's parser, the page with libxml2's. What a page may load must be inside the export.
#include "export/TemplateExport.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"
#include "preview/TemplatePreview.h"
#include "samples/HostileCabinets.h"
#include "tests/ScopedEnv.h"

#include <gmime/gmime.h>
#include <libxml/HTMLparser.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <map>
#include <regex>
#include <set>

using namespace plm;

namespace {

// Picture headers the header inspector knows, then bytes that tell the pictures apart.
const std::string kGif = std::string("GIF89a\x10\x00\x08\x00\x80\x00\x00", 13) + "fond";
const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01"
                                      "\x00\x01\x00\x00\xFF\xC0\x00\x0B\x08\x00\x20\x00\x30"
                                      "\x01\x01\x11\x00\xFF\xD9",
                                      36);
const std::string kPng = std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0DIHDR\x00\x00\x00\x05"
                                     "\x00\x00\x00\x06\x08\x06\x00\x00\x00",
                                     29) +
                         "coin";

// Windows-1252: "Été", curly quotes and the euro sign.
const std::string kDisplay = "\xC9t\xE9 \xE0 la mer";
const std::string kDisplayUtf8 = "\xC3\x89t\xC3\xA9 \xC3\xA0 la mer";
const std::string kText1252 = "\x93"
                              "Bonjour\x94 \x80 \xE9t\xE9";
const std::string kTextUtf8 = "\xE2\x80\x9C"
                              "Bonjour"
                              "\xE2\x80\x9D \xE2\x82\xAC \xC3\xA9t\xC3\xA9";

// Uses three pictures through every kind of reference, the same one twice under two
// spellings, and points at much that must not travel.
const std::string kPage =
    "<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=windows-1252\">"
    "<STYLE>BODY { background: URL( 'coin%20bleu.png' ) } .x { background: "
    "url(http://ex.com/t.gif) }"
    "@import \"http://ex.com/s.css\"; .y { background: \\75 rl(http://ex.com/esc.gif) }"
    ".z { background-image: -webkit-image-set('http://ex.com/set.gif' 1x) }</STYLE>"
    "<!--[if mso]><IMG src=\"http://ex.com/mso.gif\"><![endif]-->"
    "<SCRIPT src=\"http://ex.com/a.js\"></SCRIPT><LINK rel=stylesheet href=\"/etc/x.css\">"
    "</HEAD><BODY onload=\"fetch('http://ex.com')\" style=\"background-image:url(fond.gif)\">"
    "<TABLE><TR><TD background=\"images/MOTIF.JPG\"><IMG src=\"FOND.GIF\"></TD></TR>"
    "<TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: Arial\"><DIV>" +
    kText1252 +
    "</DIV></TD></TR>"
    "<TR><TD><IMG src=\"http://ex.com/track.gif\"><IMG src=\"file:///etc/passwd\">"
    "<IMG src=\"/etc/hosts\"><IMG src=\"../outside.gif\"><IMG src=\"%2E%2E/outside.gif\">"
    "<IMG src=\"missing.gif\"><IMG src=\"notes.txt\"><IMG src=\"C:\\fond.gif\">"
    "<IMG src='data:image/gif;base64,R0lGOD'><svg><image href=\"http://ex.com/i.gif\"/>"
    "<use xlink:href=\"http://ex.com/u.svg\"/></svg><A href=\"https://example.org/\">lien</A>"
    "</TD></TR></TABLE></BODY></HTML>";

std::string Template() {
  return samples::StoredCabinet({{"Flavor.htm", kPage},
                                 {"content.ini", "[General]\r\nDisplay=" + kDisplay + "\r\n"},
                                 {"fond.gif", kGif},
                                 {"images\\motif.jpg", kJpeg},
                                 {"coin bleu.png", kPng},
                                 {"unused.gif", kGif + "unused"},
                                 {"notes.txt", "GIF? no"}});
}

// What a reader of the export gets: the page, and the pictures by the address the page
// gives them.
struct Picture {
  std::string mimeType;
  std::string bytes;
};
struct ReadBack {
  std::string page;
  std::map<std::string, Picture> pictures;
};

template <typename T> struct Unref {
  void operator()(T *p) const { g_object_unref(p); }
};
template <typename T> using GPtr = std::unique_ptr<T, Unref<T>>;

std::string Decoded(GMimePart *part) {
  const GPtr<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), out.get());
  const GByteArray *a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char *>(a->data), a->len);
}

std::string MimeType(GMimeObject *o) {
  char *t = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(o));
  std::string s = t;
  g_free(t);
  return s;
}

ReadBack ReadMessage(const std::string &eml) {
  g_mime_init();
  const GPtr<GMimeStream> in(g_mime_stream_mem_new_with_buffer(eml.data(), eml.size()));
  const GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(in.get()));
  const GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
  ReadBack r;
  if (!msg) {
    ADD_FAILURE() << "no message";
    return r;
  }
  GMimeObject *o = GMIME_OBJECT(msg.get());
  EXPECT_STREQ(g_mime_object_get_header(o, "MIME-Version"), "1.0");
  EXPECT_NE(g_mime_message_get_date(msg.get()), nullptr);
  EXPECT_STREQ(g_mime_message_get_subject(msg.get()), kDisplayUtf8.c_str());
  EXPECT_NE(eml.find("Subject: =?"), std::string::npos) << "encoded as RFC 2047 asks";
  EXPECT_STREQ(g_mime_object_get_header(o, "X-Unsent"), "1");
  EXPECT_EQ(g_mime_object_get_header(o, "From"), nullptr);
  EXPECT_EQ(g_mime_object_get_header(o, "To"), nullptr);

  GMimeObject *body = g_mime_message_get_mime_part(msg.get());
  EXPECT_EQ(MimeType(body), "multipart/related");
  EXPECT_STREQ(g_mime_object_get_content_type_parameter(body, "type"), "text/html");
  auto *related = GMIME_MULTIPART(body);
  const int count = g_mime_multipart_get_count(related);
  for (int i = 0; i < count; ++i) {
    GMimeObject *p = g_mime_multipart_get_part(related, i);
    auto *part = GMIME_PART(p);
    if (i == 0) {
      EXPECT_EQ(MimeType(p), "text/html");
      EXPECT_STREQ(g_mime_object_get_content_type_parameter(p, "charset"), "utf-8");
      EXPECT_EQ(g_mime_part_get_content_encoding(part), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
      r.page = Decoded(part);
      continue;
    }
    EXPECT_EQ(g_mime_part_get_content_encoding(part), GMIME_CONTENT_ENCODING_BASE64);
    EXPECT_NE(g_mime_part_get_filename(part), nullptr);
    const char *cid = g_mime_part_get_content_id(part);
    EXPECT_TRUE(cid && *cid);
    if (!cid) continue;
    const bool fresh =
        r.pictures.emplace(std::string("cid:") + cid, Picture{MimeType(p), Decoded(part)}).second;
    EXPECT_TRUE(fresh) << "one part a picture: " << cid;
  }
  return r;
}

// The data: addresses of the page are the pictures themselves.
ReadBack ReadPage(const std::string &html) {
  ReadBack r{html, {}};
  static const std::regex data("data:([a-z/+-]+);base64,([A-Za-z0-9+/=]+)");
  for (std::sregex_iterator it(html.begin(), html.end(), data), end; it != end; ++it) {
    gsize n = 0;
    guchar *bytes = g_base64_decode((*it)[2].str().c_str(), &n);
    r.pictures[(*it)[0]] = Picture{(*it)[1], std::string(reinterpret_cast<char *>(bytes), n)};
    g_free(bytes);
  }
  return r;
}

// Every address the page would load: loading attributes (a hyperlink waits for a click),
// and url(...) of its styles.
std::vector<std::string> LoadedAddresses(const std::string &html) {
  std::vector<std::string> found;
  htmlDocPtr doc = htmlReadMemory(html.data(), int(html.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
  EXPECT_NE(doc, nullptr);
  static const std::regex url(R"(url\(\s*["']?([^"')]*))", std::regex::icase);
  const auto urls = [&](const std::string &css) {
    for (std::sregex_iterator it(css.begin(), css.end(), url), end; it != end; ++it)
      found.push_back((*it)[1]);
  };
  std::function<void(xmlNode *)> walk = [&](xmlNode *n) {
    for (; n; n = n->next) {
      if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
        if (n->parent && xmlStrcasecmp(n->parent->name, BAD_CAST "style") == 0)
          urls(reinterpret_cast<const char *>(n->content));
        continue;
      }
      for (xmlAttr *a = n->properties; a; a = a->next) {
        xmlChar *v = xmlNodeListGetString(doc, a->children, 1);
        const std::string value = v ? reinterpret_cast<char *>(v) : "";
        xmlFree(v);
        const std::string name = reinterpret_cast<const char *>(a->name);
        if (name == "style")
          urls(value);
        else if (name == "src" || name == "background" || name == "xlink:href" ||
                 (name == "href" && xmlStrcasecmp(n->name, BAD_CAST "a") != 0))
          found.push_back(value);
      }
      walk(n->children);
    }
  };
  if (doc) walk(doc->children);
  xmlFreeDoc(doc);
  return found;
}

class ExportTest : public ::testing::TestWithParam<TExportFormat> {
protected:
  void SetUp() override {
    // The private temporary folder is the test's: what the export leaves there shows.
    ASSERT_TRUE(CreateDir(fRoot.Path() + "/run", 0700));
    fEnv.Set("XDG_RUNTIME_DIR", fRoot.Path() + "/run");
    // What "../outside.gif" would reach from the unpacked folder.
    ASSERT_EQ(WriteFileBytes(fRoot.Path() + "/run/outside.gif", kGif + "outside"), 0);
  }
  std::string Put(const std::string &name, const std::string &bytes) {
    const std::string path = fRoot.Path() + "/" + name;
    EXPECT_EQ(WriteFileBytes(path, bytes), 0);
    return path;
  }
  std::string Target() const {
    return fRoot.Path() + (GetParam() == TExportFormat::Message ? "/out.eml" : "/out.html");
  }
  std::vector<std::string> RuntimeEntries() const { return ListDirectory(fRoot.Path() + "/run"); }

  TTempFolder fRoot{"plm-export-"};
  plmtest::ScopedEnv fEnv;
};

} // namespace

TEST_P(ExportTest, CarriesEveryUsedPictureOnceAndNothingFromOutside) {
  ExportTemplate(Put("Mer.plm", Template()), Target(), GetParam());
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(Target(), bytes));
  const ReadBack r = GetParam() == TExportFormat::Message ? ReadMessage(bytes) : ReadPage(bytes);

  std::multiset<std::string> carried;
  for (const auto &[address, picture] : r.pictures)
    carried.insert(picture.mimeType + " " + picture.bytes);
  EXPECT_EQ(carried, (std::multiset<std::string>{"image/gif " + kGif, "image/jpeg " + kJpeg,
                                                 "image/png " + kPng}));

  const std::vector<std::string> loaded = LoadedAddresses(r.page);
  EXPECT_EQ(loaded.size(), 4u) << "FOND.GIF, fond.gif, MOTIF.JPG and the style's png";
  for (const std::string &a : loaded)
    EXPECT_TRUE(r.pictures.count(a)) << "not inside the export: " << a.substr(0, 60);
  for (const char *gone : {"ex.com", "file:", "/etc/", "outside", "missing", "notes.txt",
                           "fond.gif\"", "C:", "script", "onload", "R0lGOD'", "windows-1252"})
    EXPECT_EQ(r.page.find(gone), std::string::npos) << gone;

  EXPECT_NE(r.page.find("<div>" + kTextUtf8 + "</div>"), std::string::npos)
      << "text region as the template has it, in UTF-8, without sample text";
  EXPECT_NE(r.page.find("charset=utf-8"), std::string::npos);
  EXPECT_NE(r.page.find("<a href=\"https://example.org/\">lien</a>"), std::string::npos)
      << "a hyperlink is followed only when clicked: it stays";
  EXPECT_EQ(RuntimeEntries(), std::vector<std::string>{"outside.gif"}) << "nothing left behind";
}

TEST_P(ExportTest, RefusedTemplatesLeaveTheTargetAsItWas) {
  struct Case {
    const char *name;
    std::string cabinet;
    const char *message; // empty: any message
  };
  const Case cases[] = {
      {"bomb.plm",
       samples::ZeroBombCabinet({{"Flavor.htm", "<HTML></HTML>"}, {"huge.bmp", "", 400ull << 20}}),
       "Le modèle \"bomb.plm\" est refusé : ses fichiers dépassent 256 Mo une fois "
       "décompressés."},
      {"page.plm", samples::ZeroBombCabinet({{"Flavor.htm", "", 20 << 20}}),
       "Le modèle \"page.plm\" est refusé : sa page dépasse 16 Mo."},
      {"garbage.plm", "MSCF but not quite a cabinet", ""},
      {"nopage.plm", samples::StoredCabinet({{"fond.gif", kGif}}), ""},
  };
  Put(ExtractFileName(Target()), "earlier export");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ExportTemplate(Put(c.name, c.cabinet), Target(), GetParam());
      ADD_FAILURE() << "exported";
    } catch (const Exception &e) {
      if (*c.message) {
        EXPECT_EQ(e.message(), c.message);
      }
      EXPECT_FALSE(e.message().empty());
    }
    std::string left;
    EXPECT_TRUE(ReadFileBytes(Target(), left));
    EXPECT_EQ(left, "earlier export");
    EXPECT_EQ(RuntimeEntries(), std::vector<std::string>{"outside.gif"});
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportTest,
                         ::testing::Values(TExportFormat::Message, TExportFormat::Page),
                         [](const auto &info) {
                           return info.param == TExportFormat::Message ? "Message" : "Page";
                         });

// The command line: the type from the flag, else the extension; failures say why.
TEST(PlmtoolExport, TypeFromFlagOrExtensionAndFailuresExitOne) {
  TTempFolder root("plm-export-tool-");
  const std::string tpl = root.Path() + "/Mer.plm";
  ASSERT_EQ(WriteFileBytes(tpl, Template()), 0);
  struct Run {
    std::string flag, tpl, out;
    int rc;
    const char *start; // of the output file, or of standard error when rc is 1
  };
  const std::string dir = root.Path() + "/";
  const Run runs[] = {
      {"", tpl, dir + "a.EML", 0, "MIME-Version: 1.0"},
      {"--html", tpl, dir + "a.txt", 0, "<html><head><meta"},
      {"--eml", tpl, dir + "b.html", 0, "MIME-Version: 1.0"},
      {"", tpl, dir + "c.txt", 1, "plmtool: Le type d'export"},
      {"", dir + "none.plm", dir + "d.eml", 1, "plmtool: "},
  };
  for (const Run &run : runs) {
    SCOPED_TRACE(run.out);
    const std::string err = dir + "err.txt";
    const std::string cmd = std::string(PLM_BIN_DIR) + "/plmtool export " + run.flag + " '" +
                            run.tpl + "' '" + run.out + "' 2>'" + err + "'";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), run.rc);
    std::string text;
    ReadFileBytes(run.rc == 0 ? run.out : err, text);
    EXPECT_EQ(text.rfind(run.start, 0), 0u) << text.substr(0, 80);
    if (run.rc) {
      EXPECT_FALSE(FileExists(run.out));
    }
  }
}
