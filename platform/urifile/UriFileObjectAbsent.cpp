// Built only while the tree has no UriFileObject class (see CMakeLists.txt): a URI that needs a
// partial local copy cannot be opened, and CreateUriFile answers null for it.
#include "platform/urifile/UriFileObject.h"

namespace VexaUri {

IUriFile* OpenUriFileObject(const UriFileParams*, AuthCallback, void*) { return nullptr; }

}  // namespace VexaUri
