// Quick inspection in process, without the cost of starting a program: the median time
// of OpenInspection on the classic benchmark files, split into reading the
// cross-reference data (the reader's opening) and collecting the items.
//
//   inspect_bench [files-folder] [runs]   (default bench/out/files, 15 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/inspect/MarlockPDFLibrarySmartAccess.h"
#include "engine/inspect/MarlockPDFLibrarySmartInfo.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

using namespace pagelume;
using bench::Clock;
using bench::Median;
using bench::Ms;

namespace {


}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : "bench/out/files";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  std::printf("%-20s %9s %12s %12s %14s\n", "file", "entries", "open+xref", "collect", "OpenInspection");
  for (const char* pages : {"100", "2000", "20000"}) {
    const std::string label = std::string("p") + pages + "-classic.pdf";
    const std::string path = folder + "/" + label;
    Text name = Utf8ToText(path);
    if (!FileExists(name)) {
      std::fprintf(stderr, "inspect_bench: %s is missing; run bench/make_files.sh\n", path.c_str());
      return 2;
    }
    std::vector<double> open, collect, whole;
    int64_t entries = 0;
    for (int i = 0; i < runs; ++i) {
      TKavrelWideFileStream stream(name, kFileOpenRead | kFileShareDenyWrite);
      Clock::time_point t0 = Clock::now();
      TSmartPDFReader reader(stream);
      Clock::time_point t1 = Clock::now();
      TSmartPDFInfo info(reader, true, u"");
      for (const char* key : {"Title", "Author", "Subject", "Keywords", "Creator", "Producer"}) info.GetInfoText(key);
      Clock::time_point t2 = Clock::now();
      open.push_back(Ms(t1 - t0));
      collect.push_back(Ms(t2 - t1));
      entries = reader.TableLength();

      TMarlockPDFLibrary1711 engine;
      Clock::time_point t3 = Clock::now();
      int32_t handle = engine.OpenInspection(name, u"");
      whole.push_back(Ms(Clock::now() - t3));
      engine.CloseInspection(handle);
    }
    std::printf("%-20s %9lld %9.2f ms %9.3f ms %11.2f ms\n", label.c_str(),
                (long long)entries, Median(open), Median(collect), Median(whole));
  }
  std::printf("median of %d runs each\n", runs);
}
