#pragma once
// A template's page made fit to travel alone: parsed with libxml2's HTML parser, every
// reference to a file rewritten or removed, and written back as UTF-8.
#include <functional>
#include <string>
#include <string_view>

namespace plm {

// Gives the address that replaces a reference found in the page (src, background,
// url(...) of styles...), or an empty string when the reference is to be removed.
using ReferenceRewriter = std::function<std::string(const std::string &reference)>;

// The page rewritten for export. page is the page's bytes: UTF-8 when they are valid
// UTF-8, Windows-1252 otherwise. The result is UTF-8 and says so in its <meta>; scripts,
// base addresses, refreshes and event handlers are dropped, the rest of the markup kept.
std::string RewritePageForExport(std::string_view page, const ReferenceRewriter &rewrite);

// The style sheet text with each url(...), and each string of an image-set(...), given
// to rewrite (a removed one becomes "none"), and every @import target dropped. Escapes
// that spell names ("\75 rl(") are read as the letters they stand for.
std::string RewriteStyleUrls(std::string_view css, const ReferenceRewriter &rewrite);

// The relative name a reference of a page stands for, as a browser reads it: blanks
// trimmed, query and fragment cut, %XX escapes decoded (taken as they are when not
// valid). Empty when the reference names no file of the template: a scheme (a drive
// letter reads as one) or a root names something else.
std::string TemplateFileReference(std::string_view reference);

// Each reference to a file that the page loads when it opens (the same ones the export
// rewrites: src, background, style url(...) and image-set(...)...), as the page writes
// it, in the page's order. Nothing is written back.
void ForEachPageReference(std::string_view page,
                          const std::function<void(const std::string &reference)> &found);

} // namespace plm
