// The editable document: a whole PDF file held in memory, its objects reachable by
// number through the object table, parsed on first use and decrypted on first use
// when the file is encrypted.
//
// Memory: the file is read once into FileBytes; the data of parsed streams borrow
// from it instead of being copied, so FileBytes must outlive the arena (member order
// below) and never change while objects exist.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/objects/MarlockPDFLibraryContainers.h"
#include "engine/objects/MarlockPDFLibraryStructure.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"
#include "engine/security/MarlockPDFLibrarySecurity.h"

namespace pagelume {

class TKavrelWideFileStream;
class TPDFDocument;
class TPDFPageTree;
class TMarlockPDFLibraryXMP;

// An information entry's value as text: a text string decoded, a stream's data read as
// text; empty for anything else (or a stream that cannot be decoded).
Text InfoValueText(TPDFObject* value);

// Object numbers above this (the PDF implementation limit) are not taken into the
// table: the writer's table has one row per number up to the highest.
inline constexpr int32_t kObjectNumberMax = 8388607;
// Objects loaded inside one another's loading (a /Length naming another stream, an
// object stream inside an object stream, ...); deeper references resolve to nothing.
inline constexpr int kLoadDepthMax = 32;
// The header in front of an object may be preceded by at most this many bytes that
// are not digits.
inline constexpr int64_t kHeaderSkipMax = 1024;
// Between a dictionary and its "stream" keyword at most this many bytes are searched.
inline constexpr int64_t kStreamKeywordSearchMax = 4096;
// Searches inside one object end this far past the next object's recorded offset.
inline constexpr int64_t kObjectTailSlack = 4096;
// The header ("%PDF-") and the linearization mark are looked for in this many bytes.
inline constexpr size_t kHeaderWindow = 1024;

// One cross-reference entry collected during a load.
struct TPDFXRefEntry {
  int32_t Number = 0;
  int32_t Generation = 0;
  int64_t Offset = 0;
  bool InUse = false;
  bool Compressed = false;
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
};

// One row of the object table. Records live in a vector: a pointer to one stays valid
// until the next AddIndirect.
class TPDFIndObj {
 public:
  TPDFIndObj(TPDFDocument* owner, int32_t number, int32_t generation)
      : Owner(owner), Number(number), Generation(generation) {}

  // Loads the body on first use and decrypts it when the document is encrypted.
  TPDFObject* GetBody();
  // Parses the object from the file bytes or its object stream; never fails (an
  // unreadable object becomes a null object).
  void LoadBody();
  // "N G obj\n" + body + "\n" (unless present) + "endobj\n".
  Bytes IndirectText();

  TPDFDocument* Owner;
  int32_t Number;
  int32_t Generation;
  bool Loaded = false;
  bool Decrypted = false;
  bool InObjectStream = false;
  bool Loading = false;  // LoadBody is running for this record (cycle guard)
  TPDFObject* Body = nullptr;
  int64_t Offset = 0;  // byte offset of the header in the file; 0 for new objects
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
};

// A decoded object stream, kept on the stream object (its Attachment) and listed in
// the document's ObjectStreams.
class TPDFObjectStream : public TPDFAttachment {
 public:
  Bytes DecodedData;
  // The numbers of the stream's head; nullopt where an element is not a number.
  std::vector<std::optional<int64_t>> OffsetTable;
  int64_t FirstOffset = 0;
  int64_t PairCount = 0;
};

class TPDFDocument {
 public:
  // Load results.
  static constexpr int kLoaded = 0;
  static constexpr int kWrongPassword = 1;
  static constexpr int kNotPdf = 2;

  TPDFDocument();
  ~TPDFDocument();
  TPDFDocument(const TPDFDocument&) = delete;
  TPDFDocument& operator=(const TPDFDocument&) = delete;

  // Reads the stream from its start and loads the document: 0 loaded, 1 encrypted and
  // the password opens it neither as user nor as owner, 2 not readable as a PDF.
  int LoadFromStream(TKavrelWideFileStream& stream, TextView password);
  // The same over bytes already read (they become FileBytes).
  int LoadFromBytes(Bytes bytes, TextView password);
  // A new one-page US Letter document.
  void CreateBlank();
  // Forgets every object, the file bytes, the trailer, the table, the encryption state
  // and the page tree.
  void Reset();

  // ---- Object table ------------------------------------------------------------
  TPDFIndObj* FindObject(int32_t number);
  TPDFObject* ResolveNumber(int32_t number);
  TPDFIndObj* AddIndirect(TPDFObject* object);
  TPDFIndRef* MakeIndirect(TPDFObject* object);
  void RebuildIndex();
  // Highest object number in the table, 0 when empty.
  int32_t HighestNumber() const { return highestNumber_; }
  size_t ObjectCount() const { return ObjectTable.size(); }
  TPDFIndObj& ObjectAt(size_t i) { return ObjectTable[i]; }

  TPDFDictionary* GetCatalog();
  TPDFDictionary* GetInfo();
  TPDFDictionary* GetPagesRoot();
  // The decoded data of the catalog's XMP stream, or empty.
  Bytes ReadMetadataText();

