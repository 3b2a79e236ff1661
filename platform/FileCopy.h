#pragma once
// Copying and replacing files without ever leaving a half-written target: the bytes go to
// a temporary file beside the target, are flushed to the disk (so a full disk is noticed
// here), and only then take the target's name. A failure leaves an existing target as it
// was and removes the temporary file.
#include <cstddef>
#include <string>

namespace plm {

// Copies a file's bytes, its modification time and its read-only state. With
// failIfExists, an existing target (or any entry of that name, links included) makes the
// copy fail with EEXIST and is never touched. Returns false on failure with errno set.
bool CopyFile(const std::string &existing, const std::string &target, bool failIfExists);

// Writes size bytes to path, replacing a file of that name. Returns false on failure with
// errno set.
bool WriteFileReplacing(const std::string &path, const void *data, size_t size);

} // namespace plm
