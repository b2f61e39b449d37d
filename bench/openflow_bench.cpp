// The window's open flow in process: the facade calls the main window makes when a file
// is opened (quick inspection and its items, the full load, the selected page's size,
// the viewer settings), timed step by step. The median of RUNS runs per file; the peak
// resident size is that of the whole program.
//
//   openflow_bench FILE... [--password PW] [--runs N]   (7 runs by default)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

using namespace pagelume;
using bench::Clock;
using bench::Median;
using bench::Ms;

namespace {

// The viewer options the window shows, in its order.
constexpr int32_t kViewerOptions[6] = {1, 2, 3, 6, 4, 5};


}  // namespace

int main(int argc, char** argv) {
  const bench::FileArguments args = bench::ParseFileArguments(argc, argv, 7);
  const std::vector<std::string>& files = args.files;
  const std::string& password = args.password;
  const int runs = args.runs;
  if (files.empty()) {
    std::fprintf(stderr, "usage: openflow_bench FILE... [--password PW] [--runs N]\n");
    return 2;
  }
  std::printf("%-24s %12s %10s %12s %10s\n", "file", "inspection", "load", "page+viewer", "total");
  for (const std::string& file : files) {
    const Text name = Utf8ToText(file);
    const Text pw = Utf8ToText(password);
    std::vector<double> inspect, load, rest, total;
    for (int run = 0; run < runs; ++run) {
      const Clock::time_point t0 = Clock::now();
      TMarlockPDFLibrary1711 inspection;
      TMarlockPDFLibrary1711 document;
      const int32_t handle = inspection.OpenInspection(name, pw);
      if (handle == 0) {
        std::fprintf(stderr, "openflow_bench: %s: inspection failed (%d)\n", file.c_str(), inspection.ErrorCode);
        return 1;
      }
      size_t chars = 0;
      for (int item = 0; item < kInspectionItemCount; ++item) chars += inspection.GetInspectionItem(handle, item).size();
      const Clock::time_point t1 = Clock::now();
      if (document.LoadDocument(name, pw) != 1) {
        std::fprintf(stderr, "openflow_bench: %s: load failed (%d)\n", file.c_str(), document.ErrorCode);
        return 1;
      }
      const Clock::time_point t2 = Clock::now();
      volatile double size = document.SelectedPageWidth() + document.SelectedPageHeight();
      int flags = 0;
      for (int32_t option : kViewerOptions) flags += document.ReadViewerFlag(option);
      flags += document.ReadPageLayout() + document.ReadPageMode();
      inspection.CloseInspection(handle);
      const Clock::time_point t3 = Clock::now();
      (void)size;
      (void)chars;
      (void)flags;
      inspect.push_back(Ms(t1 - t0));
      load.push_back(Ms(t2 - t1));
      rest.push_back(Ms(t3 - t2));
      total.push_back(Ms(t3 - t0));
    }
    const size_t slash = file.rfind('/');
    std::printf("%-24s %9.2f ms %7.2f ms %9.3f ms %7.2f ms\n",
                (slash == std::string::npos ? file : file.substr(slash + 1)).c_str(), Median(inspect), Median(load),
                Median(rest), Median(total));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("median of %d runs each; peak %.1f MiB\n", runs, usage.ru_maxrss / 1024.0);
  return 0;
}
