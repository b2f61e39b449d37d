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
    "  set [--password PW | --password-file F] [--title T] [--subject S] [--author A]\n"
    "      [--keywords K] [--creator C] [--producer P] [--layout LAYOUT] [--mode MODE]\n"
    "      [--hide-toolbar|--show-toolbar] [--hide-menubar|--show-menubar]\n"
    "      [--hide-window-ui|--show-window-ui] [--display-title|--no-display-title]\n"
    "      [--fit-window|--no-fit-window] [--center-window|--no-center-window] [-o OUT] FILE...\n"
    "      Change the information fields and viewer settings and save the whole document,\n"
    "      to OUT or over FILE (then several files may be given). What is not given keeps\n"
    "      the file's value; an empty text clears a field. The open action becomes an empty\n"
    "      script, as the window saves it. LAYOUT: single, onecolumn, twocolumnleft,\n"
    "      twocolumnright, twopageleft, twopageright, none. MODE: none, outlines, thumbs,\n"
    "      fullscreen.\n"
    "  help\n"
    "      Show this text.\n"
    "\n"
    "Without --password or --password-file the password is taken from the environment\n"
    "variable PAGELUME_PASSWORD when it is set. --password-file reads the first line of F.\n"
    "\n"
    "Exit status: 0 every file read; 1 an object not found; 2 usage error; 3 a file missing\n"
    "or unreadable; 4 encrypted and the password does not open it; 5 not a PDF file or no\n"
    "usable cross-reference data; 6 a file could not be saved. With several files, the highest\n"
    "status seen.\n";

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
    if (command == "set") return RunSet(args);
    throw UsageError{"unknown command '" + command + "'"};
  } catch (const UsageError& e) {
    std::cerr << kProgram << ": " << e.message << hint << '\n';
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << '\n';
    return kExitUnreadable;
  }
}
