#include "fuzz/FuzzTargets.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/filters/MarlockPDFLibraryFilters.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryText.h"
#include "engine/xref/MarlockPDFLibraryXRef.h"

namespace pagelume::fuzz {

namespace {

// Output cap of the filter target: small, so that a bomb ends quickly.
constexpr size_t kFilterOutputCap = size_t(1) << 20;
// Stages of a filter chain the filter target builds at most.
constexpr int kFilterStagesMax = 4;
// Bytes of the filter target's header per stage: name, flags, colors, bits, columns (2).
constexpr size_t kStageHeaderSize = 6;
// Entries the cross-reference owner keeps; the rest are only counted.
constexpr size_t kKeptEntriesMax = size_t(1) << 20;

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

// A temp file of this process; the name is fixed per process and tag, so each run
// rewrites the same file instead of making new ones.
class ScratchFile {
 public:
  explicit ScratchFile(const char* tag) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    path_ = (dir / ("pagelume-fuzz-" + std::to_string(getpid()) + "-" + tag + ".pdf")).string();
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  void Write(const uint8_t* data, size_t size) const {
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) Fail("cannot write the scratch file", path_);
    if (size > 0 && std::fwrite(data, 1, size, f) != size) Fail("short write to the scratch file", path_);
    std::fclose(f);
  }
  void Remove() const { std::remove(path_.c_str()); }
  Text Name() const { return Utf8ToText(path_); }

 private:
  std::string path_;
};

ScratchFile& InputFile() {
  static ScratchFile file("in");
  return file;
}
ScratchFile& OutputFile() {
  static ScratchFile file("out");
  return file;
}

const char* const kFilterNames[] = {
    "FlateDecode", "LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "RunLengthDecode", "Fl",
    "A85",         "AHx",       "LZW",           "RL",             "DCTDecode",       "Crypt",
};
const double kPredictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 0, 3, -1, 1e10};
const double kBits[] = {8, 1, 2, 4, 16, 0, 3, 32, -8, 1e10};

TPDFDictionary* StageParams(TPDFStructure& s, const uint8_t* h) {
  uint8_t flags = h[1];
  TPDFDictionary* params = s.NewDictionary();
  params->Put("Predictor", s.NewNumber(kPredictors[(flags >> 1) % std::size(kPredictors)]));
  params->Put("Colors", s.NewNumber(h[2] & 0x80 ? double(h[2]) : 1 + (h[2] & 3)));
  params->Put("BitsPerComponent", s.NewNumber(kBits[h[3] % std::size(kBits)]));
  double columns = double(h[4] << 8 | h[5]);
  if (flags & 0x40) columns = flags & 0x80 ? -columns : columns * 65536.0 * 256.0;
  params->Put("Columns", s.NewNumber(columns));
  if (flags & 0x20) params->Put("EarlyChange", s.NewNumber(flags & 0x10 ? 0 : 1));
  return params;
}

}  // namespace

void FuzzParser(const uint8_t* data, size_t size) {
  ByteView text(reinterpret_cast<const char*>(data), size);
  TPDFStructure s;
  size_t consumed = 0;
  TPDFObject* first = s.ParseAt(text, 1, consumed);
  if (first == nullptr) Fail("ParseAt returned null");
  if (consumed > size) Fail("ParseAt consumed more than the text");
  Bytes written;
  try {
    written = first->ToText();
  } catch (const EPDFError&) {
    return;  // a number too large to write
  }
  // A pair that could not be written is a comment, which the reparse drops.
  if (written.find("% bug ") != Bytes::npos) return;
  TPDFStructure other;
  TPDFObject* back = other.Parse(written);
  Bytes again;
  try {
    again = back->ToText();
  } catch (const EPDFError&) {
    Fail("written text does not write again", written);
  }
  if (again != written) Fail("writing the reparsed object gives other text", written + "\n----\n" + again);

  // Objects after the first one, as a file's body is read.
  for (int i = 0; i < 8 && consumed > 0 && consumed < size; ++i) {
    size_t next = 0;
    s.ParseAt(text, consumed + 1, next);
    if (next > size - consumed) Fail("ParseAt consumed more than the rest of the text");
    consumed += next;
  }
}

void FuzzFilters(const uint8_t* data, size_t size) {
  if (size < 1) return;
  uint8_t head = data[0];
  int stages = 1 + head % kFilterStagesMax;
  size_t headerSize = 1 + size_t(stages) * kStageHeaderSize;
  if (size < headerSize) return;
  TPDFStructure s;
  TPDFDictionary* dict = s.NewDictionary();
  TPDFArray* names = s.NewEmptyArray();
  TPDFArray* parms = s.NewEmptyArray();
  TPDFDictionary* firstParams = nullptr;
  for (int i = 0; i < stages; ++i) {
    const uint8_t* h = data + 1 + size_t(i) * kStageHeaderSize;
    names->Append(s.NewName(kFilterNames[h[0] % std::size(kFilterNames)]));
    TPDFObject* params = h[1] & 1 ? static_cast<TPDFObject*>(StageParams(s, h)) : s.NewNull();
    if (i == 0) firstParams = As<TPDFDictionary>(params);
    parms->Append(params);
  }
  // One filter may stand as a bare name with a bare dictionary.
  bool bare = stages == 1 && (head & 0x10);
  dict->Put("Filter", bare ? names->Item(0) : names);
  const char* parmsKey = head & 0x20 ? "DP" : "DecodeParms";
  if (bare) {
    if (firstParams != nullptr) dict->Put(parmsKey, firstParams);
  } else {
    dict->Put(parmsKey, parms);
  }
  Bytes raw(reinterpret_cast<const char*>(data + headerSize), size - headerSize);
  TPDFStream* stream = s.NewStreamWith(dict, std::move(raw));
  Bytes out;
  try {
    DecodeStreamData(*stream, out, kFilterOutputCap);
  } catch (const EPDFError&) {
    return;
  }
  if (out.size() > kFilterOutputCap) Fail("decoded data is larger than the cap");
}

