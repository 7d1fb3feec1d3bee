#include "platform/urifile/CreateUriFile.h"

#include <memory>
#include <new>

#include "platform/files/TextConvert.h"
#include "platform/urifile/UriFileLocal.h"
#include "platform/urifile/UriFileMemory.h"
#include "platform/urifile/UriFileObject.h"

namespace VexaUri {
namespace {

constexpr size_t kMinUriLength = 5;
constexpr char16_t kFileScheme[] = u"file:";
constexpr size_t kFileSchemeLength = 5;

bool HasFileScheme(const char16_t* uri) {
  for (size_t i = 0; i < kFileSchemeLength; ++i)
    if (uri[i] != kFileScheme[i]) return false;
  return true;
}

}  // namespace

UriFileClass UriFileClassFor(const UriFileParams* params) {
  if (!params || !params->uri || VexaFiles::WideLength(params->uri) < kMinUriLength)
    return UriFileClass::kNone;
  if (HasFileScheme(params->uri)) return UriFileClass::kLocal;
  if (!params->sideFile1 && !params->sideFile2 && !params->sideFile3) return UriFileClass::kMemory;
  return UriFileClass::kObject;
}

IUriFile* CreateUriFile(const UriFileParams* params, AuthCallback callback, void* context) {
  switch (UriFileClassFor(params)) {
    case UriFileClass::kNone: return nullptr;
    case UriFileClass::kLocal: {
      std::unique_ptr<UriFileLocal> file(new (std::nothrow) UriFileLocal);
      if (!file || file->Open(params->uri) != VexaFiles::kUriOk) return nullptr;
      return file.release();
    }
    case UriFileClass::kMemory: {
      std::unique_ptr<UriFileMemory> file(new (std::nothrow) UriFileMemory);
      if (!file || file->Open(params, callback, context) != VexaFiles::kUriOk) return nullptr;
      return file.release();
    }
    case UriFileClass::kObject: return OpenUriFileObject(params, callback, context);
  }
  return nullptr;
}

}  // namespace VexaUri
