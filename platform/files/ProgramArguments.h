// A program's command-line arguments in UTF-8, whatever the system hands to main: Windows
// passes main its arguments in the local code page, so there they are read again, in UTF-16,
// from the process's command line.
#pragma once

#include <string>
#include <vector>

namespace VexaFiles {

std::vector<std::string> ProgramArguments(int argc, char** argv);

// Pointers into `arguments` in the form main receives them (argc is their count); valid while
// `arguments` lives unchanged.
inline std::vector<char*> ArgumentPointers(std::vector<std::string>& arguments) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace VexaFiles
