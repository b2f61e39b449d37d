// Loading a document: header, cross-reference data (or reconstruction), the object
// table, and the lazy reading of single objects from the file bytes or from object
// streams.
#include "engine/document/MarlockPDFLibraryDocument.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/document/MarlockPDFLibraryXMP.h"
#include "engine/filters/MarlockPDFLibraryOutputCap.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/security/MarlockPDFLibraryCrypto.h"
#include "engine/xref/MarlockPDFLibraryRebuild.h"
#include "engine/xref/MarlockPDFLibraryXRef.h"

namespace pagelume {

namespace {

// A table of more entries than this that all have offset 0 is not believed.
constexpr size_t kZeroOffsetEntriesMax = 5;
// Room the entry list starts with: address space only until entries fill it, and a table
// of up to this many entries is never copied while it is read.
constexpr size_t kInitialEntryCapacity = size_t(1) << 16;
// Room left in the object table for the objects a load and the first edits add (page 1's
// engine content stream, metadata, information), so adding them does not move the table.
constexpr size_t kAddedObjectsRoom = 64;
// Whitespace between "endstream" and the end of the stream data that is tolerated.
constexpr int64_t kEndstreamWhiteMax = 50;
// A file is read in pieces of this size when its size is unknown.
constexpr size_t kReadChunk = size_t(1) << 20;
// Files at least this large are read into memory asked to be backed by huge pages.
constexpr size_t kHugePageBufferMin = size_t(8) << 20;
constexpr uintptr_t kHugePageSize = uintptr_t(2) << 20;

// Asks the kernel to back the whole pages of a fresh buffer with huge pages: filling a
// 100 MB buffer page by page costs more in page faults (about 25,000 of them) than in
// copying, and a huge page takes one fault for 512 small ones. Only a hint.
void AdviseHugePages(char* data, size_t size) {
  if (size < kHugePageBufferMin) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHugePageSize - 1) & ~(kHugePageSize - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePageSize - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// The whitespace allowed around the stream keywords: no line ends.
bool IsBlank(char c) { return c == 0 || c == 9 || c == 12 || c == 32; }

bool At(ByteView t, int64_t i, char c) { return i >= 0 && i < int64_t(t.size()) && t[size_t(i)] == c; }
bool HasAt(ByteView t, int64_t i, ByteView word) {
  return i >= 0 && uint64_t(i) + word.size() <= t.size() && t.substr(size_t(i), word.size()) == word;
}

// A run of digits and periods as a decimal integer; 0 when it is not one.
int64_t RunValue(ByteView run) {
  if (run.empty() || run.size() > 18) return 0;
  int64_t v = 0;
  for (char c : run) {
    if (!IsDigit(c)) return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The header "number generation keyword" read from 0-based `from`.
struct THeader {
  int64_t Number = 0;
  int64_t Generation = 0;
  bool IsObj = false;
  size_t Next = 0;  // where the body starts
};

// Every skip is bounded, so the tries around a wrong offset cost little on any input.
THeader ReadObjectHeader(ByteView t, size_t from) {
  THeader h;
  size_t p = from;
  auto limit = [&] { return std::min(t.size(), p + size_t(kHeaderSkipMax)); };
  auto skipWhite = [&] {
    for (const size_t end = limit(); p < end && IsWhite(t[p]);) ++p;
  };
  auto readRun = [&](int64_t& value) {
    for (const size_t end = limit(); p < end && !IsDigit(t[p]) && t[p] != '.';) ++p;
    const size_t start = p;
    for (const size_t end = limit(); p < end && (IsDigit(t[p]) || t[p] == '.');) ++p;
    value = RunValue(t.substr(start, p - start));
  };
  readRun(h.Number);
  readRun(h.Generation);
  skipWhite();
  if (HasAt(t, int64_t(p), "obj")) {
    const size_t after = p + 3;
    if (after >= t.size() || IsWhite(t[after])) {
      h.IsObj = true;
    } else if (t[after] == '(' || t[after] == '[' || t[after] == '/' || HasAt(t, int64_t(after), "<<")) {
      h.IsObj = true;
    }
    if (h.IsObj) p = after;
  }
  skipWhite();
  h.Next = p;
  return h;
}

// First occurrence of `word` in t[from, end), or -1.
int64_t FindIn(ByteView t, ByteView word, int64_t from, int64_t end) {
  if (from < 0) from = 0;
  end = std::min<int64_t>(end, int64_t(t.size()));
  if (from >= end) return -1;
  const size_t p = t.substr(size_t(from), size_t(end - from)).find(word);
  return p == ByteView::npos ? -1 : from + int64_t(p);
}

// The first "endstream" in t[from, end), or -1 when "endobj" comes first or neither does.
int64_t FindEndstream(ByteView t, int64_t from, int64_t end) {
  for (int64_t p = from;;) {
    const int64_t e = FindIn(t, "end", p, end);
    if (e < 0) return -1;
    if (HasAt(t, e, "endstream") && e + 9 <= end) return e;
    if (HasAt(t, e, "endobj") && e + 6 <= end) return -1;
    p = e + 1;
  }
}

// Sets a loaded stream's /Length without marking anything as edited.
void StoreLength(TPDFStructure& s, TPDFDictionary* dict, size_t length) {
  if (auto* n = As<TPDFNumeric>(dict->Get("Length", false))) {
    n->Amount = double(length);
    return;
  }
  const bool modified = dict->Modified;
  TPDFNumeric* n = s.NewNumber(double(length));
  n->SetModified(false);
  dict->Put("Length", n);
  dict->Modified = modified;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPDFIndObj

TPDFObject* TPDFIndObj::GetBody() {
  if (!Loaded) {
    if (Loading) return nullptr;
    LoadBody();
    if (!Loaded) return nullptr;
  }
  if (Body != nullptr && !Decrypted) Owner->DecryptIndirectObject(*this);
  return Body;
}

void TPDFIndObj::LoadBody() {
  if (Loaded || Loading) return;
  TPDFDocument& doc = *Owner;
  if (doc.loadDepth_ >= kLoadDepthMax) return;
  // Loading may resolve other records but never adds one, so `this` stays valid.
  struct TGuard {
    TPDFIndObj& r;
    int& depth;
    TGuard(TPDFIndObj& rec, int& d) : r(rec), depth(d) {
      r.Loading = true;
      ++depth;
    }
    ~TGuard() {
      r.Loading = false;
      --depth;
    }
  } guard(*this, doc.loadDepth_);
  Body = nullptr;
  if (InObjectStream) {
    doc.LoadFromObjectStream(*this);
  } else {
    doc.LoadFromFile(*this);
  }
  if (Body == nullptr) Body = doc.Structure.NewNull();
  Body->AssignNumber(Number, Generation);
  Loaded = true;
}

Bytes TPDFIndObj::IndirectText() {
  if (!Loaded) LoadBody();
  Bytes out = IntToText(Number);
  out += ' ';
  out += IntToText(Generation);
  out += " obj\n";
  if (Body != nullptr) {
    Body->ToText(out);
  } else {
    out += "null";
  }
  if (out.back() != '\n') out += '\n';
  out += "endobj\n";
  return out;
}

// ---------------------------------------------------------------------------
// TPDFDocument: creation and loading

TPDFDocument::TPDFDocument() {
  InstallHooks();
  Trailer = Structure.NewDictionary();
  PageTree = std::make_unique<TPDFPageTree>(this, nullptr);
  Metadata = std::make_unique<TMarlockPDFLibraryXMP>();
}

TPDFDocument::~TPDFDocument() {
  // The page tree and the object-stream caches point into the arena.
  PageTree.reset();
  Structure.Reset();
  ObjectStreams.clear();
}

void TPDFDocument::InstallHooks() {
  Structure.ResolveReference = [this](TPDFIndRef*, int32_t number, int32_t) { return ResolveNumber(number); };
  Structure.RegisterIndirect = [this](TPDFObject*, TPDFObject* obj) -> std::pair<int32_t, int32_t> {
    TPDFIndObj* rec = AddIndirect(obj);
    return {rec->Number, rec->Generation};
  };
}

void TPDFDocument::ClearLoadState() {
  PageTree.reset();
  Structure.Reset();
  ObjectStreams.clear();
  Trailer = Structure.NewDictionary();
  ObjectTable.clear();
  NumberIndex.clear();
  highestNumber_ = 0;
  freeNumberFloor_ = 0;
  sortedCount_ = 0;
  XRefEntries.clear();
  SeenNumbers.Clear();
  Version.clear();
  Reconstructed = false;
  loadDepth_ = 0;
  security_ = TPDFSecurityHandler(TSecurityPath::Document);
  cryptParsed_ = false;
  userFlag_ = ownerFlag_ = false;
  acceptedPassword_.reset();
  PageTree = std::make_unique<TPDFPageTree>(this, nullptr);
}

void TPDFDocument::Reset() {
  ClearLoadState();  // frees the objects before the bytes they borrow from
  FileBytes.clear();
  FileBytes.shrink_to_fit();
  source_ = {};
  FileSize = 0;
  ModDateSet = false;
  FileName.clear();
  Metadata = std::make_unique<TMarlockPDFLibraryXMP>();
}

int TPDFDocument::LoadFromStream(TKavrelWideFileStream& stream, TextView password) {
  Bytes bytes;
  try {
    const int64_t size = stream.Size();
    if (stream.Seek(0, TSeekOrigin::Beginning) != 0) return Reset(), kNotPdf;
    if (size > 0) {
      // One read into one buffer: the whole file is kept for the document's life.
      bytes.reserve(size_t(size));
      AdviseHugePages(bytes.data(), size_t(size));
      bytes.resize(size_t(size));
      size_t done = 0;
      while (done < bytes.size()) {
        const int64_t n = stream.Read(bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
      }
      bytes.resize(done);
    } else if (size < 0) {
      for (;;) {
        const size_t done = bytes.size();
        bytes.resize(done + kReadChunk);
        const int64_t n = stream.Read(bytes.data() + done, kReadChunk);
        bytes.resize(done + size_t(n > 0 ? n : 0));
        if (n <= 0) break;
      }
    }
  } catch (const std::exception&) {
    Reset();
    return kNotPdf;
  }
  return LoadFromBytes(std::move(bytes), password);
}

int TPDFDocument::LoadFromBytes(Bytes bytes, TextView password) {
  try {
    Reset();
    FileBytes = std::move(bytes);
    FileSize = int64_t(FileBytes.size());
    source_ = FileBytes;
    int result = OpenStructure(password, false);
    if (result == kNotPdf) {
      // Junk of any length in front of the header: read again from the header on.
      const size_t header = FileBytes.find("%PDF-");
      if (header != Bytes::npos && header != 0) {
        ClearLoadState();
        source_ = ByteView(FileBytes).substr(header);
        result = OpenStructure(password, false);
      }
    }
    if (result != kLoaded) {
      Reset();
      return result;
    }
    const Bytes packet = ReadMetadataText();
    if (!packet.empty()) Metadata->LoadPacket(packet);
    return kLoaded;
  } catch (const std::exception&) {
    Reset();
    return kNotPdf;
  }
}

int TPDFDocument::OpenStructure(TextView password, bool rebuild) {
  if (!ReadHeader()) return kNotPdf;
  if (!ReadCrossReference(rebuild)) return kNotPdf;

  TPDFObject* encrypt = Trailer->Get("Encrypt", false);
  if (As<TPDFDictionary>(encrypt) != nullptr || As<TPDFIndRef>(encrypt) != nullptr) {
    // A file without /ID stays encrypted: its keys were formed with an empty
    // identifier and stay valid for saving.
    LogIn(password);
    if (!userFlag_ && !ownerFlag_) {
      // Table offsets that lead nowhere can hide the /Encrypt dictionary itself.
      if (!rebuild && !Reconstructed && EncryptionState() == kEncryptUnusable) {
        ClearLoadState();
        const int again = OpenStructure(password, true);
        if (again == kLoaded) return again;
      }
      return kWrongPassword;
    }
  }

  TPDFDictionary* root = GetPagesRoot();
  if (root == nullptr) {
    // Cross-reference data that lead to no page tree: try the objects as they stand.
    if (!rebuild && !Reconstructed) {
      ClearLoadState();
      return OpenStructure(password, true);
    }
    return kNotPdf;
  }
  PageTree = std::make_unique<TPDFPageTree>(this, root);
  EmptyLinearization();
  return kLoaded;
}

bool TPDFDocument::ReadHeader() {
  const ByteView window = source_.substr(0, kHeaderWindow);
  auto versionAt = [&](size_t from, Bytes& out) {
    const ByteView ten = from < source_.size() ? source_.substr(from, 10) : ByteView();
    size_t n = 0;
    while (n < ten.size() && (IsDigit(ten[n]) || ten[n] == '.')) ++n;
    Bytes run(ten.substr(0, n));
    if (run.size() >= 4 && run[1] == '.' && run[3] == '.') run.resize(3);
    if (!IsDecimalText(run)) return false;
    out = run;
    return true;
  };
  bool found = false;
  const size_t pdf = window.find("%PDF-");
  if (pdf != ByteView::npos) found = versionAt(pdf + 5, Version);
  const size_t ps = window.find("%!PS-Adobe-");
  if (ps != ByteView::npos) {
    const ByteView twenty = source_.substr(ps + 11, 20);
    const size_t p = twenty.find("PDF-");
    if (p != ByteView::npos && versionAt(ps + 11 + p + 4, Version)) found = true;
  }
  return found;
}

bool TPDFDocument::ReadCrossReference(bool rebuild) {
  XRefEntries.clear();
  XRefEntries.reserve(kInitialEntryCapacity);
  Trailer->Clear();
  bool trailerSet = false;
  bool ok = false;
  {
    TPDFXRefReader reader(source_);
    // A free entry hides older definitions of its number, but not those of the
    // cross-reference stream its own classic section names (hybrid files list
    // compressed objects as free in the table).
    std::vector<int32_t> pendingFree;
    int64_t sectionXRefStm = -1;
    reader.OnSection = [&](int64_t offset) {
      if (offset < 0 || offset == sectionXRefStm) return;
      for (int32_t n : pendingFree) SeenNumbers.MarkNew(uint32_t(n));
      pendingFree.clear();
    };
    reader.OnEntry = [&](int32_t number, int32_t second, char kind, int64_t position) {
      if (number < 0 || number > kObjectNumberMax) return;
      if (kind == 'f') {
        pendingFree.push_back(number);
        freeNumberFloor_ = std::max(freeNumberFloor_, number);
        return;
      }
      if (kind != 'n' && kind != 'c') return;
      if (!SeenNumbers.MarkNew(uint32_t(number))) return;
      TPDFXRefEntry e;
      e.Number = number;
      e.InUse = true;
      if (kind == 'n') {
        e.Generation = second;
        e.Offset = position;
      } else {
        e.Compressed = true;
        e.StreamNumber = position >= 0 && position <= kObjectNumberMax ? int32_t(position) : 0;
        e.StreamIndex = second;
      }
      XRefEntries.push_back(e);
    };
    reader.OnTrailer = [&](const Bytes& text) {
      TPDFStructure scratch;
      auto* dict = As<TPDFDictionary>(scratch.Parse(text));
      sectionXRefStm = -1;
      if (dict != nullptr) {
        if (auto* x = As<TPDFNumeric>(dict->Get("XRefStm", false))) sectionXRefStm = x->AsInt64(-1);
      }
      if (trailerSet || dict == nullptr) return;
      auto* parsed = As<TPDFDictionary>(Structure.Parse(text));
      if (parsed == nullptr) return;
      for (const char* key : {"Prev", "Type", "W", "Index", "Length", "Filter"}) parsed->Remove(key);
      Trailer = parsed;
      trailerSet = true;
    };
    if (!rebuild) ok = reader.ReadSection(reader.FindStartXRef());
  }

  // A classic table written one number too high.
  if (!XRefEntries.empty()) {
    const TPDFXRefEntry& first = XRefEntries.front();
    auto* size = As<TPDFNumeric>(Trailer->Get("Size", false));
    if (first.Number == 2 && !first.Compressed && size != nullptr &&
        size->Amount == double(XRefEntries.size() + 1) && HasAt(source_, first.Offset, "1 0 obj")) {
      for (TPDFXRefEntry& e : XRefEntries) --e.Number;
    }
  }
  BuildObjectTable();
  if (XRefEntries.size() > kZeroOffsetEntriesMax &&
      std::all_of(XRefEntries.begin(), XRefEntries.end(), [](const TPDFXRefEntry& e) { return e.Offset == 0; }))
    ok = false;
  if (!trailerSet) ok = false;
  if (ok) return true;

  // Reconstruction from the object headers in the raw bytes.
  TKVLRawAnalyser analyser;
  analyser.Analyse(source_);
  XRefEntries.clear();
  // When a number occurs several times the last definition in the file wins.
  TKVLSortedUniqueIntegerList seen;
  for (int32_t i = analyser.ObjectCount - 1; i >= 0; --i) {
    const int32_t number = analyser.ObjectNumber(i);
    const int32_t generation = analyser.GenerationNumber(i);
    if (number < 0 || number > kObjectNumberMax || generation < 0) continue;
    if (!seen.MarkNew(uint32_t(number))) continue;
    TPDFXRefEntry e;
    e.Number = number;
    e.Generation = generation;
    e.Offset = analyser.ObjectOffset(i);
    e.InUse = true;
    XRefEntries.push_back(e);
  }
  std::reverse(XRefEntries.begin(), XRefEntries.end());
  if (auto* dict = As<TPDFDictionary>(Structure.Parse(analyser.TrailerText))) {
    Trailer = dict;
    trailerSet = true;
  }
  BuildObjectTable();
  Reconstructed = true;
  if (!trailerSet) trailerSet = SynthesizeTrailer();
  return trailerSet;
}

// A file cut short (an interrupted download) has lost its trailer with its tail: the
// catalog found among the objects stands in for it. Not for an encrypted file, whose
// trailer alone holds /Encrypt and /ID; without them its strings would be read and
// written as they are stored.
bool TPDFDocument::SynthesizeTrailer() {
  int32_t catalog = 0;
  for (size_t i = 0; i < ObjectTable.size(); ++i) {
    auto* d = As<TPDFDictionary>(ObjectTable[i].GetBody());
    if (d == nullptr) continue;
    if (d->TypeName() == "Catalog" && d->Get("Pages", false) != nullptr) catalog = ObjectTable[i].Number;
    if (d->GetName("Filter") != nullptr && d->Get("O", false) != nullptr && d->Get("U", false) != nullptr)
      return false;
  }
  if (catalog == 0) return false;
  Trailer->Put("Size", Structure.NewNumber(double(int64_t(highestNumber_) + 1)));
  Trailer->Put("Root", Structure.NewRef(catalog, 0));
  return true;
}

void TPDFDocument::BuildObjectTable() {
  std::vector<const TPDFXRefEntry*> used;
  used.reserve(XRefEntries.size());
  for (const TPDFXRefEntry& e : XRefEntries) {
    if (e.InUse && e.Generation >= 0 && e.Number >= 0) used.push_back(&e);
  }
  std::stable_sort(used.begin(), used.end(),
                   [](const TPDFXRefEntry* a, const TPDFXRefEntry* b) { return a->Offset < b->Offset; });
  ObjectTable.clear();
  ObjectTable.reserve(used.size() + kAddedObjectsRoom);
  for (const TPDFXRefEntry* e : used) {
    TPDFIndObj& rec = ObjectTable.emplace_back(this, e->Number, e->Generation);
    rec.Offset = e->Compressed ? 0 : e->Offset;
    rec.InObjectStream = e->Compressed;
    rec.StreamNumber = e->StreamNumber;
    rec.StreamIndex = e->StreamIndex;
  }
  sortedCount_ = ObjectTable.size();
  RebuildIndex();
}

void TPDFDocument::RebuildIndex() {
  NumberIndex.clear();
  NumberIndex.reserve(ObjectTable.size());
  highestNumber_ = 0;
  for (size_t i = 0; i < ObjectTable.size(); ++i) {
    NumberIndex.emplace_back(ObjectTable[i].Number, int32_t(i));
    highestNumber_ = std::max(highestNumber_, ObjectTable[i].Number);
  }
  std::stable_sort(NumberIndex.begin(), NumberIndex.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

void TPDFDocument::EmptyLinearization() {
  const ByteView window = source_.substr(0, kHeaderWindow);
  if (window.find("/Linearized") == ByteView::npos) return;
  const size_t obj = window.find(" obj");
  if (obj == ByteView::npos) return;
  // "N G obj": walk back over the generation to the number.
  int64_t i = int64_t(obj);
  auto skipBack = [&](bool digits) {
    while (i > 0 && (digits ? IsDigit(window[size_t(i - 1)]) : IsWhite(window[size_t(i - 1)]))) --i;
  };
  skipBack(false);
  skipBack(true);
  skipBack(false);
  const int64_t end = i;
  skipBack(true);
  const int64_t number = RunValue(window.substr(size_t(i), size_t(end - i)));
  if (end == i || number <= 0 || number > kObjectNumberMax) return;
  TPDFIndObj* rec = FindObject(int32_t(number));
  auto* dict = rec ? As<TPDFDictionary>(rec->GetBody()) : nullptr;
  if (dict != nullptr && dict->Get("Linearized", false) != nullptr) dict->Clear();
}

// ---------------------------------------------------------------------------
// Reading one object

int64_t TPDFDocument::ObjectBound(int64_t offset) const {
  const int64_t size = int64_t(source_.size());
  auto begin = ObjectTable.begin();
  auto end = begin + std::ptrdiff_t(sortedCount_);
  auto next = std::upper_bound(begin, end, offset, [](int64_t v, const TPDFIndObj& r) { return v < r.Offset; });
  if (next == end) return size;
  return std::min(size, next->Offset + kObjectTailSlack);
}

void TPDFDocument::LoadFromFile(TPDFIndObj& record) {
  const int64_t size = int64_t(source_.size());
  if (record.Offset <= 0 || record.Offset > size) return;
  const ByteView text = source_.substr(0, size_t(ObjectBound(record.Offset)));
  auto matches = [&](const THeader& h) {
    return h.IsObj && h.Number == record.Number && h.Generation == record.Generation;
  };
  // The 1-based position Offset is the byte in front of the header.
  THeader h = ReadObjectHeader(text, size_t(record.Offset - 1));
  if (!matches(h)) {
    bool found = false;
    for (int64_t pos = record.Offset - 6; pos <= record.Offset + 5 && !found; ++pos) {
      const int64_t p = std::max<int64_t>(pos, 1);
      if (p - 1 >= int64_t(text.size())) break;
      h = ReadObjectHeader(text, size_t(p - 1));
      found = matches(h);
    }
    if (!found) return;
  }
  record.Body = ParseBody(record, text, h.Next, true);
}

TPDFObject* TPDFDocument::ParseBody(TPDFIndObj& record, ByteView t, size_t pos, bool borrow) {
  if (pos >= t.size()) return nullptr;
  size_t consumed = 0;
  TPDFObject* obj = Structure.ParseAt(t, pos + 1, consumed);
  auto* dict = As<TPDFDictionary>(obj);
  if (dict == nullptr) return obj;
  const int64_t size = int64_t(t.size());
  const int64_t e = int64_t(pos + consumed);
  if (size - e < 13) return obj;
  const int64_t keyword = FindIn(t, "stream", e, std::min(size, e + kStreamKeywordSearchMax));
  const int64_t endobj = FindIn(t, "endobj", e, keyword < 0 ? std::min(size, e + kStreamKeywordSearchMax) : keyword);
  if (keyword < 0 || endobj >= 0) return obj;
  int64_t s = keyword + 6;
  while (s < size && IsBlank(t[size_t(s)])) ++s;
  if (At(t, s, '\r') && At(t, s + 1, '\n')) {
    s += 2;
  } else if (At(t, s, '\r') || At(t, s, '\n')) {
    s += 1;
  } else {
    return obj;
  }

  // The length: a number, a reference to one, or (absent) the distance to "endstream".
  int64_t length = -1;
  bool store = false;
  TPDFObject* lengthValue = dict->Get("Length", false);
  if (auto* ref = As<TPDFIndRef>(lengthValue)) {
    lengthValue = ResolveNumber(ref->RefNumber);
    if (lengthValue == nullptr) store = true;
  } else if (lengthValue == nullptr) {
    store = true;
  }
  if (auto* n = As<TPDFNumeric>(lengthValue)) length = n->AsInt64(-1);
  if (store) {
    const int64_t end = FindIn(t, "endstream", s + 1, size);
    if (end < 0) return obj;
    length = end - s;
  }

  int64_t dataEnd = -1;  // exclusive
  if (length >= 0 && length <= size - s) {
    int64_t p = s + length;
    if (At(t, p, '\n')) ++p;
    if (At(t, p, '\r')) ++p;
    if (At(t, p, '\n')) ++p;
    for (int64_t k = 0; k < kEndstreamWhiteMax && p < size && IsBlank(t[size_t(p)]); ++k) ++p;
    if (HasAt(t, p, "endstream")) dataEnd = s + length;
  }
  if (dataEnd < 0) {
    // The length is wrong: cut the data at "endstream", without the line end in front.
    const int64_t end = FindEndstream(t, s, size);
    if (end < 0) return obj;
    int64_t b = end - 1;
    while (b >= s && IsBlank(t[size_t(b)])) --b;
    if (b >= s && t[size_t(b)] == '\n') --b;
    if (b >= s && t[size_t(b)] == '\r') --b;
    if (b >= s && t[size_t(b)] == '\n') --b;
    dataEnd = b + 1;
    store = false;
  }
  const ByteView data = t.substr(size_t(s), size_t(dataEnd - s));
  TPDFStream* stream =
      borrow ? Structure.NewStreamBorrowing(dict, data) : Structure.NewStreamWith(dict, Bytes(data));
  StoreLength(Structure, dict, data.size());
  stream->SetModified(false);
  return stream;
}

Bytes TPDFDocument::SourceText(const TPDFIndObj& record) {
  Bytes head = IntToText(record.Number) + " " + IntToText(record.Generation) + " obj\r";
  const Bytes fallback = head + "null\rendobj";
  TPDFIndObj* holder = FindObject(record.StreamNumber);
  auto* stream = holder ? As<TPDFStream>(holder->GetBody()) : nullptr;
  if (stream == nullptr || stream->StreamDict->TypeName() != "ObjStm") return fallback;
  auto* cache = dynamic_cast<TPDFObjectStream*>(stream->Attachment);
  if (cache == nullptr) {
    auto made = std::make_unique<TPDFObjectStream>();
    cache = made.get();
    auto numberOf = [&](ByteView key) {
      auto* n = As<TPDFNumeric>(stream->StreamDict->Get(key, true));
      const int64_t v = n ? n->AsInt64(0) : 0;
      return v > 0 ? v : 0;
    };
    cache->FirstOffset = numberOf("First");
    cache->PairCount = numberOf("N");
    try {
      stream->Decoded(cache->DecodedData, ObjectStreamOutputCap(stream->Raw().size()));
    } catch (const std::exception&) {
      cache->DecodedData.clear();
    }
    const ByteView head0 = ByteView(cache->DecodedData).substr(0, size_t(std::min<int64_t>(
                                                                   cache->FirstOffset, int64_t(cache->DecodedData.size()))));
    TPDFStructure scratch;
    Bytes arrayText = "[ ";
    arrayText.append(head0);
    arrayText += " ]";
    if (auto* a = As<TPDFArray>(scratch.Parse(arrayText))) {
      cache->OffsetTable.reserve(size_t(a->Count()));
      for (TPDFObject* item : a->Items) {
        auto* n = As<TPDFNumeric>(item);
        if (n != nullptr && std::isfinite(n->Amount) && std::trunc(n->Amount) == n->Amount &&
            std::fabs(n->Amount) < 9e15) {
          cache->OffsetTable.emplace_back(int64_t(n->Amount));
        } else {
          cache->OffsetTable.emplace_back(std::nullopt);
        }
      }
    }
    stream->Attachment = cache;
    ObjectStreams.push_back(std::move(made));
  }
  const TPDFObjectStream& os = *cache;
  const int64_t index = record.StreamIndex;
  const int64_t pairs = os.PairCount;
  const auto& table = os.OffsetTable;
  if (os.FirstOffset <= 0 || pairs <= 0 || index < 0 || index >= pairs || int64_t(table.size()) < 2 * pairs)
    return fallback;
  const auto& number = table[size_t(2 * index)];
  const auto& offset = table[size_t(2 * index + 1)];
  if (!number || *number != record.Number || !offset) return fallback;
  const int64_t dataSize = int64_t(os.DecodedData.size());
  int64_t end = dataSize;
  if (index < pairs - 1 && table[size_t(2 * index + 3)]) end = *table[size_t(2 * index + 3)];
  const int64_t start = os.FirstOffset + *offset;
  if (*offset < 0 || start >= dataSize || end <= *offset) return head;
  const int64_t count = std::min(end - *offset, dataSize - start);
  head.append(os.DecodedData, size_t(start), size_t(count));
  return head;
}

void TPDFDocument::LoadFromObjectStream(TPDFIndObj& record) {
  const Bytes text = SourceText(record);
  // The object stream was decrypted as a whole.
  record.Decrypted = true;
  const THeader h = ReadObjectHeader(text, 0);
  record.Body = ParseBody(record, text, h.Next, false);
}

// ---------------------------------------------------------------------------
// Object table

TPDFIndObj* TPDFDocument::FindObject(int32_t number) {
  auto it = std::lower_bound(NumberIndex.begin(), NumberIndex.end(), number,
                             [](const auto& e, int32_t n) { return e.first < n; });
  if (it == NumberIndex.end() || it->first != number) return nullptr;
  return &ObjectTable[size_t(it->second)];
}

TPDFObject* TPDFDocument::ResolveNumber(int32_t number) {
  TPDFIndObj* rec = FindObject(number);
  return rec ? rec->GetBody() : nullptr;
}

TPDFIndObj* TPDFDocument::AddIndirect(TPDFObject* object) {
  if (As<TPDFNumeric>(Trailer->Get("Size", false)) == nullptr) Trailer->Put("Size", Structure.NewNumber(1));
  const int32_t h = std::max(highestNumber_, freeNumberFloor_);
  if (h >= std::numeric_limits<int32_t>::max() - 1) throw EPDFError("No object number is left for a new object");
  const int32_t number = h + 1;
  TPDFIndObj& rec = ObjectTable.emplace_back(this, number, 0);
  rec.Body = object;
  rec.Loaded = true;
  rec.Decrypted = true;
  if (object != nullptr) object->AssignNumber(number, 0);
  // The new number is the highest, so appending keeps the index sorted.
  NumberIndex.emplace_back(number, int32_t(ObjectTable.size() - 1));
  highestNumber_ = number;
  Trailer->Put("Size", Structure.NewNumber(double(int64_t(h) + 2)));
  return &rec;
}

TPDFIndRef* TPDFDocument::MakeIndirect(TPDFObject* object) {
  TPDFIndObj* rec = AddIndirect(object);
  return Structure.NewRef(rec->Number, 0);
}

TPDFDictionary* TPDFDocument::GetCatalog() {
  if (auto* d = As<TPDFDictionary>(Trailer->Get("Root", true))) return d;
  TPDFDictionary* d = Structure.NewDictionary();
  Trailer->Put("Root", MakeIndirect(d));
  return d;
}

TPDFDictionary* TPDFDocument::GetInfo() {
  if (auto* d = As<TPDFDictionary>(Trailer->Get("Info", true))) return d;
  TPDFDictionary* d = Structure.NewDictionary();
  Trailer->Put("Info", MakeIndirect(d));
  return d;
}

TPDFDictionary* TPDFDocument::GetPagesRoot() {
  auto* pages = As<TPDFDictionary>(GetCatalog()->Get("Pages", true));
  if (pages == nullptr) return nullptr;
  const TPDFName* type = As<TPDFName>(pages->Get("Type", false));
  if (type == nullptr || type->NameBytes == "Pages") return pages;
  // A /Pages entry of the wrong type: the last /Pages dictionary of the table.
  TPDFDictionary* found = nullptr;
  for (size_t i = 0; i < ObjectTable.size(); ++i) {
    auto* d = As<TPDFDictionary>(ObjectTable[i].GetBody());
    if (d != nullptr && d->TypeName() == "Pages") found = d;
  }
  return found ? found : pages;
}

Bytes TPDFDocument::ReadMetadataText() {
  auto* stream = As<TPDFStream>(GetCatalog()->Get("Metadata", true));
  if (stream == nullptr || stream->StreamDict->TypeName() != "Metadata") return {};
  auto isXml = [&](ByteView key) {
    auto* n = As<TPDFName>(stream->StreamDict->Get(key, true));
    return n != nullptr && n->NameBytes == "XML";
  };
  if (!isXml("Subtype") && !isXml("SubType")) return {};
  try {
    // Not decoded past what the XMP reader takes, so that a bomb stops early.
    Bytes packet;
    stream->Decoded(packet, TMarlockPDFLibraryXMP::kPacketBytesMax + 1);
    return packet;
  } catch (const std::exception&) {
    return {};
  }
}

// ---------------------------------------------------------------------------
// A new document

Bytes TPDFDocument::NewFileId() const {
  // Any text that changes with the time serves; days since 1970 with fractions.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const double days = std::chrono::duration<double>(now).count() / 86400.0;
  char text[64];
  std::snprintf(text, sizeof text, "%.12f", days);
  return MD5OfBytes(text);
}

void TPDFDocument::CreateBlank() {
  Reset();
  Version = "1.4";
  TPDFStructure& s = Structure;
  TPDFDictionary* pages = s.NewDictionary();
  const int32_t pagesNumber = AddIndirect(pages)->Number;
  TPDFDictionary* page = s.NewDictionary();
  const int32_t pageNumber = AddIndirect(page)->Number;
  TPDFDictionary* catalog = s.NewDictionary();
  const int32_t catalogNumber = AddIndirect(catalog)->Number;
  TPDFDictionary* info = s.NewDictionary();
  const int32_t infoNumber = AddIndirect(info)->Number;

  page->Put("Type", s.NewName("Page"));
  page->Put("Parent", s.NewRef(pagesNumber, 0));
  page->Put("MediaBox", s.NewIntegerArray({0, 0, 612, 792}));
  page->Put("CropBox", s.NewIntegerArray({0, 0, 612, 792}));
  TPDFDictionary* resources = s.NewDictionary();
  resources->Put("ProcSet", s.NewArray({s.NewName("PDF"), s.NewName("Text"), s.NewName("ImageB"),
                                        s.NewName("ImageC"), s.NewName("ImageI")}));
  page->Put("Resources", resources);
  pages->Put("Type", s.NewName("Pages"));
  pages->Put("Count", s.NewNumber(1));
  pages->Put("Kids", s.NewArray({s.NewRef(pageNumber, 0)}));
  catalog->Put("Type", s.NewName("Catalog"));
  catalog->Put("Pages", s.NewRef(pagesNumber, 0));
  Trailer->Put("Root", s.NewRef(catalogNumber, 0));
  Trailer->Put("Info", s.NewRef(infoNumber, 0));
  const Bytes id = NewFileId();
  Trailer->Put("ID", s.NewArray({s.NewString(id, 1), s.NewString(id, 1)}));
  PageTree = std::make_unique<TPDFPageTree>(this, pages);
}

}  // namespace pagelume
