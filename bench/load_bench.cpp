// Document load: time and peak memory of TPDFDocument::LoadFromStream for each file
// given, next to qpdf reading the same file (qpdf --show-npages), measured in the same
// run. Each load runs in a child process of its own, so that its peak resident size
// (ru_maxrss of wait4) belongs to that load alone.
//
//   load_bench FILE... [--password PW] [--runs N]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/document/MarlockPDFLibraryDocument.h"
#include "engine/document/MarlockPDFLibraryPageTree.h"
#include "engine/objects/MarlockPDFLibraryFileStream.h"
#include "engine/objects/MarlockPDFLibraryText.h"

using namespace pagelume;

namespace {

struct Measure {
  bool ok = false;
  double seconds = 0;
  long maxRssKiB = 0;
};

// Runs `child` in a forked process; its exit status 0 means success.
template <class F>
Measure InChild(F child) {
  Measure m;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  if (pid < 0) return m;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  m.maxRssKiB = usage.ru_maxrss;
  return m;
}

int LoadOnce(const std::string& path, const std::string& password) {
  TPDFDocument doc;
  auto stream = OpenFileStream(Utf8ToText(path), kFileOpenRead | kFileShareDenyWrite);
  const int result = doc.LoadFromStream(*stream, Utf8ToText(password));
  if (result != 0) return 10 + result;
  size_t loaded = 0;
  for (size_t i = 0; i < doc.ObjectCount(); ++i) loaded += doc.ObjectAt(i).Loaded;
  std::fprintf(stderr, "  %s: %d pages, %zu objects, %zu parsed, page 1 %.0f x %.0f\n", path.c_str(),
               doc.PageTree->PageCount(), doc.ObjectCount(), loaded, doc.PageTree->PageWidth(),
               doc.PageTree->PageHeight());
  return 0;
}

int QpdfOnce(const std::string& path, const std::string& password) {
  const int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, 1);
  if (password.empty()) {
    execlp("qpdf", "qpdf", "--show-npages", path.c_str(), (char*)nullptr);
  } else {
    const std::string pw = "--password=" + password;
    execlp("qpdf", "qpdf", pw.c_str(), "--show-npages", path.c_str(), (char*)nullptr);
  }
  return 127;
}

Measure Best(int runs, const std::function<Measure()>& once) {
  Measure best;
  for (int i = 0; i < runs; ++i) {
    Measure m = once();
    if (!m.ok) return m;
    if (!best.ok || m.seconds < best.seconds) best.seconds = m.seconds;
    if (!best.ok || m.maxRssKiB < best.maxRssKiB) best.maxRssKiB = m.maxRssKiB;
    best.ok = true;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::FileArguments args = bench::ParseFileArguments(argc, argv, 3);
  const std::vector<std::string>& files = args.files;
  const std::string& password = args.password;
  const int runs = args.runs;
  if (files.empty()) {
    std::fprintf(stderr, "usage: load_bench FILE... [--password PW] [--runs N]\n");
    return 2;
  }
  std::printf("%-28s %9s | %9s %9s | %9s %9s | %7s %7s | %7s\n", "file", "MiB", "load s", "peak MiB", "qpdf s",
              "peak MiB", "time x", "mem x", "mem/file");
  for (const std::string& path : files) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      std::printf("%s: missing\n", path.c_str());
      continue;
    }
    const double fileMiB = double(st.st_size) / (1 << 20);
    const Measure ours = Best(runs, [&] { return InChild([&] { return LoadOnce(path, password); }); });
    const Measure qpdf = Best(runs, [&] { return InChild([&] { return QpdfOnce(path, password); }); });
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (!ours.ok) {
      std::printf("%-28s load failed\n", name.c_str());
      continue;
    }
    const double oursMiB = ours.maxRssKiB / 1024.0, qpdfMiB = qpdf.maxRssKiB / 1024.0;
    std::printf("%-28s %9.1f | %9.3f %9.1f | %9.3f %9.1f | %7.2f %7.2f | %7.2f\n", name.c_str(), fileMiB,
                ours.seconds, oursMiB, qpdf.ok ? qpdf.seconds : 0.0, qpdf.ok ? qpdfMiB : 0.0,
                qpdf.ok ? ours.seconds / qpdf.seconds : 0.0, qpdf.ok ? oursMiB / qpdfMiB : 0.0,
                oursMiB / fileMiB);
  }
  return 0;
}
