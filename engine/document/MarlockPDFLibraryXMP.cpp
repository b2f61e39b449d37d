#include "engine/document/MarlockPDFLibraryXMP.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <cstring>
#include <memory>

#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume {

namespace {

constexpr const char* kNsX = "adobe:ns:meta/";
constexpr const char* kNsRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr const char* kNsDc = "http://purl.org/dc/elements/1.1/";
constexpr const char* kNsXmp = "http://ns.adobe.com/xap/1.0/";
constexpr const char* kNsPdf = "http://ns.adobe.com/pdf/1.3/";
constexpr const char* kNsXmpMM = "http://ns.adobe.com/xap/1.0/mm/";

struct TNsBinding {
  const char* prefix;
  const char* href;
};
constexpr TNsBinding kBindings[] = {{"x", kNsX},     {"rdf", kNsRdf}, {"xmp", kNsXmp},
                                    {"dc", kNsDc},   {"pdf", kNsPdf}, {"xmpMM", kNsXmpMM}};

constexpr const char* kBeginData = "begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"";
constexpr const char* kEndData = "end=\"w\"";
constexpr const char* kEndMarker = "<?xpacket end=";
// Room for in-place edits by other tools, as XMP writers customarily leave.
constexpr size_t kPaddingSpaces = 1023;

// No network, no external entities or DTD, no entity substitution; libxml2's own
// depth and text-size limits stay on (no XML_PARSE_HUGE). Blank-only text between
// elements is dropped so that the saved packet is indented afresh.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                              XML_PARSE_NOBLANKS | XML_PARSE_IGNORE_ENC;

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

bool SameText(const xmlChar* a, const char* b) {
  return a != nullptr && std::strcmp(reinterpret_cast<const char*>(a), b) == 0;
}

struct TXPathObjectFree {
  void operator()(xmlXPathObject* p) const { xmlXPathFreeObject(p); }
};
using TXPathObjectPtr = std::unique_ptr<xmlXPathObject, TXPathObjectFree>;

// Evaluates an absolute path with the six prefixes bound.
TXPathObjectPtr Select(xmlDocPtr doc, const char* path) {
  xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
  if (ctx == nullptr) return nullptr;
  for (const TNsBinding& b : kBindings) xmlXPathRegisterNs(ctx, X(b.prefix), X(b.href));
  TXPathObjectPtr result(xmlXPathEvalExpression(X(path), ctx));
  xmlXPathFreeContext(ctx);
  return result;
}

int NodeCount(const TXPathObjectPtr& r) {
  if (!r || r->type != XPATH_NODESET || r->nodesetval == nullptr) return 0;
  return r->nodesetval->nodeNr;
}

xmlNodePtr SelectFirst(xmlDocPtr doc, const char* path) {
  TXPathObjectPtr r = Select(doc, path);
  return NodeCount(r) > 0 ? r->nodesetval->nodeTab[0] : nullptr;
}

// The value of the first child of the first node the path finds, as a DOM's
// nodeValue gives it (text, CDATA, comment, PI data); false when there is none.
bool ReadFirstValue(xmlDocPtr doc, const char* path, Text& out) {
  const xmlNodePtr node = SelectFirst(doc, path);
  if (node == nullptr || node->children == nullptr) return false;
  const xmlNodePtr child = node->children;
  out.clear();
  switch (child->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: {
      xmlChar* content = xmlNodeGetContent(child);
      if (content != nullptr) {
        out = Utf8ToText(reinterpret_cast<const char*>(content));
        xmlFree(content);
      }
      break;
    }
    default:
      break;
  }
  return true;
}

// The namespace to give a node in the tree: the one in scope under the usual
// prefix, else any in scope with that name, else a new declaration on the node.
xmlNsPtr NamespaceFor(xmlNodePtr node, const char* href, const char* prefix) {
  xmlNsPtr ns = xmlSearchNs(node->doc, node, X(prefix));
  if (ns != nullptr && SameText(ns->href, href)) return ns;
  ns = xmlSearchNsByHref(node->doc, node, X(href));
  if (ns != nullptr) return ns;
  return xmlNewNs(node, X(href), X(prefix));
}

// Appends a new element prefix:name in `href` as the last child of `parent`.
xmlNodePtr AppendElement(xmlNodePtr parent, const char* href, const char* prefix, const char* name) {
  xmlNodePtr node = xmlNewDocNode(parent->doc, nullptr, X(name), nullptr);
  if (node == nullptr) return nullptr;
  if (xmlAddChild(parent, node) == nullptr) {
    xmlFreeNode(node);
    return nullptr;
  }
  xmlSetNs(node, NamespaceFor(node, href, prefix));
  return node;
}

// Text is added as a text node, never parsed, so markup characters are escaped on output.
void AppendText(xmlNodePtr node, ByteView utf8) {
  if (node == nullptr || utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return;
  xmlNodePtr text = xmlNewDocTextLen(node->doc, X(utf8.data()), static_cast<int>(utf8.size()));
  if (text != nullptr && xmlAddChild(node, text) == nullptr) xmlFreeNode(text);
}

bool IsXmlNamespaceDeclaration(xmlAttrPtr attr) {
  if (attr->ns != nullptr) return SameText(attr->ns->prefix, "xmlns");
  return attr->name != nullptr &&
         std::strncmp(reinterpret_cast<const char*>(attr->name), "xmlns:", 6) == 0;
}

// True when the node declares a prefix for `href`. libxml2 keeps declarations on the
// node's namespace list; an attribute spelled xmlns:... (only in a tree built by
// hand) counts as well.
bool DeclaresNamespace(xmlNodePtr node, const char* href) {
  for (xmlNsPtr ns = node->nsDef; ns != nullptr; ns = ns->next)
    if (ns->prefix != nullptr && SameText(ns->href, href)) return true;
  for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
    if (!IsXmlNamespaceDeclaration(attr)) continue;
    xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
    const bool same = SameText(value, href);
    xmlFree(value);
    if (same) return true;
  }
  return false;
}

// Characters XML 1.0 cannot carry (C0 controls but tab, LF and CR; U+FFFE, U+FFFF)
// would make the saved packet unreadable, so they are left out; a lone surrogate
// becomes U+FFFD.
Bytes XmlTextUtf8(TextView value) {
  Text clean;
  clean.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const char16_t c = value[i];
    if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) continue;
    if (c == 0xFFFE || c == 0xFFFF) continue;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < value.size() && value[i + 1] >= 0xDC00 &&
        value[i + 1] <= 0xDFFF) {
      clean.push_back(c);
      clean.push_back(value[++i]);
      continue;
    }
    clean.push_back(c >= 0xD800 && c <= 0xDFFF ? char16_t{0xFFFD} : c);
  }
  return TextToUtf8(clean);
}

