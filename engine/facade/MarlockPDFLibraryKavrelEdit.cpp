// The facade's editing operations on the selected document: information fields with
// their read-back, page layout and mode, viewer preferences and the open script.
#include <iterator>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

// Information keys 1 to 8 of WriteInfoField and ReadInfoField.
constexpr const char* kInfoKeys[] = {"", "Author", "Title", "Subject", "Keywords", "Creator",
                                     "Producer", "CreationDate", "ModDate"};
constexpr int32_t kKeyVersion = 0;
constexpr int32_t kKeyCreationDate = 7;
constexpr int32_t kKeyModDate = 8;
constexpr int32_t kKeyDcSubject = 9;
constexpr int32_t kKeyMmSubject = 10;

constexpr const char16_t* kVersions[] = {u"1.0", u"1.1", u"1.2", u"1.3", u"1.4",
                                         u"1.5", u"1.6", u"1.7", u"2.0"};

// A full PDF date, D:YYYYMMDDHHmmSS+HH'mm', has this many characters.
constexpr size_t kFullDateLength = 23;
// What a shorter date is completed with: month and day 01, time 00, zone -00'00'.
constexpr char16_t kDateCompletion[] = u"0101000000-00'00'";
constexpr size_t kDatePrefixLength = 6;  // "D:YYYY": the completion starts after it
// D:YYYYMMDDHHmmSSZ is full too: the positional completion would make it
// "...Z00'00'", so every date the engine stores on a machine at UTC would read broken.
constexpr size_t kUtcDateLength = 17;

constexpr int32_t kPageLayoutCount = 7;  // 0 to 5 and 6 (no preference)
constexpr int32_t kPageModeCount = 6;
constexpr int32_t kTwoPageLeft = 4;
constexpr int32_t kTwoPageRight = 5;
constexpr char kTwoPageVersion[] = "1.5";

enum class TFlagKind { Boolean, Name, Integer };
struct TViewerOption {
  const char* Key;
  TFlagKind Kind;
  std::initializer_list<const char*> Names;  // the values 0, 1, ... of a name option
};
const char* const kBoxes[] = {"MediaBox", "CropBox", "BleedBox", "TrimBox", "ArtBox"};
const TViewerOption kViewerOptions[] = {
    {"", TFlagKind::Boolean, {}},
    {"HideToolbar", TFlagKind::Boolean, {}},
    {"HideMenubar", TFlagKind::Boolean, {}},
    {"HideWindowUI", TFlagKind::Boolean, {}},
    {"FitWindow", TFlagKind::Boolean, {}},
    {"CenterWindow", TFlagKind::Boolean, {}},
    {"DisplayDocTitle", TFlagKind::Boolean, {}},
    {"NonFullScreenPageMode", TFlagKind::Name, {"UseNone", "UseOutlines", "UseThumbs", "UseOC"}},
    {"Direction", TFlagKind::Name, {"L2R", "R2L"}},
    {"ViewArea", TFlagKind::Name, {kBoxes[0], kBoxes[1], kBoxes[2], kBoxes[3], kBoxes[4]}},
    {"ViewClip", TFlagKind::Name, {kBoxes[0], kBoxes[1], kBoxes[2], kBoxes[3], kBoxes[4]}},
    {"PrintArea", TFlagKind::Name, {kBoxes[0], kBoxes[1], kBoxes[2], kBoxes[3], kBoxes[4]}},
    {"PrintClip", TFlagKind::Name, {kBoxes[0], kBoxes[1], kBoxes[2], kBoxes[3], kBoxes[4]}},
    {"PrintScaling", TFlagKind::Name, {"None", "AppDefault"}},
    {"Duplex", TFlagKind::Name, {"Simplex", "DuplexFlipShortEdge", "DuplexFlipLongEdge"}},
    {"PickTrayByPDFSize", TFlagKind::Boolean, {}},
    {"NumCopies", TFlagKind::Integer, {}},
};
constexpr int32_t kLastViewerOption = int32_t(std::size(kViewerOptions)) - 1;

bool IsVersionText(TextView text) {
  for (const char16_t* v : kVersions)
    if (text == v) return true;
  return false;
}

}  // namespace

