// Replays every input of tests/regress/<target>/ through the fuzz target of that name:
// each one once made a target crash, hang or break an invariant, and must now run
// through quickly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"

namespace pagelume::test {
namespace {

namespace fs = std::filesystem;

// Each input should take well under this, also in the sanitizer build.
constexpr auto kInputTimeMax = std::chrono::seconds(20);

fs::path RegressDir() { return fs::path(PAGELUME_SOURCE_DIR) / "tests" / "regress"; }

TEST(FuzzRegression, EveryFolderNamesATarget) {
  ASSERT_TRUE(fs::is_directory(RegressDir()));
  for (const auto& entry : fs::directory_iterator(RegressDir())) {
    if (!entry.is_directory()) continue;
    EXPECT_NE(fuzz::FindTarget(entry.path().filename().string()), nullptr) << entry.path();
  }
}

TEST(FuzzRegression, EveryInputRunsThroughItsTarget) {
  size_t replayed = 0;
  for (const auto& folder : fs::directory_iterator(RegressDir())) {
    if (!folder.is_directory()) continue;
    fuzz::TargetFunction target = fuzz::FindTarget(folder.path().filename().string());
    if (target == nullptr) continue;
    std::vector<fs::path> inputs;
    for (const auto& file : fs::directory_iterator(folder.path()))
      if (file.is_regular_file()) inputs.push_back(file.path());
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
      SCOPED_TRACE(path.string());
      std::ifstream in(path, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      auto start = std::chrono::steady_clock::now();
      target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      EXPECT_LT(std::chrono::steady_clock::now() - start, kInputTimeMax);
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
}  // namespace pagelume::test
