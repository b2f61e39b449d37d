// The document writer: the whole document as a new file with one classic
// cross-reference table, objects in table order, object streams dropped, an encrypted
// document's objects encrypted again on the way out.
//
// Output goes through one bounded buffer; large stream data go from the bytes they are
// held in straight to the sink. The table itself is kept per written object, not per
// object number, so a sparse numbering costs output lines but no memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <unordered_set>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Size of the output buffer; it is handed to the sink whenever it is full.
constexpr size_t kWriteBufferSize = size_t(1) << 20;
// Stream data at least this long bypass the buffer.
constexpr size_t kDirectWriteMin = size_t(64) << 10;
// The table's offset field has ten digits.
constexpr int64_t kXRefOffsetMax = 9999999999;
// Generation of the head of the free list.
constexpr int32_t kFreeHeadGeneration = 65535;
// Temporary names tried before a save gives up.
constexpr int kTempNameAttemptsMax = 100;
// Linux caps one write at a little under 2 GiB.
constexpr size_t kWriteChunkMax = size_t(1) << 30;
// A save starts the disk writing each time this much more has been written, so that the
// closing fsync waits for the last stretch only, not for the whole file.
constexpr int64_t kWritebackStep = int64_t(8) << 20;

// Raised inside the writer when the sink refuses bytes; WriteDocument turns it into false.
class EWriteFailed : public EPDFError {
 public:
  EWriteFailed() : EPDFError("The output could not be written") {}
};

class TOutput {
 public:
  explicit TOutput(const std::function<bool(ByteView)>& sink) : sink_(sink) { buffer_.reserve(kWriteBufferSize); }

  int64_t Position() const { return sent_ + int64_t(buffer_.size()); }
  // The buffer itself, for serialisers that append to a byte string; call Settle after.
  Bytes& Buffer() { return buffer_; }
  void Settle() {
    if (buffer_.size() >= kWriteBufferSize) Flush();
  }
  void Put(ByteView bytes) {
    // Data sent straight to the sink goes after what is buffered before it.
    if (bytes.size() >= kDirectWriteMin || buffer_.size() + bytes.size() > kWriteBufferSize) Flush();
    if (bytes.size() >= kDirectWriteMin) {
      Send(bytes);
    } else {
      buffer_.append(bytes);
    }
  }
  void Flush() {
    if (buffer_.empty()) return;
    Send(buffer_);
    buffer_.clear();
  }

 private:
  void Send(ByteView bytes) {
    if (!sink_(bytes)) throw EWriteFailed();
    sent_ += int64_t(bytes.size());
  }

  const std::function<bool(ByteView)>& sink_;
  Bytes buffer_;
  int64_t sent_ = 0;
};

