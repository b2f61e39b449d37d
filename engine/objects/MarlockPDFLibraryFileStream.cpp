#include "engine/objects/MarlockPDFLibraryFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Linux caps one read or write at a little under 2 GiB; larger transfers loop.
constexpr size_t kMaxTransferChunk = size_t{1} << 30;

// The UTF-8 path of a UTF-16 name; false when the name cannot denote a file
// (empty, or with a NUL that would silently cut it short).
bool NativeName(TextView name, Bytes& path) {
  path = TextToUtf8(name);
  return !path.empty() && path.find('\0') == Bytes::npos;
}

int OpenRetrying(const char* path, int flags, mode_t perms) {
  int fd;
  do {
    fd = ::open(path, flags, perms);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool IsValidFileMode(uint32_t mode) {
  if (mode == kFileCreate) return true;
  if ((mode & ~0xF3u) != 0) return false;
  return (mode & 3) != 3 && (mode & 0xF0) <= kFileShareDenyNone;
}

TKavrelWideFileStream::TKavrelWideFileStream(TextView fileName, uint32_t mode) {
  Bytes path;
  if (!IsValidFileMode(mode) || !NativeName(fileName, path)) throw EFileCreateError();
  // Linux has no share modes: every mode leaves the file readable by others,
  // which is all the engine needs (a document open for reading stays readable).
  // O_NONBLOCK keeps a FIFO from stalling the open; it is refused below anyway.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (mode == kFileCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    const uint32_t access = mode & 3;
    flags |= access == kFileOpenRead ? O_RDONLY : (access == kFileOpenWrite ? O_WRONLY : O_RDWR);
  }
  const int fd = OpenRetrying(path.c_str(), flags, 0666);
  if (fd < 0) throw EFileCreateError();
  struct stat st {};
  // Directories open read-only on Linux; the engine wants regular files only.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EFileCreateError();
  }
  const int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  fd_ = fd;
}

TKavrelWideFileStream::~TKavrelWideFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TKavrelWideFileStream::Read(void* buffer, size_t count) {
  if (fd_ < 0 || buffer == nullptr) return 0;
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t chunk = count - done < kMaxTransferChunk ? count - done : kMaxTransferChunk;
    const ssize_t n = ::read(fd_, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t TKavrelWideFileStream::Write(const void* buffer, size_t count) {
  if (fd_ < 0 || buffer == nullptr) return 0;
  const char* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const size_t chunk = count - done < kMaxTransferChunk ? count - done : kMaxTransferChunk;
    const ssize_t n = ::write(fd_, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t TKavrelWideFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (fd_ < 0) return -1;
  const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                     : origin == TSeekOrigin::Current ? SEEK_CUR
                                                      : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TKavrelWideFileStream::Size() {
  if (fd_ < 0) return -1;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool FileExists(TextView name) {
  Bytes path;
  if (!NativeName(name, path)) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFileByName(TextView name) {
  Bytes path;
  return NativeName(name, path) && ::unlink(path.c_str()) == 0;
}

Text FullPath(TextView name) {
  Bytes path;
  if (!NativeName(name, path)) return Text();
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) return Text(name);
  return Utf8ToText(abs.lexically_normal().string());
}

bool CanOpen(TextView name, int mode) {
  try {
    TKavrelWideFileStream f(name, mode == -1 ? kFileCreate : static_cast<uint32_t>(mode));
    return true;
  } catch (const EFileCreateError&) {
    return false;
  }
}

std::unique_ptr<TKavrelWideFileStream> OpenFileStream(TextView name, uint32_t mode) {
  return std::make_unique<TKavrelWideFileStream>(name, mode);
}

Text TempFolder() {
  Bytes dir;
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && env[0] != '\0') dir = env;
  else dir = "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  return Utf8ToText(dir);
}

}  // namespace pagelume
