// pagelume-cli: the document properties of PDF files, and their objects, from the
// command line. A thin layer over the engine facade.
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/CliCommon.h"

namespace {

constexpr char kHelp[] =
    "Usage: pagelume-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Commands:\n"
    "  info [--password PW | --password-file F] [--json] FILE...\n"
    "      Show the document properties of each PDF file: information fields, version,\n"
    "      dates, size, page count, encryption and permissions. --json writes an object\n"
    "      per file (an array for several files).\n"
    "  show [--password PW | --password-file F] [--decode] FILE trailer|NUMBER...\n"
    "      Print the trailer or the numbered objects of FILE in PDF syntax, decrypted.\n"
    "      --decode writes a stream's decoded data instead.\n"
    "  help\n"
    "      Show this text.\n"
    "\n"
    "Without --password or --password-file the password is taken from the environment\n"
    "variable PAGELUME_PASSWORD when it is set. --password-file reads the first line of F.\n"
    "\n"
    "Exit status: 0 every file read; 1 an object not found; 2 usage error; 3 a file missing\n"
    "or unreadable; 4 encrypted and the password does not open it; 5 not a PDF file or no\n"
    "usable cross-reference data. With several files, the highest status seen.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace pagelume::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::string hint = std::string("; try '") + kProgram + " --help'";
  if (args.empty()) {
    std::cerr << kProgram << ": no command given" << hint << '\n';
    return kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "help" || command == "--help" || command == "-h") {
      std::cout << kHelp;
      return kExitOk;
    }
    if (command == "info") return RunInfo(args);
    if (command == "show") return RunShow(args);
    throw UsageError{"unknown command '" + command + "'"};
  } catch (const UsageError& e) {
    std::cerr << kProgram << ": " << e.message << hint << '\n';
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << '\n';
    return kExitUnreadable;
  }
}
