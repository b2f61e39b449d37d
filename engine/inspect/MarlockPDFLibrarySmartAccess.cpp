#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"

#include <algorithm>
#include <exception>

#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/xref/MarlockPDFLibraryXRef.h"

namespace pagelume {

namespace {

constexpr ByteView kPdfHeader = "%PDF-";
constexpr ByteView kPsHeader = "%!PS-Adobe-";
// Bytes after the PostScript header searched for "PDF-", and version bytes looked at.
constexpr size_t kPsVersionWindow = 20;
constexpr size_t kVersionBytes = 10;
// Stream data: at least this many characters must follow the dictionary.
constexpr size_t kStreamTailMin = 13;
// "endstream" is looked for at the last positions of a text, or this far before the end.
constexpr int64_t kEndstreamSlack = 20;
constexpr int64_t kEndstreamBack = 21;
// Pairs of an object stream's head: each takes at least "1 0 " of the head.
constexpr int64_t kPairBytesMin = 4;

bool IsStreamWhite(char c) { return c == 0 || c == 9 || c == 12 || c == 32; }

// The leading run of digits and points of the bytes after a header.
Bytes VersionRun(ByteView bytes) {
  Bytes out;
  for (char c : bytes.substr(0, kVersionBytes)) {
    if ((c < '0' || c > '9') && c != '.') break;
    out += c;
  }
  return out;
}

bool AcceptedVersion(ByteView v) { return std::count(v.begin(), v.end(), '.') <= 1; }


// Where the array value of `key` in the outermost dictionary of `text` begins and ends
// (0-based, end after its "]"), found by skimming tokens without building objects.
bool ArrayValueSpan(ByteView text, ByteView key, size_t& begin, size_t& end) {
  size_t i = 0;
  int depth = 0;           // nesting of dictionaries and arrays
  bool afterKey = false;   // the last token at depth 1 was a key
  bool wanted = false;     // that key is `key`
  size_t arrayStart = ByteView::npos;
  const size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (IsWhite(c)) {
      ++i;
      continue;
    }
    if (c == '%') {
      while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
      continue;
    }
    if (depth == 0 && !(c == '<' && i + 1 < n && text[i + 1] == '<')) return false;  // not a dictionary
    const int tokenDepth = depth;
    size_t tokenStart = i;
    bool isKey = false;
    if (c == '(') {
      int open = 0;
      for (; i < n; ++i) {
        if (text[i] == '\\') {
          ++i;
        } else if (text[i] == '(') {
          ++open;
        } else if (text[i] == ')' && --open == 0) {
          ++i;
          break;
        }
      }
    } else if (c == '<' && i + 1 < n && text[i + 1] == '<') {
      ++depth;
      i += 2;
    } else if (c == '>' && i + 1 < n && text[i + 1] == '>') {
      --depth;
      i += 2;
      if (depth == 0) return false;  // the whole dictionary without the key
    } else if (c == '<') {
      while (i < n && text[i] != '>') ++i;
      ++i;
    } else if (c == '[') {
      ++depth;
      ++i;
      if (tokenDepth == 1 && wanted) arrayStart = tokenStart;
    } else if (c == ']') {
      --depth;
      ++i;
      if (depth == 1 && arrayStart != ByteView::npos) {
        begin = arrayStart;
        end = i;
        return true;
      }
    } else if (c == '/') {
      ++i;
      while (i < n && !IsWhite(text[i]) && !IsDelimiter(text[i])) ++i;
      isKey = tokenDepth == 1 && !afterKey;
      if (isKey) wanted = text.substr(tokenStart + 1, i - tokenStart - 1) == key;
    } else {
      ++i;
      while (i < n && !IsWhite(text[i]) && !IsDelimiter(text[i])) ++i;
    }
    if (depth < 1) return false;
    if (tokenDepth == 1) {
      // The key's value is something other than an array.
      if (afterKey && wanted && c != '[') return false;
      afterKey = isKey;
    }
  }
  return false;
}

}  // namespace

