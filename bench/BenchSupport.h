// What the benchmark programs share: timing helpers and the "FILE... [--password PW]
// [--runs N]" command line.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pagelume::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct FileArguments {
  std::vector<std::string> files;
  std::string password;
  int runs = 0;
};

// FILE... [--password PW] [--runs N]; `runs` keeps `defaultRuns` unless given.
inline FileArguments ParseFileArguments(int argc, char** argv, int defaultRuns) {
  FileArguments a;
  a.runs = defaultRuns;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
      a.password = argv[++i];
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      a.runs = std::max(1, std::atoi(argv[++i]));
    } else {
      a.files.push_back(argv[i]);
    }
  }
  return a;
}

}  // namespace pagelume::bench