int32_t TKavrel::WriteInfoField(int32_t key, TextView text) {
  ErrorCode = kErrorNone;
  if (key < kKeyVersion || key > kKeyMmSubject) {
    ErrorCode = kErrorInfoKey;
    return 0;
  }
  if (selected_ == nullptr) return 0;
  try {
    if (key == kKeyVersion) {
      if (IsVersionText(text)) selected_->Version = TextToUtf8(text);
    } else if (key == kKeyDcSubject || key == kKeyMmSubject) {
      selected_->SetInfoField(key == kKeyDcSubject ? "dc:subject" : "xmpMM:subject", text);
      return 1;
    } else {
      selected_->SetInfoField(kInfoKeys[key], text);
      if (key == kKeyModDate) selected_->ModDateSet = true;
    }
    return ReadInfoField(key) == text ? 1 : 0;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

Text TKavrel::ReadInfoField(int32_t key) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return {};
  try {
    if (key == kKeyVersion) return AsciiToText(selected_->Version);
    if (key < 1 || key > kKeyModDate) return {};
    Text text = selected_->GetInfoField(kInfoKeys[key]);
    if (key != kKeyCreationDate && key != kKeyModDate) return text;
    if (text.substr(0, 2) != u"D:") text.insert(0, u"D:");
    if (text.size() == kUtcDateLength && text.back() == u'Z') return text;
    if (text.size() >= kDatePrefixLength && text.size() < kFullDateLength)
      text += TextView(kDateCompletion).substr(text.size() - kDatePrefixLength);
    if (text.size() != kFullDateLength) {
      ErrorCode = kErrorDate;
      return {};
    }
    return text;
  } catch (...) {
    ErrorCode = kErrorFile;
    return {};
  }
}

int32_t TKavrel::WritePageLayout(int32_t layout) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return 0;
  if (layout < 0 || layout >= kPageLayoutCount) layout = 0;
  try {
    selected_->SetPageLayout(layout);
    if ((layout == kTwoPageLeft || layout == kTwoPageRight) && selected_->Version < kTwoPageVersion)
      selected_->Version = kTwoPageVersion;
    return 1;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::ReadPageLayout() {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return TPDFDocument::kNoPageLayout;
  try {
    return selected_->GetPageLayout();
  } catch (...) {
    ErrorCode = kErrorFile;
    return TPDFDocument::kNoPageLayout;
  }
}

int32_t TKavrel::WritePageMode(int32_t mode) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return 0;
  if (mode < 0 || mode >= kPageModeCount) mode = 0;
  try {
    selected_->SetPageMode(mode);
    return 1;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::ReadPageMode() {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return 0;
  try {
    return selected_->GetPageMode();
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::WriteViewerFlag(int32_t option, int32_t value) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr || option < 1 || option > kLastViewerOption) return 0;
  const TViewerOption& o = kViewerOptions[option];
  try {
    TPDFStructure& s = selected_->Structure;
    TPDFObject* object = nullptr;
    switch (o.Kind) {
      case TFlagKind::Boolean:
        if (value != 0 && value != 1) return 0;
        object = s.NewBoolean(value == 1);
        break;
      case TFlagKind::Name:
        if (value < 0 || size_t(value) >= o.Names.size()) return 0;
        object = s.NewName(o.Names.begin()[value]);
        break;
      case TFlagKind::Integer:
        if (value < 1) return 0;
        object = s.NewNumber(double(value));
        break;
    }
    selected_->SetViewerPreference(o.Key, object);
    return 1;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::ReadViewerFlag(int32_t option) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr || option < 1 || option > kLastViewerOption) return 0;
  const TViewerOption& o = kViewerOptions[option];
  try {
    TPDFObject* value = selected_->GetViewerPreference(o.Key);
    switch (o.Kind) {
      case TFlagKind::Boolean: {
        const auto* b = As<TPDFBoolean>(value);
        return b != nullptr && b->Truth ? 1 : 0;
      }
      case TFlagKind::Name: {
        const auto* name = As<TPDFName>(value);
        if (name == nullptr) return 0;
        for (size_t i = 0; i < o.Names.size(); ++i)
          if (name->NameBytes == o.Names.begin()[i]) return int32_t(i);
        return 0;
      }
      case TFlagKind::Integer: {
        const auto* n = As<TPDFNumeric>(value);
        return n != nullptr ? n->AsInteger() : 0;
      }
    }
    return 0;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

int32_t TKavrel::WriteOpenScript(TextView script) {
  ErrorCode = kErrorNone;
  if (selected_ == nullptr) return 0;
  try {
    selected_->SetOpenScript(script);
    return 1;
  } catch (...) {
    ErrorCode = kErrorFile;
    return 0;
  }
}

}  // namespace pagelume
