#pragma once

// The name a fetched file is saved under: the server's Content-Disposition
// name (RFC 6266: a valid "filename*" in UTF-8 or ISO-8859-1 before
// "filename", the first of each), or else the last path segment of the URL
// it came from, made safe for a Windows file name. Platform-free: strings
// are UTF-8 bytes.

#include <string>

// The name the header gives (its last path component, without surrounding
// blanks, in UTF-8, still unsafe for Windows); empty when it names none.
// The extension reads the header the same way (extension/offer.js), so that
// the policy judges the name the agent saves under.
std::string FileNameFromContentDisposition(const std::string& header);

// The URL's last path segment, percent-decoded, without query or fragment;
// empty for a URL that ends in "/". Stays encoded where decoding would not
// give UTF-8.
std::string LastPathSegment(const std::string& url);

// `name` as a file name Windows accepts in a folder of ours: no folder part,
// no reserved or control characters, no device name, no trailing dot or
// space, valid UTF-8, at most kMaxFileNameBytes bytes; "download" for a name
// that has nothing left.
constexpr std::size_t kMaxFileNameBytes = 200;
std::string SafeFileName(const std::string& name);

// The name for a file fetched from `finalUrl` whose response carried
// `contentDisposition` (empty when it carried none).
std::string ChooseFetchedFileName(const std::string& contentDisposition,
                                  const std::string& finalUrl);
