// The engine's small containers: plain-value arrays, string lists that carry
// (non-owned) objects, integer lists and the lookups the readers use.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

using TKVLByteArray = std::vector<uint8_t>;
using TKVLWordArray = std::vector<uint16_t>;
using TKVLCardinalArray = std::vector<uint32_t>;
using TKVLSmallIntArray = std::vector<int16_t>;
using TKVLInt64Array = std::vector<int64_t>;

// A string and the object it carries. The object is a plain non-owning pointer:
// the list never frees, copies or dereferences it.
struct TKavrelStringItem {
  Bytes str;
  void* obj = nullptr;
};

// Pairs kept in the order they were added until Sort. Never owns the objects.
class TKavrelStringList {
 public:
  TKavrelStringList() = default;
  virtual ~TKavrelStringList() = default;

  int Add(ByteView s) { return AddObject(s, nullptr); }
  int AddObject(ByteView s, void* obj);
  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return static_cast<int>(items_.capacity()); }
  bool CaseSensitive() const { return caseSensitive_; }
  // Throws EPDFError for an index out of range.
  const Bytes& Strings(int i) const;
  // nullptr for an index out of range.
  void* Objects(int i) const;
  template <class T>
  T* ObjectAs(int i) const {
    return static_cast<T*>(Objects(i));
  }
  // Ignored for an index out of range.
  void SetObject(int i, void* obj);
  void Clear();
  // By string, CompareNoCase or (case-sensitive lists) CompareCase; not stable.
  void Sort();
  // Every string followed by CR LF.
  Bytes GetText() const;
  // Clear, then one item per non-empty piece between CR, LF and NUL bytes;
  // an empty text gives one empty string.
  void SetTextLines(ByteView text);

 protected:
  bool caseSensitive_ = false;

 private:
  std::vector<TKavrelStringItem> items_;
};

class TKavrelCaseSensitiveStringList : public TKavrelStringList {
 public:
  TKavrelCaseSensitiveStringList() { caseSensitive_ = true; }
};

class TKavrelIntegerList {
 public:
  int Add(int32_t v);
  int Count() const { return static_cast<int>(items_.size()); }
  // Throws EPDFError for an index out of range.
  int32_t Get(int i) const;
  // First index of `v`, or -1.
  int IndexOf(int32_t v) const;
  void Sort();
  void Clear() { items_.clear(); }

 private:
  std::vector<int32_t> items_;
};

// Filled first, sorted once, then queried with NextAbove.
class TKVLSortedInt64List {
 public:
  static constexpr size_t kInitialCapacity = 1000;
  TKVLSortedInt64List() { items_.reserve(kInitialCapacity); }

  void Add(int64_t v);
  // Room for `n` values without moving them (only address space until they come).
  void Reserve(size_t n) { items_.reserve(n); }
  int Count() const { return static_cast<int>(items_.size()); }
  int64_t Get(int i) const;
  void Sort();
  void Clear();
  // The smallest value greater than `key`, or the largest value when there is
  // none. Throws EPDFError on an empty or unsorted list.
  int64_t NextAbove(int64_t key) const;

 private:
  TKVLInt64Array items_;
  bool sorted_ = true;
};

class TKVLIntegerPairList {
 public:
  static constexpr size_t kInitialCapacity = 1000;
  TKVLIntegerPairList() {
    keys_.reserve(kInitialCapacity);
    values_.reserve(kInitialCapacity);
  }

  void AddPair(int32_t key, int32_t value);
  int Count() const { return static_cast<int>(keys_.size()); }
  // Ascending by key; pairs with equal keys keep their order.
  void SortByKey();
  int32_t KeyAt(int i, int32_t def) const;
  int32_t ValueAt(int i, int32_t def) const;
  // The value of the first pair with `key`, else `def`. Binary search once
  // sorted; an unsorted list is scanned instead of giving a wrong answer.
  int32_t Lookup(int32_t key, int32_t def) const;
  void Clear();

 private:
  std::vector<int32_t> keys_;
  std::vector<int32_t> values_;
  bool sorted_ = true;
};

// A set of 32-bit values in 64 KiB pages, one per high half-word: constant-time
// membership for dense small values such as object numbers.
class TKVLSortedUniqueIntegerList {
 public:
  // True when `v` was not yet in the set; `v` is in the set afterwards.
  bool MarkNew(uint32_t v);
  bool Contains(uint32_t v) const;
  void Clear() { pages_.clear(); }

 private:
  static constexpr size_t kPageSize = 65536;
  // Entry 1 means absent, 0 present.
  using TPage = std::array<uint8_t, kPageSize>;
  std::vector<std::unique_ptr<TPage>> pages_;
};

}  // namespace pagelume
