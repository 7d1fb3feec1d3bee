#include "platform/files/ProgramArguments.h"

namespace VexaFiles {

// The system hands the bytes of each argument over unchanged: they are UTF-8 already.
std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::vector<char*> ArgumentPointers(std::vector<std::string>& arguments) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace VexaFiles
