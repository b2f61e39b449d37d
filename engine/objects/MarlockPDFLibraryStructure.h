// The PDF object model: the nine object classes and the arena that owns them.
//
// Every object belongs to one TPDFStructure, which owns it; containers (arrays,
// dictionaries, streams) only refer to their members. Objects are freed by the
// arena (Release, Discard, Reset, destruction), never by a container.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

class TPDFStructure;
class TPDFIndRef;
class TPDFName;

// Limits of the object layer.
inline constexpr int kParserMaxDepth = 512;          // nesting of arrays and dictionaries
inline constexpr int kDefaultDecimals = 4;           // decimals written for numbers
inline constexpr size_t kWrapColumn = 80;            // array line wrapping

// Something hung on a stream by its owner (the document's object-stream cache).
// The owner keeps and frees it; the stream only points at it.
class TPDFAttachment {
 public:
  virtual ~TPDFAttachment() = default;
};

// A byte string that either owns its bytes or borrows them from a buffer that
// outlives it (a loaded file's bytes), so that stream data need not be copied.
class TPDFRawBytes {
 public:
  TPDFRawBytes() = default;
  ByteView view() const { return borrowed_ ? view_ : ByteView(owned_); }
  size_t size() const { return view().size(); }
  bool empty() const { return view().empty(); }
  bool borrowed() const { return borrowed_; }
  void Assign(Bytes bytes) {
    owned_ = std::move(bytes);
    view_ = {};
    borrowed_ = false;
  }
  void Borrow(ByteView bytes) {
    owned_.clear();
    owned_.shrink_to_fit();
    view_ = bytes;
    borrowed_ = true;
  }

 private:
  Bytes owned_;
  ByteView view_;
  bool borrowed_ = false;
};

// ---------------------------------------------------------------------------
// Objects

class TPDFObject {
 public:
  explicit TPDFObject(TPDFStructure* structure, char kind) : Structure(structure), KindCode(kind) {}
  virtual ~TPDFObject() = default;
  TPDFObject(const TPDFObject&) = delete;
  TPDFObject& operator=(const TPDFObject&) = delete;

  // Virtual operations.
  virtual bool IsModified() const { return Modified; }
  // Appends the object in PDF syntax to `out`. Throws EPDFError for a number that
  // cannot be written (inside a dictionary that pair becomes "% bug \n").
  virtual void ToText(Bytes& out) const = 0;
  virtual void Discard();
  virtual void OffsetReferences(int32_t delta) {}
  virtual bool Holds(const TPDFObject* obj) const { return false; }

  Bytes ToText() const {
    Bytes out;
    ToText(out);
    return out;
  }
  void SetModified(bool flag) { Modified = flag; }
  void AssignNumber(int32_t number, int32_t generation) {
    OwnNumber = number;
    OwnGeneration = generation;
    HasNumber = true;
  }

  TPDFStructure* Structure;
  bool HasNumber = false;
  int32_t OwnNumber = 0;
  int32_t OwnGeneration = 0;
  bool Modified = false;
  char KindCode;  // '0' 'B' 'n' 's' 'N' 'A' 'D' 'S' 'I'

  // Arena bookkeeping (not part of the object's value).
  uint32_t HoldCount = 0;  // live containers holding this object
  uint32_t SlotIndex = 0;  // position in the arena's slots
  uint64_t Serial = 0;     // creation order within the arena
};

class TPDFNull final : public TPDFObject {
 public:
  static constexpr char kKind = '0';
  explicit TPDFNull(TPDFStructure* s) : TPDFObject(s, '0') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
};

class TPDFBoolean final : public TPDFObject {
 public:
  static constexpr char kKind = 'B';
  explicit TPDFBoolean(TPDFStructure* s) : TPDFObject(s, 'B') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  void SetTruth(bool b) { Truth = b; }  // does not set Modified
  bool Truth = false;
};

class TPDFNumeric final : public TPDFObject {
 public:
  static constexpr char kKind = 'n';
  explicit TPDFNumeric(TPDFStructure* s) : TPDFObject(s, 'n') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  double GetAmount() const { return Amount; }
  void SetAmount(double x) {
    Amount = x;
    Modified = true;
  }
  // Rounded to nearest (ties to even) as 64-bit, low 32 bits returned; 0 when it does not fit.
  int32_t AsInteger() const;
  // The same rounding, all 64 bits; `def` when it does not fit.
  int64_t AsInt64(int64_t def = 0) const;
  double Amount = 0;
};

class TPDFString final : public TPDFObject {
 public:
  static constexpr char kKind = 's';
  explicit TPDFString(TPDFStructure* s) : TPDFObject(s, 's') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  const Bytes& GetBytes() const { return BytesValue; }
  void SetBytes(Bytes s) {
    BytesValue = std::move(s);
    Modified = true;
  }
  // Mode 0: PDFDocEncoding or UTF-16BE, literal; 1: always UTF-16BE, literal;
  // 2 and 3: as 0 and 1 in hexadecimal notation; other modes change nothing.
  void SetText(TextView text, int mode);
  Text GetText() const;
  Bytes BytesValue;     // the decoded value (escapes and hex undone)
  uint8_t Notation = 0; // 0 literal ( ), 1 hexadecimal < >
};

