// Names the reason a source was refused, for a one-line message.
#pragma once

#include <string>

// Why the plug-in made no offer for file to a client with this User-Agent.
std::string DiagnoseRefusedOffer(const std::string& file, const std::string& userAgent);
// Why a job could not be opened on file.
std::string DiagnoseSource(const std::string& file);
