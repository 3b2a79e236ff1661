#pragma once
// The run-time binding of the cabinet library: loaded on first use, process-wide.
#include "platform/plmcab/fdi_fci.h"

#include <string>

namespace plm::CabIntf {

// The nine entry points, nullptr while the library is not loaded. Always call them
// qualified (CabIntf::FDICopy), never through the C declarations.
extern PFN_FCICreate FCICreate;
extern PFN_FCIAddFile FCIAddFile;
extern PFN_FCIFlushCabinet FCIFlushCabinet;
extern PFN_FCIFlushFolder FCIFlushFolder;
extern PFN_FCIDestroy FCIDestroy;
extern PFN_FDICreate FDICreate;
extern PFN_FDIIsCabinet FDIIsCabinet;
extern PFN_FDICopy FDICopy;
extern PFN_FDIDestroy FDIDestroy;

// A Boolean as the library's 32-bit BOOL: CabBool[false] is 0, CabBool[true] is 1.
extern const CABBOOL CabBool[2];

constexpr const char *DefaultLibraryName = "libplmcab.so";

bool LibraryLoaded();
// Loads the library and resolves the nine names. A missing library or name raises
// EOSError with the loader's text and leaves the library unloaded. Any thread may call it,
// several at once: one loads, the others wait for it. Does nothing when it is loaded
// already.
void LoadCabinetLibrary();
// Unloads the library (done by itself at process end).
void UnloadCabinetLibrary();

// The file name that LoadCabinetLibrary loads; tests point it elsewhere.
void SetLibraryName(const std::string &fileName);
const std::string &LibraryName();

} // namespace plm::CabIntf
