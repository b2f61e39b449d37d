#include "engine/document/MarlockPDFLibraryPageTree.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_set>

#include "engine/document/MarlockPDFLibraryDocument.h"

namespace pagelume {

namespace {

TPDFObject* Deref(TPDFObject* obj) {
  if (auto* ref = As<TPDFIndRef>(obj)) return ref->Resolve();
  return obj;
}

// /Count, following one reference; 0 when it is not a number.
int64_t CountOf(TPDFDictionary* d) {
  auto* n = As<TPDFNumeric>(Deref(d->Get("Count", false)));
  const int64_t v = n ? n->AsInt64(0) : 0;
  return std::clamp<int64_t>(v, INT32_MIN, INT32_MAX);
}

double NumberAt(const TPDFArray* a, int i) {
  const auto* n = As<TPDFNumeric>(a->Item(i));
  return n && std::isfinite(n->Amount) ? n->Amount : 0;
}

}  // namespace

TPDFPageTree::TPDFPageTree(TPDFDocument* document, TPDFDictionary* root) : doc_(document), root_(root) {
  if (root_ != nullptr) SelectPage(1);
}

int32_t TPDFPageTree::PageCount() {
  int64_t count = root_ ? CountOf(root_) : 0;
  if (count < 0) count = 0;
  if (count > INT32_MAX) count = INT32_MAX;
  if (count < cachedCount_) std::erase_if(cache_, [&](const auto& e) { return e.first > count; });
  cachedCount_ = int32_t(count);
  return cachedCount_;
}

TPDFDictionary* TPDFPageTree::FindPage(int32_t n) {
  const int32_t count = PageCount();
  if (n < 1 || n > count) return nullptr;
  parent_ = root_;
  auto* kids = As<TPDFArray>(Deref(root_->Get("Kids", false)));
  if (kids == nullptr) return nullptr;
  TPDFDictionary* result = nullptr;
  bool walk = true;
  if (kids->Count() == count) {
    // Flat tree: the page stands at its own position.
    if (auto* ref = As<TPDFIndRef>(kids->Item(n - 1))) {
      auto* d = As<TPDFDictionary>(ref->Resolve());
      if (d == nullptr) return nullptr;
      if (d->TypeName() == "Page" || d->Get("Contents", false) != nullptr) {
        result = d;
        walk = false;
      }
    }
  }
  if (walk) result = Walk(kids, n);
  if (result != nullptr) cache_[n] = result;
  return result;
}

// Descending into a /Pages node ends the level it stands in, so the walk is a loop;
// each /Kids array is entered once, which ends cycles.
TPDFDictionary* TPDFPageTree::Walk(TPDFArray* kids, int32_t n) {
  std::unordered_set<const TPDFArray*> visited;
  int64_t counter = 0;
  TPDFStructure& s = doc_->Structure;
  while (kids != nullptr) {
    if (!visited.insert(kids).second) return nullptr;
    TPDFArray* next = nullptr;
    for (int i = 0; i < kids->Count(); ++i) {
      auto* ref = As<TPDFIndRef>(kids->Item(i));
      if (ref == nullptr) continue;
      auto* d = As<TPDFDictionary>(ref->Resolve());
      if (d == nullptr) {
        // A missing page becomes a blank Letter page; it is counted by later walks.
        TPDFDictionary* page = s.NewDictionary();
        page->Put("Type", s.NewName("Page"));
        if (parent_ != nullptr && parent_->HasNumber)
          page->Put("Parent", s.NewRef(parent_->OwnNumber, parent_->OwnGeneration));
        page->Put("Resources", s.NewDictionary());
        page->Put("MediaBox", s.NewIntegerArray({0, 0, 612, 792}));
        page->Put("CropBox", s.NewIntegerArray({0, 0, 612, 792}));
        page->Put("Rotate", s.NewNumber(0));
        kids->ReplaceItem(i, doc_->MakeIndirect(page));
        continue;
      }
      Bytes kind = d->TypeName();
      if (kind.empty() && d->Get("Kids", false) != nullptr) kind = "Pages";
      if (kind == "Pages") {
        const int64_t c = CountOf(d);
        if (counter + c < n) {
          counter += c;
          continue;
        }
        if (auto* sub = As<TPDFArray>(Deref(d->Get("Kids", false)))) {
          parent_ = d;
          next = sub;
          break;
        }
      } else if (kind == "Page") {
        if (counter + 1 == n) return d;
        ++counter;
      }
    }
    kids = next;
  }
  return nullptr;
}

void TPDFPageTree::SelectPage(int32_t n) {
  sizeKnown_ = false;
  width_ = height_ = 0;
  const int32_t count = PageCount();
  const int32_t k = n >= 1 && n <= count ? n : selectedNumber_;
  TPDFDictionary* page = nullptr;
  if (auto it = cache_.find(k); it != cache_.end()) page = it->second;
  if (page == nullptr) page = FindPage(k);
  contents_.clear();
  if (page == nullptr) {
    selected_ = nullptr;
    selectedNumber_ = 0;
    return;
  }
  selected_ = page;
  selectedNumber_ = k;
  PrepareContents(page);
}

TPDFStream* TPDFPageTree::NewContentStream(bool engineMark) {
  TPDFStructure& s = doc_->Structure;
  TPDFDictionary* dict = s.NewDictionary();
  if (engineMark) dict->Put("LC", s.NewName("eZLT"));
  dict->Put("Length", s.NewNumber(0));
  return s.NewStreamWith(dict, Bytes());
}

void TPDFPageTree::PrepareContents(TPDFDictionary* page) {
  TPDFStructure& s = doc_->Structure;
  TPDFObject* contents = page->Get("Contents", false);
  TPDFArray* array = nullptr;
  if (contents == nullptr) {
    array = s.NewEmptyArray();
    page->Put("Contents", array);
  } else if (auto* ref = As<TPDFIndRef>(contents)) {
    array = As<TPDFArray>(ref->Resolve());
    if (array == nullptr) {
      array = s.NewArray({s.NewRef(ref->RefNumber, ref->RefGeneration)});
      page->Put("Contents", array);
    }
  } else {
    array = As<TPDFArray>(contents);
    if (array == nullptr) return;
  }

  // The last stream must be the engine's own, and not too large to add to.
  const int count = array->Count();
  auto* last = count > 0 ? As<TPDFStream>(Deref(array->Item(count - 1))) : nullptr;
  const TPDFName* mark = last ? As<TPDFName>(last->StreamDict->Get("LC", false)) : nullptr;
  if (last == nullptr || mark == nullptr || mark->NameBytes != "eZLT" || last->Raw().size() > kEngineStreamBytesMax)
    array->Append(doc_->MakeIndirect(NewContentStream(true)));

  for (int i = 0; i < array->Count(); ++i) {
    auto* stream = As<TPDFStream>(Deref(array->Item(i)));
    if (stream == nullptr) {
      stream = NewContentStream(false);
      array->ReplaceItem(i, doc_->MakeIndirect(stream));
    }
    contents_.push_back(stream);
  }
}

double TPDFPageTree::PageWidth() {
  ComputeSize();
  return width_;
}

double TPDFPageTree::PageHeight() {
  ComputeSize();
  return height_;
}

void TPDFPageTree::ComputeSize() {
  if (sizeKnown_ || selected_ == nullptr) return;
  TPDFArray* box = nullptr;
  std::unordered_set<const TPDFDictionary*> visited;
  TPDFDictionary* node = selected_;
  for (int step = 0; node != nullptr && step < kParentChainMax; ++step) {
    box = As<TPDFArray>(Deref(node->Get("MediaBox", false)));
    if (box != nullptr || !visited.insert(node).second) break;
    auto* parent = As<TPDFDictionary>(Deref(node->Get("Parent", false)));
    if (parent == nullptr || visited.count(parent) != 0) break;
    node = parent;
  }
  if (box != nullptr) {
    width_ = std::fabs(NumberAt(box, 2) - NumberAt(box, 0));
    height_ = std::fabs(NumberAt(box, 3) - NumberAt(box, 1));
  } else {
    width_ = kDefaultPageWidth;
    height_ = kDefaultPageHeight;
    if (auto* rootBox = root_ ? As<TPDFArray>(root_->Get("MediaBox", false)) : nullptr) {
      width_ = std::fabs(NumberAt(rootBox, 2) - NumberAt(rootBox, 0));
      height_ = std::fabs(NumberAt(rootBox, 3) - NumberAt(rootBox, 1));
    }
    selected_->Put("MediaBox", doc_->Structure.NewRealArray({0, 0, width_, height_}));
  }
  sizeKnown_ = true;
}

}  // namespace pagelume
