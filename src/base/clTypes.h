// The small enumerations shared by the workers, the download control, the
// request composer and the progress display. They sit below all of those so
// that no folder has to reach up (or sideways) for them.
#pragma once

#include <cstdint>
#include <initializer_list>

// The status of a worker, a segment, a resource and an item. The numbering is
// part of the interface: colour tables are indexed by it.
enum TclProcessStatus : std::uint8_t {
  psUnknown = 0,
  psSuccess = 1,
  psFailed = 2,
  psErrors = 3,
  psProcess = 4,
  psTerminated = 5,
};

// The thread priority of an item's workers.
enum TclProcessPriority : std::uint8_t { ppLower, ppNormal, ppHigher };

// Certificate problems a worker ignores on HTTPS, kept as a one-byte set.
enum TclCertificateFlag : std::uint8_t {
  cfIgnoreCommonNameInvalid = 0,
  cfIgnoreDateInvalid = 1,
  cfIgnoreUnknownAuthority = 2,
};

class TclCertificateFlags {
 public:
  constexpr TclCertificateFlags() = default;
  constexpr TclCertificateFlags(std::initializer_list<TclCertificateFlag> flags) {
    for (TclCertificateFlag f : flags) bits_ |= Bit(f);
  }
  static constexpr TclCertificateFlags FromBits(std::uint8_t bits) {
    TclCertificateFlags result;
    result.bits_ = bits & 0x07;
    return result;
  }

  constexpr bool Contains(TclCertificateFlag flag) const { return (bits_ & Bit(flag)) != 0; }
  constexpr void Include(TclCertificateFlag flag) { bits_ |= Bit(flag); }
  constexpr void Exclude(TclCertificateFlag flag) {
    bits_ &= static_cast<std::uint8_t>(~Bit(flag));
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TclCertificateFlags&) const = default;

 private:
  static constexpr std::uint8_t Bit(TclCertificateFlag flag) {
    return static_cast<std::uint8_t>(1u << flag);
  }
  std::uint8_t bits_ = 0;
};

// How proxy credentials are given.
enum TclAuthenticationType : std::uint8_t { atBasic, atDigest };
