#include "core/crypt.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "platform/codec.h"

namespace {

// The key material, scrambled; see BuildPasswordKey.
constexpr char16_t kScrambledKey[] =
    u"0AF8B21A319D46A4A4916CE387BEFFCE502911E8F8F8ED3E1950545B0BB2C49D";
constexpr uint16_t kKeySeed = 0x5A3C;
constexpr uint16_t kKeyMultiplier = 0x6F4B;
constexpr uint16_t kKeyIncrement = 0x2C1D;

constexpr size_t kWorkBytes = 1024;

int HexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// One byte from up to two characters, as base-16 wcstol reads them: the
// leading hexadecimal digits count, anything else ends the number.
unsigned char HexByte(const char16_t* p, size_t n)
{
    unsigned v = 0;
    for (size_t i = 0; i < n; ++i) {
        int d = HexValue(p[i]);
        if (d < 0) break;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return static_cast<unsigned char>(v);
}

std::u16string ReadUtf16Le(const unsigned char* bytes, size_t size)
{
    std::u16string s;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

int AesEcb(bool encrypt, unsigned char* out, const unsigned char* in, int inLen, const unsigned char* key)
{
    if (inLen < 0 || !out || (!in && inLen > 0) || !key) return -1;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) return -1;
    int total = -1;
    int n1 = 0, n2 = 0;
    if (EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) == 1 &&
        EVP_CipherUpdate(ctx, out, &n1, in, inLen) == 1 &&
        EVP_CipherFinal_ex(ctx, out + n1, &n2) == 1) {
        total = n1 + n2;
    }
    EVP_CIPHER_CTX_free(ctx);
    return total;
}

}  // namespace

int AesEcbEncrypt(unsigned char* out, const unsigned char* in, int inLen, const unsigned char* key)
{
    return AesEcb(true, out, in, inLen, key);
}

int AesEcbDecrypt(int inLen, const unsigned char* key, unsigned char* out, const unsigned char* in)
{
    return AesEcb(false, out, in, inLen, key);
}

std::u16string BuildPasswordKey(const std::u16string& scrambled)
{
    if (scrambled.empty()) return {};
    std::vector<unsigned char> bytes;
    uint16_t running = kKeySeed;
    for (size_t i = 0; i < scrambled.size(); i += 2) {
        size_t n = std::min<size_t>(2, scrambled.size() - i);
        unsigned char in = HexByte(scrambled.data() + i, n);
        bytes.push_back(static_cast<unsigned char>(in ^ (running >> 8)));
        running = static_cast<uint16_t>((running + in) * kKeyMultiplier + kKeyIncrement);
    }
    return ReadUtf16Le(bytes.data(), bytes.size());
}

std::string SettingsCipherKey()
{
    std::string key = plat::EncodeCodePage(plat::kCpAcp, BuildPasswordKey(kScrambledKey));
    key.resize(16, '\0');
    return key;
}

std::u16string EncryptSettingsPassword(const std::u16string& password)
{
    if (password.empty() || password.size() > kMaxSettingsPasswordChars) return {};
    std::vector<unsigned char> plain(2 * password.size() + 2, 0);
    for (size_t i = 0; i < password.size(); ++i) {
        plain[2 * i] = static_cast<unsigned char>(password[i] & 0xFF);
        plain[2 * i + 1] = static_cast<unsigned char>(password[i] >> 8);
    }
    const std::string key = SettingsCipherKey();
    std::vector<unsigned char> cipher(kWorkBytes + 16, 0);
    int n = AesEcbEncrypt(cipher.data(), plain.data(), static_cast<int>(plain.size()),
                          reinterpret_cast<const unsigned char*>(key.data()));
    OPENSSL_cleanse(plain.data(), plain.size());
    std::u16string hex;
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < n; ++i) {
        hex.push_back(static_cast<char16_t>(digits[cipher[static_cast<size_t>(i)] >> 4]));
        hex.push_back(static_cast<char16_t>(digits[cipher[static_cast<size_t>(i)] & 15]));
    }
    return hex;
}

std::u16string DecryptSettingsPassword(const std::u16string& hexText)
{
    if (hexText.empty() || hexText.size() > kMaxStoredPasswordDigits) return {};
    std::vector<unsigned char> cipher(kWorkBytes, 0);
    size_t count = 0;
    for (size_t i = 0; i < hexText.size() && count < cipher.size(); i += 2) {
        size_t n = std::min<size_t>(2, hexText.size() - i);
        cipher[count++] = HexByte(hexText.data() + i, n);
    }
    const std::string key = SettingsCipherKey();
    // Room for a whole extra block beyond the input, whatever the cipher writes.
    std::vector<unsigned char> plain(kWorkBytes + 32, 0);
    AesEcbDecrypt(static_cast<int>(hexText.size() / 2), reinterpret_cast<const unsigned char*>(key.data()),
                  plain.data(), cipher.data());
    std::u16string result = ReadUtf16Le(plain.data(), plain.size());
    OPENSSL_cleanse(plain.data(), plain.size());
    return result;
}

namespace Util::Crypt {

Sha256::Sha256()
{
    m_ctx = EVP_MD_CTX_new();
    Reset();
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_ctx));
}

void Sha256::Reset()
{
    if (m_ctx) EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(m_ctx), EVP_sha256(), nullptr);
}

void Sha256::Update(const void* data, size_t length)
{
    if (m_ctx && (data || length == 0)) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_ctx), data, length);
}

void Sha256::Final()
{
    unsigned int n = 0;
    if (!m_ctx || EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_ctx), m_digest, &n) != 1)
        std::memset(m_digest, 0, sizeof m_digest);
    Reset();
}

}  // namespace Util::Crypt
