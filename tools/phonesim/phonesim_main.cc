// phonesim: a simulated phone for trying the PC side by hand or from scripts.
#include <iostream>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/socket.h"
#include "base/string_util.h"
#include "tools/phonesim/simulator.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::cout << phonesim::usageText();
      return 0;
    }
  }
  phonesim::SimulatorOptions options;
  std::string error;
  if (!phonesim::parseArguments(args, &options, &error)) {
    std::cerr << "phonesim: " << error << "\n" << phonesim::usageText();
    return phonesim::kExitFailed;
  }
  if (options.logFile.empty()) {
    base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
  } else {
    base::initLogging(base::utf8ToWide(options.logFile), base::kLogToFile, base::kLockInProcess, 0);
  }
  base::initializeSockets();
  return phonesim::runSession(options, std::cout, &std::cin);
}
