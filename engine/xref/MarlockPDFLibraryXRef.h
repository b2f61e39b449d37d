// The cross-reference reader: finds a file's cross-reference sections (classic
// tables and cross-reference streams), follows their /XRefStm and /Prev links and
// reports every entry and every trailer to its owner through events. It keeps no
// table of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_set>

#include "engine/objects/MarlockPDFLibraryTypes.h"
#include "engine/xref/MarlockPDFLibraryByteSource.h"

namespace pagelume {

class TKavrelWideFileStream;

// Sections followed through /Prev and /XRefStm links from the first one (bounds recursion).
inline constexpr int kXRefMaxChainDepth = 1000;
// Sections one reader reads at most; each offset is read once.
inline constexpr int kXRefMaxSections = 10000;
// Bytes one reader reads at most: this much plus kXRefReadBudgetPerByte per byte of the file.
inline constexpr int64_t kXRefReadBudgetBase = int64_t(64) << 20;
inline constexpr int64_t kXRefReadBudgetPerByte = 8;
// The head of a cross-reference stream is read in steps of this size, up to kXRefHeadMax.
inline constexpr int64_t kXRefHeadStep = 20480;
inline constexpr int64_t kXRefHeadMax = int64_t(1) << 20;
// Entries of one cross-reference stream read at most (one more than the highest object
// number PDF allows): its data is decoded no further, so a bomb stops there.
inline constexpr int64_t kXRefStreamEntriesMax = int64_t(1) << 23;

class TPDFXRefReader {
 public:
  // number, second value (generation or index), kind ('n', 'f', 'c' or ' '), position.
  using EntryEvent = std::function<void(int32_t number, int32_t second, char kind, int64_t position)>;
  // A trailer dictionary (or a cross-reference stream's dictionary) as PDF text.
  using TrailerEvent = std::function<void(const Bytes& text)>;
  // A section offset about to be read, or its negation after that section failed.
  using SectionEvent = std::function<void(int64_t offset)>;

  // Reads through an open file stream, which must outlive the reader.
  explicit TPDFXRefReader(TKavrelWideFileStream& stream);
  // Reads a file's bytes held in memory, which must outlive the reader.
  TPDFXRefReader(const char* image, uint64_t length);
  explicit TPDFXRefReader(ByteView image) : TPDFXRefReader(image.data(), image.size()) {}
  ~TPDFXRefReader();
  TPDFXRefReader(const TPDFXRefReader&) = delete;
  TPDFXRefReader& operator=(const TPDFXRefReader&) = delete;

  // The value after the last "startxref", or 0 when there is none.
  int64_t FindStartXRef();
  // Reads the section at `offset` and every section it links to; true when the whole
  // /Prev chain was read.
  bool ReadSection(int64_t offset);

  EntryEvent OnEntry;
  TrailerEvent OnTrailer;
  SectionEvent OnSection;

  bool XRefStreamSeen = false;  // a cross-reference stream was read
  bool XRefStmSeen = false;     // a classic trailer had a numeric /XRefStm
  int64_t LastPrev = -1;        // /Prev of the classic trailer handled last
  int64_t BaseOffset = 0;       // added to every position before reading
  int32_t SubsectionCount = 0;  // classic subsections read
  int32_t PrevCount = 0;        // /Prev links followed

 private:
  void Start();
  // `count` bytes at `position` + BaseOffset, clipped to the data.
  Bytes ReadAt(int64_t count, int64_t position);
  // Following a link recurses through Section, SectionContent and ClassicTrailer only;
  // the steps with large frames return before the next section is read.
  bool Section(int64_t offset, int depth);
  bool SectionContent(int64_t offset, int depth);
  enum class TSectionKind { None, Classic, Stream };
  TSectionKind Locate(int64_t offset, int64_t& position);
  int64_t ClassicEntries(int64_t cursor);
  bool ClassicTrailer(int64_t cursor, int depth);
  bool XRefStream(int64_t position, int64_t& prev);
  int64_t FindForward(ByteView keyword, int64_t from);

  std::unique_ptr<TKVLByteSource> source_;
  int64_t size_ = 0;
  int64_t readBudget_ = 0;
  int sectionsRead_ = 0;
  std::unordered_set<int64_t> seenSections_;
};

}  // namespace pagelume
