// How proxy credentials are given. Shared by the request header and the
// download workers (which hand Digest credentials to the connection layer);
// a header of its own so that code below this folder can use it without
// linking the request composer.
#pragma once

#include <cstdint>

enum TclAuthenticationType : std::uint8_t { atBasic, atDigest };
