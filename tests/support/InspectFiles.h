// Files for the inspection tests: one small document with known properties, written
// by qpdf in each layout and each kind of encryption it can produce. Made once per test
// process in the build tree.
#pragma once

#include <string>
#include <vector>

namespace pagelume::test {

// What the base document holds.
inline constexpr char kInspectTitle[] = "Inspection Title";
inline constexpr char kInspectAuthor[] = "Zo\xC3\xAB \xC3\x9Cn\xC3\xAF\xE2\x82\xAC";  // "Zoë Ünï€", UTF-16 in the file
inline constexpr char kInspectSubject[] = "Sub(ject) \\ back";
inline constexpr char kInspectKeywords[] = "k1, k2";
inline constexpr char kInspectCreator[] = "Creator Tool";
inline constexpr char kInspectProducer[] = "Producer Lib";
inline constexpr char kInspectCreated[] = "D:20230115143000Z";
inline constexpr char kInspectModified[] = "D:20240229235959+01'00'";
inline constexpr int kInspectPages = 3;
inline constexpr int kInspectFields = 2;

struct InspectFile {
  std::string name;      // short name of the variant, e.g. "aes256"
  std::string path;
  std::string userPassword;
  std::string ownerPassword;
  bool encrypted = false;
  int kindCode = 11;     // the encryption kind code (item 30)
  std::string kindText;  // the window's text for it
};

// The base document as written by hand (classic table).
std::string InspectBasePdf();

// Every variant; empty when qpdf is not installed.
const std::vector<InspectFile>& InspectFiles();
// The variant of that name; fails the test (and returns null) when it is missing.
const InspectFile* FindInspectFile(const std::string& name);

}  // namespace pagelume::test
