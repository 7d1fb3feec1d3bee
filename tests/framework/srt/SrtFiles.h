// SubRip files for the tests, written into a temporary folder.
#pragma once

#include <fstream>
#include <string>

#include "tests/support/ProcessTestTools.h"

namespace srttest {

inline std::u16string WriteSrt(const ProcessTestTools::TempDir& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir.path() / name, std::ios::binary) << bytes;
  return dir.Wide(name);
}

}  // namespace srttest
