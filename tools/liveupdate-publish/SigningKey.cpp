#include "SigningKey.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "app/SiteSignature.h"

namespace publish {
namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

}  // namespace

TclSigningKey::TclSigningKey(EVP_PKEY* key) : key_(key, EVP_PKEY_free) {}

TclSigningKey TclSigningKey::Generate() {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  if (key == nullptr) throw std::runtime_error("no Ed25519 key could be made");
  return TclSigningKey(key);
}

std::optional<TclSigningKey> TclSigningKey::Load(const std::string& path, std::string& error) {
  Bio file(BIO_new_file(path.c_str(), "rb"), BIO_free);
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  EVP_PKEY* key = PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr);
  if (key == nullptr) {
    error = path + " holds no PEM private key";
    return std::nullopt;
  }
  TclSigningKey loaded(key);
  if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
    error = path + " holds a key of another kind, not Ed25519";
    return std::nullopt;
  }
  return loaded;
}

bool TclSigningKey::Save(const std::string& path, std::string& error) const {
  Bio memory(BIO_new(BIO_s_mem()), BIO_free);
  if (!memory ||
      PEM_write_bio_PrivateKey(memory.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "the key cannot be written as PEM";
    return false;
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(memory.get(), &data);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno == EEXIST ? path + " exists already; it is left as it is"
                            : "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  // The mode asked for at creation is narrowed by the umask, never widened;
  // set it outright all the same.
  bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, data, static_cast<std::size_t>(size)) == size &&
            ::fsync(fd) == 0;
  const int saved = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(path.c_str());
    error = "cannot write " + path + ": " + std::strerror(saved);
  }
  return ok;
}

std::string TclSigningKey::PublicKeyBase64() const {
  unsigned char raw[app::kEd25519KeyBytes];
  std::size_t length = sizeof raw;
  if (EVP_PKEY_get_raw_public_key(key_.get(), raw, &length) != 1) return {};
  return app::Base64Encode(std::string_view(reinterpret_cast<const char*>(raw), length));
}

std::string TclSigningKey::Sign(std::string_view message) const {
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::string signature(app::kEd25519SignatureBytes, '\0');
  std::size_t length = signature.size();
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
      EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
    throw std::runtime_error("the manifest cannot be signed");
  signature.resize(length);
  return signature;
}

}  // namespace publish
