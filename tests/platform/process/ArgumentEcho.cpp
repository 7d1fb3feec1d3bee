// A child for the process tests: prints each argument after its own name as "[argument]" on
// standard output (UTF-8), then what standard input gave on standard error. On Windows it takes
// its arguments as the C run-time splits the command line, in UTF-16.
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void Echo(const std::string& utf8) { std::fwrite(("[" + utf8 + "]").data(), 1, utf8.size() + 2, stdout); }

void ReportInput() {
  std::string line;
  std::getline(std::cin, line);
  std::fprintf(stderr, "error side, stdin gave \"%s\"", line.c_str());
}

#ifdef _WIN32
// UTF-16 to UTF-8 by hand: a test child links nothing of the tree.
std::string Utf8(const wchar_t* wide) {
  std::string out;
  for (; *wide; ++wide) {
    char32_t c = static_cast<char16_t>(*wide);
    if (c >= 0xD800 && c < 0xDC00 && wide[1] >= 0xDC00 && wide[1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(*++wide) - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) Echo(Utf8(argv[i]));
#else
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) Echo(argv[i]);
#endif
  std::fflush(stdout);
  ReportInput();
  return 0;
}
