// pagelume-cli set: the window's save road from the command line. Each file is loaded
// with the password, its six information fields, six viewer flags, page layout and page
// mode are written (what is not given keeps the file's value), the open action becomes
// an empty script, and the document is saved to -o OUT or over the file itself.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliCommon.h"
#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume::cli {

namespace {

constexpr int kExitSave = 6;

// Information fields in the window's writing order, with their facade keys.
struct Field {
  const char* option;
  int32_t key;
};
constexpr Field kFields[] = {
    {"--title", 2}, {"--subject", 3}, {"--author", 1}, {"--keywords", 4}, {"--creator", 5}, {"--producer", 6},
};

// Viewer flags in the window's writing order: option number, and the flags that set it
// to 1 and to 0.
struct Flag {
  int32_t option;
  const char* on;
  const char* off;
};
constexpr Flag kFlags[] = {
    {1, "--hide-toolbar", "--show-toolbar"},
    {2, "--hide-menubar", "--show-menubar"},
    {3, "--hide-window-ui", "--show-window-ui"},
    {6, "--display-title", "--no-display-title"},
    {4, "--fit-window", "--no-fit-window"},
    {5, "--center-window", "--no-center-window"},
};

constexpr const char* kLayouts[] = {"single", "onecolumn", "twocolumnleft", "twocolumnright",
                                    "twopageleft", "twopageright", "none"};
constexpr const char* kModes[] = {"none", "outlines", "thumbs", "fullscreen"};
// The window offers modes 0 to 3; a file's other modes read as the first.
constexpr int32_t kWindowModeCount = int32_t(std::size(kModes));

struct SetOptions {
  std::array<std::optional<std::string>, std::size(kFields)> fields;
  std::array<std::optional<int32_t>, std::size(kFlags)> flags;
  std::optional<int32_t> layout;
  std::optional<int32_t> mode;
  std::optional<std::string> output;
};

template <size_t N>
int32_t IndexIn(const char* const (&names)[N], const std::string& value, const std::string& option) {
  for (size_t i = 0; i < N; ++i)
    if (value == names[i]) return int32_t(i);
  std::string list;
  for (size_t i = 0; i < N; ++i) list += std::string(i ? ", " : "") + names[i];
  throw UsageError{option + " takes one of " + list + ", not '" + value + "'"};
}

// Takes out the options with values; the rest (passwords, flags, files) is read by
// ParseArguments.
std::vector<std::string> TakeValueOptions(const std::vector<std::string>& args, SetOptions& o) {
  std::vector<std::string> rest;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      rest.push_back(arg);
      continue;
    }
    if (arg == "--") optionsEnded = true;
    std::string name = arg, value;
    bool inlineValue = false;
    if (size_t eq = arg.find('='); arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    auto readValue = [&]() {
      if (!inlineValue) {
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        value = args[++i];
      }
    };
    auto once = [&](bool given) {
      if (given) throw UsageError{"give " + name + " once"};
    };
    if (name == "--password" || name == "--password-file") {
      // Passed on with its value, which may itself begin with '-'.
      rest.push_back(arg);
      if (!inlineValue && i + 1 < args.size()) rest.push_back(args[++i]);
      continue;
    }
    bool taken = false;
    for (size_t f = 0; f < std::size(kFields); ++f) {
      if (name != kFields[f].option) continue;
      once(o.fields[f].has_value());
      readValue();
      o.fields[f] = value;
      taken = true;
    }
    if (taken) continue;
    if (name == "--layout") {
      once(o.layout.has_value());
      readValue();
      o.layout = IndexIn(kLayouts, value, name);
    } else if (name == "--mode") {
      once(o.mode.has_value());
      readValue();
      o.mode = IndexIn(kModes, value, name);
    } else if (name == "-o" || name == "--output") {
      once(o.output.has_value());
      readValue();
      if (value.empty()) throw UsageError{name + " needs a file name"};
      o.output = value;
    } else {
      rest.push_back(arg);
    }
  }
  return rest;
}

std::vector<std::string> FlagNames() {
  std::vector<std::string> names;
  for (const Flag& f : kFlags) {
    names.push_back(f.on);
    names.push_back(f.off);
  }
  return names;
}

void ReadFlags(const Arguments& a, SetOptions& o) {
  for (size_t i = 0; i < std::size(kFlags); ++i) {
    const bool on = HasFlag(a, kFlags[i].on), off = HasFlag(a, kFlags[i].off);
    if (on && off) throw UsageError{std::string("give either ") + kFlags[i].on + " or " + kFlags[i].off};
    if (on || off) o.flags[i] = on ? 1 : 0;
  }
}

bool Readable(const std::string& file) {
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(file, ignored)) return false;
  std::ifstream in(file, std::ios::binary);
  return in.is_open();
}

// Loads, edits and saves one file; returns the exit status and reports a failure.
int SetOne(const std::string& file, const std::string& output, const SetOptions& o, const Text& password,
           bool passwordGiven) {
  TMarlockPDFLibrary1711 engine;
  if (engine.LoadDocument(Utf8ToText(file), password) == 0) {
    int32_t error = engine.ErrorCode == kErrorNone ? kErrorFile : engine.ErrorCode;
    // The loader does not tell a file it cannot read from one that is no PDF.
    if (error == kErrorFile && Readable(file)) error = kErrorStructure;
    std::cerr << ErrorMessage(file, error, passwordGiven) << '\n';
    return ExitCodeOf(error);
  }
  // The current values first: a field, flag or setting not given keeps them.
  Text fields[std::size(kFields)];
  for (size_t i = 0; i < std::size(kFields); ++i)
    fields[i] = o.fields[i] ? Utf8ToText(*o.fields[i]) : engine.ReadInfoField(kFields[i].key);
  int32_t flags[std::size(kFlags)];
  for (size_t i = 0; i < std::size(kFlags); ++i)
    flags[i] = o.flags[i] ? *o.flags[i] : engine.ReadViewerFlag(kFlags[i].option);
  const int32_t layout = o.layout ? *o.layout : engine.ReadPageLayout();
  int32_t mode = o.mode ? *o.mode : engine.ReadPageMode();
  if (mode >= kWindowModeCount) mode = 0;

  for (size_t i = 0; i < std::size(kFields); ++i) engine.WriteInfoField(kFields[i].key, fields[i]);
  for (size_t i = 0; i < std::size(kFlags); ++i) engine.WriteViewerFlag(kFlags[i].option, flags[i]);
  engine.WritePageLayout(layout);
  engine.WritePageMode(mode);
  engine.WriteOpenScript(u"");
  if (engine.SaveDocument(Utf8ToText(output)) == 0) {
    std::cerr << output << ": cannot save " << (output == file ? "this file" : "'" + file + "' here")
              << "; check that the folder exists, that you may write there and that there is room\n";
    return kExitSave;
  }
  return kExitOk;
}

}  // namespace

int RunSet(const std::vector<std::string>& args) {
  SetOptions o;
  const Arguments a = ParseArguments(TakeValueOptions(args, o), FlagNames());
  ReadFlags(a, o);
  if (a.operands.empty()) throw UsageError{"set needs a FILE"};
  if (o.output && a.operands.size() > 1) throw UsageError{"-o takes a single FILE; without -o each file is saved over itself"};
  bool passwordGiven = false;
  const Text password = PasswordOf(a, passwordGiven);

  int status = kExitOk;
  for (const std::string& file : a.operands)
    status = std::max(status, SetOne(file, o.output.value_or(file), o, password, passwordGiven));
  return status;
}

}  // namespace pagelume::cli
