#include "cli/CliCommon.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/facade/MarlockPDFLibraryKavrel.h"
#include "engine/objects/MarlockPDFLibraryText.h"

namespace pagelume::cli {

Arguments ParseArguments(const std::vector<std::string>& args, const std::vector<std::string>& allowedFlags) {
  Arguments a;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      a.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg, value;
    bool inlineValue = false;
    if (size_t eq = arg.find('='); arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    if (name == "--password" || name == "--password-file") {
      if (!inlineValue) {
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        value = args[++i];
      }
      if (a.password || a.passwordFile) throw UsageError{"give --password or --password-file once"};
      (name == "--password" ? a.password : a.passwordFile) = value;
      continue;
    }
    if (!inlineValue && std::find(allowedFlags.begin(), allowedFlags.end(), name) != allowedFlags.end()) {
      a.flags.push_back(name);
      continue;
    }
    throw UsageError{"unknown option '" + arg + "'"};
  }
  return a;
}

bool HasFlag(const Arguments& a, const std::string& flag) {
  return std::find(a.flags.begin(), a.flags.end(), flag) != a.flags.end();
}

Text PasswordOf(const Arguments& a, bool& given) {
  given = true;
  if (a.password) return Utf8ToText(*a.password);
  if (a.passwordFile) {
    std::ifstream in(*a.passwordFile, std::ios::binary);
    if (!in) throw UsageError{"cannot read the password file '" + *a.passwordFile + "'"};
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return Utf8ToText(line);
  }
  if (const char* env = std::getenv(kPasswordVariable)) return Utf8ToText(env);
  given = false;
  return {};
}

int ExitCodeOf(int32_t errorCode) {
  switch (errorCode) {
    case kErrorNone: return kExitOk;
    case kErrorPassword: return kExitPassword;
    case kErrorStructure: return kExitStructure;
    default: return kExitUnreadable;
  }
}

std::string ErrorMessage(const std::string& file, int32_t errorCode, bool passwordGiven) {
  switch (errorCode) {
    case kErrorPassword:
      return file + (passwordGiven ? ": the password does not open this file; give its user or owner password "
                                     "with --password"
                                   : ": this file is encrypted; give its user or owner password with --password");
    case kErrorStructure:
      return file + ": this is not a PDF file, or its cross-reference data is damaged; check the file or repair "
                    "it first";
    default: {
      std::error_code ec;
      const std::filesystem::path path(file);
      if (!std::filesystem::exists(path, ec)) return file + ": there is no such file; check the name";
      if (std::filesystem::is_directory(path, ec)) return file + ": this is a folder, not a PDF file";
      return file + ": cannot read this file as a PDF; check that you may read it and that it is complete";
    }
  }
}

std::string JsonString(TextView text) {
  std::string out = "\"";
  char buffer[8];
  auto escape = [&](unsigned unit) {
    std::snprintf(buffer, sizeof buffer, "\\u%04x", unit);
    out += buffer;
  };
  auto utf8 = [&](uint32_t cp) {
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    switch (c) {
      case u'"': out += "\\\""; continue;
      case u'\\': out += "\\\\"; continue;
      case u'\n': out += "\\n"; continue;
      case u'\r': out += "\\r"; continue;
      case u'\t': out += "\\t"; continue;
      case u'\b': out += "\\b"; continue;
      case u'\f': out += "\\f"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      escape(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      utf8(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      escape(c);  // a lone surrogate has no UTF-8 form
    } else {
      utf8(c);
    }
  }
  return out + "\"";
}

std::string JsonString(const std::string& utf8) { return JsonString(Utf8ToText(utf8)); }

}  // namespace pagelume::cli
