// The commands of the command-line tool. Each takes the arguments after its name and
// returns the exit status; a usage error is thrown as UsageError.
#pragma once

#include <string>
#include <vector>

namespace pagelume::cli {

int RunInfo(const std::vector<std::string>& args);
int RunShow(const std::vector<std::string>& args);
int RunSet(const std::vector<std::string>& args);

}  // namespace pagelume::cli
