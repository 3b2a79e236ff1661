#include "export/ExportPage.h"

#include "platform/Exceptions.h"
#include "platform/Strings.h"

#include <glib.h>
#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/xmlIO.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

namespace plm {

namespace {

struct DocFree {
  void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct XmlStringFree {
  void operator()(xmlChar *s) const { xmlFree(s); }
};
using XmlString = std::unique_ptr<xmlChar, XmlStringFree>;

const char *Chars(const xmlChar *s) { return reinterpret_cast<const char *>(s); }
const xmlChar *Xml(const char *s) { return reinterpret_cast<const xmlChar *>(s); }

bool NameIs(const xmlChar *name, const char *expected) {
  return name && SameText(Chars(name), expected);
}

bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

bool StartsWithNoCase(std::string_view s, size_t at, std::string_view word) {
  return s.size() - at >= word.size() && SameText(s.substr(at, word.size()), word);
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
    ++i;
  return i;
}

// A quoted CSS string from its opening quote at i: its value (escapes taken literally,
// an escaped new line dropped) and the position after its closing quote (the end of the
// text when it is not closed).
std::pair<std::string, size_t> QuotedString(std::string_view s, size_t i) {
  const char quote = s[i++];
  std::string value;
  while (i < s.size() && s[i] != quote) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      if (s[i] != '\n') value += s[i];
    } else {
      value += s[i];
    }
    ++i;
  }
  return {value, i < s.size() ? i + 1 : i};
}

// Attributes that make a browser load a file when the page opens.
bool IsLoadingAttribute(const xmlChar *element, const xmlChar *attribute) {
  static constexpr const char *kAlways[] = {"src", "background", "lowsrc", "dynsrc", "poster"};
  for (const char *n : kAlways)
    if (NameIs(attribute, n)) return true;
  // A hyperlink's href is followed only when the reader clicks it; on any other element
  // (link, and SVG's image or use) it is loaded with the page.
  if (NameIs(attribute, "href")) return !NameIs(element, "a") && !NameIs(element, "area");
  return NameIs(attribute, "xlink:href") ||
         (NameIs(attribute, "data") && NameIs(element, "object"));
}

// Attributes dropped whatever their value: they run code or load what cannot be rewritten.
bool IsDroppedAttribute(const xmlChar *attribute) {
  const char *n = Chars(attribute);
  return (std::strlen(n) > 2 && SameText(std::string_view(n, 2), "on")) ||
         NameIs(attribute, "srcset") || NameIs(attribute, "codebase") ||
         NameIs(attribute, "archive") || NameIs(attribute, "classid");
}

bool IsDroppedElement(const xmlNode *n) {
  if (NameIs(n->name, "script") || NameIs(n->name, "base")) return true;
  if (!NameIs(n->name, "meta")) return false;
  // Our own meta names the charset; a refresh would take the reader elsewhere.
  const XmlString equiv(xmlGetProp(n, Xml("http-equiv")));
  const XmlString charset(xmlGetProp(n, Xml("charset")));
  return charset ||
         (equiv && (NameIs(equiv.get(), "content-type") || NameIs(equiv.get(), "refresh")));
}

class TPageRewriter {
public:
  explicit TPageRewriter(const ReferenceRewriter &rewrite) : fRewrite(rewrite) {}

  void Walk(xmlNode *node) {
    std::vector<xmlNode *> dropped;
    for (xmlNode *n = node; n; n = n->next) {
      // Some mail clients render the markup of conditional comments.
      if (n->type == XML_COMMENT_NODE || n->type == XML_PI_NODE) {
        dropped.push_back(n);
        continue;
      }
      if (n->type != XML_ELEMENT_NODE) continue;
      if (IsDroppedElement(n)) {
        dropped.push_back(n);
        continue;
      }
      Attributes(n);
      if (NameIs(n->name, "style"))
        StyleBlock(n);
      else
        Walk(n->children);
    }
    for (xmlNode *n : dropped) {
      xmlUnlinkNode(n);
      xmlFreeNode(n);
    }
  }

private:
  void Attributes(xmlNode *element) {
    std::vector<xmlAttr *> dropped;
    for (xmlAttr *a = element->properties; a; a = a->next) {
      if (IsDroppedAttribute(a->name)) {
        dropped.push_back(a);
        continue;
      }
      const bool loads = IsLoadingAttribute(element->name, a->name);
      const bool style = NameIs(a->name, "style");
      if (!loads && !style) continue;
      const XmlString value(xmlNodeListGetString(element->doc, a->children, 1));
      const std::string text = value ? Chars(value.get()) : "";
      const std::string replaced = loads ? fRewrite(text) : RewriteStyleUrls(text, fRewrite);
      if (loads && replaced.empty())
        dropped.push_back(a);
      else if (replaced != text)
        xmlSetProp(element, a->name, Xml(replaced.c_str()));
    }
    for (xmlAttr *a : dropped)
      xmlRemoveProp(a);
  }

