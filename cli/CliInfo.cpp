// pagelume-cli info: the document properties of each file, as the main window shows them,
// or as JSON.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliCommon.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/facade/MarlockPDFLibraryPropertyText.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume::cli {

namespace {

// Item positions of the inspection list.
enum Item {
  kItemAuthor = 2, kItemTitle = 3, kItemSubject = 4, kItemKeywords = 5, kItemCreator = 6, kItemProducer = 7,
  kItemVersion = 8, kItemPages = 9, kItemCreated = 10, kItemModified = 11, kItemSecurity = 13,
  kItemEncrypted = 20, kItemPrint = 23, kItemModify = 24, kItemCopy = 25, kItemAnnotate = 26,
  kItemFillForms = 27, kItemAccessibility = 28, kItemAssemble = 29, kItemKind = 30, kItemFormFields = 31,
  kItemFileSize = 1,
};

// Security answers of the permission questions.
constexpr char16_t kPrintAllowed[] = u"4";
constexpr char16_t kPrintLowResolution[] = u"10";
constexpr char16_t kAllowed[] = u"6";

struct Permission {
  const char* label;
  const char* jsonKey;
  int item;
};
constexpr Permission kPermissions[] = {
    {"Print", "print", kItemPrint},
    {"Modify", "modify", kItemModify},
    {"Copy", "copy", kItemCopy},
    {"Annotate", "annotate", kItemAnnotate},
    {"Fill Forms", "fill_forms", kItemFillForms},
    {"Accessibility", "accessibility", kItemAccessibility},
    {"Assemble", "assemble", kItemAssemble},
};

// What the loaded document adds to the inspection items.
struct DocumentView {
  double width = 0, height = 0;
  int32_t layout = 6, mode = 0;
  bool viewer[6] = {};
};
// Viewer options 1 to 6 of the facade under their JSON keys.
constexpr const char* kViewerKeys[] = {"hide_toolbar", "hide_menubar", "hide_window_ui",
                                       "fit_window", "center_window", "display_doc_title"};

struct Inspected {
  std::string file;
  std::vector<Text> items;
  bool repaired = false;  // the items come from the repaired document
  std::optional<DocumentView> document;
  const Text& operator[](int i) const { return items[size_t(i)]; }
};

bool PermissionAllowed(const Inspected& f, int item) {
  if (item == kItemPrint) return f[item] == kPrintAllowed || f[item] == kPrintLowResolution;
  return f[item] == kAllowed;
}

std::string PermissionWords(const Inspected& f, int item) {
  if (item == kItemPrint && f[item] == kPrintLowResolution) return "allowed (low resolution)";
  return PermissionAllowed(f, item) ? "allowed" : "not allowed";
}

int64_t IntegerItem(const Inspected& f, int item) { return ToInt64(TextToUtf8(f[item]), 0); }

void PrintPlain(const Inspected& f) {
  std::vector<std::pair<std::string, std::string>> lines = {
      {"File Name", f.file},
      {"Title", TextToUtf8(f[kItemTitle])},
      {"Subject", TextToUtf8(f[kItemSubject])},
      {"Author", TextToUtf8(f[kItemAuthor])},
      {"Keywords", TextToUtf8(f[kItemKeywords])},
      {"Creator", TextToUtf8(f[kItemCreator])},
      {"Producer", TextToUtf8(f[kItemProducer])},
      {"PDF Version", TextToUtf8(f[kItemVersion])},
      {"CreateDate", TextToUtf8(DateDisplayText(f[kItemCreated]))},
      {"ModifyDate", TextToUtf8(DateDisplayText(f[kItemModified]))},
      {"File Size", TextToUtf8(FileSizeText(IntegerItem(f, kItemFileSize)))},
      {"Pages", TextToUtf8(PagesText(f[kItemPages]))},
      {"Encryption", TextToUtf8(EncryptionText(f[kItemEncrypted], f[kItemKind]))},
      {"Security", TextToUtf8(f[kItemSecurity])},
  };
  for (const Permission& p : kPermissions) lines.emplace_back(p.label, PermissionWords(f, p.item));
  size_t width = 0;
  for (const auto& [label, value] : lines) width = std::max(width, label.size());
  for (const auto& [label, value] : lines) {
    // Line breaks inside a value would break the one-line-per-property layout.
    std::string flat = value;
    std::replace_if(flat.begin(), flat.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    std::cout << label << ':' << std::string(width - label.size() + 1, ' ') << flat << '\n';
  }
  if (f.repaired)
    std::cout << "Note: the file's structure is damaged; these values were read from the repaired document.\n";
}

void PrintJson(const Inspected& f, const std::string& indent) {
  const std::string in = indent + "  ";
  auto str = [&](const char* key, const std::string& value) {
    std::cout << in << '"' << key << "\": " << value << ",\n";
  };
  std::cout << indent << "{\n";
  str("file", JsonString(f.file));
  str("size", std::to_string(IntegerItem(f, kItemFileSize)));
  str("title", JsonString(f[kItemTitle]));
  str("subject", JsonString(f[kItemSubject]));
  str("author", JsonString(f[kItemAuthor]));
  str("keywords", JsonString(f[kItemKeywords]));
  str("creator", JsonString(f[kItemCreator]));
  str("producer", JsonString(f[kItemProducer]));
  str("version", JsonString(f[kItemVersion]));
  str("pages", std::to_string(IntegerItem(f, kItemPages)));
  str("created", JsonString(f[kItemCreated]));
  str("modified", JsonString(f[kItemModified]));
  str("security", JsonString(f[kItemSecurity]));
  str("encrypted", f[kItemEncrypted] == u"1" ? "true" : "false");
  str("encryption_code", std::to_string(IntegerItem(f, kItemKind)));
  str("encryption", JsonString(EncryptionText(f[kItemEncrypted], f[kItemKind])));
  std::cout << in << "\"permissions\": {";
  for (size_t i = 0; i < std::size(kPermissions); ++i)
    std::cout << (i ? ", " : "") << '"' << kPermissions[i].jsonKey
              << "\": " << (PermissionAllowed(f, kPermissions[i].item) ? "true" : "false");
  std::cout << "},\n";
  str("form_fields", std::to_string(IntegerItem(f, kItemFormFields)));
  str("repaired", f.repaired ? "true" : "false");
  const DocumentView* d = f.document ? &*f.document : nullptr;
  str("page_width", d ? FormatNumber(d->width, 4) : "null");
  str("page_height", d ? FormatNumber(d->height, 4) : "null");
  str("page_layout", d ? std::to_string(d->layout) : "null");
  str("page_mode", d ? std::to_string(d->mode) : "null");
  std::cout << in << "\"viewer\": ";
  if (d) {
    std::cout << "{";
    for (size_t i = 0; i < std::size(kViewerKeys); ++i)
      std::cout << (i ? ", " : "") << '"' << kViewerKeys[i] << "\": " << (d->viewer[i] ? "true" : "false");
    std::cout << "},\n";
  } else {
    std::cout << "null,\n";
  }
  std::cout << in << "\"items\": [";
  for (size_t i = 0; i < f.items.size(); ++i) std::cout << (i ? ", " : "") << JsonString(f.items[i]);
  std::cout << "]\n" << indent << "}";
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  Arguments a = ParseArguments(args, {"--json"});
  if (a.operands.empty()) throw UsageError{"info needs at least one FILE"};
  bool passwordGiven = false;
  const Text password = PasswordOf(a, passwordGiven);
  const bool json = HasFlag(a, "--json");
  const bool several = a.operands.size() > 1;

  int status = kExitOk;
  bool firstShown = true;
  if (json && several) std::cout << "[";
  for (const std::string& file : a.operands) {
    Inspected f;
    f.file = file;
    // Plain output needs no engine instance; an instance starts with a blank document of
    // its own, which costs more than inspecting most files.
    int32_t error = TKavrel::InspectFile(Utf8ToText(file), password, f.items);
    if (error == kErrorStructure || (error == kErrorNone && json)) {
      TMarlockPDFLibrary1711 engine;
      if (error == kErrorStructure) {
        // The quick path cannot read it: the full load may still repair it.
        const int32_t handle = engine.OpenRepairedInspection(Utf8ToText(file), password);
        if (handle != 0) {
          error = kErrorNone;
          f.repaired = true;
          for (int i = 0; i < kInspectionItemCount; ++i) f.items.push_back(engine.GetInspectionItem(handle, i));
          engine.CloseInspection(handle);
        }
      }
      if (error == kErrorNone && json && engine.LoadDocument(Utf8ToText(file), password) == 1) {
        DocumentView d;
        d.width = engine.SelectedPageWidth();
        d.height = engine.SelectedPageHeight();
        d.layout = engine.ReadPageLayout();
        d.mode = engine.ReadPageMode();
        for (int32_t option = 1; option <= 6; ++option) d.viewer[option - 1] = engine.ReadViewerFlag(option) == 1;
        f.document = d;
      }
    }
    if (error != kErrorNone) {
      std::cout.flush();
      std::cerr << ErrorMessage(file, error, passwordGiven) << '\n';
      status = std::max(status, ExitCodeOf(error));
      continue;
    }
    if (json) {
      if (several) std::cout << (firstShown ? "\n" : ",\n");
      PrintJson(f, several ? "  " : "");
      if (!several) std::cout << '\n';
    } else {
      if (!firstShown) std::cout << '\n';
      PrintPlain(f);
    }
    firstShown = false;
  }
  if (json && several) std::cout << (firstShown ? "]\n" : "\n]\n");
  std::cout.flush();
  return status;
}

}  // namespace pagelume::cli
