// Page-by-number access to a document's page tree: counting, finding page n by
// walking /Kids, selecting one page and preparing its content streams, and the
// selected page's size. It repairs what it walks over (missing pages, a missing
// media box, /Contents not in array form), so these are changes of the document.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/objects/MarlockPDFLibraryStructure.h"

namespace pagelume {

class TPDFDocument;

// A page's own content streams whose last stream holds more than this get a new
// engine stream after it.
inline constexpr size_t kEngineStreamBytesMax = 500000;
// /Parent links followed when looking for an inherited /MediaBox.
inline constexpr int kParentChainMax = 1024;
// Default page size (US Letter, points).
inline constexpr double kDefaultPageWidth = 612;
inline constexpr double kDefaultPageHeight = 792;

class TPDFPageTree {
 public:
  // With a root, page 1 is selected at once (which may change the document).
  TPDFPageTree(TPDFDocument* document, TPDFDictionary* root);

  // The root's /Count; 0 without a root or for a value that is not a positive number.
  int32_t PageCount();
  // The dictionary of page n (1-based), or null.
  TPDFDictionary* FindPage(int32_t n);
  // Selects page n (outside 1..PageCount: the selected page again) and prepares its
  // content streams so that the last one is the engine's own (/LC /eZLT).
  void SelectPage(int32_t n);
  int32_t SelectedPageNumber() const { return selectedNumber_; }
  TPDFDictionary* SelectedPage() const { return selected_; }
  const std::vector<TPDFStream*>& ContentStreams() const { return contents_; }
  TPDFDictionary* Root() const { return root_; }
  // The /Pages node in which the last page found was met.
  TPDFDictionary* ParentNode() const { return parent_; }

  // Size of the selected page in points (0 when none is selected); a page without a
  // media box anywhere up its /Parent chain gets one.
  double PageWidth();
  double PageHeight();

 private:
  TPDFDictionary* Walk(TPDFArray* kids, int32_t n);
  TPDFStream* NewContentStream(bool engineMark);
  void PrepareContents(TPDFDictionary* page);
  void ComputeSize();

  TPDFDocument* doc_;
  TPDFDictionary* root_;
  // Pages found so far by number; only pages up to the last count read are kept.
  std::unordered_map<int32_t, TPDFDictionary*> cache_;
  int32_t cachedCount_ = 0;
  TPDFDictionary* parent_ = nullptr;
  int32_t selectedNumber_ = 0;
  TPDFDictionary* selected_ = nullptr;
  std::vector<TPDFStream*> contents_;
  bool sizeKnown_ = false;
  double width_ = 0;
  double height_ = 0;
};

}  // namespace pagelume
