#pragma once
// libplmpage.so's one entry point, a C function found by name once the library is loaded:
// the files a template's page loads, as ForEachPageReference finds them and
// TemplateFileReference names them (references that name no file left out).
#include <cstddef>

extern "C" {
// Called for each name (UTF-8, or the page's own bytes where an escape made others).
typedef void (*PlmPageFileFound)(void *context, const char *name, size_t length);
// 0 once the page was read; -1 when it could not be (nothing found then).
typedef int (*PlmPageFileReferences)(const char *page, size_t size, PlmPageFileFound found,
                                     void *context);
}

inline constexpr const char *kPageLibraryName = "libplmpage.so";
inline constexpr const char *kPageFileReferencesSymbol = "plm_page_file_references";
