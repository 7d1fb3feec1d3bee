// The network road of UriFileObject: its download thread reads through the in-memory URI file
// opened on the same URI, the file CreateUriFile makes for a network URI without side files.
#include <memory>
#include <new>
#include <string>

#include "platform/urifile/UriFileMemory.h"
#include "platform/urifile/UriFileObject.h"

namespace VexaUri {
namespace {

class UriFileSource final : public IUriFileObjectSource {
 public:
  explicit UriFileSource(IUriFile* file) : m_file(file) {}
  bool Size(uint64_t* size) override { return m_file->GetInfo(kUriInfoSize, size) == VexaFiles::kUriOk; }
  bool ByteRanges() override {
    uint64_t ranges = 0;
    return m_file->GetInfo(kUriInfoByteRanges, &ranges) == VexaFiles::kUriOk && ranges == 1;
  }
  int32_t ReadAt(uint64_t position, void* buffer, uint32_t* count) override {
    return m_file->ReadAt(position, buffer, count, 1);
  }
  void Abort() override { m_file->Abort(); }

 private:
  std::unique_ptr<IUriFile> m_file;
};

// What the thread needs to open the source later, copied: the caller's strings may be gone.
struct NetworkRequest {
  std::u16string uri, referrer, userAgent, cookies;
  bool hasReferrer, hasUserAgent, hasCookies;
  AuthCallback callback;
  void* context;

  std::unique_ptr<IUriFileObjectSource> Open() const {
    const UriFileParams params{uri.c_str(), nullptr, nullptr, nullptr,
                               hasReferrer ? referrer.c_str() : nullptr,
                               hasUserAgent ? userAgent.c_str() : nullptr,
                               hasCookies ? cookies.c_str() : nullptr};
    std::unique_ptr<UriFileMemory> file(new (std::nothrow) UriFileMemory);
    if (!file || file->Open(&params, callback, context) != VexaFiles::kUriOk) return nullptr;
    return std::make_unique<UriFileSource>(file.release());
  }
};

std::u16string Copy(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

}  // namespace

IUriFile* OpenUriFileObject(const UriFileParams* params, AuthCallback callback, void* context) {
  if (!params || !params->uri) return nullptr;
  auto request = std::make_shared<NetworkRequest>(NetworkRequest{
      Copy(params->uri), Copy(params->referrer), Copy(params->userAgent), Copy(params->cookies),
      params->referrer != nullptr, params->userAgent != nullptr, params->cookies != nullptr, callback,
      context});
  std::unique_ptr<UriFileObject> object(new (std::nothrow) UriFileObject());
  if (!object) return nullptr;
  if (object->Open(params, [request] { return request->Open(); }) != VexaFiles::kUriOk) return nullptr;
  return object.release();
}

}  // namespace VexaUri