enum class TForm { Simple, Alt, Seq, Bag };

struct TPropertyInfo {
  const char* href;
  const char* prefix;
  const char* name;
  TForm form;
  bool goneWhenEmpty;
};

}  // namespace

TMarlockPDFLibraryXMP::TMarlockPDFLibraryXMP() {
  xmlInitParser();
  BuildDefaultPacket();
}

TMarlockPDFLibraryXMP::~TMarlockPDFLibraryXMP() {
  if (doc_ != nullptr) xmlFreeDoc(doc_);
}

void TMarlockPDFLibraryXMP::BuildDefaultPacket() {
  doc_ = xmlNewDoc(X("1.0"));
  if (doc_ == nullptr) {
    unusable_ = true;
    return;
  }
  xmlNodePtr begin = xmlNewDocPI(doc_, X("xpacket"), X(kBeginData));
  xmlNodePtr meta = xmlNewDocNode(doc_, nullptr, X("xmpmeta"), nullptr);
  xmlNodePtr end = xmlNewDocPI(doc_, X("xpacket"), X(kEndData));
  if (begin == nullptr || meta == nullptr || end == nullptr) {
    xmlFreeNode(begin);
    xmlFreeNode(meta);
    xmlFreeNode(end);
    xmlFreeDoc(doc_);
    doc_ = nullptr;
    unusable_ = true;
    return;
  }
  xmlAddChild(reinterpret_cast<xmlNodePtr>(doc_), begin);
  xmlAddChild(reinterpret_cast<xmlNodePtr>(doc_), meta);
  xmlAddChild(reinterpret_cast<xmlNodePtr>(doc_), end);
  xmlSetNs(meta, xmlNewNs(meta, X(kNsX), X("x")));
  meta_ = meta;
  rdf_ = AppendElement(meta_, kNsRdf, "rdf", "RDF");
  if (rdf_ == nullptr) {
    unusable_ = true;
    return;
  }

  WriteSimple(kNsDc, "dc", "format", "application/pdf");
  for (TProperty p : {kAuthor, kSubject, kTitle, kCreator, kCreationDate, kModDate, kKeywords, kProducer})
    WriteProperty(p);
}