class TPDFName final : public TPDFObject {
 public:
  static constexpr char kKind = 'N';
  explicit TPDFName(TPDFStructure* s) : TPDFObject(s, 'N') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  const Bytes& GetNameBytes() const { return NameBytes; }
  void SetNameBytes(Bytes s);  // keeps the arena's name index right
  Bytes NameBytes;             // without the slash, #xx undone
  bool IsSharedKey = false;    // handed out by KeyName; never freed by Release

  // Arena's index of names by their bytes (names with equal bytes, in creation order).
  TPDFName* PrevSame = nullptr;
  TPDFName* NextSame = nullptr;
};

class TPDFArray final : public TPDFObject {
 public:
  static constexpr char kKind = 'A';
  explicit TPDFArray(TPDFStructure* s) : TPDFObject(s, 'A') {}
  bool IsModified() const override;
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  void Discard() override;
  void OffsetReferences(int32_t delta) override;
  bool Holds(const TPDFObject* obj) const override;

  void Append(TPDFObject* obj);
  void Reserve(int n) { Items.reserve(Items.size() + (n > 0 ? size_t(n) : 0)); }
  int Count() const { return int(Items.size()); }
  TPDFObject* Item(int i) const { return i < 0 || i >= Count() ? nullptr : Items[size_t(i)]; }
  void ReplaceItem(int i, TPDFObject* obj);
  // Drops all items without releasing them (the arena keeps them).
  void ClearItems();

  std::vector<TPDFObject*> Items;  // never holds null
};

struct TPDFPair {
  TPDFName* Key;
  TPDFObject* Value;
};

class TPDFDictionary final : public TPDFObject {
 public:
  static constexpr char kKind = 'D';
  explicit TPDFDictionary(TPDFStructure* s) : TPDFObject(s, 'D') {}
  bool IsModified() const override;
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  void Discard() override;
  void OffsetReferences(int32_t delta) override;
  bool Holds(const TPDFObject* obj) const override;

  int IndexOfKey(ByteView keyText) const;
  int PutPair(TPDFName* keyName, TPDFObject* value);
  void Put(ByteView keyText, TPDFObject* value);
  // The value of the key; with `resolve`, a reference is followed once.
  TPDFObject* Get(ByteView keyText, bool resolve) const;
  int32_t GetInteger(ByteView keyText, int32_t def) const;
  Bytes TypeName() const;
  int Count() const { return int(Pairs.size()); }
  std::pair<TPDFName*, TPDFObject*> PairAt(int i) const;
  void Unlink(ByteView keyText);
  void Remove(ByteView keyText);
  void Clear();
  void AssignFrom(const TPDFDictionary& other);

  // Typed lookups (after resolving a reference); null when absent or of another type.
  TPDFDictionary* GetDictionary(ByteView keyText) const;
  TPDFArray* GetArray(ByteView keyText) const;
  TPDFName* GetName(ByteView keyText) const;
  TPDFNumeric* GetNumber(ByteView keyText) const;
  TPDFString* GetString(ByteView keyText) const;

  std::vector<TPDFPair> Pairs;
};

class TPDFStream final : public TPDFObject {
 public:
  static constexpr char kKind = 'S';
  explicit TPDFStream(TPDFStructure* s);  // makes a fresh empty dictionary in `s`
  bool IsModified() const override { return Modified; }
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  void Discard() override;
  void OffsetReferences(int32_t delta) override;
  bool Holds(const TPDFObject* obj) const override;

  ByteView Raw() const { return RawData.view(); }
  // Stores `data` and keeps /Length right.
  void SetRaw(Bytes data);
  // As SetRaw, but refers to bytes that outlive this stream instead of copying them.
  void SetRawBorrowed(ByteView data);
  // compress false: SetRaw + Remove("Filter"); true: Flate-compressed, /Filter /FlateDecode last.
  void SetContent(ByteView data, bool compress);
  void SetContentText(TextView text, bool compress);
  void ReplaceDictionary(TPDFDictionary* dict);

  // The stored data run through the stream's filters. Throws EPDFError for the few
  // decoder failures that are not absorbed (callers treat those as unreadable data).
  void Decoded(Bytes& out) const;
  // The same, stopping after `maxOutput` bytes (a caller that knows how much it needs).
  void Decoded(Bytes& out, size_t maxOutput) const;
  Bytes Decoded() const {
    Bytes out;
    Decoded(out);
    return out;
  }
  // The decoded data read as a text string, at most 16 MiB of it (kTextStreamOutputCap).
  Text DecodedText() const;

  TPDFDictionary* StreamDict;
  TPDFRawBytes RawData;                 // as stored in the file, still encoded
  TPDFAttachment* Attachment = nullptr; // not owned
};