// Appends the decimal digits of `value` padded with '0' to `width` (more digits when
// it has more).
void AppendPadded(Bytes& out, int64_t value, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = char('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

void AppendEntry(Bytes& out, int64_t offset, int64_t generation, char kind) {
  AppendPadded(out, offset, 10);
  out += ' ';
  AppendPadded(out, generation, 5);
  out += ' ';
  out += kind;
  out += " \n";
}

// "N G obj\n", the body, a line feed unless the body ends in one, "endobj\n": the
// record's IndirectText, with stream data passed on without a copy.
void WriteRecord(TOutput& out, TPDFIndObj& record) {
  Bytes& b = out.Buffer();
  b += IntToText(record.Number);
  b += ' ';
  b += IntToText(record.Generation);
  b += " obj\n";
  if (auto* stream = As<TPDFStream>(record.Body)) {
    stream->StreamDict->ToText(b);
    b += "stream\n";
    out.Put(stream->Raw());
    out.Put("\nendstream\nendobj\n");
  } else {
    if (record.Body != nullptr) {
      record.Body->ToText(b);
    } else {
      b += "null";
    }
    if (b.back() != '\n') b += '\n';
    b += "endobj\n";
  }
  out.Settle();
}

// Frees the body of a record that was loaded only for writing and marks it unloaded;
// false (the body kept) when anything else still holds the body.
bool DropBody(TPDFIndObj& r) {
  TPDFObject* body = r.Body;
  if (!r.Loaded || r.Loading || body == nullptr) return false;
  TPDFStructure& arena = *body->Structure;
  body->HasNumber = false;
  if (!arena.Releasable(body)) {
    body->HasNumber = true;
    return false;
  }
  body->Discard();
  r.Body = nullptr;
  r.Loaded = false;
  r.Decrypted = false;
  return true;
}

// Drops the record's body when asked and notes its index in `dropped`.
struct TDropAfterWrite {
  TPDFIndObj& r;
  bool drop;
  std::vector<size_t>& dropped;
  size_t index;
  ~TDropAfterWrite() {
    if (drop && DropBody(r)) dropped.push_back(index);
  }
};

// ---- Files ----------------------------------------------------------------------

bool NativePath(TextView name, Bytes& path) {
  path = TextToUtf8(name);
  return !path.empty() && path.find('\0') == Bytes::npos;
}

bool WriteAll(int fd, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min(bytes.size() - done, kWriteChunkMax);
    const ssize_t n = ::write(fd, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// A file of a new name next to the target, removed again unless Keep is called.
class TTempFile {
 public:
  ~TTempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  // Creates the file exclusively with `perms` (the umask applies).
  bool Create(const Bytes& folder, const Bytes& base, mode_t perms) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < kTempNameAttemptsMax; ++attempt) {
      const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
      Bytes name = folder + "." + base + "." + IntToText(::getpid()) + "-" + IntToText(++counter) + "-" +
                   ToHex(uint64_t(tick) & 0xFFFFFF, 6) + ".tmp";
      if (name.size() > PATH_MAX) return false;
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, perms);
      if (fd >= 0) {
        fd_ = fd;
        path_ = std::move(name);
        return true;
      }
      if (errno != EEXIST && errno != EINTR) return false;
    }
    return false;
  }
  int Fd() const { return fd_; }
  const Bytes& Path() const { return path_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Keep() { path_.clear(); }

 private:
  int fd_ = -1;
  Bytes path_;
};

}  // namespace

bool TPDFDocument::WriteDocument(TKavrelWideFileStream& stream) {
  const std::function<bool(ByteView)> sink = [&stream](ByteView bytes) {
    return stream.Write(bytes.data(), bytes.size()) == int64_t(bytes.size());
  };
  const bool ok = WriteDocument(sink);
  const int64_t size = stream.Size();
  if (size >= 0) FileSize = size;
  return ok;
}

bool TPDFDocument::WriteDocument(const std::function<bool(ByteView)>& sink) {
  const int32_t page = PageTree ? PageTree->SelectedPageNumber() : 0;
  XRefEntries.clear();
  TOutput out(sink);
  bool ok = false;
  // Records dropped after writing; a failed write loads them again, so that the document
  // is left as the write found it and fully readable (decrypted) when it failed.
  std::vector<size_t> dropped;
  try {
    // Numbers above the limit never come from a file; refuse them before writing a
    // table with a line per number.
    const int32_t highest = HighestNumber();
    if (highest < 0 || highest > kObjectNumberMax)
      throw EPDFError("The document has an object number too large to be written");

    out.Put("%PDF-");
    out.Put(Version);
    out.Put("\n%\xE2\xE3\xCF\xD3\n");

    std::unordered_set<int32_t> objectStreams;
    for (size_t i = 0; i < ObjectCount(); ++i) {
      const TPDFIndObj& r = ObjectAt(i);
      if (r.InObjectStream && r.StreamNumber > 0) objectStreams.insert(r.StreamNumber);
    }
    const bool encrypted = EncryptionState() == kEncrypted;

    // One in-use entry per written record; a number written twice names its last copy.
    std::vector<TPDFXRefEntry> used;
    used.reserve(ObjectCount());
    for (size_t i = 0; i < ObjectCount(); ++i) {
      TPDFIndObj& r = ObjectAt(i);
      // Dropped: their members are written as plain objects. Number 0 heads the free
      // list and cannot name an object.
      if (objectStreams.count(r.Number) != 0 || r.Number <= 0) continue;
      TPDFXRefEntry e;
      e.Number = r.Number;
      e.Generation = std::max(r.Generation, 0);
      e.Offset = out.Position();
      e.InUse = true;
      if (e.Offset > kXRefOffsetMax) throw EPDFError("The document is too large for a cross-reference table");
      used.push_back(e);
      // A record loaded only to be written is dropped again once written: the saved
      // document then holds what it held before, not a parsed copy of the whole file
      // (and of every decrypted stream), and the arena's freed memory serves the next
      // record. Loading it again later reads the same bytes.
      const bool wasLoaded = r.Loaded;
      if (!encrypted) {
        if (!wasLoaded) r.LoadBody();
        TDropAfterWrite drop{r, !wasLoaded, dropped, i};
        WriteRecord(out, r);
        continue;
      }
      if (wasLoaded) {
        r.GetBody();
        EncryptIndirectObject(r);
      } else {
        // Loaded only to be written: unless it comes out of an object stream, its strings
        // and stream data are still encrypted as read, under the key of this number and
        // generation, which the output uses too. They go out as read; decrypting and
        // encrypting every stream again would cost two passes over the file's data to
        // give the same bytes (RC4) or the same bytes under a new IV (AES).
        r.LoadBody();
        if (r.Decrypted)
          EncryptIndirectObject(r);
        else
          ResealIndirectObject(r);
      }
      // Decrypted again (or dropped) also when writing fails, so the document stays usable.
      struct TDecryptAgain {
        TPDFIndObj& r;
        bool drop;
        std::vector<size_t>& dropped;
        size_t index;
        ~TDecryptAgain() {
          if (drop && DropBody(r))
            dropped.push_back(index);
          else
            r.GetBody();
        }
      } again{r, !wasLoaded, dropped, i};
      WriteRecord(out, r);
    }

    std::stable_sort(used.begin(), used.end(),
                     [](const TPDFXRefEntry& a, const TPDFXRefEntry& b) { return a.Number < b.Number; });
    // Last copy of each number: after the stable sort it is the last of its run.
    size_t kept = 0;
    for (size_t i = 0; i < used.size(); ++i) {
      if (i + 1 < used.size() && used[i + 1].Number == used[i].Number) continue;
      used[kept++] = used[i];
    }
    used.resize(kept);

    const int64_t startxref = out.Position();
    if (startxref > kXRefOffsetMax) throw EPDFError("The document is too large for a cross-reference table");
    const int64_t count = int64_t(highest) + 1;
    out.Put("xref\n0 ");
    out.Put(IntToText(count));
    out.Put("\n");
    // Numbers without an in-use entry form the free list: 0 first, each naming the
    // next free number, the last naming 0.
    size_t u = 0;         // next in-use entry
    int64_t scan = 1;     // where the search for the next free number goes on
    size_t scanUse = 0;   // first in-use entry at or after `scan`
    auto nextFree = [&](int64_t after) -> int64_t {
      if (scan <= after) scan = after + 1;
      while (scanUse < used.size() && used[scanUse].Number < scan) ++scanUse;
      while (scan <= highest && scanUse < used.size() && used[scanUse].Number == scan) {
        ++scan;
        ++scanUse;
      }
      return scan <= highest ? scan : 0;
    };
    for (int64_t n = 0; n < count; ++n) {
      Bytes& b = out.Buffer();
      if (u < used.size() && used[u].Number == n) {
        AppendEntry(b, used[u].Offset, used[u].Generation, 'n');
        ++u;
      } else {
        AppendEntry(b, nextFree(n), n == 0 ? kFreeHeadGeneration : 0, 'f');
      }
      out.Settle();
    }

    Trailer->Remove("XRefStm");
    Trailer->Remove("Prev");
    // The table just written covers every number up to the highest.
    Trailer->Put("Size", Structure.NewNumber(double(count)));
    out.Put("trailer\n");
    Trailer->ToText(out.Buffer());
    if (out.Buffer().back() != '\n') out.Buffer() += '\n';
    out.Put("startxref\n");
    out.Put(IntToText(startxref));
    out.Put("\n%%EOF\n");
    out.Flush();
    XRefEntries = std::move(used);
    ok = true;
  } catch (const std::exception&) {
    ok = false;
    try {
      for (size_t i : dropped) ObjectAt(i).GetBody();
    } catch (const std::exception&) {
    }
  }
  FileSize = out.Position();
  try {
    if (page > 0 && PageTree) PageTree->SelectPage(page);
  } catch (const std::exception&) {
    ok = false;
  }
  return ok;
}

bool TPDFDocument::SaveToFile(TextView fileName) {
  const int64_t oldSize = FileSize;
  try {
    Bytes target;
    if (!NativePath(fileName, target)) return false;
    // Saving to a symbolic link replaces the file it names, not the link.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      if (char* real = ::realpath(target.c_str(), nullptr)) {
        target = real;
        std::free(real);
      }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) return false;

    const size_t slash = target.rfind('/');
    const Bytes folder = slash == Bytes::npos ? Bytes() : target.substr(0, slash + 1);
    const Bytes base = slash == Bytes::npos ? target : target.substr(slash + 1);
    TTempFile temp;
    // An existing target's permissions are copied; a new file gets the usual 0666
    // less the umask.
    if (!temp.Create(folder, base, exists ? 0600 : 0666)) return false;
    if (exists) {
      if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
        // Best effort: only the owner's rights allow it.
        [[maybe_unused]] const int ignored = ::fchown(temp.Fd(), st.st_uid, st.st_gid);
      }
      if (::fchmod(temp.Fd(), st.st_mode & 07777) != 0) return false;
    }

    const int fd = temp.Fd();
    int64_t written = 0, flushed = 0;
    const std::function<bool(ByteView)> sink = [&](ByteView bytes) {
      if (!WriteAll(fd, bytes)) return false;
      written += int64_t(bytes.size());
      if (written - flushed >= kWritebackStep) {
        // Only a hint (the fsync below is what makes the file safe): failure is harmless.
        ::sync_file_range(fd, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
        flushed = written;
      }
      return true;
    };
    if (!WriteDocument(sink)) {
      FileSize = oldSize;
      return false;
    }
    const int64_t savedSize = FileSize;
    FileSize = oldSize;
    if (::fsync(fd) != 0 || !temp.Close()) return false;
    if (::rename(temp.Path().c_str(), target.c_str()) != 0) return false;
    temp.Keep();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    FileSize = savedSize;
    return true;
  } catch (const std::exception&) {
    FileSize = oldSize;
    return false;
  }
}

}  // namespace pagelume
