// Batches read back as their readers take them: the mailbox with GMime's mbox parser, the
// index page with libxml2's HTML parser and its links followed to the files; names that
// collide, a cancel, and a folder of hostile templates.
#include <gmime/gmime.h> // before Qt's headers, whose keywords its headers use as names
#include <libxml/HTMLparser.h>

#include "export/BatchExport.h"
#include "gallery/ThumbnailCache.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"
#include "samples/HostileCabinets.h"
#include "tests/ScopedEnv.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

using namespace plm;

namespace {

const std::string kGif = std::string("GIF89a\x10\x00\x08\x00\x80\x00\x00", 13) + "fond";

// A template of one page using one picture; display in Windows-1252.
std::string Template(const std::string &display, const std::string &body = "Bonjour") {
  return samples::StoredCabinet(
      {{"Flavor.htm", "<HTML><BODY><IMG src=\"fond.gif\"><DIV>" + body + "</DIV></BODY></HTML>"},
       {"content.ini", "[General]\r\nDisplay=" + display + "\r\nCollection=Saisons\r\n"},
       {"fond.gif", kGif}});
}

template <typename T> struct Unref {
  void operator()(T *p) const { g_object_unref(p); }
};
template <typename T> using GPtr = std::unique_ptr<T, Unref<T>>;

std::string HtmlOf(GMimeMessage *msg) {
  GMimeObject *body = g_mime_message_get_mime_part(msg);
  GMimeObject *root = GMIME_IS_MULTIPART(body) ? g_mime_multipart_get_part(GMIME_MULTIPART(body), 0)
                                               : body;
  const GPtr<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(root)), out.get());
  const GByteArray *a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char *>(a->data), a->len);
}

struct Mail {
  std::string marker, subject, html;
};

// The mailbox as a mail client's reader splits it.
std::vector<Mail> ReadMailbox(const std::string &path) {
  g_mime_init();
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
  const GPtr<GMimeStream> in(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  const GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(in.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MBOX);
  std::vector<Mail> mails;
  while (!g_mime_parser_eos(parser.get())) {
    const GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!msg) break;
    char *marker = g_mime_parser_get_mbox_marker(parser.get());
    const char *subject = g_mime_message_get_subject(msg.get());
    mails.push_back({marker ? marker : "", subject ? subject : "", HtmlOf(msg.get())});
    g_free(marker);
  }
  return mails;
}

std::string MessageSubject(const std::string &path) {
  g_mime_init();
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
  const GPtr<GMimeStream> in(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  const GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(in.get()));
  const GPtr<GMimeMessage> msg(g_mime_parser_construct_message(parser.get(), nullptr));
  const char *s = msg ? g_mime_message_get_subject(msg.get()) : nullptr;
  return s ? s : "";
}

// Every file below dir, relative, sorted.
std::vector<std::string> Tree(const std::string &dir, const std::string &prefix = "") {
  std::vector<std::string> r;
  for (const std::string &name : ListDirectory(dir)) {
    const std::string path = dir + "/" + name;
    if (DirectoryExists(path) && !IsSymLink(path)) {
      for (std::string &sub : Tree(path, prefix + name + "/"))
        r.push_back(std::move(sub));
    } else {
      r.push_back(prefix + name);
    }
  }
  std::sort(r.begin(), r.end());
  return r;
}

struct IndexLink {
  std::string heading, href, text;
  bool picture = false;
};

