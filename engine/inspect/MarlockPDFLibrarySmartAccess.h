// The inspection reader: opens a PDF file for reading its properties without loading
// the document. It checks the header, takes the cross-reference entries and trailers
// from the cross-reference reader, and afterwards parses single objects on demand,
// straight from the file: an object's text runs from its offset to the next object's
// offset, or comes out of its object stream.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/objects/MarlockPDFLibraryContainers.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

class TKavrelWideFileStream;

// Reader status.
inline constexpr uint8_t kReaderReady = 0;
inline constexpr uint8_t kReaderNoHeader = 1;
inline constexpr uint8_t kReaderNoXRef = 2;

// Bytes searched for the header at the start of the file.
inline constexpr int64_t kInspectHeaderWindow = 1024;
// Objects kept parsed; older ones drop out of the cache (the structure keeps them).
inline constexpr size_t kObjectCacheCapacity = 100;
// Nested object look-ups (an indirect /Length, references resolved while reading one
// object): a chain of objects that point at each other ends here.
inline constexpr int kReaderMaxDepth = 32;
// The text of one object is read up to this many bytes; the rest of a larger one is cut.
inline constexpr int64_t kObjectTextMax = int64_t(256) << 20;
// Objects of at least this many bytes are read without an array nobody needs.
inline constexpr size_t kSkimTextMin = 4096;
// A skimmed dictionary is first looked for in this much of its object's text, then in
// four times as much, and so on: the text runs to the next object, and the last object's
// to the end of the file.
inline constexpr int64_t kSkimPrefix = int64_t(256) << 10;
// Other objects are parsed from this much of their text first; the rest is only searched
// for a "stream" keyword, which would make the object a stream.
inline constexpr int64_t kParsePrefix = int64_t(64) << 10;
// The entry table is a dense array while object numbers stay near the number of entries;
// numbers far beyond that (a hostile 2147483647) go to a hash map, so the table never
// grows with a number the file merely names.
inline constexpr size_t kDenseTableFloor = 1 << 16;

// One cross-reference entry: for kind 'n' the offset and generation, for 'c' the object
// stream's number and the index in it, for 'f' the stored values. Kind 0: no entry.
struct TSmartPDFEntry {
  int64_t Position = 0;
  int32_t Second = 0;
  uint16_t Section = 0;  // which section reported it (hybrid files, see the .cpp)
  char Kind = 0;
};

class TSmartPDFReader {
 public:
  // Runs the whole opening sequence; afterwards Status, Version, Encrypted, MainTrailer
  // and the trailers are set. The stream must outlive the reader.
  explicit TSmartPDFReader(TKavrelWideFileStream& stream);
  ~TSmartPDFReader();
  TSmartPDFReader(const TSmartPDFReader&) = delete;
  TSmartPDFReader& operator=(const TSmartPDFReader&) = delete;

  // The raw text of the object after its "obj" keyword, or empty.
  Bytes GetObjectText(int32_t number);
  // The parsed object (cached, owned by the reader); null when it has no text.
  TPDFObject* GetObject(int32_t number);
  // The same, parsed into `structure` and not cached.
  TPDFObject* GetObject(int32_t number, TPDFStructure& structure);
  // The dictionary object `number` with the array value of its top-level `key` read as
  // an empty array, for a large object whose array is not needed (a page-tree root's
  // /Kids of 20,000 pages). Not cached; an object that is small, not a dictionary, or
  // whose value is no array is parsed in full (through the cache).
  TPDFDictionary* GetDictionaryWithoutArray(int32_t number, ByteView key);
  TPDFDictionary* FindTrailerDictionary(ByteView key);
  TPDFIndRef* FindTrailerReference(ByteView key);
  // True when 0 < number < TableLength() and the entry's kind is 'c'.
  bool IsCompressed(int32_t number) const;

  // The entry of `number`, or null when there is none.
  const TSmartPDFEntry* Entry(int32_t number) const;
  // Highest object number reported, plus one.
  int64_t TableLength() const { return tableLength_; }
  int64_t FileSize() const { return fileSize_; }
  int64_t HeaderOffset() const { return headerOffset_; }
  bool HeaderRelative() const { return headerRelative_; }
  const std::vector<TPDFDictionary*>& Trailers() const { return trailers_; }
  TPDFStructure& Structure() { return structure_; }

  Bytes Version;
  TPDFDictionary* MainTrailer = nullptr;
  uint8_t Status = kReaderReady;
  bool Encrypted = false;
  // Called before an object stream is decoded when the file is encrypted.
  std::function<void(int32_t number, TPDFStream* stream)> OnDecryptObjectStream;

 private:
  struct TObjectStream {
    bool Usable = false;
    Bytes Data;  // decrypted and decoded
    int64_t First = 0;
    std::vector<std::pair<int32_t, int64_t>> Pairs;  // object number, relative offset
  };

  void ReadHeader();
  bool ReadSections(int64_t startXRef, int64_t baseOffset);
  void OnEntry(int32_t number, int32_t second, char kind, int64_t position);
  void OnTrailer(const Bytes& text);
  void OnSection(int64_t offset);
  TSmartPDFEntry* Slot(int32_t number);
  void Store(int32_t number, const TSmartPDFEntry& entry);
  void RepairShiftedTable();
  void ClearTable();

  Bytes ReadAt(int64_t position, int64_t count);
  // The part of an object's text in the file that a limited read left out.
  struct TTextRest {
    int64_t From = 0;
    int64_t To = 0;
    bool Cut() const { return From < To; }
  };
  // `limit`: read no more than this; `rest` gets what was left out.
  Bytes TextFromFile(const TSmartPDFEntry& entry, int64_t limit = INT64_MAX, TTextRest* rest = nullptr);
  // Whether `word` occurs in the rest (or across its start), read in small windows.
  bool RestContains(const TTextRest& rest, ByteView word);
  TPDFObject* ParseText(const Bytes& text, TPDFStructure& structure);
  Bytes TextFromObjectStream(const TSmartPDFEntry& entry, int32_t number);
  TObjectStream& LoadObjectStream(int32_t number);
  TPDFObject* ParseObject(int32_t number, TPDFStructure& structure);
  // Start and length of the stream data in `text` after a dictionary parsed up to
  // 0-based `after`; false when there is none.
  bool LocateStreamData(ByteView text, size_t after, TPDFDictionary* dict, size_t& start, int64_t& length);
  TPDFObject* ResolveHook(int32_t number);

  TKavrelWideFileStream& stream_;
  TPDFStructure structure_;
  std::vector<TPDFDictionary*> trailers_;
  TKVLSortedInt64List offsets_;

  std::vector<TSmartPDFEntry> dense_;
  std::unordered_map<int32_t, TSmartPDFEntry> outliers_;
  size_t stored_ = 0;
  int64_t tableLength_ = 0;
  int32_t highest_ = 0;

  // Hybrid files: the /XRefStm named by the latest classic trailer and the section
  // that trailer belongs to.
  int32_t section_ = 0;
  int64_t pendingXRefStm_ = -1;
  int32_t pendingOwner_ = 0;
  int32_t hybridOwner_ = 0;

  std::deque<std::pair<int32_t, TPDFObject*>> cache_;
  std::unordered_map<int32_t, TObjectStream> objectStreams_;
  int depth_ = 0;
  std::vector<int32_t> active_;  // objects being read, innermost last

  int64_t headerOffset_ = -1;
  bool headerRelative_ = false;
  int64_t fileSize_ = 0;
};

}  // namespace pagelume