void TMarlockPDFLibraryXMP::LoadPacket(ByteView bytes) {
  if (unusable_ || bytes.empty()) return;
  loadFailed_ = true;
  if (bytes.size() > kPacketBytesMax) return;
  // Through UTF-16 and back, so that ill-formed UTF-8 reaches libxml2 as U+FFFD.
  const Bytes utf8 = TextToUtf8(Utf8ToText(bytes));
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return;
  xmlDocPtr parsed =
      xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", kParseOptions);
  if (parsed == nullptr) return;
  loadFailed_ = false;

  xmlFreeDoc(doc_);
  doc_ = parsed;
  meta_ = SelectFirst(doc_, "/x:xmpmeta");
  rdf_ = nullptr;
  if (meta_ == nullptr) return;
  rdf_ = SelectFirst(doc_, "/x:xmpmeta/rdf:RDF");
  if (rdf_ == nullptr) rdf_ = AppendElement(meta_, kNsRdf, "rdf", "RDF");
  ReadCachedValues();
}

void TMarlockPDFLibraryXMP::ReadCachedValues() {
  struct TPath {
    TProperty property;
    const char* path;
  };
  static constexpr TPath kPaths[] = {
      {kTitle, "/x:xmpmeta/rdf:RDF/rdf:Description/dc:title/rdf:Alt/rdf:li"},
      {kAuthor, "/x:xmpmeta/rdf:RDF/rdf:Description/dc:creator/rdf:Bag/rdf:li"},
      {kAuthor, "/x:xmpmeta/rdf:RDF/rdf:Description/dc:creator/rdf:Seq/rdf:li"},
      {kSubject, "/x:xmpmeta/rdf:RDF/rdf:Description/dc:description/rdf:Alt/rdf:li"},
      {kKeywords, "/x:xmpmeta/rdf:RDF/rdf:Description/pdf:Keywords"},
      {kCreator, "/x:xmpmeta/rdf:RDF/rdf:Description/xmp:CreatorTool"},
      {kProducer, "/x:xmpmeta/rdf:RDF/rdf:Description/pdf:Producer"},
      {kCreationDate, "/x:xmpmeta/rdf:RDF/rdf:Description/xmp:CreateDate"},
      {kModDate, "/x:xmpmeta/rdf:RDF/rdf:Description/xmp:ModifyDate"},
      {kDcSubject, "/x:xmpmeta/rdf:RDF/rdf:Description/dc:subject/rdf:Bag/rdf:li"},
      {kMmSubject, "/x:xmpmeta/rdf:RDF/rdf:Description/xmpMM:subject/rdf:Seq/rdf:li"},
  };
  for (Text& value : cache_) value.clear();
  for (const TPath& p : kPaths) {
    Text value;
    if (ReadFirstValue(doc_, p.path, value)) cache_[p.property] = std::move(value);
  }
}

