// Shared pieces of the command-line tool: exit codes, option reading, passwords, the
// messages for engine error codes, and JSON text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/objects/MarlockPDFLibraryTypes.h"

namespace pagelume::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoObject = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreadable = 3;
inline constexpr int kExitPassword = 4;
inline constexpr int kExitStructure = 5;

inline constexpr char kProgram[] = "pagelume-cli";
inline constexpr char kPasswordVariable[] = "PAGELUME_PASSWORD";

// Thrown for a usage error; main prints the message and a hint and exits with 2.
struct UsageError {
  std::string message;
};

// The options and operands of one command.
struct Arguments {
  std::optional<std::string> password;      // --password
  std::optional<std::string> passwordFile;  // --password-file
  std::vector<std::string> flags;           // other "--name" options the command allows
  std::vector<std::string> operands;
};

// Reads the arguments after the command name; `allowedFlags` are the value-less options
// of the command. Throws UsageError.
Arguments ParseArguments(const std::vector<std::string>& args, const std::vector<std::string>& allowedFlags);
bool HasFlag(const Arguments& a, const std::string& flag);

// --password, else the first line of --password-file, else $PAGELUME_PASSWORD, else
// empty. `given` tells whether a password was given at all. Throws UsageError for a
// password file that cannot be read.
Text PasswordOf(const Arguments& a, bool& given);

// Exit code of an engine error code.
int ExitCodeOf(int32_t errorCode);
// One line for stderr: the file and what to do.
std::string ErrorMessage(const std::string& file, int32_t errorCode, bool passwordGiven);

// A JSON string literal of UTF-16 text or UTF-8 bytes, quotes included.
std::string JsonString(TextView text);
std::string JsonString(const std::string& utf8);

}  // namespace pagelume::cli
