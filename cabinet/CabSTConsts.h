#pragma once
// The English messages of the cabinet components.
#include <cstdint>

namespace plm::CabSTConsts {

// Decompression (FDIERROR) message of a code: "FDI error" for a code outside the table.
const char *FdiErrorMessage(int32_t code);
// Compression (FCIERROR) message of a code: "FCI error" for a code outside the table.
const char *FciErrorMessage(int32_t code);

extern const char *const SFdiError; // "FDI error"
extern const char *const SFciError; // "FCI error"

} // namespace plm::CabSTConsts
