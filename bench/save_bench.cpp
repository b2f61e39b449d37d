// Load and save: loads a file as an editable document and writes it whole to another
// file (TPDFDocument::SaveToFile), printing the time of each step and the peak
// resident size. bench/save_bench.sh runs it next to qpdf and mutool.
//
//   save_bench IN OUT [--password PW]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

using namespace pagelume;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: save_bench IN OUT [--password PW]\n");
    return 2;
  }
  std::string password;
  if (argc >= 5 && std::strcmp(argv[3], "--password") == 0) password = argv[4];
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  TPDFDocument doc;
  {
    auto stream = OpenFileStream(Utf8ToText(argv[1]), kFileOpenRead | kFileShareDenyWrite);
    const int result = doc.LoadFromStream(*stream, Utf8ToText(password));
    if (result != 0) {
      std::fprintf(stderr, "load failed: %d\n", result);
      return 1;
    }
  }
  const auto t1 = Clock::now();
  if (!doc.SaveToFile(Utf8ToText(argv[2]))) {
    std::fprintf(stderr, "save failed\n");
    return 1;
  }
  const auto t2 = Clock::now();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("load %.3f s, save %.3f s, objects %zu, written %lld bytes, peak %.1f MiB\n",
              std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
              doc.ObjectCount(), static_cast<long long>(doc.FileSize), usage.ru_maxrss / 1024.0);
  return 0;
}
