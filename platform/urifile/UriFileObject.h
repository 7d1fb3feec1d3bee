// The IUriFile that keeps a partial local copy of a network resource in three side files.
#pragma once

#include "platform/urifile/IUriFile.h"

namespace VexaUri {

// An open UriFileObject for the parameters, or null when it cannot be opened.
IUriFile* OpenUriFileObject(const UriFileParams*, AuthCallback, void*);

}  // namespace VexaUri
