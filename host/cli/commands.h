// The commands of udmhost; each returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace udmhost {

// Exit codes: 0 success, 1 failure of the work, 2 wrong command line.
enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

int infoCommand(const std::vector<std::string>& args);
int checkCommand(const std::vector<std::string>& args);
int runCommand(const std::vector<std::string>& args);
const char* runUsage();

}  // namespace udmhost