// The links of the index page, each with the heading it comes under.
std::vector<IndexLink> ReadIndex(const std::string &html) {
  std::vector<IndexLink> links;
  htmlDocPtr doc = htmlReadMemory(html.data(), int(html.size()), nullptr, "UTF-8",
                                  HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
  EXPECT_NE(doc, nullptr);
  std::string heading;
  std::function<void(xmlNode *)> walk = [&](xmlNode *n) {
    for (; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      const auto text = [&] {
        xmlChar *t = xmlNodeGetContent(n);
        std::string s = t ? reinterpret_cast<char *>(t) : "";
        xmlFree(t);
        return s;
      };
      if (xmlStrEqual(n->name, BAD_CAST "h2")) {
        heading = text();
      } else if (xmlStrEqual(n->name, BAD_CAST "a")) {
        xmlChar *href = xmlGetProp(n, BAD_CAST "href");
        IndexLink link{heading, href ? reinterpret_cast<char *>(href) : "", text(), false};
        xmlFree(href);
        for (xmlNode *c = n->children; c; c = c->next)
          if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, BAD_CAST "img")) {
            xmlChar *src = xmlGetProp(c, BAD_CAST "src");
            link.picture = src && xmlStrncmp(src, BAD_CAST "data:image/png;base64,", 22) == 0;
            xmlFree(src);
          }
        links.push_back(link);
      }
      walk(n->children);
    }
  };
  if (doc) walk(xmlDocGetRootElement(doc));
  xmlFreeDoc(doc);
  return links;
}

std::string Unescaped(const std::string &href) {
  char *s = g_uri_unescape_string(href.c_str(), nullptr);
  std::string r = s ? s : "";
  g_free(s);
  return r;
}

class BatchTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The private temporary folder is the test's: what a batch leaves there shows.
    ASSERT_TRUE(CreateDir(Path("run"), 0700));
    fEnv.Set("XDG_RUNTIME_DIR", Path("run"));
  }
  std::string Path(const std::string &rel) const { return fRoot.Path() + "/" + rel; }
  std::string Put(const std::string &rel, const std::string &bytes) {
    const std::string path = Path(rel);
    EXPECT_TRUE(ForceDirectories(ExtractFilePath(path)));
    EXPECT_EQ(WriteFileBytes(path, bytes), 0);
    return path;
  }
  std::vector<std::string> Failed(const TBatchResult &r) const {
    std::vector<std::string> names;
    for (const TBatchFailure &f : r.failures) {
      EXPECT_FALSE(f.reason.empty()) << f.path;
      names.push_back(ExtractFileName(f.path));
    }
    return names;
  }
  void ExpectNothingLeftInTemp() const { EXPECT_EQ(ListDirectory(Path("run")), std::vector<std::string>{}); }

  TTempFolder fRoot{"plm-batch-"};
  plmtest::ScopedEnv fEnv;
};

} // namespace