TSmartPDFReader::TSmartPDFReader(TKavrelWideFileStream& stream) : stream_(stream) {
  structure_.ResolveReference = [this](TPDFIndRef*, int32_t number, int32_t) { return ResolveHook(number); };
  // Address space only: pages are touched as the table grows into them, and a table of
  // up to this many entries (or offsets) is never copied.
  dense_.reserve(kDenseTableFloor);
  offsets_.Reserve(kDenseTableFloor);
  int64_t size = stream_.Size();
  fileSize_ = size > 0 ? size : 0;

  ReadHeader();
  if (Status != kReaderReady) return;

  int64_t startXRef = 0;
  try {
    TPDFXRefReader finder(stream_);
    startXRef = finder.FindStartXRef();
  } catch (const std::exception&) {
    startXRef = 0;
  }
  if (startXRef <= 0) {
    Status = kReaderNoXRef;
    return;
  }

  bool readOk = ReadSections(startXRef, 0);
  // Offsets that count from a header preceded by other bytes.
  if (highest_ == 0 && headerOffset_ > 0) {
    std::vector<TSmartPDFEntry> keepDense = std::move(dense_);
    auto keepOutliers = std::move(outliers_);
    std::vector<TPDFDictionary*> keepTrailers = std::move(trailers_);
    TKVLSortedInt64List keepOffsets = offsets_;
    const size_t keepStored = stored_;
    ClearTable();
    bool again = ReadSections(startXRef, headerOffset_);
    if (highest_ > 0) {
      headerRelative_ = true;
      readOk = again;
    } else {
      dense_ = std::move(keepDense);
      outliers_ = std::move(keepOutliers);
      trailers_ = std::move(keepTrailers);
      offsets_ = std::move(keepOffsets);
      stored_ = keepStored;
    }
  }
  tableLength_ = int64_t(highest_) + 1;

  RepairShiftedTable();
  offsets_.Sort();

  if (trailers_.empty() || !readOk) {
    Status = kReaderNoXRef;
    return;
  }
  MainTrailer = trailers_.front();
  Encrypted = MainTrailer->Get("Encrypt", false) != nullptr;
}

TSmartPDFReader::~TSmartPDFReader() = default;

// ---- opening ----------------------------------------------------------------------------

void TSmartPDFReader::ReadHeader() {
  Bytes head = ReadAt(0, kInspectHeaderWindow);
  const size_t pdf = head.find(kPdfHeader);
  const size_t ps = head.find(kPsHeader);
  if (pdf == Bytes::npos && ps == Bytes::npos) {
    Status = kReaderNoHeader;
    return;
  }
  headerOffset_ = pdf == Bytes::npos ? -1 : int64_t(pdf);
  bool found = false;
  if (pdf != Bytes::npos) {
    Bytes v = VersionRun(ByteView(head).substr(pdf + kPdfHeader.size()));
    if (v.size() >= 4 && v[1] == '.' && v[3] == '.') v.resize(3);
    if (AcceptedVersion(v)) {
      Version = v;
      found = true;
    }
  }
  if (ps != Bytes::npos) {
    ByteView after = ByteView(head).substr(ps + kPsHeader.size(), kPsVersionWindow);
    size_t at = after.find("PDF-");
    if (at != ByteView::npos) {
      size_t from = ps + kPsHeader.size() + at + 4;
      Bytes v = VersionRun(ByteView(head).substr(std::min(from, head.size())));
      if (AcceptedVersion(v)) {
        Version = v;
        found = true;
      }
    }
  }
  if (!found) Status = kReaderNoHeader;
}

void TSmartPDFReader::ClearTable() {
  dense_.clear();
  dense_.reserve(kDenseTableFloor);
  outliers_.clear();
  trailers_.clear();
  offsets_.Clear();
  offsets_.Reserve(kDenseTableFloor);
  stored_ = 0;
  highest_ = 0;
}

