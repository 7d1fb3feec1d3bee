// Whole-file replacement on Windows: the new contents go to "<name>.tmp.PID.N" beside the target,
// are flushed (FlushFileBuffers) and only then renamed over the target by MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, which returns once the rename is on disk.
// The target's name therefore always names the old file or the complete new one.
#include "platform/settings/AtomicWrite.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/files/TextConvert.h"
#include "platform/os/OsHandle.h"

namespace veds {
namespace {

constexpr char kTemporaryInfix[] = ".tmp";
// A reader lets the file be renamed over (deleted) and written while it reads.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// WriteFile moves at most a DWORD's worth at once; a smaller step keeps each call modest.
constexpr size_t kWriteStep = 1u << 20;

constexpr DWORD kRenameRetryMs = 10;
constexpr DWORD kRenameRetryLimitMs = 2000;

std::atomic<uint32_t> uniqueCounter{0};

bool Wide(const std::string& utf8, std::wstring& wide) {
  std::u16string units;
  if (!VexaFiles::Utf8ToUtf16String(utf8, units)) return false;
  wide.assign(units.begin(), units.end());
  return true;
}

// "dir" and "name" as "dir\name"; a folder that ends in a separator (a drive's root) gets none.
std::wstring Join(const std::wstring& directory, const std::wstring& name) {
  const bool ends = !directory.empty() && (directory.back() == L'\\' || directory.back() == L'/');
  return ends ? directory + name : directory + L"\\" + name;
}

VexaOS::COsHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE file = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return VexaOS::COsHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD step = static_cast<DWORD>(std::min(text.size(), kWriteStep));
    DWORD put = 0;
    if (!::WriteFile(file, text.data(), step, &put, nullptr) || put == 0) return false;
    text.remove_prefix(put);
  }
  return true;
}

// Temporaries of writers that were killed before their rename; the caller is the only writer.
void RemoveLeftovers(const std::wstring& directory, const std::wstring& prefix) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(Join(directory, prefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileW(Join(directory, found.cFileName).c_str());
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

// Renames `from` over `to`. While a reader has `to` open the system refuses to replace it;
// readers hold a file only for one read, so the rename is tried again for a while.
bool RenameOver(const std::wstring& from, const std::wstring& to) {
  for (DWORD waited = 0;; waited += kRenameRetryMs) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= kRenameRetryLimitMs)
      return false;
    ::Sleep(kRenameRetryMs);
  }
}

}  // namespace

std::string UniqueSuffix() {
  return "." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(uniqueCounter.fetch_add(1));
}

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing) {
  text.clear();
  missing = false;
  std::wstring widePath;
  if (!Wide(path, widePath)) return false;
  VexaOS::COsHandle file = OpenFile(widePath, GENERIC_READ, kShareAll, OPEN_EXISTING);
  if (!file) {
    const DWORD error = ::GetLastError();
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return false;
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    text.append(buffer, got);
  }
}

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view text) {
  std::wstring wideDirectory, wideName, prefix, suffix;
  if (!Wide(directory, wideDirectory) || !Wide(name, wideName) || !Wide(name + kTemporaryInfix + ".", prefix) ||
      !Wide(UniqueSuffix().substr(1), suffix))
    return false;
  RemoveLeftovers(wideDirectory, prefix);
  const std::wstring temporary = Join(wideDirectory, prefix + suffix);
  const std::wstring target = Join(wideDirectory, wideName);
  VexaOS::COsHandle file = OpenFile(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (!file) return false;
  const bool written = WriteAll(file.get(), text) && ::FlushFileBuffers(file.get());
  file.reset();  // MoveFileExW cannot move a file that is open without delete sharing
  if (!written || !RenameOver(temporary, target)) {
    ::DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

bool ReplaceFileAtPath(const std::string& path, std::string_view text) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return ReplaceFile(".", path, text);
  // "C:\x" keeps its root: the folder is "C:\", not the drive's current folder "C:".
  const bool root = separator == 0 || (separator == 2 && path[1] == ':');
  return ReplaceFile(path.substr(0, root ? separator + 1 : separator), path.substr(separator + 1), text);
}

}  // namespace veds
