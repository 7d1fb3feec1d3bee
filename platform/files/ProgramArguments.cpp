#include "platform/files/ProgramArguments.h"

namespace VexaFiles {

// The system hands the bytes of each argument over unchanged: they are UTF-8 already.
std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace VexaFiles
