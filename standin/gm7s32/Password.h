// Salted password hashes through libxcrypt. The clear text is never kept:
// work areas that held it or its derivatives are wiped after use.
#pragma once

#include <string>

namespace gm7s32 {

// Hashes password with libxcrypt's preferred method (yescrypt on Debian) and a
// fresh random salt. False when libxcrypt cannot.
bool hashPassword(const char *password, std::string *hash);

// True when password hashes to hash; the hashes are compared in constant time.
bool verifyPassword(const char *password, const std::string &hash);

} // namespace gm7s32
