// A byte stream over an operating-system file opened by UTF-16 name, and the
// file functions the engine uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

// Open modes: access in the low two bits, sharing in bits 4-7; kFileCreate
// creates or truncates for reading and writing.
constexpr uint32_t kFileOpenRead = 0x00;
constexpr uint32_t kFileOpenWrite = 0x01;
constexpr uint32_t kFileOpenReadWrite = 0x02;
constexpr uint32_t kFileShareExclusive = 0x10;
constexpr uint32_t kFileShareDenyWrite = 0x20;  // others may read
constexpr uint32_t kFileShareDenyRead = 0x30;   // others may write
constexpr uint32_t kFileShareDenyNone = 0x40;   // others may read and write
constexpr uint32_t kFileCreate = 0xFFFF;

enum class TSeekOrigin { Beginning, Current, End };

class TKavrelWideFileStream {
 public:
  // Throws EFileCreateError for an invalid mode, a name that cannot be opened or
  // created, or a name that is not a regular file.
  TKavrelWideFileStream(TextView fileName, uint32_t mode);
  ~TKavrelWideFileStream();
  TKavrelWideFileStream(const TKavrelWideFileStream&) = delete;
  TKavrelWideFileStream& operator=(const TKavrelWideFileStream&) = delete;

  // Bytes transferred; short only at end of file or on an error, 0 when nothing
  // could be transferred. Never throw.
  int64_t Read(void* buffer, size_t count);
  int64_t Write(const void* buffer, size_t count);
  // The new position, or -1 when the seek fails (e.g. before the start).
  int64_t Seek(int64_t offset, TSeekOrigin origin);
  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  // -1 when the size cannot be found.
  int64_t Size();
  int Handle() const { return fd_; }

 private:
  int fd_ = -1;
};

// True when `mode` is 0xFFFF or a valid access/sharing combination.
bool IsValidFileMode(uint32_t mode);

// True when the name exists and is not a directory.
bool FileExists(TextView name);
bool DeleteFileByName(TextView name);
// The absolute, normalised form of a name; empty for an empty name.
Text FullPath(TextView name);
// Opens with `mode` and closes again; -1 means create (truncating an existing file).
bool CanOpen(TextView name, int mode);
std::unique_ptr<TKavrelWideFileStream> OpenFileStream(TextView name, uint32_t mode);
// The folder for temporary files, ending in '/'.
Text TempFolder();

}  // namespace pagelume
