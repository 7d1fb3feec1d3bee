// How CreateUriFile (declared in IUriFile.h) picks the class for a URI.
#pragma once

#include "platform/urifile/IUriFile.h"

namespace VexaUri {

enum class UriFileClass { kNone, kLocal, kMemory, kObject };

// kNone for a URI of fewer than 5 characters; "file:" (case-sensitive) is always local; a URI
// without side files streams into memory; any side file asks for a partial local copy.
UriFileClass UriFileClassFor(const UriFileParams* params);

}  // namespace VexaUri
