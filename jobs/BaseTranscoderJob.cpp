#include "jobs/BaseTranscoderJob.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files/PortableFile.h"

namespace {

char* CopyWithCalloc(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::calloc(size, 1));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

char* CopyWithMalloc(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

size_t WideLength(const char16_t* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}

// The text after the last "." of the path, lower-cased character by character; the whole path
// when it has no "."; nothing when the only "." opens the path.
bool ExtensionIsMkv(const char16_t* path) {
  const char16_t* lastDot = nullptr;
  for (const char16_t* p = path; *p; ++p)
    if (*p == u'.') lastDot = p;
  const char16_t* extension = path;
  if (lastDot == path) return false;
  if (lastDot) extension = lastDot + 1;
  static constexpr char16_t kMkv[] = u"mkv";
  size_t i = 0;
  for (; extension[i] && i < 3; ++i) {
    char16_t c = extension[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kMkv[i]) return false;
  }
  return i == 3 && extension[3] == 0;
}

}  // namespace

CBaseTranscoderJob::CBaseTranscoderJob(NS::ITranscoderJobCallbacks* owner, const char* mimeType,
                                       const char* dlnaProfile)
    : m_mimeType(CopyWithCalloc(mimeType)), m_dlnaProfile(CopyWithMalloc(dlnaProfile)),
      m_owner(owner) {}

CBaseTranscoderJob::~CBaseTranscoderJob() = default;

int32_t CBaseTranscoderJob::AddRef() { return m_refCount.fetch_add(1) + 1; }

int32_t CBaseTranscoderJob::Release() {
  int32_t now = m_refCount.fetch_sub(1) - 1;
  // At zero the owner parks the job; the job never deletes itself.
  if (now == 0 && m_owner) m_owner->OnJobReleased(this);
  return now;
}

bool CBaseTranscoderJob::StoreSourcePath(const char16_t* path) {
  m_sourcePath.reset();
  size_t size = WideLength(path) + 1;
  m_sourcePath.reset(new (std::nothrow) char16_t[size]);
  if (!m_sourcePath) return false;
  std::memcpy(m_sourcePath.get(), path, size * sizeof(char16_t));
  return true;
}

int32_t CBaseTranscoderJob::CheckMatroskaName(const char16_t* path, const char* mime) {
  if (!path) return kJobMissingArgument;
  if (mime) return EqualsIgnoringCase(mime, "video/x-mkv") ? kJobOk : kJobUnsupportedType;
  return ExtensionIsMkv(path) ? kJobOk : kJobUnusableSource;
}

int32_t CBaseTranscoderJob::CheckMatroskaSource(const char16_t* path, const char* mime) {
  int32_t status = CheckMatroskaName(path, mime);
  if (status != kJobOk) return status;
  // A missing source is left to the opening, which fails at once.
  return VexaFiles::PortableFileKind(path) == VexaFiles::kPortableOtherEntry ? kJobUnusableSource
                                                                             : kJobOk;
}
