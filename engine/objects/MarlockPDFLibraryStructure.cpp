// The PDF object classes and the arena that owns them.
//
// The arena keeps exact bookkeeping so that every operation costs time in the size
// of the objects it touches, never in the size of the arena: HoldCount answers "is
// anything still holding this object", SlotIndex answers "is this ours", and the
// names index answers FindName.
#include "engine/objects/MarlockPDFLibraryStructure.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Nesting beyond what the parser accepts, so that everything parsed can be written;
// deeper (or cyclic) structures built by code fail instead of exhausting the stack.
constexpr int kWriteMaxDepth = 4 * kParserMaxDepth;
// Holes left by freed objects are squeezed out once they are this many and make up
// half the slots, so each slot is moved an amortised constant number of times.
constexpr size_t kCompactMinHoles = 1024;

constexpr char kFrequentKeys[] =
    "[MediaBox][Length][CropBox][Type][Subtype][Name][Pages][Page][Parent][Font][Contents]"
    "[BaseFont][PDF][Text][ImageB][ImageC][ImageI][Resources][ProcSet][ExtGState][Type1]"
    "[TrueType][WinAnsiEncoding][Filter][FlateDecode][Annot][URI][Goto][XYZ][eZLT][Kavrel]";

// Counts the nesting of the recursive visitors (writing, IsModified, OffsetReferences).
class DepthGuard {
 public:
  DepthGuard() { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  bool TooDeep() const { return depth_ > kWriteMaxDepth; }

 private:
  static thread_local int depth_;
};
thread_local int DepthGuard::depth_ = 0;

const char kHexDigits[] = "0123456789ABCDEF";

bool EndsWithLineFeed(const Bytes& out) { return !out.empty() && out.back() == '\n'; }

// Rounds to nearest, ties to even; false when the result does not fit int64 (NaN included).
bool RoundToInt64(double x, int64_t& out) {
  const double r = std::nearbyint(x);  // default rounding mode: to nearest, ties to even
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return false;
  out = static_cast<int64_t>(r);
  return true;
}

// The distinct, non-null pointers of `objs` in their first order (freeing one must
// not leave another entry pointing at freed memory).
std::vector<TPDFObject*> Distinct(const std::vector<TPDFObject*>& objs) {
  std::vector<TPDFObject*> out;
  std::unordered_set<const TPDFObject*> seen;
  for (TPDFObject* obj : objs) {
    if (obj != nullptr && seen.insert(obj).second) out.push_back(obj);
  }
  return out;
}

// Discard without recursion: containers that are actually freed hand their members
// on (dictionary and stream members are discarded, array items only released).
// A container that cannot be freed keeps holding its members, so nothing below it
// is touched. Pointers already freed here are skipped, never dereferenced.
void DiscardTree(TPDFObject* root) {
  TPDFStructure* s = root->Structure;
  struct Work {
    TPDFObject* obj;
    bool deep;
  };
  std::vector<Work> work{{root, true}};
  std::unordered_set<const TPDFObject*> freed;
  std::vector<Work> members;
  while (!work.empty()) {
    const Work w = work.back();
    work.pop_back();
    if (freed.count(w.obj) != 0) continue;
    if (!s->Releasable(w.obj)) continue;
    members.clear();
    if (w.deep) {
      if (auto* a = As<TPDFArray>(w.obj)) {
        for (TPDFObject* item : a->Items) members.push_back({item, false});
      } else if (auto* d = As<TPDFDictionary>(w.obj)) {
        for (const TPDFPair& p : d->Pairs) {
          members.push_back({p.Key, true});
          members.push_back({p.Value, true});
        }
      } else if (auto* st = As<TPDFStream>(w.obj)) {
        members.push_back({st->StreamDict, true});
      }
    }
    freed.insert(w.obj);
    s->Release(w.obj);
    // Reverse so that members are handled in their written order.
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
      if (it->obj != nullptr) work.push_back(*it);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TPDFObject

void TPDFObject::Discard() { Structure->Release(this); }

// ---------------------------------------------------------------------------
// Simple objects

void TPDFNull::ToText(Bytes& out) const { out += "null"; }

void TPDFBoolean::ToText(Bytes& out) const { out += Truth ? "true" : "false"; }

void TPDFNumeric::ToText(Bytes& out) const {
  // FormatNumber also refuses NaN and infinities: they never fit the scaled integer.
  out += FormatNumber(Amount, Structure != nullptr ? Structure->Decimals : kDefaultDecimals);
}

int32_t TPDFNumeric::AsInteger() const {
  int64_t v = 0;
  if (!RoundToInt64(Amount, v)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

int64_t TPDFNumeric::AsInt64(int64_t def) const {
  int64_t v = 0;
  return RoundToInt64(Amount, v) ? v : def;
}

void TPDFString::ToText(Bytes& out) const {
  if (Notation == 0) {
    out.reserve(out.size() + BytesValue.size() + 2);
    out += '(';
    for (const char c : BytesValue) {
      switch (c) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        case '(': out += "\\("; break;
        case ')': out += "\\)"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
      }
    }
    out += ')';
  } else if (Notation == 1) {
    out.reserve(out.size() + 2 * BytesValue.size() + 2);
    out += '<';
    for (const char c : BytesValue) {
      const auto b = static_cast<uint8_t>(c);
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 15];
    }
    out += '>';
  }
}

void TPDFString::SetText(TextView text, int mode) {
  if (mode < 0 || mode > 3) return;
  BytesValue = EncodeTextString(text, mode == 1 || mode == 3);
  Notation = mode >= 2 ? 1 : 0;
  Modified = true;
}

Text TPDFString::GetText() const { return DecodeTextString(BytesValue); }

void TPDFName::ToText(Bytes& out) const {
  static constexpr ByteView kEscaped = "#%()/<>[]{}";
  out += '/';
  for (const char c : NameBytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b <= 0x20 || b >= 0x7F || kEscaped.find(c) != ByteView::npos) {
      out += '#';
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 15];
    } else {
      out += c;
    }
  }
}

void TPDFName::SetNameBytes(Bytes s) {
  Bytes old = std::move(NameBytes);
  NameBytes = std::move(s);
  Modified = true;
  if (Structure != nullptr) Structure->NameBytesChanged(this, old);
}

void TPDFIndRef::ToText(Bytes& out) const {
  out += std::to_string(RefNumber);
  out += " ";
  out += std::to_string(RefGeneration);
  out += " R";
}

TPDFObject* TPDFIndRef::Resolve() {
  if (Structure == nullptr || !Structure->ResolveReference) return nullptr;
  return Structure->ResolveReference(this, RefNumber, RefGeneration);
}

// ---------------------------------------------------------------------------
// TPDFArray

bool TPDFArray::IsModified() const {
  if (Modified) return true;
  DepthGuard guard;
  if (guard.TooDeep()) return false;
  for (const TPDFObject* item : Items) {
    if (item->IsModified()) return true;
  }
  return false;
}

void TPDFArray::ToText(Bytes& out) const {
  DepthGuard guard;
  if (guard.TooDeep()) throw EPDFError("Objects are nested too deeply to be written");
  size_t lineStart = out.size();
  out += "[ ";
  for (const TPDFObject* item : Items) {
    item->ToText(out);
    if (!EndsWithLineFeed(out)) out += ' ';
    if (out.size() - lineStart > kWrapColumn) {
      out += '\n';
      lineStart = out.size();
    }
  }
  out += ']';
}

void TPDFArray::Discard() {
  Modified = true;
  DiscardTree(this);
}

void TPDFArray::OffsetReferences(int32_t delta) {
  DepthGuard guard;
  if (guard.TooDeep()) return;
  for (TPDFObject* item : Items) item->OffsetReferences(delta);
  if (!Items.empty()) Modified = true;
}

bool TPDFArray::Holds(const TPDFObject* obj) const {
  return obj != nullptr && std::find(Items.begin(), Items.end(), obj) != Items.end();
}

void TPDFArray::Append(TPDFObject* obj) {
  if (obj == nullptr) return;  // items are never none
  Items.push_back(obj);
  TPDFStructure::Hold(obj);
  Modified = true;
}

void TPDFArray::ReplaceItem(int i, TPDFObject* obj) {
  if (i < 0 || i >= Count() || obj == nullptr) return;
  TPDFObject* old = Items[size_t(i)];
  // Store first: releasing the old item must see that this array no longer holds it.
  TPDFStructure::Hold(obj);
  Items[size_t(i)] = obj;
  TPDFStructure::Unhold(old);
  Modified = true;
  Structure->Release(old);
}

void TPDFArray::ClearItems() {
  for (TPDFObject* item : Items) TPDFStructure::Unhold(item);
  Items.clear();
  Modified = true;
}

// ---------------------------------------------------------------------------
// TPDFDictionary

bool TPDFDictionary::IsModified() const {
  if (Modified) return true;
  DepthGuard guard;
  if (guard.TooDeep()) return false;
  for (const TPDFPair& p : Pairs) {
    if (p.Value->IsModified()) return true;
  }
  return false;
}

void TPDFDictionary::ToText(Bytes& out) const {
  DepthGuard guard;
  if (guard.TooDeep()) throw EPDFError("Objects are nested too deeply to be written");
  const char* const separator = Structure == nullptr || Structure->MultiLine ? "\n" : " ";
  out += "<<";
  out += separator;
  Bytes pair;
  for (const TPDFPair& p : Pairs) {
    pair.clear();
    try {
      p.Key->ToText(pair);
      pair += ' ';
      p.Value->ToText(pair);
    } catch (const EPDFError&) {
      // One entry that cannot be written must not cost the rest of the dictionary.
      pair = "% bug \n";
    }
    out += pair;
    if (!EndsWithLineFeed(out)) out += separator;
  }
  out += ">>";
  out += separator;
}

void TPDFDictionary::Discard() {
  Modified = true;
  DiscardTree(this);
}

void TPDFDictionary::OffsetReferences(int32_t delta) {
  DepthGuard guard;
  if (guard.TooDeep()) return;
  for (TPDFPair& p : Pairs) p.Value->OffsetReferences(delta);
  Modified = true;
}

bool TPDFDictionary::Holds(const TPDFObject* obj) const {
  if (obj == nullptr) return false;
  for (const TPDFPair& p : Pairs) {
    if (p.Key == obj || p.Value == obj) return true;
  }
  return false;
}

int TPDFDictionary::IndexOfKey(ByteView keyText) const {
  for (size_t i = 0; i < Pairs.size(); ++i) {
    if (Pairs[i].Key->NameBytes == keyText) return int(i);
  }
  return -1;
}

int TPDFDictionary::PutPair(TPDFName* keyName, TPDFObject* value) {
  if (keyName == nullptr || value == nullptr) return -1;  // every pair holds a key and a value
  TPDFStructure::Hold(keyName);
  TPDFStructure::Hold(value);
  Modified = true;
  const int i = IndexOfKey(keyName->NameBytes);
  if (i >= 0) {
    TPDFPair& p = Pairs[size_t(i)];
    TPDFStructure::Unhold(p.Key);
    TPDFStructure::Unhold(p.Value);
    p.Key = keyName;
    p.Value = value;
    return i;
  }
  Pairs.push_back({keyName, value});
  return int(Pairs.size()) - 1;
}

void TPDFDictionary::Put(ByteView keyText, TPDFObject* value) {
  Modified = true;
  if (value == this || value == nullptr) return;
  PutPair(Structure->KeyName(keyText), value);
}

TPDFObject* TPDFDictionary::Get(ByteView keyText, bool resolve) const {
  const int i = IndexOfKey(keyText);
  if (i < 0) return nullptr;
  TPDFObject* value = Pairs[size_t(i)].Value;
  if (resolve) {
    if (auto* ref = As<TPDFIndRef>(value)) return ref->Resolve();
  }
  return value;
}

int32_t TPDFDictionary::GetInteger(ByteView keyText, int32_t def) const {
  const auto* n = As<TPDFNumeric>(Get(keyText, true));
  return n != nullptr ? n->AsInteger() : def;
}

Bytes TPDFDictionary::TypeName() const {
  const auto* n = As<TPDFName>(Get("Type", false));
  return n != nullptr ? n->NameBytes : Bytes();
}

std::pair<TPDFName*, TPDFObject*> TPDFDictionary::PairAt(int i) const {
  if (i < 0 || i >= Count()) return {nullptr, nullptr};
  return {Pairs[size_t(i)].Key, Pairs[size_t(i)].Value};
}

void TPDFDictionary::Unlink(ByteView keyText) {
  const int i = IndexOfKey(keyText);
  if (i < 0) return;
  TPDFStructure::Unhold(Pairs[size_t(i)].Key);
  TPDFStructure::Unhold(Pairs[size_t(i)].Value);
  Pairs.erase(Pairs.begin() + i);
  Modified = true;
}

void TPDFDictionary::Remove(ByteView keyText) {
  const int i = IndexOfKey(keyText);
  if (i < 0) return;
  const TPDFPair p = Pairs[size_t(i)];
  TPDFStructure* const s = Structure;
  const bool releaseKey = !TPDFStructure::IsFrequentKey(keyText);
  // A value that is this dictionary itself would free `this` under our feet.
  const bool discardValue =
      p.Value != this && (As<TPDFDictionary>(p.Value) != nullptr || As<TPDFArray>(p.Value) != nullptr);
  // Unlink first: the value and key can only go once this dictionary lets go of them.
  Unlink(keyText);
  // The key goes before the value's members: if the value also uses this key object,
  // discarding the value may free it, and it must not be touched afterwards.
  if (releaseKey) s->Release(p.Key);
  if (discardValue) p.Value->Discard();
}

void TPDFDictionary::Clear() {
  std::vector<TPDFObject*> members;
  members.reserve(2 * Pairs.size());
  for (const TPDFPair& p : Pairs) {
    members.push_back(p.Key);
    members.push_back(p.Value);
    TPDFStructure::Unhold(p.Key);
    TPDFStructure::Unhold(p.Value);
  }
  Pairs.clear();
  Modified = true;
  for (TPDFObject* obj : Distinct(members)) Structure->Release(obj);
}

void TPDFDictionary::AssignFrom(const TPDFDictionary& other) {
  Modified = true;
  if (&other == this) return;
  auto takePairs = [this](const std::vector<TPDFPair>& pairs) {
    for (const TPDFPair& p : pairs) {
      TPDFStructure::Hold(p.Key);
      TPDFStructure::Hold(p.Value);
    }
    for (const TPDFPair& p : Pairs) {
      TPDFStructure::Unhold(p.Key);
      TPDFStructure::Unhold(p.Value);
    }
    Pairs = pairs;
  };
  if (other.Structure == Structure) {
    takePairs(other.Pairs);
    return;
  }
  // Objects never move between arenas: the copy goes through text.
  TPDFObject* parsed = Structure->Parse(other.ToText());
  if (auto* d = As<TPDFDictionary>(parsed)) {
    takePairs(d->Pairs);
  }
  // The parsed container was only a vehicle; its members now belong to this dictionary.
  Structure->Release(parsed);
}

TPDFDictionary* TPDFDictionary::GetDictionary(ByteView keyText) const {
  return As<TPDFDictionary>(Get(keyText, true));
}
TPDFArray* TPDFDictionary::GetArray(ByteView keyText) const { return As<TPDFArray>(Get(keyText, true)); }
TPDFName* TPDFDictionary::GetName(ByteView keyText) const { return As<TPDFName>(Get(keyText, true)); }
TPDFNumeric* TPDFDictionary::GetNumber(ByteView keyText) const {
  return As<TPDFNumeric>(Get(keyText, true));
}
TPDFString* TPDFDictionary::GetString(ByteView keyText) const {
  return As<TPDFString>(Get(keyText, true));
}

// ---------------------------------------------------------------------------
// TPDFStream

TPDFStream::TPDFStream(TPDFStructure* s) : TPDFObject(s, 'S'), StreamDict(s->NewDictionary()) {
  TPDFStructure::Hold(StreamDict);
}

void TPDFStream::ToText(Bytes& out) const {
  StreamDict->ToText(out);
  out += "stream\n";
  out += RawData.view();
  out += "\nendstream";
}

void TPDFStream::Discard() {
  Modified = true;
  DiscardTree(this);
}

void TPDFStream::OffsetReferences(int32_t delta) {
  StreamDict->OffsetReferences(delta);
  Modified = true;
}

bool TPDFStream::Holds(const TPDFObject* obj) const { return StreamDict->Holds(obj); }

namespace {
void KeepLength(TPDFStream& stream, size_t length) {
  if (auto* n = As<TPDFNumeric>(stream.StreamDict->Get("Length", false))) {
    n->SetAmount(double(length));
  } else {
    stream.StreamDict->Put("Length", stream.Structure->NewNumber(double(length)));
  }
}
}  // namespace

void TPDFStream::SetRaw(Bytes data) {
  const size_t length = data.size();
  RawData.Assign(std::move(data));
  KeepLength(*this, length);
  Modified = true;
}

void TPDFStream::SetRawBorrowed(ByteView data) {
  RawData.Borrow(data);
  KeepLength(*this, data.size());
  Modified = true;
}

void TPDFStream::ReplaceDictionary(TPDFDictionary* dict) {
  if (dict == nullptr) return;
  TPDFDictionary* old = StreamDict;
  TPDFStructure::Hold(dict);
  StreamDict = dict;
  TPDFStructure::Unhold(old);
  Modified = true;
  Structure->Release(old);
}

// ---------------------------------------------------------------------------
// TPDFStructure

TPDFStructure::TPDFStructure() { Reset(); }

TPDFStructure::~TPDFStructure() {
  for (TPDFObject* obj : slots_) delete obj;
}

void TPDFStructure::Reset() {
  NumberPattern = "0.0000";
  Decimals = kDefaultDecimals;
  MultiLine = true;
  std::vector<TPDFObject*> old;
  old.swap(slots_);
  names_.clear();
  live_ = 0;
  holes_ = 0;
  for (TPDFObject* obj : old) delete obj;
}

template <class T>
T* TPDFStructure::Make() {
  T* obj = new T(this);
  Adopt(obj);
  return obj;
}

void TPDFStructure::Adopt(TPDFObject* obj) {
  if (obj == nullptr) return;
  TPDFStructure* owner = obj->Structure;
  if (owner != nullptr && obj->SlotIndex < owner->slots_.size() && owner->slots_[obj->SlotIndex] == obj)
    return;  // already owned, here or by another arena
  slots_.push_back(obj);  // grows geometrically: amortised constant time
  obj->Structure = this;
  obj->SlotIndex = uint32_t(slots_.size() - 1);
  obj->Serial = nextSerial_++;
  ++live_;
  if (auto* name = As<TPDFName>(obj)) IndexName(name);
}

void TPDFStructure::Reserve(int n) {
  if (n <= 0 || slots_.capacity() - slots_.size() >= size_t(n)) return;
  slots_.reserve(slots_.size() + size_t(n));
}

bool TPDFStructure::Owns(const TPDFObject* obj) const {
  return obj != nullptr && obj->Structure == this && obj->SlotIndex < slots_.size() &&
         slots_[obj->SlotIndex] == obj;
}

bool TPDFStructure::Releasable(const TPDFObject* obj) const {
  if (!Owns(obj) || obj->HoldCount > 0) return false;
  // An indirect object belongs to the document's object table, which keeps pointing
  // at it; freeing it would leave the table with a dangling entry.
  if (obj->HasNumber) return false;
  const auto* name = As<TPDFName>(obj);
  return name == nullptr || !name->IsSharedKey;
}

void TPDFStructure::Release(TPDFObject* obj) {
  if (Releasable(obj)) Free(obj);
}

void TPDFStructure::Free(TPDFObject* obj) {
  if (auto* a = As<TPDFArray>(obj)) {
    for (TPDFObject* item : a->Items) Unhold(item);
  } else if (auto* d = As<TPDFDictionary>(obj)) {
    for (const TPDFPair& p : d->Pairs) {
      Unhold(p.Key);
      Unhold(p.Value);
    }
  } else if (auto* st = As<TPDFStream>(obj)) {
    Unhold(st->StreamDict);
  } else if (auto* name = As<TPDFName>(obj)) {
    UnindexName(name, name->NameBytes);
  }
  slots_[obj->SlotIndex] = nullptr;
  --live_;
  ++holes_;
  delete obj;
  while (!slots_.empty() && slots_.back() == nullptr) {
    slots_.pop_back();
    --holes_;
  }
  if (holes_ >= kCompactMinHoles && 2 * holes_ >= slots_.size()) Compact();
}

void TPDFStructure::Compact() {
  size_t j = 0;
  for (TPDFObject* obj : slots_) {
    if (obj == nullptr) continue;
    obj->SlotIndex = uint32_t(j);
    slots_[j++] = obj;
  }
  slots_.resize(j);
  holes_ = 0;
}

// Kept out of line: inlined into Make<T> for other classes, GCC warns about the
// (unreachable) name branch.
[[gnu::noinline]] void TPDFStructure::IndexName(TPDFName* name) {
  NameChain& chain = names_[name->NameBytes];
  // Creation order; a new name goes last, a renamed one usually near the end.
  TPDFName* after = chain.last;
  while (after != nullptr && after->Serial > name->Serial) after = after->PrevSame;
  name->PrevSame = after;
  name->NextSame = after != nullptr ? after->NextSame : chain.first;
  if (name->NextSame != nullptr) name->NextSame->PrevSame = name; else chain.last = name;
  if (after != nullptr) after->NextSame = name; else chain.first = name;
}

void TPDFStructure::UnindexName(TPDFName* name, ByteView bytes) {
  auto it = names_.find(bytes);
  if (it == names_.end()) return;
  NameChain& chain = it->second;
  if (name->PrevSame != nullptr) name->PrevSame->NextSame = name->NextSame; else chain.first = name->NextSame;
  if (name->NextSame != nullptr) name->NextSame->PrevSame = name->PrevSame; else chain.last = name->PrevSame;
  name->PrevSame = name->NextSame = nullptr;
  if (chain.first == nullptr) names_.erase(it);
}

void TPDFStructure::NameBytesChanged(TPDFName* name, const Bytes& oldBytes) {
  if (!Owns(name) || name->NameBytes == oldBytes) return;
  UnindexName(name, oldBytes);
  IndexName(name);
}

// ---- factories -----------------------------------------------------------

TPDFNull* TPDFStructure::NewNull() { return Make<TPDFNull>(); }

TPDFBoolean* TPDFStructure::NewBoolean(bool b) {
  auto* obj = Make<TPDFBoolean>();
  obj->SetTruth(b);
  return obj;
}

TPDFNumeric* TPDFStructure::NewNumber(double x) {
  auto* obj = Make<TPDFNumeric>();
  obj->SetAmount(x);
  return obj;
}

TPDFName* TPDFStructure::NewName(ByteView bytes) {
  // Bytes set before adopting, so the name is indexed once under its final text.
  auto* obj = new TPDFName(this);
  obj->NameBytes.assign(bytes);
  obj->Modified = true;
  Adopt(obj);
  return obj;
}

TPDFString* TPDFStructure::NewString(ByteView bytes, uint8_t notation) {
  auto* obj = Make<TPDFString>();
  obj->SetBytes(Bytes(bytes));
  obj->Notation = notation;
  return obj;
}

TPDFString* TPDFStructure::NewStringText(TextView text, int mode) {
  auto* obj = Make<TPDFString>();
  obj->SetText(text, mode);
  return obj;
}

TPDFDictionary* TPDFStructure::NewDictionary() { return Make<TPDFDictionary>(); }

TPDFArray* TPDFStructure::NewEmptyArray() { return Make<TPDFArray>(); }

TPDFArray* TPDFStructure::NewArray(const std::vector<TPDFObject*>& objects) {
  auto* obj = Make<TPDFArray>();
  obj->Items.reserve(objects.size());
  for (TPDFObject* item : objects) obj->Append(item);
  return obj;
}

TPDFArray* TPDFStructure::NewIntegerArray(const std::vector<int32_t>& values) {
  auto* obj = Make<TPDFArray>();
  obj->Items.reserve(values.size());
  for (const int32_t v : values) obj->Append(NewNumber(v));
  return obj;
}

TPDFArray* TPDFStructure::NewRealArray(const std::vector<double>& values) {
  auto* obj = Make<TPDFArray>();
  obj->Items.reserve(values.size());
  for (const double v : values) obj->Append(NewNumber(v));
  return obj;
}

TPDFIndRef* TPDFStructure::NewRef(int32_t number, int32_t generation) {
  auto* obj = Make<TPDFIndRef>();
  obj->RefNumber = number;
  obj->RefGeneration = generation;
  return obj;
}

TPDFStream* TPDFStructure::NewStream(ByteView data, bool compress) {
  auto* obj = Make<TPDFStream>();
  obj->SetContent(data, compress);
  return obj;
}

TPDFStream* TPDFStructure::NewStreamText(TextView text, bool compress) {
  auto* obj = Make<TPDFStream>();
  obj->SetContentText(text, compress);
  return obj;
}

namespace {
// The stream's constructor made a fresh dictionary; swap in the given one and let
// the fresh one go (it is held by nothing else).
void UseDictionary(TPDFStream* stream, TPDFDictionary* dict) {
  if (dict == nullptr || dict == stream->StreamDict) return;
  TPDFDictionary* fresh = stream->StreamDict;
  TPDFStructure::Hold(dict);
  stream->StreamDict = dict;
  TPDFStructure::Unhold(fresh);
  stream->Structure->Release(fresh);
}
}  // namespace

TPDFStream* TPDFStructure::NewStreamWith(TPDFDictionary* dict, Bytes rawData) {
  auto* obj = Make<TPDFStream>();
  UseDictionary(obj, dict);
  obj->RawData.Assign(std::move(rawData));
  return obj;
}

TPDFStream* TPDFStructure::NewStreamBorrowing(TPDFDictionary* dict, ByteView rawData) {
  auto* obj = Make<TPDFStream>();
  UseDictionary(obj, dict);
  obj->RawData.Borrow(rawData);
  return obj;
}

// ---- names -----------------------------------------------------------------

TPDFName* TPDFStructure::FindName(ByteView bytes) const {
  const auto it = names_.find(bytes);
  return it == names_.end() ? nullptr : it->second.first;
}

bool TPDFStructure::IsFrequentKey(ByteView keyText) {
  static constexpr ByteView kList = kFrequentKeys;
  // "[" + key + "]" anywhere in the list text.
  for (size_t at = kList.find('['); at != ByteView::npos; at = kList.find('[', at + 1)) {
    const ByteView rest = kList.substr(at + 1);
    if (rest.size() > keyText.size() && rest.substr(0, keyText.size()) == keyText &&
        rest[keyText.size()] == ']')
      return true;
  }
  return false;
}

TPDFName* TPDFStructure::KeyName(ByteView keyText) {
  TPDFName* name = IsFrequentKey(keyText) ? FindName(keyText) : nullptr;
  if (name == nullptr) name = NewName(keyText);
  name->IsSharedKey = true;
  return name;
}

}  // namespace pagelume
