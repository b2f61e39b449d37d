#include "engine/objects/MarlockPDFLibraryContainers.h"

#include <algorithm>
#include <string>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

[[noreturn]] void ThrowIndex(const char* what, int i, size_t count) {
  throw EPDFError(std::string(what) + ": index " + std::to_string(i) + " out of range (count " +
                  std::to_string(count) + ")");
}

}  // namespace

// ---- TKavrelStringList --------------------------------------------------------

int TKavrelStringList::AddObject(ByteView s, void* obj) {
  if (items_.size() == items_.capacity()) {
    // Grow by a quarter above 64 items, by 16 from 9, by 4 below.
    const size_t cap = items_.capacity();
    const size_t delta = cap > 64 ? cap / 4 : (cap > 8 ? 16 : 4);
    items_.reserve(cap + delta);
  }
  items_.push_back(TKavrelStringItem{Bytes(s), obj});
  return static_cast<int>(items_.size() - 1);
}

const Bytes& TKavrelStringList::Strings(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= items_.size()) ThrowIndex("String list", i, items_.size());
  return items_[i].str;
}

void* TKavrelStringList::Objects(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= items_.size()) return nullptr;
  return items_[i].obj;
}

void TKavrelStringList::SetObject(int i, void* obj) {
  if (i < 0 || static_cast<size_t>(i) >= items_.size()) return;
  items_[i].obj = obj;
}

void TKavrelStringList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
}

void TKavrelStringList::Sort() {
  const bool cs = caseSensitive_;
  std::sort(items_.begin(), items_.end(), [cs](const TKavrelStringItem& a, const TKavrelStringItem& b) {
    return (cs ? CompareCase(a.str, b.str) : CompareNoCase(a.str, b.str)) < 0;
  });
}

Bytes TKavrelStringList::GetText() const {
  size_t total = 0;
  for (const auto& it : items_) total += it.str.size() + 2;
  Bytes out;
  out.reserve(total);
  for (const auto& it : items_) {
    out += it.str;
    out += "\r\n";
  }
  return out;
}

void TKavrelStringList::SetTextLines(ByteView text) {
  Clear();
  if (text.empty()) {
    Add("");
    return;
  }
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n' || text[i] == '\0') {
      if (i > start) Add(text.substr(start, i - start));
      start = i + 1;
    }
  }
}

// ---- TKavrelIntegerList -------------------------------------------------------

int TKavrelIntegerList::Add(int32_t v) {
  items_.push_back(v);
  return static_cast<int>(items_.size() - 1);
}

int32_t TKavrelIntegerList::Get(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= items_.size()) ThrowIndex("Integer list", i, items_.size());
  return items_[i];
}

int TKavrelIntegerList::IndexOf(int32_t v) const {
  const auto it = std::find(items_.begin(), items_.end(), v);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

// A true comparison rather than a difference, which would overflow for values
// 2^31 apart.
void TKavrelIntegerList::Sort() { std::sort(items_.begin(), items_.end()); }

// ---- TKVLSortedInt64List ------------------------------------------------------

void TKVLSortedInt64List::Add(int64_t v) {
  // Appending in ascending order keeps the list usable without a Sort.
  if (!items_.empty() && v < items_.back()) sorted_ = false;
  if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() * 2 + 1);
  items_.push_back(v);
}

int64_t TKVLSortedInt64List::Get(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= items_.size()) ThrowIndex("Offset list", i, items_.size());
  return items_[i];
}

void TKVLSortedInt64List::Sort() {
  if (!sorted_) std::sort(items_.begin(), items_.end());
  sorted_ = true;
}

void TKVLSortedInt64List::Clear() {
  items_.clear();
  sorted_ = true;
}

int64_t TKVLSortedInt64List::NextAbove(int64_t key) const {
  if (items_.empty()) throw EPDFError("Offset list: lookup in an empty list");
  if (!sorted_) throw EPDFError("Offset list: lookup before sorting");
  // upper_bound is the first value > key: what the step past equal values reaches.
  const auto it = std::upper_bound(items_.begin(), items_.end(), key);
  return it == items_.end() ? items_.back() : *it;
}

// ---- TKVLIntegerPairList ------------------------------------------------------

void TKVLIntegerPairList::AddPair(int32_t key, int32_t value) {
  if (!keys_.empty() && key < keys_.back()) sorted_ = false;
  if (keys_.size() == keys_.capacity()) {
    keys_.reserve(keys_.capacity() * 2 + 1);
    values_.reserve(values_.capacity() * 2 + 1);
  }
  keys_.push_back(key);
  values_.push_back(value);
}

void TKVLIntegerPairList::SortByKey() {
  if (sorted_) return;
  std::vector<size_t> order(keys_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) { return keys_[a] < keys_[b]; });
  std::vector<int32_t> k(keys_.size()), v(values_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    k[i] = keys_[order[i]];
    v[i] = values_[order[i]];
  }
  keys_.swap(k);
  values_.swap(v);
  sorted_ = true;
}

int32_t TKVLIntegerPairList::KeyAt(int i, int32_t def) const {
  return i < 0 || static_cast<size_t>(i) >= keys_.size() ? def : keys_[i];
}

int32_t TKVLIntegerPairList::ValueAt(int i, int32_t def) const {
  return i < 0 || static_cast<size_t>(i) >= values_.size() ? def : values_[i];
}

int32_t TKVLIntegerPairList::Lookup(int32_t key, int32_t def) const {
  if (sorted_) {
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), key);
    if (it == keys_.end() || *it != key) return def;
    return values_[it - keys_.begin()];
  }
  const auto it = std::find(keys_.begin(), keys_.end(), key);
  return it == keys_.end() ? def : values_[it - keys_.begin()];
}

void TKVLIntegerPairList::Clear() {
  keys_.clear();
  values_.clear();
  sorted_ = true;
}

// ---- TKVLSortedUniqueIntegerList ----------------------------------------------

bool TKVLSortedUniqueIntegerList::MarkNew(uint32_t v) {
  const size_t page = v >> 16;
  if (page >= pages_.size()) pages_.resize(page + 1);
  if (!pages_[page]) {
    pages_[page] = std::make_unique<TPage>();
    pages_[page]->fill(1);
  }
  uint8_t& entry = (*pages_[page])[v & 0xFFFF];
  const bool isNew = entry != 0;
  entry = 0;
  return isNew;
}

bool TKVLSortedUniqueIntegerList::Contains(uint32_t v) const {
  const size_t page = v >> 16;
  if (page >= pages_.size() || !pages_[page]) return false;
  return (*pages_[page])[v & 0xFFFF] == 0;
}

}  // namespace pagelume
