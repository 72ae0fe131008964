#include "Password.h"

#include "Platform.h"

#ifdef _WIN32
#include "ShaCrypt.h"

#include <windows.h>

#include <bcrypt.h>
#else
#include <crypt.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>

namespace gm7s32 {

namespace {

#ifndef _WIN32
// crypt_data is large (tens of kilobytes) and holds derived key material, so
// it lives on the heap and is wiped before it is freed.
struct CryptArea
{
    CryptArea()
        : data(std::make_unique<crypt_data>())
    {}
    ~CryptArea() { wipeMemory(data.get(), sizeof(crypt_data)); }
    std::unique_ptr<crypt_data> data;
};
#endif

bool constantTimeEquals(const char *left, std::size_t leftSize, const char *right,
                        std::size_t rightSize)
{
    unsigned char difference = leftSize == rightSize ? 0 : 1;
    const std::size_t size = leftSize < rightSize ? leftSize : rightSize;
    for (std::size_t i = 0; i < size; ++i)
        difference |= static_cast<unsigned char>(left[i] ^ right[i]);
    return difference == 0;
}

} // namespace

#ifdef _WIN32

// Windows has no libxcrypt: SHA-crypt ("$6$"), which libxcrypt reads too, so
// a store made here opens on Linux. A yescrypt hash made there cannot be
// checked here.
constexpr unsigned kShaCryptRounds = 50000;

bool hashPassword(const char *password, std::string *hash)
{
    if (!password || !hash)
        return false;
    unsigned char salt[12];
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, salt, sizeof salt, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    *hash = shaCrypt(password, shaCryptSetting(salt, kShaCryptRounds));
    return !hash->empty();
}

bool verifyPassword(const char *password, const std::string &hash)
{
    if (!password || hash.empty() || hash[0] == '*')
        return false;
    std::string again = shaCrypt(password, hash);
    const bool same =
        !again.empty() && constantTimeEquals(again.data(), again.size(), hash.data(), hash.size());
    wipeMemory(again.data(), again.size());
    return same;
}

#else

bool hashPassword(const char *password, std::string *hash)
{
    if (!password || !hash)
        return false;
    char *setting = crypt_gensalt_ra(nullptr, 0, nullptr, 0);
    if (!setting)
        return false;
    CryptArea area;
    const char *result = crypt_rn(password, setting, area.data.get(), sizeof(crypt_data));
    std::free(setting);
    if (!result || result[0] == '*')
        return false;
    *hash = result;
    return true;
}

bool verifyPassword(const char *password, const std::string &hash)
{
    if (!password || hash.empty() || hash[0] == '*')
        return false;
    CryptArea area;
    const char *result = crypt_rn(password, hash.c_str(), area.data.get(), sizeof(crypt_data));
    if (!result || result[0] == '*')
        return false;
    return constantTimeEquals(result, std::strlen(result), hash.data(), hash.size());
}

#endif

} // namespace gm7s32
