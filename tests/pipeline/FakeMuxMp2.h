// What the stand-in multiplexer library records, and how a test makes it refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeMuxState {
  std::vector<std::string> calls;  // "1:5", "6:2", "2", "11:4096", "8:10:65536:5000", "4:0", "5"
  int32_t refuseCheck = 0;
  bool refuseCreate = false;
  int32_t refuseOutput = 0;
  int32_t refuseStream = 0;
  uint32_t word60 = 0;             // offset 60 of the settings the check saw
  bool printsFound = false;        // the three print names answered a function
  bool otherNameNull = false;      // "err_printf " answered null
};

typedef FakeMuxState* (*FakeMuxStateFn)();
