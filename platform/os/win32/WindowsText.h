// UTF-8 and UTF-16 at the Windows boundary, and the security of the named objects the
// primitives share between processes. Private to the Windows sources of the platform.
#pragma once

#include <windows.h>

#include <string>

namespace VexaOS {

// False for text that is not UTF-8; the result then is empty.
inline bool Utf8ToWide(const std::string& utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, 0);
  if (units <= 0) return false;
  wide.resize(static_cast<size_t>(units));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), units);
  return true;
}

// False for a lone surrogate; the result then is empty.
inline bool WideToUtf8(const wchar_t* wide, std::string& utf8) {
  utf8.clear();
  if (!wide || !*wide) return true;
  const int bytes = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  utf8.resize(static_cast<size_t>(bytes));
  ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();  // the terminator
  return true;
}

// Named mutexes, events and segments are open to every account of the session (an access list
// that is null), so that a server and a helper running under another account meet. Their
// handles are not inherited: a child started meanwhile must not keep a name alive.
class COpenToEveryone {
 public:
  COpenToEveryone() {
    ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE);
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
  }
  COpenToEveryone(const COpenToEveryone&) = delete;
  COpenToEveryone& operator=(const COpenToEveryone&) = delete;
  SECURITY_ATTRIBUTES* Get() { return &m_attributes; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  SECURITY_ATTRIBUTES m_attributes{};
};

}  // namespace VexaOS
