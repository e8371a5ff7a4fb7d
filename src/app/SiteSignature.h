// The cryptography of signed update sites, on OpenSSL's EVP interface:
// SHA-256 digests, Ed25519 signatures and the base64 text in which the
// settings file carries the public key.
//
// Stateless functions, callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::size_t kEd25519KeyBytes = 32;
inline constexpr std::size_t kEd25519SignatureBytes = 64;

// Lower-case hex SHA-256 of Data, or of a file's bytes (nothing when the
// file cannot be read whole).
std::string Sha256Hex(std::string_view data);
std::optional<std::string> FileSha256Hex(const std::string& path);

std::string Base64Encode(std::string_view bytes);
// Strict base64 (padding required, blanks around the text ignored); nothing
// for any other text.
std::optional<std::string> Base64Decode(std::string_view text);

// True when Signature is Ed25519's signature of Message under the raw
// 32-byte PublicKey. Wrong sizes are simply no valid signature.
bool VerifyEd25519(std::string_view publicKey, std::string_view message,
                   std::string_view signature);

}  // namespace app
