#pragma once
// File and folder services: existence, attributes, time stamps, folders, deletion.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace plm {

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

bool FileExists(const std::string &path);      // a file (or link to one), not a folder
bool DirectoryExists(const std::string &path); // a folder (links followed)
bool IsSymLink(const std::string &path);       // the entry itself is a symbolic link
bool IsRegularFile(const std::string &path);   // a regular file (or link to one)
// Read-only is "no write permission for anyone"; hidden is a name starting with ".".
uint32_t FileGetAttr(const std::string &path);
// Sets read-only (removes every write bit) or clears it (gives the owner write
// permission back); hidden, system and archive have no counterpart and are ignored.
bool FileSetAttr(const std::string &path, uint32_t attrs);
// MS-DOS date and time words, as local time, to a time_t; false when invalid.
bool DosDateTimeToTime(uint16_t dosDate, uint16_t dosTime, std::time_t &out);
// A time_t to MS-DOS date and time words, as local time (two-second steps); false
// outside 1980..2107.
bool TimeToDosDateTime(std::time_t t, uint16_t &dosDate, uint16_t &dosTime);
// The file's modification time; the access time is left alone.
bool SetFileModTime(const std::string &path, std::time_t t);
std::time_t FileModTime(const std::string &path); // -1 when unknown
int64_t FileSize(const std::string &path);        // -1 when unknown

// Creates every missing folder of the path; true when it exists afterwards.
bool ForceDirectories(const std::string &path, unsigned mode = 0777);
bool CreateDir(const std::string &path, unsigned mode = 0777);
bool DeleteFile(const std::string &path); // removes a file or a link itself, never a folder
bool RemoveDir(const std::string &path);  // an empty folder only
std::string GetCurrentDir();
bool SetCurrentDir(const std::string &path);
// The names in a folder (no "." or ".."), in the order the file system returns them.
std::vector<std::string> ListDirectory(const std::string &path);

} // namespace plm
