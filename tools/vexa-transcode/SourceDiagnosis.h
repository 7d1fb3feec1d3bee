// Names the reason a source was refused, for a one-line message. The plug-in answers refusals
// with a bare result code; the tool finds the reason from the file itself and from what the
// plug-in offers another client, never by looking inside the plug-in.
#pragma once

#include <string>

#include "interfaces/public/TranscoderInterfaces.h"

// Empty when file can be opened and looks like Matroska, or is an "http:" name and the
// download-manager library is there; else the reason it cannot be served.
std::string CheckMatroskaFile(const std::string& file);

// Why the plug-in made no offer for file to a client with this User-Agent.
std::string DiagnoseRefusedOffer(Stackvale::NetworkStreaming::IUpnpTranscoder* upnp,
                                 const std::string& file, const std::string& userAgent);
