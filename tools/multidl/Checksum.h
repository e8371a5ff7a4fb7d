// The digest a finished file is checked against (--checksum TYPE=HEX),
// computed with the system's crypto library.
//
// Threads: free functions; any thread.
#pragma once

#include <optional>
#include <string>

namespace multidl {

// The digest length in bytes of a supported type ("md5", "sha-1", "sha-224",
// "sha-256", "sha-384", "sha-512"), 0 when unsupported.
int ChecksumLength(const std::string& type);

// The lower-case hex digest of the file's bytes; nullopt when the file cannot
// be read or the type is unsupported.
std::optional<std::string> FileDigest(const std::string& type, const std::string& path);

}  // namespace multidl
