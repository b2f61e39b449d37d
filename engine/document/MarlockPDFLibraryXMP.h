// The document's XMP metadata packet, held as a libxml2 tree and kept in step with
// the information dictionary through the setters below.
#pragma once

#include <cstddef>

#include "engine/objects/MarlockPDFLibraryTypes.h"

// libxml2's types, declared here so that callers need not see its headers.
struct _xmlDoc;
struct _xmlNode;

namespace pagelume {

class TMarlockPDFLibraryXMP {
 public:
  // A larger packet is not parsed; the tree in hand stays.
  static constexpr size_t kPacketBytesMax = size_t{64} << 20;

  // Builds the default packet: the xpacket wrapper around x:xmpmeta/rdf:RDF with
  // dc, xmp and pdf descriptions holding empty properties and dc:format.
  TMarlockPDFLibraryXMP();
  ~TMarlockPDFLibraryXMP();
  TMarlockPDFLibraryXMP(const TMarlockPDFLibraryXMP&) = delete;
  TMarlockPDFLibraryXMP& operator=(const TMarlockPDFLibraryXMP&) = delete;

  // Replaces the tree by the parsed UTF-8 packet and re-reads the cached values.
  // A packet that does not parse leaves the tree and the values as they were.
  void LoadPacket(ByteView bytes);
  // The packet as UTF-8, indented, without an XML declaration, padded with 1023
  // spaces and a line feed before the end processing instruction; empty when the
  // object is unusable or the tree cannot be written out.
  Bytes SerializePacket() const;

  // Each setter does nothing when the value equals the cached one; otherwise it
  // caches the value and rewrites the property in the tree.
  void SetTitle(TextView value);                  // dc:title
  void SetAuthor(TextView value);                 // dc:creator
  void SetSubject(TextView value);                // dc:description
  void SetKeywords(TextView value);               // pdf:Keywords
  void SetCreator(TextView value);                // xmp:CreatorTool
  void SetProducer(TextView value);               // pdf:Producer
  void SetCreationDate(TextView value);           // xmp:CreateDate, converted from a PDF date
  void SetModDate(TextView value);                // xmp:ModifyDate, converted from a PDF date
  void SetDublinCoreSubject(TextView value);      // dc:subject, removed when empty
  void SetMediaManagementSubject(TextView value); // xmpMM:subject, removed when empty

  // The last value written or read for each property (dates in XMP form).
  const Text& Title() const { return cache_[kTitle]; }
  const Text& Author() const { return cache_[kAuthor]; }
  const Text& Subject() const { return cache_[kSubject]; }
  const Text& Keywords() const { return cache_[kKeywords]; }
  const Text& Creator() const { return cache_[kCreator]; }
  const Text& Producer() const { return cache_[kProducer]; }
  const Text& CreationDate() const { return cache_[kCreationDate]; }
  const Text& ModDate() const { return cache_[kModDate]; }
  const Text& DublinCoreSubject() const { return cache_[kDcSubject]; }
  const Text& MediaManagementSubject() const { return cache_[kMmSubject]; }

  // True when libxml2 could not create a document; every operation then does nothing.
  bool Unusable() const { return unusable_; }
  // True when the last LoadPacket was given bytes that did not parse (the tree is
  // then the one from before, and does not reflect the stored packet).
  bool LoadFailed() const { return loadFailed_; }

  // D:YYYYMMDDHHmmSSZ -> YYYY-MM-DDTHH:mm:SSZ, D:YYYYMMDDHHmmSS+HH'mm' ->
  // YYYY-MM-DDTHH:mm:SS+HH:mm; any other value is returned unchanged.
  static Text PdfDateToXmp(TextView value);

 private:
  enum TProperty : int {
    kTitle, kAuthor, kSubject, kKeywords, kCreator, kProducer,
    kCreationDate, kModDate, kDcSubject, kMmSubject, kPropertyCount
  };

  void BuildDefaultPacket();
  void ReadCachedValues();
  void SetProperty(TProperty property, Text value);
  void WriteProperty(TProperty property);
  void WriteSimple(const char* nsHref, const char* prefix, const char* name, ByteView value);
  _xmlNode* FindDescription(const char* nsHref) const;
  _xmlNode* DescriptionFor(const char* nsHref, const char* prefix);

  _xmlDoc* doc_ = nullptr;
  _xmlNode* meta_ = nullptr;  // x:xmpmeta, or none in a loaded packet without it
  _xmlNode* rdf_ = nullptr;   // rdf:RDF under it
  bool unusable_ = false;
  bool loadFailed_ = false;
  Text cache_[kPropertyCount];
};

}  // namespace pagelume