class TPDFIndRef final : public TPDFObject {
 public:
  static constexpr char kKind = 'I';
  explicit TPDFIndRef(TPDFStructure* s) : TPDFObject(s, 'I') {}
  void ToText(Bytes& out) const override;
  using TPDFObject::ToText;
  void OffsetReferences(int32_t delta) override {
    RefNumber += delta;
  }
  TPDFObject* Resolve();
  int32_t RefGeneration = 0;
  int32_t RefNumber = 0;
};

// Checked downcasts: null when `obj` is null or of another class.
template <class T>
T* As(TPDFObject* obj);
template <class T>
const T* As(const TPDFObject* obj);

// ---------------------------------------------------------------------------
// The arena

class TPDFStructure {
 public:
  // Given the reference, its number and generation: the referenced object or null.
  using ResolveHook = std::function<TPDFObject*(TPDFIndRef* ref, int32_t number, int32_t generation)>;
  // Makes `obj` an indirect object of the owning document; returns {number, generation}.
  using RegisterHook = std::function<std::pair<int32_t, int32_t>(TPDFObject* caller, TPDFObject* obj)>;

  TPDFStructure();
  ~TPDFStructure();
  TPDFStructure(const TPDFStructure&) = delete;
  TPDFStructure& operator=(const TPDFStructure&) = delete;

  void Reset();
  void Adopt(TPDFObject* obj);
  void Reserve(int n);
  // Frees `obj` unless it is a shared key, still held by a live container, an
  // indirect object, or not owned by this arena. Never frees members.
  void Release(TPDFObject* obj);
  size_t LiveCount() const { return live_; }
  // True when `obj` is a live object of this arena.
  bool Owns(const TPDFObject* obj) const;
  // True when Release(obj) would free it.
  bool Releasable(const TPDFObject* obj) const;

  // Factories.
  TPDFNull* NewNull();
  TPDFBoolean* NewBoolean(bool b);
  TPDFNumeric* NewNumber(double x);
  TPDFName* NewName(ByteView bytes);
  TPDFString* NewString(ByteView bytes, uint8_t notation);
  TPDFString* NewStringText(TextView text, int mode);
  TPDFDictionary* NewDictionary();
  TPDFArray* NewEmptyArray();
  TPDFArray* NewArray(const std::vector<TPDFObject*>& objects);
  TPDFArray* NewIntegerArray(const std::vector<int32_t>& values);
  TPDFArray* NewRealArray(const std::vector<double>& values);
  TPDFIndRef* NewRef(int32_t number, int32_t generation);
  TPDFStream* NewStream(ByteView data, bool compress);
  TPDFStream* NewStreamText(TextView text, bool compress);
  TPDFStream* NewStreamWith(TPDFDictionary* dict, Bytes rawData);
  TPDFStream* NewStreamBorrowing(TPDFDictionary* dict, ByteView rawData);

  TPDFName* FindName(ByteView bytes) const;
  TPDFName* KeyName(ByteView keyText);
  static bool IsFrequentKey(ByteView keyText);

  // Parses one object at 1-based `start`; never returns null (a TPDFNull on failure).
  TPDFObject* ParseAt(ByteView text, size_t start, size_t& consumed);
  TPDFObject* Parse(ByteView text) {
    size_t ignored = 0;
    return ParseAt(text, 1, ignored);
  }

  ResolveHook ResolveReference;
  RegisterHook RegisterIndirect;
  bool MultiLine = true;
  Bytes NumberPattern = "0.0000";
  int32_t Decimals = kDefaultDecimals;

  // Container bookkeeping, called by the containers when they take or drop a member.
  static void Hold(TPDFObject* obj) { ++obj->HoldCount; }
  static void Unhold(TPDFObject* obj) {
    if (obj->HoldCount > 0) --obj->HoldCount;
  }
  void NameBytesChanged(TPDFName* name, const Bytes& oldBytes);

 private:
  template <class T>
  T* Make();
  void Free(TPDFObject* obj);
  void Compact();
  void IndexName(TPDFName* name);
  void UnindexName(TPDFName* name, ByteView bytes);

  std::vector<TPDFObject*> slots_;  // creation order; null where an object was freed
  size_t live_ = 0;
  size_t holes_ = 0;
  uint64_t nextSerial_ = 1;
  struct NameChain {
    TPDFName* first = nullptr;
    TPDFName* last = nullptr;
  };
  // Looked up by the bytes themselves: no string is built for a look-up.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(ByteView bytes) const { return std::hash<ByteView>{}(bytes); }
  };
  std::unordered_map<Bytes, NameChain, NameHash, std::equal_to<>> names_;
};

template <class T>
T* As(TPDFObject* obj) {
  return obj && obj->KindCode == T::kKind ? static_cast<T*>(obj) : nullptr;
}
template <class T>
const T* As(const TPDFObject* obj) {
  return obj && obj->KindCode == T::kKind ? static_cast<const T*>(obj) : nullptr;
}

}  // namespace pagelume