bool TSmartPDFReader::ReadSections(int64_t startXRef, int64_t baseOffset) {
  highest_ = 0;
  section_ = 0;
  pendingXRefStm_ = -1;
  hybridOwner_ = 0;
  TPDFXRefReader reader(stream_);
  reader.BaseOffset = baseOffset;
  reader.OnEntry = [this](int32_t number, int32_t second, char kind, int64_t position) {
    OnEntry(number, second, kind, position);
  };
  reader.OnTrailer = [this](const Bytes& text) { OnTrailer(text); };
  reader.OnSection = [this](int64_t offset) { OnSection(offset); };
  try {
    return reader.ReadSection(startXRef);
  } catch (const std::exception&) {
    return false;
  }
}

void TSmartPDFReader::OnSection(int64_t offset) {
  if (offset < 0) return;  // a section that failed
  ++section_;
  // A hybrid file's classic table lists the objects of its object streams as free; the
  // cross-reference stream its trailer names holds their real entries. Those may replace
  // the free entries of that one table, never those of a newer section.
  hybridOwner_ = offset == pendingXRefStm_ ? pendingOwner_ : 0;
  pendingXRefStm_ = -1;
}

void TSmartPDFReader::OnEntry(int32_t number, int32_t second, char kind, int64_t position) {
  if (number < 0) return;
  highest_ = std::max(highest_, number);
  if (position > fileSize_) {
    kind = 'n';
    position = 0;
    second = 0;
  }
  if (kind == 'n') offsets_.Add(position);
  if (number == 0) return;
  // Kept to 16 bits: the section budget stays far below, and a saturated count only
  // blurs which section is whose in a file of absurdly many.
  const auto section = uint16_t(std::min<int32_t>(section_, UINT16_MAX));
  TSmartPDFEntry entry{position, second, section, kind};
  TSmartPDFEntry* slot = Slot(number);
  if (slot) {
    if (hybridOwner_ != 0 && slot->Kind == 'f' && slot->Section == std::min<int32_t>(hybridOwner_, UINT16_MAX) && kind != 'f') *slot = entry;
    return;  // the newest section's entry wins, whatever its kind
  }
  Store(number, entry);
}

TSmartPDFEntry* TSmartPDFReader::Slot(int32_t number) {
  if (number < 0) return nullptr;
  if (size_t(number) < dense_.size()) {
    TSmartPDFEntry& e = dense_[size_t(number)];
    return e.Kind != 0 ? &e : nullptr;
  }
  auto it = outliers_.find(number);
  return it == outliers_.end() ? nullptr : &it->second;
}

const TSmartPDFEntry* TSmartPDFReader::Entry(int32_t number) const {
  return const_cast<TSmartPDFReader*>(this)->Slot(number);
}

void TSmartPDFReader::Store(int32_t number, const TSmartPDFEntry& entry) {
  const size_t n = size_t(number);
  ++stored_;
  if (n >= dense_.size()) {
    // The dense part may cover numbers up to about twice the entries stored.
    const size_t limit = std::max(kDenseTableFloor, 2 * stored_);
    if (n < limit) {
      size_t grown = std::min(limit, std::max(n + 1, dense_.size() * 2));
      dense_.resize(grown);
      for (auto it = outliers_.begin(); it != outliers_.end();) {
        if (size_t(it->first) < grown) {
          dense_[size_t(it->first)] = it->second;
          it = outliers_.erase(it);
        } else {
          ++it;
        }
      }
    }
  }
  if (n < dense_.size())
    dense_[n] = entry;
  else
    outliers_.emplace(number, entry);
}

void TSmartPDFReader::OnTrailer(const Bytes& text) {
  TPDFDictionary* dict = As<TPDFDictionary>(structure_.Parse(text));
  if (!dict) return;
  trailers_.push_back(dict);
  pendingXRefStm_ = -1;
  if (TPDFNumeric* stm = As<TPDFNumeric>(dict->Get("XRefStm", false))) {
    pendingXRefStm_ = stm->AsInt64(-1);
    pendingOwner_ = section_;
  }
}

