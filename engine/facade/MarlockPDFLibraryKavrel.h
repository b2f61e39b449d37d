// The engine instance: the one object through which the window and the command-line
// tool drive the engine. Every operation is a flat call that returns 1 (or a value)
// for success and 0 for failure, and leaves ErrorCode on the instance; no exception
// ever leaves an operation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/objects/MarlockPDFLibraryContainers.h"
#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume {

class TPDFDocument;

inline constexpr int32_t kHandleBase = 0x58000000;
inline constexpr int32_t kHandleIndexMask = 0x7FFFFFF;

// Error codes left in ErrorCode.
inline constexpr int32_t kErrorNone = 0;
inline constexpr int32_t kErrorInfoKey = 202;     // information key outside 0 to 10
inline constexpr int32_t kErrorFile = 401;        // missing, unreadable, or failed to load
inline constexpr int32_t kErrorPassword = 404;    // encrypted and the password does not open it
inline constexpr int32_t kErrorStructure = 409;   // no valid header or no usable cross-reference data
inline constexpr int32_t kErrorDate = 999;        // a date that cannot be completed to full form

// Results of ShowObject.
inline constexpr int32_t kShowFailed = 0;       // ErrorCode says why (401, 404, 409)
inline constexpr int32_t kShowFound = 1;
inline constexpr int32_t kShowNoObject = 2;     // the file has no object of that number
inline constexpr int32_t kShowUndecodable = 3;  // a stream whose data its filters cannot decode

// Number of items of an inspection list.
inline constexpr int kInspectionItemCount = 44;

// Units of SetUnitScale.
inline constexpr double kPointsPerPoint = 1.0;
inline constexpr double kMillimetresPerPoint = 25.4 / 72.0;
inline constexpr double kInchesPerPoint = 1.0 / 72.0;

class TKavrel {
 public:
  // Creates the instance and its blank one-page document, which is selected.
  TKavrel();
  virtual ~TKavrel();
  TKavrel(const TKavrel&) = delete;
  TKavrel& operator=(const TKavrel&) = delete;

  int32_t ErrorCode = kErrorNone;

  // ---- Quick inspection -----------------------------------------------------
  // Handle of a new list of the 44 inspection items, or 0 (ErrorCode 401, 404, 409).
  int32_t OpenInspection(TextView fileName, TextView password);
  // For a file the quick path cannot read (409): the same 44 items taken from the
  // fully loaded (repaired) document. Handle or 0 (ErrorCode 401, 404).
  int32_t OpenRepairedInspection(TextView fileName, TextView password);
  int32_t CloseInspection(int32_t handle);
  Text GetInspectionItem(int32_t handle, int32_t index);
  // The 44 items OpenInspection would list, without an instance (and so without the
  // blank document one makes): kErrorNone, or 401, 404 or 409 as OpenInspection.
  static int32_t InspectFile(TextView fileName, TextView password, std::vector<Text>& items);
  // Object `number` of the file (0: the newest trailer), found the way quick inspection
  // finds objects (object streams included) and decrypted, in PDF syntax framed by
  // "N G obj" and "endobj" lines ("trailer" for the trailer). With `decode`, a stream's
  // decoded data alone. kShowFound, kShowNoObject, kShowUndecodable, or kShowFailed
  // with ErrorCode 401, 404 or 409.
  int32_t ShowObject(TextView fileName, TextView password, int32_t number, bool decode, Bytes& out);

  // ---- Documents (all act on the selected document) --------------------------
  int32_t LoadDocument(TextView fileName, TextView password);
  int32_t SaveDocument(TextView fileName);
  int32_t SetUnitScale(int32_t units);
  double SelectedPageWidth();
  double SelectedPageHeight();
  int32_t ReadPageLayout();
  int32_t ReadPageMode();
  int32_t WritePageLayout(int32_t layout);
  int32_t WritePageMode(int32_t mode);
  int32_t ReadViewerFlag(int32_t option);
  int32_t WriteViewerFlag(int32_t option, int32_t value);
  int32_t WriteInfoField(int32_t key, TextView text);
  Text ReadInfoField(int32_t key);
  int32_t WriteOpenScript(TextView script);

  TPDFDocument* SelectedDocument() const { return selected_; }

 protected:
  // Handle registry: position i gives handle kHandleBase + i. It refers, never owns;
  // a freed object's slot is cleared so that its old handle stops resolving.
  // Creates, registers and selects the blank document every instance starts with.
  void CreateInitialDocument();
  // The file loaded as a new document, or null. `result`: TPDFDocument's load result, or
  // kFileUnopened when the file is missing or cannot be opened.
  static constexpr int kFileUnopened = -1;
  static std::unique_ptr<TPDFDocument> LoadFile(TextView fileName, TextView password, int& result);
  // Keeps a new inspection list of `items` and returns its handle (0 when it cannot be registered).
  int32_t AddInspectionList(const std::vector<Bytes>& items);

  enum class THandleKind { None, Document, InspectionList };
  struct THandleSlot {
    void* Object = nullptr;
    THandleKind Kind = THandleKind::None;
  };
  int32_t Register(void* object, THandleKind kind);
  void* Resolve(int32_t handle, THandleKind kind) const;
  void Unregister(void* object);

  std::vector<std::unique_ptr<TPDFDocument>> documents_;
  TPDFDocument* selected_ = nullptr;
  std::vector<std::unique_ptr<TKavrelStringList>> inspectionLists_;
  std::vector<THandleSlot> registry_;
};

// The instance class the window and the command-line tool create.
class TMarlockPDFLibrary1711 : public TKavrel {};

}  // namespace pagelume
