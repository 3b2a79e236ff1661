#pragma once
// Byte streams for the picture framework: an abstract stream, an in-memory stream and a
// file stream. Reads past the end return fewer bytes; the *Buffer forms raise instead.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plm {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
  TStream() = default;
  TStream(const TStream &) = delete;
  TStream &operator=(const TStream &) = delete;
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (fewer only at the end).
  virtual size_t Read(void *buffer, size_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual size_t Write(const void *buffer, size_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size);
  // Reads up to count bytes at pos; the position afterwards is unspecified.
  virtual size_t ReadAt(int64_t pos, void *buffer, size_t count);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }

  // Reads exactly count bytes or raises EReadError "Stream read error".
  void ReadBuffer(void *buffer, size_t count);
  // Writes exactly count bytes or raises EStreamError "Stream write error".
  void WriteBuffer(const void *buffer, size_t count);
  // Copies exactly count bytes from source's position (raises EReadError when it holds
  // fewer). Returns count.
  int64_t CopyFrom(TStream &source, int64_t count);
  // Copies everything from source's position to its end; returns the byte count.
  int64_t CopyRest(TStream &source);

  uint8_t ReadByte();  // EReadError at the end
  uint16_t ReadLE16(); // EReadError at the end
  uint32_t ReadLE32(); // EReadError at the end
  void WriteLE32(uint32_t v);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : fData(std::move(bytes)) {}

  size_t Read(void *buffer, size_t count) override;
  size_t Write(const void *buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(fData.size()); }
  void SetSize(int64_t size) override;

  const uint8_t *Memory() const { return fData.data(); }
  uint8_t *Memory() { return fData.data(); }
  const std::vector<uint8_t> &Bytes() const { return fData; }
  size_t ByteCount() const { return fData.size(); }
  void Clear();
  // Replaces the content with the whole of source (from its start); position 0 after.
  void LoadFromStream(TStream &source);
  void LoadFromFile(const std::string &fileName);
  // Writes the whole content to dest at dest's position.
  void SaveToStream(TStream &dest) const;
  void SaveToFile(const std::string &fileName) const;

private:
  std::vector<uint8_t> fData;
  size_t fPos = 0;
};

enum TFileMode : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFF00, // create or truncate, read and write
};

// A file opened for the life of the object. Opening failures raise EFOpenError:
// "Cannot open file \"%s\". %s" or "Cannot create file \"%s\". %s" with the system text.
class TFileStream : public TStream {
public:
  TFileStream(const std::string &fileName, unsigned mode);
  ~TFileStream() override;

  size_t Read(void *buffer, size_t count) override;
  size_t Write(const void *buffer, size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  size_t ReadAt(int64_t pos, void *buffer, size_t count) override; // one positioned read
  const std::string &FileName() const { return fFileName; }

private:
  std::string fFileName;
  int fFd = -1;
};

} // namespace plm