void TMarlockPDFLibraryXMP::SetTitle(TextView value) { SetProperty(kTitle, Text(value)); }
void TMarlockPDFLibraryXMP::SetAuthor(TextView value) { SetProperty(kAuthor, Text(value)); }
void TMarlockPDFLibraryXMP::SetSubject(TextView value) { SetProperty(kSubject, Text(value)); }
void TMarlockPDFLibraryXMP::SetKeywords(TextView value) { SetProperty(kKeywords, Text(value)); }
void TMarlockPDFLibraryXMP::SetCreator(TextView value) { SetProperty(kCreator, Text(value)); }
void TMarlockPDFLibraryXMP::SetProducer(TextView value) { SetProperty(kProducer, Text(value)); }
void TMarlockPDFLibraryXMP::SetCreationDate(TextView value) {
  SetProperty(kCreationDate, PdfDateToXmp(value));
}
void TMarlockPDFLibraryXMP::SetModDate(TextView value) { SetProperty(kModDate, PdfDateToXmp(value)); }
void TMarlockPDFLibraryXMP::SetDublinCoreSubject(TextView value) { SetProperty(kDcSubject, Text(value)); }
void TMarlockPDFLibraryXMP::SetMediaManagementSubject(TextView value) {
  SetProperty(kMmSubject, Text(value));
}

void TMarlockPDFLibraryXMP::SetProperty(TProperty property, Text value) {
  if (unusable_ || value == cache_[property]) return;
  cache_[property] = std::move(value);
  WriteProperty(property);
}

void TMarlockPDFLibraryXMP::WriteProperty(TProperty property) {
  static constexpr TPropertyInfo kInfo[kPropertyCount] = {
      {kNsDc, "dc", "title", TForm::Alt, false},
      {kNsDc, "dc", "creator", TForm::Seq, false},
      {kNsDc, "dc", "description", TForm::Alt, false},
      {kNsPdf, "pdf", "Keywords", TForm::Simple, false},
      {kNsXmp, "xmp", "CreatorTool", TForm::Simple, false},
      {kNsPdf, "pdf", "Producer", TForm::Simple, false},
      {kNsXmp, "xmp", "CreateDate", TForm::Simple, false},
      {kNsXmp, "xmp", "ModifyDate", TForm::Simple, false},
      {kNsDc, "dc", "subject", TForm::Bag, true},
      {kNsXmpMM, "xmpMM", "subject", TForm::Seq, true},
  };
  const TPropertyInfo& info = kInfo[property];
  // A loaded packet without x:xmpmeta is kept as it is.
  if (rdf_ == nullptr) return;
  xmlNodePtr description = DescriptionFor(info.href, info.prefix);
  if (description == nullptr) return;

  for (xmlNodePtr child = description->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && child->ns != nullptr && SameText(child->ns->href, info.href) &&
        SameText(child->name, info.name)) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
      break;
    }
  }

  const Text& value = cache_[property];
  if (info.goneWhenEmpty && value.empty()) return;
  const Bytes utf8 = XmlTextUtf8(value);
  xmlNodePtr element = AppendElement(description, info.href, info.prefix, info.name);
  if (element == nullptr) return;
  if (info.form == TForm::Simple) {
    AppendText(element, utf8);
    return;
  }
  const char* container = info.form == TForm::Alt ? "Alt" : info.form == TForm::Seq ? "Seq" : "Bag";
  xmlNodePtr list = AppendElement(element, kNsRdf, "rdf", container);
  if (list == nullptr) return;
  xmlNodePtr item = AppendElement(list, kNsRdf, "rdf", "li");
  if (item == nullptr) return;
  if (info.form == TForm::Alt) xmlNodeSetLang(item, X("x-default"));
  AppendText(item, utf8);
}

