#include "platform/os/ScopedDLL.h"

#include <windows.h>

#include <string>

namespace VexaOS {
namespace {

HMODULE AsModule(void* handle) { return static_cast<HMODULE>(handle); }

std::wstring Widen(const char* utf8) {
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), units);
  wide.resize(static_cast<size_t>(units - 1));
  return wide;
}

std::string Narrow(const wchar_t* wide, int units) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD units = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = units > 0 ? Narrow(text, static_cast<int>(units)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message + " (error " + std::to_string(code) + ")";
}

}  // namespace

bool ScopedDLL::Load(const char* path, std::string* error) {
  Reset();
  const std::wstring wide = path != nullptr ? Widen(path) : std::wstring();
  if (!wide.empty()) m_handle = ::LoadLibraryW(wide.c_str());
  if (m_handle == nullptr && error != nullptr)
    *error = wide.empty() ? std::string("no library named") : SystemMessage(::GetLastError());
  return m_handle != nullptr;
}

void* ScopedDLL::Symbol(const char* name) const {
  if (m_handle == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(AsModule(m_handle), name));
}

void* ScopedDLL::Entry(uint16_t ordinal, const char*) const {
  if (m_handle == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(AsModule(m_handle), MAKEINTRESOURCEA(ordinal)));
}

void ScopedDLL::Reset() {
  if (m_handle != nullptr) ::FreeLibrary(AsModule(m_handle));
  m_handle = nullptr;
}

std::string ModuleDirectoryOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const wchar_t*>(address), &module))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD units = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (units == 0) return {};
    if (units < path.size()) {
      path.resize(units);
      break;
    }
    path.resize(path.size() * 2);  // truncated: a longer path than MAX_PATH
  }
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  return Narrow(path.c_str(), static_cast<int>(separator + 1));
}

}  // namespace VexaOS
