#include "ShaCrypt.h"

#include "Platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace gm7s32 {

namespace {

void wipe(void *bytes, std::size_t count)
{
    // An empty password's buffers have no memory at all.
    if (count > 0)
        wipeMemory(bytes, count);
}

// SHA-512 (FIPS 180-4).
class Sha512
{
public:
    Sha512() { reset(); }
    ~Sha512() { wipe(this, sizeof *this); }

    void reset()
    {
        m_state = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL,
                   0xa54ff53a5f1d36f1ULL, 0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                   0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
        m_length = 0;
        m_used = 0;
    }

    void add(const void *data, std::size_t size)
    {
        const auto *bytes = static_cast<const unsigned char *>(data);
        m_length += size;
        while (size > 0) {
            const std::size_t take = std::min(size, m_block.size() - m_used);
            std::memcpy(m_block.data() + m_used, bytes, take);
            m_used += take;
            bytes += take;
            size -= take;
            if (m_used == m_block.size()) {
                compress();
                m_used = 0;
            }
        }
    }
    void add(std::string_view text) { add(text.data(), text.size()); }

    std::array<unsigned char, 64> finish()
    {
        const uint64_t bits = m_length * 8;
        const unsigned char one = 0x80;
        add(&one, 1);
        const unsigned char zero = 0;
        while (m_used != 112)
            add(&zero, 1);
        unsigned char length[16] = {};
        for (int index = 0; index < 8; ++index)
            length[15 - index] = static_cast<unsigned char>(bits >> (8 * index));
        add(length, sizeof length);
        std::array<unsigned char, 64> digest;
        for (int word = 0; word < 8; ++word)
            for (int index = 0; index < 8; ++index)
                digest[static_cast<std::size_t>(word) * 8 + static_cast<std::size_t>(index)] =
                    static_cast<unsigned char>(m_state[static_cast<std::size_t>(word)] >>
                                               (56 - 8 * index));
        reset();
        return digest;
    }

private:
    static uint64_t rotate(uint64_t value, int by) { return (value >> by) | (value << (64 - by)); }

