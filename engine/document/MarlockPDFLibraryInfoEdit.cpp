// Editing a loaded document's information dictionary (kept in step with the XMP packet),
// and the catalog's page layout, page mode, viewer preferences and open action.
#include <iterator>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryXMP.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

constexpr const char* kPageLayouts[] = {"SinglePage",    "OneColumn",   "TwoColumnLeft",
                                        "TwoColumnRight", "TwoPageLeft", "TwoPageRight"};
constexpr const char* kPageModes[] = {"UseNone", "UseOutlines", "UseThumbs", "FullScreen", "UseOC", "UseAttachments"};

// Position of the name in the table, or -1.
template <size_t N>
int IndexOfName(const TPDFObject* value, const char* const (&table)[N]) {
  const auto* name = As<TPDFName>(value);
  if (name == nullptr) return -1;
  for (size_t i = 0; i < N; ++i)
    if (name->NameBytes == table[i]) return int(i);
  return -1;
}

// The XMP property that mirrors an information key; false for keys XMP does not carry.
bool SetXmpProperty(TMarlockPDFLibraryXMP& xmp, ByteView key, TextView text) {
  using Setter = void (TMarlockPDFLibraryXMP::*)(TextView);
  static constexpr std::pair<const char*, Setter> kSetters[] = {
      {"Title", &TMarlockPDFLibraryXMP::SetTitle},
      {"Author", &TMarlockPDFLibraryXMP::SetAuthor},
      {"Subject", &TMarlockPDFLibraryXMP::SetSubject},
      {"Keywords", &TMarlockPDFLibraryXMP::SetKeywords},
      {"Creator", &TMarlockPDFLibraryXMP::SetCreator},
      {"Producer", &TMarlockPDFLibraryXMP::SetProducer},
      {"CreationDate", &TMarlockPDFLibraryXMP::SetCreationDate},
      {"ModDate", &TMarlockPDFLibraryXMP::SetModDate},
      {"dc:subject", &TMarlockPDFLibraryXMP::SetDublinCoreSubject},
      {"xmpMM:subject", &TMarlockPDFLibraryXMP::SetMediaManagementSubject},
  };
  for (const auto& [name, setter] : kSetters) {
    if (key == name) {
      (xmp.*setter)(text);
      return true;
    }
  }
  return false;
}

bool IsXmpOnlyKey(ByteView key) { return key == "dc:subject" || key == "xmpMM:subject"; }

}  // namespace

// ---- Information dictionary -------------------------------------------------------------

void TPDFDocument::SetInfoField(ByteView key, TextView text) {
  if (!IsXmpOnlyKey(key)) {
    const Bytes encoded = EncodeTextString(text, false);
    TPDFDictionary* info = GetInfo();
    TPDFObject* value = info->Get(key, true);
    if (auto* string = As<TPDFString>(value)) {
      // In place: an indirect string stays indirect, a hexadecimal one hexadecimal.
      string->SetBytes(encoded);
    } else {
      if (auto* stream = As<TPDFStream>(value)) {
        stream->SetContent(ByteView(), false);
        stream->StreamDict->Remove("DecodeParms");
      }
      info->Put(key, Structure.NewString(encoded, 0));
    }
  }
  SetXmpProperty(*Metadata, key, text);
  RefreshMetadata();
}

Text InfoValueText(TPDFObject* value) {
  if (auto* string = As<TPDFString>(value)) return DecodeTextString(string->GetBytes());
  if (auto* stream = As<TPDFStream>(value)) {
    try {
      return stream->DecodedText();
    } catch (const EPDFError&) {
      return {};
    }
  }
  return {};
}

Text TPDFDocument::GetInfoField(ByteView key) { return InfoValueText(GetInfo()->Get(key, true)); }

// ---- Metadata stream ----------------------------------------------------------------------

void TPDFDocument::RefreshMetadata() {
  // A stored packet that did not parse is not replaced by the default packet: that
  // would lose every property the file had. The file keeps it as it was.
  if (Metadata->LoadFailed()) return;
  StoreMetadata(Metadata->SerializePacket());
}

void TPDFDocument::StoreMetadata(ByteView packet) {
  if (packet.empty()) return;
  // Encrypted documents get the packet too: the writer encrypts it with the other
  // changed objects (or leaves it plain when /EncryptMetadata is false). An unusable
  // /Encrypt leaves the document as it is.
  if (EncryptionState() == kEncryptUnusable) return;
  TPDFDictionary* catalog = GetCatalog();
  auto* stream = As<TPDFStream>(catalog->Get("Metadata", true));
  if (stream != nullptr && !stream->Raw().empty() && ReadMetadataText().empty()) {
    // The stream holds a packet that could not be read (no /Type /Metadata, filters
    // that fail): the tree in memory does not come from it, so it stays.
    return;
  }
  if (stream == nullptr) {
    stream = Structure.NewStream(ByteView(), false);
    catalog->Put("Metadata", MakeIndirect(stream));
  }
  stream->StreamDict->Put("Type", Structure.NewName("Metadata"));
  stream->StreamDict->Put("Subtype", Structure.NewName("XML"));
  stream->StreamDict->Remove("SubType");
  stream->StreamDict->Remove("DecodeParms");
  stream->SetContent(packet, false);
}

// ---- Catalog ------------------------------------------------------------------------------

void TPDFDocument::SetPageLayout(int index) {
  TPDFDictionary* catalog = GetCatalog();
  catalog->Remove("PageLayout");
  if (index >= 0 && index < int(std::size(kPageLayouts)))
    catalog->Put("PageLayout", Structure.NewName(kPageLayouts[index]));
}

int TPDFDocument::GetPageLayout() {
  const int index = IndexOfName(GetCatalog()->Get("PageLayout", false), kPageLayouts);
  return index < 0 ? kNoPageLayout : index;
}

void TPDFDocument::SetPageMode(int index) {
  if (index < 0 || index >= int(std::size(kPageModes))) index = 0;
  TPDFDictionary* catalog = GetCatalog();
  catalog->Remove("PageMode");
  catalog->Put("PageMode", Structure.NewName(kPageModes[index]));
}

int TPDFDocument::GetPageMode() {
  const int index = IndexOfName(GetCatalog()->Get("PageMode", false), kPageModes);
  return index < 0 ? 0 : index;
}

void TPDFDocument::SetViewerPreference(ByteView key, TPDFObject* value) {
  if (value == nullptr) return;
  TPDFDictionary* catalog = GetCatalog();
  auto* prefs = As<TPDFDictionary>(catalog->Get("ViewerPreferences", false));
  if (prefs != nullptr) {
    prefs->Remove(key);
  } else {
    // A referenced dictionary is replaced, not edited: other catalogs may share it.
    prefs = Structure.NewDictionary();
    catalog->Put("ViewerPreferences", prefs);
  }
  prefs->Put(key, value);
}

TPDFObject* TPDFDocument::GetViewerPreference(ByteView key) {
  auto* prefs = As<TPDFDictionary>(GetCatalog()->Get("ViewerPreferences", true));
  return prefs ? prefs->Get(key, true) : nullptr;
}

void TPDFDocument::SetOpenScript(TextView script) {
  TPDFDictionary* catalog = GetCatalog();
  catalog->Remove("OpenAction");
  TPDFDictionary* action = Structure.NewDictionary();
  action->Put("Type", Structure.NewName("Action"));
  action->Put("S", Structure.NewName("JavaScript"));
  action->Put("JS", Structure.NewStringText(script, 0));
  catalog->Put("OpenAction", action);
}

}  // namespace pagelume
