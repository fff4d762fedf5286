// The settings-password cipher (AES-128-ECB, hexadecimal text in the
// registry value CryptPassword) and SHA-256, both over OpenSSL's EVP calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest password that can be enciphered (characters) and longest stored
// text that is deciphered (hexadecimal digits); longer input gives "".
constexpr size_t kMaxSettingsPasswordChars = 510;
constexpr size_t kMaxStoredPasswordDigits = 2048;

// Password to lowercase hexadecimal ciphertext of its UTF-16LE text with the
// terminating zero; "" for an empty password, a too long one or a failure.
std::u16string EncryptSettingsPassword(const std::u16string& password);
// The inverse; "" for empty or too long input. A text that does not decipher
// gives whatever the cipher produced before it failed (often "").
std::u16string DecryptSettingsPassword(const std::u16string& hexText);

// AES-128-ECB with PKCS#7 padding; the key is the first 16 bytes of `key`.
// Output room must hold inLen + 16 bytes. Return the bytes written, or -1.
int AesEcbEncrypt(unsigned char* out, const unsigned char* in, int inLen, const unsigned char* key);
int AesEcbDecrypt(int inLen, const unsigned char* key, unsigned char* out, const unsigned char* in);

// Unscrambles a stored key text (hexadecimal digits) into the key material.
std::u16string BuildPasswordKey(const std::u16string& scrambled);
// The 16 key bytes of the settings cipher (key material in code page 949).
std::string SettingsCipherKey();

namespace Util::Crypt {

class Sha256 {
public:
    static constexpr size_t kDigestSize = 32;

    Sha256();
    virtual ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t length);
    // Finishes the digest (kept in Digest()) and starts over for the next one.
    void Final();
    const unsigned char* Digest() const { return m_digest; }

private:
    void Reset();

    void* m_ctx = nullptr;  // EVP_MD_CTX
    unsigned char m_digest[kDigestSize] = {};
};

}  // namespace Util::Crypt