void FuzzXRef(const uint8_t* data, size_t size) {
  ByteView image(reinterpret_cast<const char*>(data), size);
  struct Entry {
    int32_t number, second;
    char kind;
    int64_t position;
  };
  std::vector<Entry> entries;
  size_t entryCount = 0;
  size_t trailers = 0;
  auto run = [&](int64_t offset, bool fromStartXRef) {
    TPDFXRefReader reader(image);
    reader.OnEntry = [&](int32_t number, int32_t second, char kind, int64_t position) {
      // A classic entry's kind is whatever byte stands there; the owners sort it out.
      ++entryCount;
      if (entries.size() < kKeptEntriesMax) entries.push_back({number, second, kind, position});
    };
    reader.OnTrailer = [&](const Bytes& text) { ++trailers; };
    reader.OnSection = [&](int64_t) {};
    if (fromStartXRef) offset = reader.FindStartXRef();
    reader.ReadSection(offset);
  };
  run(0, true);
  // A second reader starts where the input's last two bytes point, as a wrong
  // startxref would send it.
  if (size >= 2) run(int64_t(data[size - 2] << 8 | data[size - 1]) % int64_t(size), false);
}

void FuzzInspect(const uint8_t* data, size_t size) {
  const ScratchFile& file = InputFile();
  file.Write(data, size);
  Text name = file.Name();
  TKavrel engine;
  bool repairable = false;
  for (TextView password : {TextView(u""), TextView(kFuzzPassword)}) {
    int32_t handle = engine.OpenInspection(name, password);
    if (handle == 0) {
      repairable = repairable || engine.ErrorCode == kErrorStructure;
      continue;
    }
    for (int32_t i = 0; i < kInspectionItemCount; ++i) engine.GetInspectionItem(handle, i);
    if (engine.CloseInspection(handle) != 1) Fail("an open inspection list does not close");
  }
  if (repairable) {
    int32_t handle = engine.OpenRepairedInspection(name, u"");
    if (handle != 0) {
      for (int32_t i = 0; i < kInspectionItemCount; ++i) engine.GetInspectionItem(handle, i);
      engine.CloseInspection(handle);
    }
  }
  Bytes out;
  engine.ShowObject(name, u"", 0, false, out);
  engine.ShowObject(name, u"", 1, true, out);
}

void FuzzLoadSave(const uint8_t* data, size_t size) {
  const ScratchFile& in = InputFile();
  const ScratchFile& out = OutputFile();
  in.Write(data, size);
  TKavrel engine;
  TextView password = u"";
  if (!engine.LoadDocument(in.Name(), password)) {
    if (engine.ErrorCode != kErrorPassword) return;
    password = kFuzzPassword;
    if (!engine.LoadDocument(in.Name(), password)) return;
  }
  for (int32_t key = 0; key <= 10; ++key) engine.ReadInfoField(key);
  engine.SelectedPageWidth();
  engine.SelectedPageHeight();
  engine.ReadPageLayout();
  engine.ReadPageMode();
  for (int32_t option = 1; option <= 16; ++option) engine.ReadViewerFlag(option);

  const Text title = u"Fuzz (title) \u00e9\u20ac";
  bool titleWritten = engine.WriteInfoField(2, title) == 1;
  engine.WriteInfoField(1, u"Author");
  engine.WriteInfoField(9, u"subject");
  engine.WritePageLayout(3);
  engine.WritePageMode(2);
  engine.WriteViewerFlag(1, 1);
  engine.WriteViewerFlag(7, 1);
  engine.WriteOpenScript(u"");
  if (!engine.SaveDocument(out.Name())) {
    out.Remove();
    return;
  }

  TKavrel reload;
  if (!reload.LoadDocument(out.Name(), password) && !reload.LoadDocument(out.Name(), u""))
    Fail("the saved file does not load", "error " + std::to_string(reload.ErrorCode));
  if (titleWritten && reload.ReadInfoField(2) != title) Fail("the saved title does not read back");
  out.Remove();
}

TargetFunction FindTarget(const std::string& name) {
  if (name == "parser") return FuzzParser;
  if (name == "filters") return FuzzFilters;
  if (name == "xref") return FuzzXRef;
  if (name == "inspect") return FuzzInspect;
  if (name == "loadsave") return FuzzLoadSave;
  return nullptr;
}

}  // namespace pagelume::fuzz
