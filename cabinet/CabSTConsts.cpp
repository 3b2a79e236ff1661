#include "cabinet/CabSTConsts.h"

#include <iterator>

namespace plm::CabSTConsts {

const char *const SFdiError = "FDI error";
const char *const SFciError = "FCI error";

namespace {

const char *const FdiMessages[] = {
    "No error",
    "Cabinet not found",
    "Cabinet file does not have the correct format",
    "Cabinet file has an unknown version number",
    "Cabinet file is corrupt",
    "Could not allocate enough memory",
    "Unknown compression type in a cabinet folder",
    "Failure decompressing data from a cabinet file",
    "Failure writing to target file",
    "Cabinets in a set do not have the same RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "FDI aborted",
};

const char *const FciMessages[] = {
    "No error",
    "Failure opening file to be stored in cabinet",
    "Failure reading file to be stored in cabinet",
    "Out of memory in FCI",
    "Could not create a temporary file",
    "Unknown compression type",
    "Could not create cabinet file",
    "Client requested abort",
    "Failure compressing data",
};

} // namespace

const char *FdiErrorMessage(int32_t code) {
  return code >= 0 && code < int32_t(std::size(FdiMessages)) ? FdiMessages[code] : SFdiError;
}

const char *FciErrorMessage(int32_t code) {
  return code >= 0 && code < int32_t(std::size(FciMessages)) ? FciMessages[code] : SFciError;
}

} // namespace plm::CabSTConsts
