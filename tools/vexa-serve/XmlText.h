// Text placed inside XML documents (descriptions, SOAP answers, DIDL-Lite): names come from
// the file system and may hold markup characters, control bytes or bytes that are not UTF-8.
#pragma once

#include <string>
#include <string_view>

// The text as XML character data or attribute value: '<', '>', '&', '"' and '\'' become
// entities; bytes that are not well-formed UTF-8, and control characters XML does not allow,
// become U+FFFD, so that a strange file name can never make a whole document unreadable.
std::string XmlEscape(std::string_view text);