  void StyleBlock(xmlNode *style) {
    for (xmlNode *t = style->children; t; t = t->next)
      if ((t->type == XML_TEXT_NODE || t->type == XML_CDATA_SECTION_NODE) && t->content) {
        const std::string css = RewriteStyleUrls(Chars(t->content), fRewrite);
        xmlNodeSetContent(t, Xml(css.c_str()));
      }
  }

  const ReferenceRewriter &fRewrite;
};

xmlNode *FindChild(xmlNode *parent, const char *name) {
  for (xmlNode *n = parent ? parent->children : nullptr; n; n = n->next)
    if (n->type == XML_ELEMENT_NODE && NameIs(n->name, name)) return n;
  return nullptr;
}

// The page's head starts with a meta naming UTF-8, the charset of the text written.
void DeclareUtf8(xmlDoc *doc) {
  xmlNode *html = xmlDocGetRootElement(doc);
  if (!html) return;
  xmlNode *head = FindChild(html, "head");
  if (!head) {
    head = xmlNewDocNode(doc, nullptr, Xml("head"), nullptr);
    if (html->children)
      xmlAddPrevSibling(html->children, head);
    else
      xmlAddChild(html, head);
  }
  xmlNode *meta = xmlNewDocNode(doc, nullptr, Xml("meta"), nullptr);
  xmlNewProp(meta, Xml("http-equiv"), Xml("Content-Type"));
  xmlNewProp(meta, Xml("content"), Xml("text/html; charset=utf-8"));
  if (head->children)
    xmlAddPrevSibling(head->children, meta);
  else
    xmlAddChild(head, meta);
}

std::string Serialize(xmlDoc *doc) {
  // No encoder: the tree's own UTF-8 is written as it is.
  xmlOutputBuffer *out = xmlAllocOutputBuffer(nullptr);
  if (!out) throw EOutOfMemory("Mémoire insuffisante pour écrire la page.");
  htmlDocContentDumpFormatOutput(out, doc, "UTF-8", 0);
  xmlOutputBufferFlush(out);
  std::string text(Chars(xmlOutputBufferGetContent(out)), xmlOutputBufferGetSize(out));
  xmlOutputBufferClose(out);
  return text;
}

} // namespace

