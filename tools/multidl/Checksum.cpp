#include "Checksum.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace multidl {
namespace {

const EVP_MD* DigestOf(const std::string& type) {
  if (type == "md5") return EVP_md5();
  if (type == "sha-1") return EVP_sha1();
  if (type == "sha-224") return EVP_sha224();
  if (type == "sha-256") return EVP_sha256();
  if (type == "sha-384") return EVP_sha384();
  if (type == "sha-512") return EVP_sha512();
  return nullptr;
}

}  // namespace

int ChecksumLength(const std::string& type) {
  const EVP_MD* md = DigestOf(type);
  return md ? EVP_MD_get_size(md) : 0;
}

std::optional<std::string> FileDigest(const std::string& type, const std::string& path) {
  const EVP_MD* md = DigestOf(type);
  if (!md) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) return std::nullopt;
  std::vector<char> buffer(1 << 20);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = file.gcount();
    if (got > 0 &&
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) != 1) {
      return std::nullopt;
    }
  }
  if (!file.eof()) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace multidl
