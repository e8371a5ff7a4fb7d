// The publisher's Ed25519 key: made once and kept as a PEM file (PKCS#8,
// mode 0600) that only the publisher reads; its public half goes into every
// installation's sms.ini as "PublicKey=" (base64 of the 32 raw bytes).
//
// Threads: plain objects; any thread, one at a time each.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace publish {

class TclSigningKey {
 public:
  // A new random key.
  static TclSigningKey Generate();
  // Reads a PEM private key; nothing (and Error set) when the file cannot be
  // read or holds no Ed25519 private key.
  static std::optional<TclSigningKey> Load(const std::string& path, std::string& error);

  // Writes the key as PEM with mode 0600. Never replaces an existing file:
  // a key that signed sites in the field must not be lost by a slip.
  bool Save(const std::string& path, std::string& error) const;
  // Base64 of the raw 32-byte public key, the value of "PublicKey=".
  std::string PublicKeyBase64() const;
  // The 64-byte detached signature of Message.
  std::string Sign(std::string_view message) const;

 private:
  explicit TclSigningKey(evp_pkey_st* key);
  std::shared_ptr<evp_pkey_st> key_;
};

}  // namespace publish