namespace {

// The text with the escapes that stand for letters, digits, "-" or "_" replaced by those
// characters: "\75 rl(" is "url(" to a browser, and must be to the scanner below. Other
// escapes stay, so that what they protect keeps its meaning.
std::string RevealNameEscapes(std::string_view css) {
  std::string out;
  out.reserve(css.size());
  for (size_t i = 0; i < css.size(); ++i) {
    if (css[i] != '\\' || i + 1 == css.size()) {
      out += css[i];
      continue;
    }
    size_t j = i + 1;
    char32_t cp = 0;
    if (HexDigitValue(css[j]) >= 0) {
      for (int n = 0; n < 6 && j < css.size() && HexDigitValue(css[j]) >= 0; ++n, ++j)
        cp = cp * 16 + char32_t(HexDigitValue(css[j]));
      if (j < css.size() && std::isspace(static_cast<unsigned char>(css[j]))) ++j;
    } else {
      cp = static_cast<unsigned char>(css[j++]);
    }
    if (cp < 0x80 && (IsIdentChar(char(cp)))) {
      out += char(cp);
      i = j - 1;
    } else {
      out += css[i];
    }
  }
  return out;
}

// The position of the parenthesis that closes the one just before from (strings skipped),
// or the end of the text.
size_t MatchingParenthesis(std::string_view s, size_t from) {
  int depth = 1;
  for (size_t i = from; i < s.size(); ++i) {
    if (s[i] == '"' || s[i] == '\'') {
      i = QuotedString(s, i).second - 1;
    } else if (s[i] == '(') {
      ++depth;
    } else if (s[i] == ')' && --depth == 0) {
      return i;
    }
  }
  return s.size();
}

// image-set() takes its pictures as plain strings: there, strings are references.
std::string RewriteCss(std::string_view css, const ReferenceRewriter &rewrite,
                       bool stringsAreReferences) {
  std::string out;
  out.reserve(css.size());
  size_t i = 0;
  while (i < css.size()) {
    const bool wordStart = i == 0 || !IsIdentChar(css[i - 1]);
    if (wordStart && StartsWithNoCase(css, i, "url(")) {
      size_t j = SkipBlanks(css, i + 4);
      std::string value;
      if (j < css.size() && (css[j] == '"' || css[j] == '\'')) {
        std::tie(value, j) = QuotedString(css, j);
        j = SkipBlanks(css, j);
      } else {
        const size_t close = css.find(')', j);
        value = Trim(css.substr(j, close == std::string_view::npos ? css.size() - j : close - j));
        j = close == std::string_view::npos ? css.size() : close;
      }
      const std::string target = rewrite(value);
      out += target.empty() ? "none" : "url(\"" + target + "\")";
      // Whatever stood between the value and the closing parenthesis goes with it.
      const size_t close = css.find(')', j);
      i = close == std::string_view::npos ? css.size() : close + 1;
      continue;
    }
    if ((wordStart || css[i - 1] == '-') && StartsWithNoCase(css, i, "image-set(")) {
      const size_t from = i + 10;
      const size_t close = MatchingParenthesis(css, from);
      out += "image-set(" + RewriteCss(css.substr(from, close - from), rewrite, true) + ")";
      i = close + 1;
      continue;
    }
    if (stringsAreReferences && (css[i] == '"' || css[i] == '\'')) {
      const auto [value, next] = QuotedString(css, i);
      const std::string target = rewrite(value);
      out += target.empty() ? "none" : "\"" + target + "\"";
      i = next;
      continue;
    }
    if (StartsWithNoCase(css, i, "@import")) {
      // A style sheet pulled from elsewhere: its target is never kept.
      out += "@import";
      size_t j = SkipBlanks(css, i + 7);
      if (j < css.size() && (css[j] == '"' || css[j] == '\'')) {
        out += " none";
        j = QuotedString(css, j).second;
      } else {
        out += ' ';
      }
      i = j;
      continue;
    }
    out += css[i++];
  }
  return out;
}

} // namespace

std::string RewriteStyleUrls(std::string_view css, const ReferenceRewriter &rewrite) {
  return RewriteCss(RevealNameEscapes(css), rewrite, false);
}

namespace {

DocPtr ParsePage(std::string_view page) {
  std::string utf8 = ToDisplayUtf8(page);
  if (Trim(utf8).empty()) utf8 = "<html></html>"; // the parser gives no tree for no text
  if (utf8.size() > static_cast<size_t>(INT_MAX))
    throw EReadError("La page du modèle est trop grande pour être exportée.");
  constexpr int kOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                           HTML_PARSE_NONET | HTML_PARSE_NODEFDTD | HTML_PARSE_IGNORE_ENC;
  DocPtr doc(
      htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", kOptions));
  if (!doc) throw EReadError("La page du modèle n'a pas pu être lue.");
  return doc;
}

} // namespace

std::string TemplateFileReference(std::string_view reference) {
  std::string ref = Trim(reference);
  if (const size_t cut = ref.find_first_of("?#"); cut != std::string::npos) ref.resize(cut);
  if (ref.empty() || g_uri_peek_scheme(ref.c_str()) || ref[0] == '/' || ref[0] == '\\')
    return {};
  char *decoded = g_uri_unescape_string(ref.c_str(), nullptr);
  if (!decoded) return ref;
  std::string r = decoded;
  g_free(decoded);
  return r;
}

void ForEachPageReference(std::string_view page,
                          const std::function<void(const std::string &reference)> &found) {
  const DocPtr doc = ParsePage(page);
  const ReferenceRewriter keep = [&](const std::string &reference) {
    found(reference);
    return reference;
  };
  TPageRewriter(keep).Walk(doc->children);
}

std::string RewritePageForExport(std::string_view page, const ReferenceRewriter &rewrite) {
  const DocPtr doc = ParsePage(page);
  TPageRewriter(rewrite).Walk(doc->children);
  DeclareUtf8(doc.get());
  if (doc->encoding) xmlFree(const_cast<xmlChar *>(doc->encoding));
  doc->encoding = xmlStrdup(Xml("UTF-8"));
  return Serialize(doc.get());
}

} // namespace plm