  // ---- Writing (MarlockPDFLibraryWriter.cpp) ------------------------------------
  // Writes the whole document to `fileName` through a temporary file in the same
  // folder that replaces the target only once complete: false leaves an existing
  // target byte for byte as it was.
  bool SaveToFile(TextView fileName);
  // Writes the whole document from the stream's current position; false after an
  // error, with what was written so far left in the stream.
  bool WriteDocument(TKavrelWideFileStream& stream);
  // The same into `sink`, which gets the output piece by piece and answers whether it
  // stored the piece; FileSize becomes the number of bytes stored.
  bool WriteDocument(const std::function<bool(ByteView)>& sink);

  // ---- Encryption state (MarlockPDFLibraryDocCrypt.cpp) --------------------------
  // 0 not encrypted, 1 encrypted and recognised, 2 /Encrypt present but unusable.
  int EncryptionState();
  // Sets the user and owner flags for `password`.
  void LogIn(TextView password);
  bool UserLoggedIn() const { return userFlag_; }
  bool OwnerLoggedIn() const { return ownerFlag_; }
  const std::optional<Text>& AcceptedPassword() const { return acceptedPassword_; }
  // Decrypts the record's body in place once (first-use hook of GetBody).
  void DecryptIndirectObject(TPDFIndObj& record);
  // Encrypts the record's body in place for writing and clears its mark; GetBody
  // decrypts it again.
  void EncryptIndirectObject(TPDFIndObj& record);
  // For a record loaded but not yet decrypted, about to be written as read: mends the
  // strings and streams that would not decrypt, as decrypting and encrypting would.
  void ResealIndirectObject(TPDFIndObj& record);
  const TPDFSecurityHandler& Security() const { return security_; }

  // Editing (MarlockPDFLibraryInfoEdit.cpp) ----------------------------------------
  // Page layouts 0-5 (SinglePage ... TwoPageRight); kNoPageLayout: /PageLayout absent.
  static constexpr int kNoPageLayout = 6;
  // Stores `text` under the information key (Title, Author, ..., ModDate) and in the
  // matching XMP property, then refreshes the /Metadata stream. "dc:subject" and
  // "xmpMM:subject" reach the XMP packet only.
  void SetInfoField(ByteView key, TextView text);
  // The information dictionary's value as text (a stream's decoded data); empty when
  // absent or of another type.
  Text GetInfoField(ByteView key);
  void SetPageLayout(int index);
  int GetPageLayout();
  void SetPageMode(int index);
  int GetPageMode();
  // Makes /ViewerPreferences a direct dictionary (a referenced one is replaced) and
  // puts `value` (an object of this document's structure) last under `key`.
  void SetViewerPreference(ByteView key, TPDFObject* value);
  // The entry, references followed; null when absent.
  TPDFObject* GetViewerPreference(ByteView key);
  // Replaces /OpenAction by a JavaScript action running `script`.
  void SetOpenScript(TextView script);
  // Serialises the XMP packet and stores it in /Metadata (see StoreMetadata).
  void RefreshMetadata();
  // Writes the packet into the catalog's /Metadata stream, creating it when missing;
  // empty bytes never replace a stored packet.
  void StoreMetadata(ByteView packet);

  // ---- Fields ------------------------------------------------------------------
  // Declared before Structure: stream data of parsed objects borrow from it.
  Bytes FileBytes;
  Bytes Version;
  TPDFStructure Structure;
  TPDFDictionary* Trailer = nullptr;
  std::vector<TPDFXRefEntry> XRefEntries;
  TKVLSortedUniqueIntegerList SeenNumbers;
  std::vector<std::unique_ptr<TPDFObjectStream>> ObjectStreams;
  std::unique_ptr<TPDFPageTree> PageTree;
  std::unique_ptr<TMarlockPDFLibraryXMP> Metadata;
  double UnitScale = 1.0;
  bool ModDateSet = false;
  Text FileName;
  int64_t FileSize = 0;
  // True when the object table came from reconstruction instead of the file's
  // cross-reference data.
  bool Reconstructed = false;

 private:
  friend class TPDFIndObj;

  // Object table in write order; NumberIndex holds (number, position) sorted by number.
  std::vector<TPDFIndObj> ObjectTable;
  std::vector<std::pair<int32_t, int32_t>> NumberIndex;
  int32_t highestNumber_ = 0;
  // Highest number the cross-reference data list as free: new objects are numbered
  // above it, so a stale reference to a deleted object never reaches a new one.
  int32_t freeNumberFloor_ = 0;
  // Records [0, sortedCount_) are those built at load, ascending by offset.
  size_t sortedCount_ = 0;
  // The file from its "%PDF-" on; offsets count from its start.
  ByteView source_;
  int loadDepth_ = 0;

  void InstallHooks();
  void ClearLoadState();
  int OpenStructure(TextView password, bool rebuild);
  bool ReadHeader();
  bool ReadCrossReference(bool rebuild);
  bool SynthesizeTrailer();
  void BuildObjectTable();
  void EmptyLinearization();
  Bytes NewFileId() const;
  // The end of the bytes that may belong to the object at `offset`.
  int64_t ObjectBound(int64_t offset) const;
  void LoadFromFile(TPDFIndObj& record);
  void LoadFromObjectStream(TPDFIndObj& record);
  Bytes SourceText(const TPDFIndObj& record);
  TPDFObject* ParseBody(TPDFIndObj& record, ByteView text, size_t pos, bool borrow);

  // Encryption state.
  TPDFSecurityHandler security_{TSecurityPath::Document};
  bool cryptParsed_ = false;
  bool userFlag_ = false;
  bool ownerFlag_ = false;
  std::optional<Text> acceptedPassword_;
};

}  // namespace pagelume