// A table written one number too high: object 1 holds the head of the free list and the
// entry of object 2 points at "1 0 obj".
void TSmartPDFReader::RepairShiftedTable() {
  if (tableLength_ <= 2) return;
  const TSmartPDFEntry* one = Slot(1);
  const TSmartPDFEntry* two = Slot(2);
  if (!one || one->Position != 0 || one->Second != 65535 || !two) return;
  int64_t at = two->Position;
  if (headerRelative_ && __builtin_add_overflow(at, headerOffset_, &at)) return;
  if (ReadAt(at, 7) != "1 0 obj") return;

  std::vector<std::pair<int32_t, TSmartPDFEntry>> all;
  all.reserve(stored_);
  for (size_t n = 0; n < dense_.size(); ++n)
    if (dense_[n].Kind != 0) all.emplace_back(int32_t(n), dense_[n]);
  for (const auto& [number, e] : outliers_) all.emplace_back(number, e);
  const int32_t last = int32_t(tableLength_ - 1);
  dense_.clear();
  outliers_.clear();
  stored_ = 0;
  // Entry i takes entry i + 1's contents; the last entry keeps its own as well.
  for (const auto& [number, e] : all) {
    if (number >= 2) Store(number - 1, e);
    if (number == last) Store(number, e);
  }
}

// ---- reading objects ----------------------------------------------------------------------

