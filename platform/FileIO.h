#pragma once
// Files by handle: the open, read, write, seek and close that the cabinet library's
// callbacks need, with the OS error code of each failure.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace plm {

using FileHandle = intptr_t;
constexpr FileHandle INVALID_FILE_HANDLE = -1;

enum class FileAccess { Read, Write, ReadWrite };
enum class FileDisposition {
  CreateNew,        // create; fail if the file exists
  CreateAlways,     // create, or truncate an existing file
  OpenAlways,       // open, or create a missing file
  OpenExisting,     // open; fail if missing
  TruncateExisting, // open and truncate; fail if missing
};
struct FileOpenHints {
  bool temporary = false;      // short-lived file
  bool randomAccess = false;   // random-access hint
  bool sequentialScan = false; // sequential-scan hint
  bool deleteOnClose = false;  // the name is removed at once; the data lives until closed
  bool noFollow = false;       // never open through a symbolic link at the last step
};

// INVALID_FILE_HANDLE on failure, with the OS error code in osError. Only regular files
// are opened (links followed); anything else fails at once, without blocking: EISDIR for
// a folder, ENXIO for a device, a pipe or a socket.
FileHandle FileOpenHandle(const std::string &path, FileAccess access, FileDisposition disp,
                          const FileOpenHints &hints, int &osError);
// The bytes transferred, or -1 with osError set.
int64_t FileReadHandle(FileHandle h, void *buf, size_t count, int &osError);
int64_t FileWriteHandle(FileHandle h, const void *buf, size_t count, int &osError);
// origin 0 from the start, 1 from the current position, 2 from the end. The new
// position, or -1 with osError set.
int64_t FileSeekHandle(FileHandle h, int64_t distance, int origin, int &osError);
// true on success; false with osError set.
bool FileCloseHandle(FileHandle h, int &osError);
// Sets the modification time of an open file (the access time is left alone).
bool FileSetModTimeHandle(FileHandle h, std::time_t t);

// Creates a new, empty file named prefix + six unique characters and returns its name
// ("" with osError set on failure).
std::string CreateUniqueFile(const std::string &prefix, int &osError);

// Whether the handle is a terminal (standard error is handle 2).
bool IsTerminal(FileHandle h);

// The OS's own text for an error code.
std::string SysErrorMessage(int code);

} // namespace plm