void TMarlockPDFLibraryXMP::WriteSimple(const char* nsHref, const char* prefix, const char* name,
                                         ByteView value) {
  xmlNodePtr description = DescriptionFor(nsHref, prefix);
  if (description == nullptr) return;
  AppendText(AppendElement(description, nsHref, prefix, name), value);
}

xmlNodePtr TMarlockPDFLibraryXMP::FindDescription(const char* nsHref) const {
  TXPathObjectPtr r = Select(doc_, "/x:xmpmeta/rdf:RDF/rdf:Description");
  const int count = NodeCount(r);
  for (int i = count - 1; i >= 0; --i) {
    xmlNodePtr node = r->nodesetval->nodeTab[i];
    if (DeclaresNamespace(node, nsHref)) return node;
  }
  return nullptr;
}

xmlNodePtr TMarlockPDFLibraryXMP::DescriptionFor(const char* nsHref, const char* prefix) {
  if (xmlNodePtr found = FindDescription(nsHref)) return found;
  xmlNodePtr description = AppendElement(rdf_, kNsRdf, "rdf", "Description");
  if (description == nullptr) return nullptr;
  xmlNewNs(description, X(nsHref), X(prefix));
  return description;
}

Bytes TMarlockPDFLibraryXMP::SerializePacket() const {
  if (unusable_ || doc_ == nullptr) return Bytes();
  xmlBufferPtr buffer = xmlBufferCreate();
  if (buffer == nullptr) return Bytes();
  Bytes out;
  xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_FORMAT | XML_SAVE_NO_DECL);
  if (save != nullptr) {
    const long written = xmlSaveDoc(save, doc_);
    const int closed = xmlSaveClose(save);
    if (written >= 0 && closed >= 0 && xmlBufferContent(buffer) != nullptr)
      out.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                 static_cast<size_t>(xmlBufferLength(buffer)));
  }
  xmlBufferFree(buffer);

  const size_t endAt = out.rfind(kEndMarker);
  if (endAt != Bytes::npos) {
    Bytes padding(kPaddingSpaces, ' ');
    padding.push_back('\n');
    out.insert(endAt, padding);
  }
  return out;
}

Text TMarlockPDFLibraryXMP::PdfDateToXmp(TextView value) {
  // Positions of the full form D:YYYYMMDDHHmmSS, then Z or +HH'mm' (closing quote optional).
  constexpr size_t kDigitsEnd = 16;
  if (value.size() < 2 || value[0] != u'D' || value[1] != u':') return Text(value);
  const auto digitsAt = [&](size_t from, size_t to) {
    if (value.size() < to) return false;
    for (size_t i = from; i < to; ++i)
      if (value[i] < u'0' || value[i] > u'9') return false;
    return true;
  };
  if (!digitsAt(2, kDigitsEnd) || value.size() <= kDigitsEnd) return Text(value);
  const auto part = [&](size_t from, size_t count) { return Text(value.substr(from, count)); };
  Text stamp = part(2, 4) + u"-" + part(6, 2) + u"-" + part(8, 2) + u"T" + part(10, 2) + u":" +
               part(12, 2) + u":" + part(14, 2);
  const char16_t zone = value[kDigitsEnd];
  const TextView rest = value.substr(kDigitsEnd + 1);
  const bool offsetOk = (rest.size() == 5 || (rest.size() == 6 && rest[5] == u'\'')) && rest[2] == u'\'' &&
                        digitsAt(kDigitsEnd + 1, kDigitsEnd + 3) && digitsAt(kDigitsEnd + 4, kDigitsEnd + 6);
  // Some writers follow Z with 00'00'; it still means UTC.
  if (zone == u'Z' && (rest.empty() || offsetOk)) return stamp + u"Z";
  if ((zone != u'+' && zone != u'-') || !offsetOk) return Text(value);
  return stamp + zone + part(kDigitsEnd + 1, 2) + u":" + part(kDigitsEnd + 4, 2);
}

}  // namespace pagelume
