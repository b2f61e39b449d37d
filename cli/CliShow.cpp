// pagelume-cli show: the trailer or numbered objects of a file in PDF syntax, or a
// stream's decoded data.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliCommon.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume::cli {

namespace {

// "trailer" is 0; a number is a positive decimal that fits an object number.
int32_t SelectorNumber(const std::string& s) {
  if (s == "trailer") return 0;
  if (s.empty() || s.size() > 10 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw UsageError{"'" + s + "' is neither 'trailer' nor an object number"};
  int64_t n = std::stoll(s);
  if (n < 1 || n > INT32_MAX) throw UsageError{"object number " + s + " is out of range"};
  return int32_t(n);
}

}  // namespace

int RunShow(const std::vector<std::string>& args) {
  Arguments a = ParseArguments(args, {"--decode"});
  if (a.operands.size() < 2) throw UsageError{"show needs a FILE and at least one of 'trailer' or NUMBER"};
  const std::string file = a.operands[0];
  std::vector<int32_t> numbers;
  for (size_t i = 1; i < a.operands.size(); ++i) numbers.push_back(SelectorNumber(a.operands[i]));
  bool passwordGiven = false;
  const Text password = PasswordOf(a, passwordGiven);
  const bool decode = HasFlag(a, "--decode");

  int status = kExitOk;
  for (size_t i = 0; i < numbers.size(); ++i) {
    Bytes out;
    TMarlockPDFLibrary1711 engine;
    int32_t result = engine.ShowObject(Utf8ToText(file), password, numbers[i], decode, out);
    if (result == kShowFound) {
      std::cout.write(out.data(), std::streamsize(out.size()));
      continue;
    }
    std::cout.flush();
    if (result == kShowNoObject) {
      std::cerr << file << ": no object " << a.operands[i + 1] << '\n';
      status = std::max(status, kExitNoObject);
    } else if (result == kShowUndecodable) {
      std::cerr << file << ": object " << a.operands[i + 1]
                << ": its stream data cannot be decoded; show it without --decode\n";
      status = std::max(status, kExitNoObject);
    } else {
      // The file itself cannot be read: every other object would fail the same way.
      std::cerr << ErrorMessage(file, engine.ErrorCode, passwordGiven) << '\n';
      return std::max(status, ExitCodeOf(engine.ErrorCode == kErrorNone ? kErrorFile : engine.ErrorCode));
    }
  }
  std::cout.flush();
  return status;
}

}  // namespace pagelume::cli