TEST(Mboxrd, SeparatorAndEscaping) {
  EXPECT_EQ(MboxSeparator(0), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(MboxSeparator(1796905624), "From MAILER-DAEMON Thu Dec 10 12:27:04 2026\n");
  const std::pair<std::string, std::string> cases[] = {
      {"A: 1\r\n\r\nFrom here\r\n", "A: 1\n\n>From here\n\n"},
      {">From there\n>>From far\nFromage\n From not\nFrom", ">>From there\n>>>From far\nFromage\n From not\nFrom\n\n"},
      {"x\r\n>\r\n>From\r\n", "x\n>\n>From\n\n"},
  };
  for (const auto &[in, out] : cases)
    EXPECT_EQ(MboxEscaped(in), out) << in;
}

TEST_F(BatchTest, MailboxHoldsEveryTemplateInFolderOrderAsAReaderSplitsIt) {
  // Lines starting with "From " inside the messages: the display name goes into the
  // subject, the body's lines into the quoted-printable page.
  Put("in/a.plm", Template("From the sea", "x\nFrom the shore\n>From quoted\n"));
  Put("in/b.plm", Template("Deux"));
  Put("in/sub/c.plm", Template("Trois"));
  Put("in/bad.plm", "MSCF but not quite a cabinet");
  Put("box.mbox", "earlier");

  TBatchOptions options;
  options.kind = TBatchKind::Mailbox;
  options.recursive = true;
  options.out = Path("box.mbox");
  const TBatchResult r = ExportBatch({Path("in")}, options);
  EXPECT_EQ(r.total, 4u);
  EXPECT_EQ(r.exported, 3u);
  EXPECT_EQ(Failed(r), std::vector<std::string>{"bad.plm"});
  EXPECT_FALSE(r.cancelled);

  const std::vector<Mail> mails = ReadMailbox(Path("box.mbox"));
  ASSERT_EQ(mails.size(), 3u);
  const char *subjects[] = {"From the sea", "Deux", "Trois"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(mails[i].subject, subjects[i]);
    EXPECT_EQ(mails[i].marker.rfind("From MAILER-DAEMON ", 0), 0u) << mails[i].marker;
  }
  EXPECT_NE(mails[0].html.find("From the shore"), std::string::npos);
  // Only the separators start with "From " in the file itself.
  std::string raw;
  ASSERT_TRUE(ReadFileBytes(Path("box.mbox"), raw));
  size_t separators = raw.rfind("From ", 0) == 0 ? 1 : 0;
  for (size_t at = raw.find("\nFrom "); at != std::string::npos; at = raw.find("\nFrom ", at + 1))
    ++separators;
  EXPECT_EQ(separators, 3u);
  EXPECT_EQ(raw.find('\r'), std::string::npos);
  ExpectNothingLeftInTemp();
}

TEST_F(BatchTest, NamesTakenGetANumberAndKeepTheirBytes) {
  Put("in1/a.plm", Template("un"));
  Put("in1/A.PLM", Template("grand"));
  Put("in1/\xE9t\xE9.plm", Template("latin"));
  Put("in1/sub/a.plm", Template("sous"));
  Put("in2/a.plm", Template("deux"));
  Put("in2/index.plm", Template("index"));
  Put("out/a.eml", "earlier");

  TBatchOptions options;
  options.recursive = true;
  options.out = Path("out");
  const TBatchResult r = ExportBatch({Path("in1"), Path("in2")}, options);
  EXPECT_EQ(r.exported, 6u);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(Tree(Path("out")), (std::vector<std::string>{"A.eml", "a (2).eml", "a (3).eml", "a.eml",
                                                        "index.eml", "sub/a.eml", "\xE9t\xE9.eml"}));
  std::string earlier;
  ASSERT_TRUE(ReadFileBytes(Path("out/a.eml"), earlier));
  EXPECT_EQ(earlier, "earlier");
  const std::map<std::string, std::string> subjects = {{"A.eml", "grand"},     {"a (2).eml", "un"},
                                                       {"a (3).eml", "deux"},  {"sub/a.eml", "sous"},
                                                       {"\xE9t\xE9.eml", "latin"}};
  for (const auto &[name, subject] : subjects)
    EXPECT_EQ(MessageSubject(Path("out/" + name)), subject) << name;

  // Run again: every name is taken, nothing is overwritten.
  const TBatchResult again = ExportBatch({Path("in1")}, options);
  EXPECT_EQ(again.exported, 4u);
  EXPECT_EQ(Tree(Path("out")).size(), 11u);
  EXPECT_EQ(MessageSubject(Path("out/sub/a (2).eml")), "sous");
}

TEST_F(BatchTest, IndexLinksEveryPageUnderItsFolderWithCachedPictures) {
  Put("in/x.plm", Template("Mer"));
  Put("in/index.plm", Template("Index"));
  Put("in/\xFF.plm", Template("Octet"));
  Put("in/sub/y.plm", Template("Sous <b>"));
  Put("in/sub/deeper/z.plm", Template("Profond"));
  const TThumbnailCache cache(Path("cache"));
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(Qt::blue);
  for (const char *t : {"in/x.plm", "in/sub/y.plm"})
    ASSERT_EQ(cache.Store(TThumbnailCache::Stamp(Path(t)), picture), 0);

  TBatchOptions options;
  options.kind = TBatchKind::Pages;
  options.recursive = true;
  options.out = Path("out");
  options.thumbnailCache = Path("cache");
  options.makeThumbnails = false;
  const TBatchResult r = ExportBatch({Path("in")}, options);
  EXPECT_EQ(r.exported, 5u);
  EXPECT_TRUE(r.failures.empty());

  std::string index;
  ASSERT_TRUE(ReadFileBytes(Path("out/index.html"), index));
  const std::vector<IndexLink> links = ReadIndex(index);
  ASSERT_EQ(links.size(), 5u);
  std::map<std::string, IndexLink> byText;
  for (const IndexLink &link : links) {
    SCOPED_TRACE(link.href);
    EXPECT_EQ(link.href.find("://"), std::string::npos);
    EXPECT_NE(link.href[0], '/');
    std::string page;
    ASSERT_TRUE(ReadFileBytes(Path("out/" + Unescaped(link.href)), page));
    EXPECT_EQ(page.rfind("<html>", 0), 0u) << page.substr(0, 40);
    byText[link.text] = link;
  }
  struct Expect {
    const char *text, *heading, *file;
    bool picture;
  };
  const Expect expected[] = {{"Mer", "", "x.html", true},
                             {"Index", "", "index (2).html", false},
                             {"Octet", "", "\xFF.html", false},
                             {"Sous <b>", "sub", "sub/y.html", true},
                             {"Profond", "sub/deeper", "sub/deeper/z.html", false}};
  for (const Expect &e : expected) {
    SCOPED_TRACE(e.text);
    ASSERT_EQ(byText.count(e.text), 1u);
    EXPECT_EQ(byText[e.text].heading, e.heading);
    EXPECT_EQ(Unescaped(byText[e.text].href), e.file);
    EXPECT_EQ(byText[e.text].picture, e.picture);
  }
  EXPECT_NE(index.find("Saisons"), std::string::npos);
  ExpectNothingLeftInTemp();
}

class BatchCancelTest : public BatchTest, public ::testing::WithParamInterface<TBatchKind> {};

TEST_P(BatchCancelTest, CancelLeavesEveryOutputWholeAndSaysWhatWasMade) {
  constexpr size_t kCount = 16;
  for (size_t i = 0; i < kCount; ++i)
    Put("in/t" + std::to_string(100 + i) + ".plm", Template("T" + std::to_string(i)));
  std::atomic<bool> cancel{false};
  TBatchOptions options;
  options.kind = GetParam();
  options.out = Path(GetParam() == TBatchKind::Mailbox ? "out.mbox" : "out");
  options.cancel = &cancel;
  options.makeThumbnails = false;
  options.threads = 2;
  options.progress = [&](size_t done, size_t, const std::string &) {
    if (done == 3) cancel = true;
  };
  const TBatchResult r = ExportBatch({Path("in")}, options);
  EXPECT_TRUE(r.cancelled);
  EXPECT_GE(r.exported, 3u);
  EXPECT_LT(r.exported, kCount);
  EXPECT_TRUE(r.failures.empty());

  if (GetParam() == TBatchKind::Mailbox) {
    const std::vector<Mail> mails = ReadMailbox(Path("out.mbox"));
    ASSERT_EQ(mails.size(), r.exported);
    for (size_t i = 0; i < mails.size(); ++i)
      EXPECT_EQ(mails[i].subject, "T" + std::to_string(i)) << "in folder order, none missing";
    EXPECT_EQ(r.written, std::vector<std::string>{Path("out.mbox")});
  } else {
    // Only the finished files, each under its own name: no temporary file left beside them.
    std::vector<std::string> written;
    for (const std::string &w : r.written)
      written.push_back(w.substr(Path("out/").size()));
    std::sort(written.begin(), written.end());
    EXPECT_EQ(Tree(Path("out")), written);
    if (GetParam() == TBatchKind::Pages) {
      std::string index;
      ASSERT_TRUE(ReadFileBytes(Path("out/index.html"), index));
      EXPECT_EQ(ReadIndex(index).size(), r.exported);
      EXPECT_NE(index.find("</html>"), std::string::npos);
    } else {
      for (const std::string &w : r.written)
        EXPECT_FALSE(MessageSubject(w).empty()) << w;
    }
  }
  ExpectNothingLeftInTemp();
}

INSTANTIATE_TEST_SUITE_P(Kinds, BatchCancelTest,
                         ::testing::Values(TBatchKind::Messages, TBatchKind::Mailbox, TBatchKind::Pages),
                         [](const auto &info) {
                           return info.param == TBatchKind::Messages  ? "Messages"
                                  : info.param == TBatchKind::Mailbox ? "Mailbox"
                                                                      : "Pages";
                         });

TEST_F(BatchTest, HostileFolderExportsTheGoodAndReportsTheBad) {
  Put("secret.gif", kGif + "secret");
  Put("in/good.plm", Template("Bon"));
  Put("in/\xFF\xFE.plm", Template("Octets"));
  Put("in/outside.plm",
      samples::StoredCabinet({{"Flavor.htm", "<IMG src=\"../../secret.gif\"><IMG src=\"file://" +
                                                 Path("secret.gif") + "\"><IMG src=\"fond.gif\">"},
                              {"fond.gif", kGif}}));
  Put("in/bomb.plm",
      samples::ZeroBombCabinet({{"Flavor.htm", "<HTML></HTML>"}, {"huge.bmp", "", 400ull << 20}}));
  const std::string whole = Template("Abîmé");
  Put("in/sub/damaged.plm", whole.substr(0, whole.size() / 2));
  Put("in/sub/nopage.plm", samples::StoredCabinet({{"fond.gif", kGif}}));
  ASSERT_EQ(::mkfifo(Path("in/fifo.plm").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("..", Path("in/sub/loop").c_str()), 0);
  // The output folder inside the tree, holding a template of its own that is never taken.
  Put("in/out/planted.plm", Template("Planté"));
  const bool root = ::geteuid() == 0;
  if (!root) {
    Put("in/unreadable.plm", Template("Fermé"));
    ASSERT_EQ(::chmod(Path("in/unreadable.plm").c_str(), 0), 0);
  }

  TBatchOptions options;
  options.recursive = true;
  options.out = Path("in/out");
  const TBatchResult r =
      ExportBatch({Path("in"), Path("in/missing.plm"), Path("in/fifo.plm")}, options);
  std::vector<std::string> failed = Failed(r);
  std::sort(failed.begin(), failed.end());
  std::vector<std::string> expected = {"bomb.plm", "damaged.plm", "fifo.plm", "missing.plm",
                                       "nopage.plm"};
  if (!root) expected.push_back("unreadable.plm");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(failed, expected);
  EXPECT_EQ(r.exported, 3u);
  EXPECT_EQ(Tree(Path("in/out")),
            (std::vector<std::string>{"good.eml", "outside.eml", "planted.plm", "\xFF\xFE.eml"}));
  for (const TBatchFailure &f : r.failures)
    if (ExtractFileName(f.path) == "bomb.plm") {
      EXPECT_NE(f.reason.find("256 Mo"), std::string::npos) << f.reason;
    } else if (ExtractFileName(f.path) == "nopage.plm") {
      EXPECT_EQ(f.reason, "Le modèle n'a pas de page (Flavor.htm).");
    }
  std::string outside;
  ASSERT_TRUE(ReadFileBytes(Path("in/out/outside.eml"), outside));
  gchar *secret = g_base64_encode(reinterpret_cast<const guchar *>((kGif + "secret").data()),
                                  kGif.size() + 6);
  EXPECT_EQ(outside.find(secret), std::string::npos) << "the secret's bytes travelled";
  g_free(secret);
  ExpectNothingLeftInTemp();
}

TEST_F(BatchTest, OutputsThatCannotBeWrittenAreRefusedAndLeaveWhatWasThere) {
  Put("in/good.plm", Template("Bon"));
  Put("in/bad.plm", "garbage");
  Put("file", "a file");
  Put("old.mbox", "earlier");
  ASSERT_EQ(::chmod(Path("old.mbox").c_str(), 0444), 0);
  struct Case {
    TBatchKind kind;
    std::string out;
    std::vector<std::string> inputs;
  };
  const Case cases[] = {
      {TBatchKind::Messages, Path("file/out"), {Path("in")}},
      {TBatchKind::Mailbox, Path("old.mbox"), {Path("in")}},
      {TBatchKind::Mailbox, Path("in"), {Path("in")}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.out);
    TBatchOptions options;
    options.kind = c.kind;
    options.out = c.out;
    EXPECT_THROW(ExportBatch(c.inputs, options), EFOpenError);
  }
  std::string left;
  ASSERT_TRUE(ReadFileBytes(Path("old.mbox"), left));
  EXPECT_EQ(left, "earlier");

  // A mailbox of nothing but failures is not made.
  TBatchOptions options;
  options.kind = TBatchKind::Mailbox;
  options.out = Path("none.mbox");
  const TBatchResult r = ExportBatch({Path("in/bad.plm")}, options);
  EXPECT_EQ(r.exported, 0u);
  EXPECT_EQ(Failed(r), std::vector<std::string>{"bad.plm"});
  EXPECT_FALSE(FileExists(Path("none.mbox")));
  ExpectNothingLeftInTemp();
}

// The command line: a folder into a folder, the summary, one line per failure, exit 1.
TEST_F(BatchTest, PlmtoolExportsAFolderAndReportsEachFailure) {
  Put("in/a.plm", Template("A"));
  Put("in/sub/b.plm", Template("B"));
  Put("in/bad.plm", "garbage");
  const std::string cmd = std::string(PLM_BIN_DIR) + "/plmtool export --recursive '" +
                          Path("in") + "' '" + Path("out") + "' >'" + Path("stdout") + "' 2>'" +
                          Path("stderr") + "'";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string out, err;
  ASSERT_TRUE(ReadFileBytes(Path("stdout"), out));
  ASSERT_TRUE(ReadFileBytes(Path("stderr"), err));
  // The summary on standard output; the progress, a line a template, then one line per
  // failure on standard error.
  EXPECT_EQ(out, "2 exported, 1 failed\n");
  EXPECT_NE(err.find("3 / 3 "), std::string::npos) << err;
  const size_t failure = err.find("plmtool: " + Path("in/bad.plm") + ": ");
  ASSERT_NE(failure, std::string::npos) << err;
  EXPECT_GT(failure, err.find("3 / 3 ")) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 4) << err;
  EXPECT_EQ(Tree(Path("out")), (std::vector<std::string>{"a.eml", "sub/b.eml"}));
}

// SIGTERM (or Ctrl-C) while plmtool exports: it stops between templates, every file made
// is whole and counted, nothing is left half-written beside them.
TEST_F(BatchTest, PlmtoolStoppedLeavesEveryFileWhole) {
  constexpr int kCount = 300;
  const std::string tpl = Template("T");
  for (int i = 0; i < kCount; ++i)
    Put("in/t" + std::to_string(i) + ".plm", tpl);
  const std::string script =
      std::string(PLM_BIN_DIR) + "/plmtool export '" + Path("in") + "' '" + Path("out") + "' >'" +
      Path("stdout") + "' 2>&1 & pid=$!; "
      "until grep -q '^3 / ' '" + Path("stdout") + "' || ! kill -0 $pid 2>/dev/null; do sleep 0.01; done; "
      "kill -TERM $pid; wait $pid";
  const int status = std::system(script.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string out;
  ASSERT_TRUE(ReadFileBytes(Path("stdout"), out));
  const size_t summary = out.rfind(" exported, 0 failed, cancelled\n");
  ASSERT_NE(summary, std::string::npos) << out.substr(out.size() > 200 ? out.size() - 200 : 0);
  const size_t start = out.rfind('\n', summary) + 1;
  const size_t exported = std::stoul(out.substr(start, summary - start));
  EXPECT_LT(exported, size_t(kCount));
  const std::vector<std::string> files = Tree(Path("out"));
  EXPECT_EQ(files.size(), exported);
  for (const std::string &f : files)
    EXPECT_EQ(MessageSubject(Path("out/" + f)), "T") << f;
  ExpectNothingLeftInTemp();
}
