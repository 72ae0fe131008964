// SHA-512-based password hashing ("$6$", the SHA-crypt scheme), for builds
// without libxcrypt (Windows). libxcrypt reads these hashes too, so a store
// made by the Windows library opens on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gm7s32 {

// The hash of password for a setting "$6$salt" or "$6$rounds=N$salt" (a
// complete hash serves as its own setting); "" for a setting it cannot use.
std::string shaCrypt(std::string_view password, std::string_view setting);

// A fresh setting: "$6$rounds=N$" and 16 salt characters from randomBytes.
std::string shaCryptSetting(const unsigned char randomBytes[12], unsigned rounds);

} // namespace gm7s32