    void compress()
    {
        static constexpr uint64_t k[80] = {
            0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL,
            0xe9b5dba58189dbbcULL, 0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL,
            0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL, 0xd807aa98a3030242ULL,
            0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
            0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL,
            0xc19bf174cf692694ULL, 0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL,
            0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL, 0x2de92c6f592b0275ULL,
            0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
            0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL,
            0xbf597fc7beef0ee4ULL, 0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL,
            0x06ca6351e003826fULL, 0x142929670a0e6e70ULL, 0x27b70a8546d22ffcULL,
            0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
            0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL,
            0x92722c851482353bULL, 0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL,
            0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL, 0xd192e819d6ef5218ULL,
            0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
            0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL,
            0x34b0bcb5e19b48a8ULL, 0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL,
            0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL, 0x748f82ee5defb2fcULL,
            0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
            0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL,
            0xc67178f2e372532bULL, 0xca273eceea26619cULL, 0xd186b8c721c0c207ULL,
            0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL, 0x06f067aa72176fbaULL,
            0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
            0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL,
            0x431d67c49c100d4cULL, 0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL,
            0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL};
        uint64_t w[80];
        for (int index = 0; index < 16; ++index) {
            uint64_t word = 0;
            for (int byte = 0; byte < 8; ++byte)
                word =
                    (word << 8) |
                    m_block[static_cast<std::size_t>(index) * 8 + static_cast<std::size_t>(byte)];
            w[index] = word;
        }
        for (int index = 16; index < 80; ++index) {
            const uint64_t s0 =
                rotate(w[index - 15], 1) ^ rotate(w[index - 15], 8) ^ (w[index - 15] >> 7);
            const uint64_t s1 =
                rotate(w[index - 2], 19) ^ rotate(w[index - 2], 61) ^ (w[index - 2] >> 6);
            w[index] = w[index - 16] + s0 + w[index - 7] + s1;
        }
        uint64_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        uint64_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
        for (int index = 0; index < 80; ++index) {
            const uint64_t t1 = h + (rotate(e, 14) ^ rotate(e, 18) ^ rotate(e, 41)) +
                                ((e & f) ^ (~e & g)) + k[index] + w[index];
            const uint64_t t2 =
                (rotate(a, 28) ^ rotate(a, 34) ^ rotate(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
        m_state[4] += e;
        m_state[5] += f;
        m_state[6] += g;
        m_state[7] += h;
        wipe(w, sizeof w);
    }

    std::array<uint64_t, 8> m_state;
    std::array<unsigned char, 128> m_block{};
    uint64_t m_length = 0;
    std::size_t m_used = 0;
};

constexpr char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr unsigned kDefaultRounds = 5000;
constexpr unsigned long kMinRounds = 1000;
constexpr unsigned long kMaxRounds = 999999999;

void encode(std::string &out, unsigned b2, unsigned b1, unsigned b0, int count)
{
    unsigned word = (b2 << 16) | (b1 << 8) | b0;
    for (int index = 0; index < count; ++index) {
        out += kAlphabet[word & 0x3f];
        word >>= 6;
    }
}

// Bytes of digest repeated to length bytes.
std::vector<unsigned char> stretch(const std::array<unsigned char, 64> &digest, std::size_t length)
{
    std::vector<unsigned char> bytes(length);
    for (std::size_t index = 0; index < length; ++index)
        bytes[index] = digest[index % 64];
    return bytes;
}

} // namespace

std::string shaCrypt(std::string_view password, std::string_view setting)
{
    if (setting.substr(0, 3) != "$6$")
        return {};
    setting.remove_prefix(3);
    unsigned long rounds = kDefaultRounds;
    bool roundsGiven = false;
    if (setting.substr(0, 7) == "rounds=") {
        const std::size_t end = setting.find('$');
        if (end == std::string_view::npos || end == 7)
            return {};
        rounds = 0;
        for (const char c : setting.substr(7, end - 7)) {
            if (c < '0' || c > '9' || rounds > kMaxRounds)
                return {};
            rounds = rounds * 10 + static_cast<unsigned long>(c - '0');
        }
        rounds = std::min(std::max(rounds, kMinRounds), kMaxRounds);
        roundsGiven = true;
        setting.remove_prefix(end + 1);
    }
    const std::string_view salt = setting.substr(0, std::min<std::size_t>(16, setting.find('$')));

    Sha512 sha;
    sha.add(password);
    sha.add(salt);
    sha.add(password);
    std::array<unsigned char, 64> b = sha.finish();

    sha.add(password);
    sha.add(salt);
    std::size_t left = password.size();
    for (; left > 64; left -= 64)
        sha.add(b.data(), 64);
    sha.add(b.data(), left);
    for (std::size_t bits = password.size(); bits > 0; bits >>= 1) {
        if (bits & 1)
            sha.add(b.data(), 64);
        else
            sha.add(password);
    }
    std::array<unsigned char, 64> a = sha.finish();

    for (std::size_t index = 0; index < password.size(); ++index)
        sha.add(password);
    std::array<unsigned char, 64> dp = sha.finish();
    std::vector<unsigned char> p = stretch(dp, password.size());

    for (unsigned index = 0; index < 16u + a[0]; ++index)
        sha.add(salt);
    std::array<unsigned char, 64> ds = sha.finish();
    std::vector<unsigned char> s = stretch(ds, salt.size());

    std::array<unsigned char, 64> c = a;
    for (unsigned long round = 0; round < rounds; ++round) {
        if (round & 1)
            sha.add(p.data(), p.size());
        else
            sha.add(c.data(), 64);
        if (round % 3 != 0)
            sha.add(s.data(), s.size());
        if (round % 7 != 0)
            sha.add(p.data(), p.size());
        if (round & 1)
            sha.add(c.data(), 64);
        else
            sha.add(p.data(), p.size());
        c = sha.finish();
    }

    std::string hash = "$6$";
    if (roundsGiven)
        hash += "rounds=" + std::to_string(rounds) + "$";
    hash.append(salt);
    hash += '$';
    static constexpr int order[21][3] = {
        {0, 21, 42},  {22, 43, 1},  {44, 2, 23},  {3, 24, 45},  {25, 46, 4},  {47, 5, 26},
        {6, 27, 48},  {28, 49, 7},  {50, 8, 29},  {9, 30, 51},  {31, 52, 10}, {53, 11, 32},
        {12, 33, 54}, {34, 55, 13}, {56, 14, 35}, {15, 36, 57}, {37, 58, 16}, {59, 17, 38},
        {18, 39, 60}, {40, 61, 19}, {62, 20, 41}};
    for (const auto &group : order)
        encode(hash, c[static_cast<std::size_t>(group[0])], c[static_cast<std::size_t>(group[1])],
               c[static_cast<std::size_t>(group[2])], 4);
    encode(hash, 0, 0, c[63], 2);

    wipe(b.data(), b.size());
    wipe(a.data(), a.size());
    wipe(dp.data(), dp.size());
    wipe(ds.data(), ds.size());
    wipe(c.data(), c.size());
    wipe(p.data(), p.size());
    wipe(s.data(), s.size());
    return hash;
}

std::string shaCryptSetting(const unsigned char randomBytes[12], unsigned rounds)
{
    std::string setting = "$6$rounds=" + std::to_string(rounds) + "$";
    for (int index = 0; index < 12; index += 3)
        encode(setting, randomBytes[index], randomBytes[index + 1], randomBytes[index + 2], 4);
    return setting;
}

} // namespace gm7s32