Bytes TSmartPDFReader::ReadAt(int64_t position, int64_t count) {
  if (position < 0 || count <= 0 || position >= fileSize_) return {};
  count = std::min({count, fileSize_ - position, kObjectTextMax});
  if (stream_.Seek(position, TSeekOrigin::Beginning) != position) return {};
  Bytes out(size_t(count), '\0');
  size_t done = 0;
  while (done < out.size()) {
    int64_t n = stream_.Read(out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  out.resize(done);
  return out;
}

Bytes TSmartPDFReader::TextFromFile(const TSmartPDFEntry& entry, int64_t limit, TTextRest* rest) {
  const int64_t position = entry.Position;
  int64_t end = fileSize_;
  if (offsets_.Count() > 0) {
    int64_t next = offsets_.NextAbove(position);
    if (next > position) end = next;
  }
  int64_t shift = headerRelative_ ? headerOffset_ : 0;
  int64_t from, to;
  if (__builtin_add_overflow(position, shift, &from) || __builtin_add_overflow(end, shift, &to)) return {};
  to = std::min(to, fileSize_);
  const int64_t count = std::min(to - from, limit);
  if (rest != nullptr) *rest = count < to - from ? TTextRest{from + count, to} : TTextRest{};
  Bytes text = ReadAt(from, count);

  // Pointed at the tail of the previous object: drop it up to its "endobj". Cut in place:
  // the last object's text runs to the end of the file and may be long.
  size_t endobj = text.find("endobj");
  if (endobj != Bytes::npos && text.find("obj") == endobj + 3) text.erase(0, endobj + 6);
  size_t obj = text.find("obj");
  if (obj == Bytes::npos) return {};
  text.erase(0, obj + 3);
  return text;
}

bool TSmartPDFReader::RestContains(const TTextRest& rest, ByteView word) {
  constexpr int64_t kWindow = int64_t(64) << 10;
  const int64_t overlap = int64_t(word.size()) - 1;
  for (int64_t at = std::max<int64_t>(0, rest.From - overlap); at < rest.To; at += kWindow - overlap) {
    const Bytes block = ReadAt(at, std::min(kWindow, rest.To - at));
    if (block.find(word) != Bytes::npos) return true;
    if (int64_t(block.size()) < std::min(kWindow, rest.To - at)) return false;
  }
  return false;
}

TSmartPDFReader::TObjectStream& TSmartPDFReader::LoadObjectStream(int32_t number) {
  auto [it, inserted] = objectStreams_.try_emplace(number);
  TObjectStream& os = it->second;
  if (!inserted) return os;
  // An object stream never lies in another one (that includes one naming itself).
  if (IsCompressed(number)) return os;

  TPDFStream* stream = As<TPDFStream>(GetObject(number, structure_));
  if (!stream) return os;
  TPDFDictionary* dict = stream->StreamDict;
  TPDFName* type = As<TPDFName>(dict->Get("Type", true));
  TPDFNumeric* n = As<TPDFNumeric>(dict->Get("N", true));
  TPDFNumeric* first = As<TPDFNumeric>(dict->Get("First", true));
  if (!type || type->NameBytes != "ObjStm" || !n || !first) return os;
  if (Encrypted && OnDecryptObjectStream) OnDecryptObjectStream(number, stream);
  try {
    stream->Decoded(os.Data, ObjectStreamOutputCap(stream->Raw().size()));
  } catch (const std::exception&) {
    return os;
  }
  os.First = std::max<int64_t>(0, first->AsInt64(0));
  const int64_t count = n->AsInt64(0);
  const int64_t headBytes = std::min<int64_t>(os.First, int64_t(os.Data.size()));
  if (count <= 0 || count > headBytes / kPairBytesMin + 1) return os;

  // The head "number offset number offset ...", parsed once per object stream.
  TPDFStructure scratch;
  Bytes head = "[ " + os.Data.substr(0, size_t(headBytes)) + " ]";
  TPDFArray* pairs = As<TPDFArray>(scratch.Parse(head));
  if (!pairs || pairs->Count() < 2 * count) return os;
  os.Pairs.reserve(size_t(count));
  auto integer = [&](int i) {
    TPDFNumeric* v = As<TPDFNumeric>(pairs->Item(i));
    return v ? v->AsInt64(0) : 0;
  };
  for (int64_t k = 0; k < count; ++k) {
    int64_t objectNumber = integer(int(2 * k));
    os.Pairs.emplace_back(objectNumber >= 0 && objectNumber <= INT32_MAX ? int32_t(objectNumber) : -1,
                          integer(int(2 * k + 1)));
  }
  os.Usable = true;
  return os;
}

Bytes TSmartPDFReader::TextFromObjectStream(const TSmartPDFEntry& entry, int32_t number) {
  if (entry.Position <= 0 || entry.Position > INT32_MAX || entry.Second < 0) return {};
  TObjectStream& os = LoadObjectStream(int32_t(entry.Position));
  if (!os.Usable || size_t(entry.Second) >= os.Pairs.size()) return {};
  const size_t k = size_t(entry.Second);
  if (os.Pairs[k].first != number) return {};
  int64_t start, end = int64_t(os.Data.size());
  if (__builtin_add_overflow(os.Pairs[k].second, os.First, &start) || start < 0) return {};
  if (k + 1 < os.Pairs.size() && __builtin_add_overflow(os.Pairs[k + 1].second, os.First, &end)) return {};
  end = std::min<int64_t>(end, int64_t(os.Data.size()));
  if (start >= end) return {};
  return os.Data.substr(size_t(start), size_t(end - start));
}

Bytes TSmartPDFReader::GetObjectText(int32_t number) {
  if (number <= 0 || number >= tableLength_) return {};
  const TSmartPDFEntry* entry = Slot(number);
  // A number never reported would read the bytes before the first object, which hold
  // no object; they are not read at all (they may be many after a hostile first offset).
  if (!entry || entry->Kind == 'f') return {};
  if (entry->Kind == 'c') return TextFromObjectStream(*entry, number);
  return TextFromFile(*entry);
}

bool TSmartPDFReader::IsCompressed(int32_t number) const {
  if (number <= 0 || number >= tableLength_) return false;
  const TSmartPDFEntry* e = Entry(number);
  return e && e->Kind == 'c';
}

bool TSmartPDFReader::LocateStreamData(ByteView text, size_t after, TPDFDictionary* dict, size_t& start,
                                       int64_t& length) {
  if (!dict || after > text.size() || text.size() - after < kStreamTailMin) return false;
  // The keyword, not the tail of an "endstream" that follows a dictionary without data.
  size_t s = text.find("stream", after);
  while (s != ByteView::npos && s >= 3 && text.compare(s - 3, 3, "end") == 0) s = text.find("stream", s + 6);
  if (s == ByteView::npos) return false;
  size_t i = s + 6;
  while (i < text.size() && IsStreamWhite(text[i])) ++i;
  if (i < text.size() && text[i] == '\r') {
    ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  } else if (i < text.size() && text[i] == '\n') {
    ++i;
  } else {
    return false;
  }
  start = i;

  TPDFNumeric* len = As<TPDFNumeric>(dict->Get("Length", true));
  if (!len) return false;
  length = std::max<int64_t>(0, len->AsInt64(0));

  const int64_t size = int64_t(text.size());
  int64_t e;  // 0-based position right after the data
  if (__builtin_add_overflow(int64_t(start), length, &e) || e >= size) {
    e = size - (kEndstreamBack + 1);
    for (int64_t p = size - 1; p >= size - kEndstreamSlack && p >= 0; --p)
      if (text.compare(size_t(p), 9, "endstream") == 0) {
        e = p;
        break;
      }
    if (e < 0) e = 0;
  }
  auto at = [&](int64_t p) { return p >= 0 && p < size ? text[size_t(p)] : '\x01'; };
  if (IsStreamWhite(at(e))) ++e;
  if (at(e) == 'n') --e;
  if (at(e) == '\r') ++e;
  if (at(e) == '\n') ++e;

  size_t found = text.find("endstream", size_t(std::max<int64_t>(0, e)));
  if (found != ByteView::npos) {
    length += int64_t(found) - e;
    return true;
  }
  for (int64_t p = e - 1; p >= e - kEndstreamBack && p >= 0; --p)
    if (text.compare(size_t(p), 9, "endstream") == 0) return true;
  return false;
}

TPDFObject* TSmartPDFReader::ParseObject(int32_t number, TPDFStructure& structure) {
  // An object's text runs to the next object (the last one's to the end of the file) but
  // the object itself is mostly short: a prefix is parsed first and kept when it gives
  // what the whole text would, a dictionary or array closed inside it with no "stream"
  // keyword anywhere after it.
  const TSmartPDFEntry* entry = number > 0 && number < tableLength_ ? Slot(number) : nullptr;
  if (entry != nullptr && entry->Kind == 'n') {
    TTextRest rest;
    const Bytes text = TextFromFile(*entry, kParsePrefix, &rest);
    if (!rest.Cut()) return ParseText(text, structure);
    if (!text.empty()) {
      size_t consumed = 0;
      TPDFObject* obj = structure.ParseAt(text, 1, consumed);
      if ((As<TPDFDictionary>(obj) != nullptr || As<TPDFArray>(obj) != nullptr) && consumed < text.size() &&
          text.find("stream", consumed) == Bytes::npos && !RestContains(rest, "stream"))
        return obj;
      obj->Discard();
    }
  }
  return ParseText(GetObjectText(number), structure);
}

TPDFObject* TSmartPDFReader::ParseText(const Bytes& text, TPDFStructure& structure) {
  if (text.empty()) return nullptr;
  size_t consumed = 0;
  TPDFObject* obj = structure.ParseAt(text, 1, consumed);
  TPDFDictionary* dict = As<TPDFDictionary>(obj);
  size_t start = 0;
  int64_t length = 0;
  if (dict && text.find("stream", consumed) != Bytes::npos &&
      LocateStreamData(text, consumed, dict, start, length)) {
    size_t n = size_t(std::min<int64_t>(length, int64_t(text.size() - start)));
    return structure.NewStreamWith(dict, text.substr(start, n));
  }
  return obj;
}

TPDFObject* TSmartPDFReader::GetObject(int32_t number, TPDFStructure& structure) {
  // An object met again while it is being read (a stream whose /Length leads back to
  // it), or a chain of objects too long: no object.
  if (depth_ >= kReaderMaxDepth || std::find(active_.begin(), active_.end(), number) != active_.end())
    return nullptr;
  active_.push_back(number);
  ++depth_;
  TPDFObject* obj = nullptr;
  try {
    obj = ParseObject(number, structure);
  } catch (...) {
    active_.pop_back();
    --depth_;
    throw;
  }
  active_.pop_back();
  --depth_;
  return obj;
}

TPDFObject* TSmartPDFReader::GetObject(int32_t number) {
  for (const auto& [n, obj] : cache_)
    if (n == number) return obj;
  // Refused for depth: nothing is cached, since the object may be readable from a
  // shallower place.
  if (depth_ >= kReaderMaxDepth || std::find(active_.begin(), active_.end(), number) != active_.end())
    return nullptr;
  TPDFObject* obj = GetObject(number, structure_);
  if (cache_.size() >= kObjectCacheCapacity) cache_.pop_front();
  cache_.emplace_back(number, obj);
  return obj;
}

TPDFObject* TSmartPDFReader::ResolveHook(int32_t number) { return GetObject(number); }

TPDFDictionary* TSmartPDFReader::GetDictionaryWithoutArray(int32_t number, ByteView key) {
  // A prefix of the text first: enough when the dictionary and the token after it lie
  // inside it. Otherwise a longer one, up to the whole text, which decides as for any
  // object.
  const TSmartPDFEntry* entry = number > 0 && number < tableLength_ ? Slot(number) : nullptr;
  const bool inFile = entry != nullptr && entry->Kind == 'n';
  int64_t limit = kSkimPrefix;
  TTextRest rest;
  Bytes text = inFile ? TextFromFile(*entry, limit, &rest) : GetObjectText(number);
  for (;;) {
    const bool cut = rest.Cut();
    size_t begin = 0, end = 0;
    const bool skim = text.size() >= kSkimTextMin && ArrayValueSpan(text, key, begin, end);
    // Streams keep their full parse: the skimmed text would lose the stream data.
    if (!cut && (!skim || text.find("stream") != Bytes::npos)) return As<TPDFDictionary>(GetObject(number));
    if (skim && (!cut || text.find("stream") == Bytes::npos)) {
      text.replace(begin, end - begin, "[]");
      if (depth_ >= kReaderMaxDepth) return nullptr;
      ++depth_;
      size_t consumed = 0;
      auto* dict = As<TPDFDictionary>(structure_.ParseAt(text, 1, consumed));
      --depth_;
      size_t next = consumed;
      while (next < text.size() && IsWhite(text[next])) ++next;
      // A prefix proves enough once the token after the dictionary shows in full (and
      // so would show "stream").
      if (!cut || (dict != nullptr && next + 6 <= text.size())) return dict;
    }
    limit = limit < kObjectTextMax / 4 ? limit * 4 : INT64_MAX;
    text = TextFromFile(*entry, limit, &rest);
  }
}

// ---- trailers --------------------------------------------------------------------------------

TPDFDictionary* TSmartPDFReader::FindTrailerDictionary(ByteView key) {
  auto valueIn = [&](TPDFDictionary* trailer) -> TPDFObject* {
    if (!trailer) return nullptr;
    TPDFObject* v = trailer->Get(key, false);
    if (TPDFIndRef* ref = As<TPDFIndRef>(v)) v = GetObject(ref->RefNumber);
    return v;
  };
  TPDFObject* value = valueIn(MainTrailer);
  for (size_t i = 0; !value && i < trailers_.size(); ++i) value = valueIn(trailers_[i]);
  return As<TPDFDictionary>(value);
}

TPDFIndRef* TSmartPDFReader::FindTrailerReference(ByteView key) {
  TPDFObject* value = MainTrailer ? MainTrailer->Get(key, false) : nullptr;
  for (size_t i = 0; !value && i < trailers_.size(); ++i) value = trailers_[i]->Get(key, false);
  return As<TPDFIndRef>(value);
}

}  // namespace pagelume
