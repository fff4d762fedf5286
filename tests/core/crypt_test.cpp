#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/crypt.h"
#include "platform/text.h"

namespace {

std::string Hex(const unsigned char* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

std::string Sha(const std::string& data)
{
    Util::Crypt::Sha256 h;
    h.Update(data.data(), data.size());
    h.Final();
    return Hex(h.Digest(), Util::Crypt::Sha256::kDigestSize);
}

std::string U8(const std::u16string& s) { return plat::WideToUtf8(s); }

}  // namespace

TEST(Sha256, FipsVectors)
{
    struct { std::string in; const char* digest; } cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) EXPECT_EQ(Sha(c.in), c.digest) << c.in.size();
}

TEST(Sha256, FinalStartsOverAndPiecesEqualTheWhole)
{
    Util::Crypt::Sha256 h;
    const std::string msg = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (int round = 0; round < 2; ++round) {
        // Pieces across block boundaries, and the same object twice.
        h.Update(msg.data(), 1);
        h.Update(msg.data() + 1, 0);
        h.Update(msg.data() + 1, 50);
        h.Update(msg.data() + 51, msg.size() - 51);
        h.Final();
        EXPECT_EQ(Hex(h.Digest(), 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
}

TEST(SettingsCipher, MatchesOpensslVectors)
{
    // Expected texts from tools/settings_cipher_vectors.sh (openssl enc -aes-128-ecb).
    struct { const char16_t* pw; const char* hex; } cases[] = {
        {u"비밀번호123", "4a5fbae467a5ed033abe40ca468f67e5af58be68a9937109bb5c5789b5a716b8"},
        {u"가", "5e9356ec9c1016aadfa0bcf76a072867"},
        {u"abcdef", "96680953833f81e7a91abf4490f3dbd9"},
        {u"abcdefg", "6e40a62eb0a92d219306a8c476616222af58be68a9937109bb5c5789b5a716b8"},
        {u"한국어암호문장입니다", "36db6e0c41f3aa084cc4905979e1aa34068937beb4f216d645ea297d9f8cdd1c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(U8(EncryptSettingsPassword(c.pw)), c.hex) << U8(c.pw);
        EXPECT_EQ(DecryptSettingsPassword(plat::AsciiToWide(c.hex)), c.pw) << U8(c.pw);
    }
}

TEST(SettingsCipher, AgreesWithTheOpensslToolWhenInstalled)
{
    if (std::system("command -v openssl >/dev/null 2>&1 && command -v iconv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openssl command not installed";
    std::string cmd = std::string(PS_SOURCE_DIR) + "/tools/settings_cipher_vectors.sh '비밀번호123'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
    auto tab = out.find('\t');
    ASSERT_NE(tab, std::string::npos) << out;
    std::string hex = out.substr(tab + 1);
    while (!hex.empty() && hex.back() == '\n') hex.pop_back();
    EXPECT_EQ(U8(EncryptSettingsPassword(u"비밀번호123")), hex);
    // The key the tool uses is the program's key.
    EXPECT_EQ(SettingsCipherKey(), "Pv$w3ep!Nrv#K9q2");
}

TEST(SettingsCipher, LengthsAndDigits)
{
    struct { size_t chars; size_t digits; } cases[] = {{1, 32}, {6, 32}, {7, 64}, {14, 64}, {15, 96}, {510, 2048}};
    for (const auto& c : cases) {
        std::u16string pw(c.chars, u'비');
        std::u16string hex = EncryptSettingsPassword(pw);
        EXPECT_EQ(hex.size(), c.digits) << c.chars;
        EXPECT_EQ(hex.find_first_not_of(u"0123456789abcdef"), std::u16string::npos);
        EXPECT_EQ(DecryptSettingsPassword(hex), pw) << c.chars;
    }
    EXPECT_EQ(EncryptSettingsPassword(u""), u"");
    EXPECT_EQ(EncryptSettingsPassword(std::u16string(511, u'a')), u"");  // longer than the work buffer
}

TEST(SettingsCipher, HostileStoredTextsStayBounded)
{
    const std::u16string good = EncryptSettingsPassword(u"abcdefg");
    struct { std::u16string in; } cases[] = {
        {u""},
        {u"0"},
        {u"zz"},
        {good.substr(0, good.size() - 1)},        // odd length
        {good.substr(0, 32)},                     // a block missing: padding fails
        {std::u16string(2048, u'f')},
        {std::u16string(2049, u'f')},             // longer than the work buffer: refused
        {std::u16string(100000, u'7')},
    };
    for (const auto& c : cases) {
        std::u16string out = DecryptSettingsPassword(c.in);
        EXPECT_LE(out.size(), 1024u / 2 + 16) << c.in.size();
    }
    EXPECT_EQ(DecryptSettingsPassword(std::u16string(2049, u'f')), u"");
    EXPECT_EQ(DecryptSettingsPassword(good), u"abcdefg");
}

TEST(SettingsCipher, AesRejectsBadInput)
{
    unsigned char key[16] = {1};
    unsigned char out[64];
    unsigned char in[17] = {};
    EXPECT_EQ(AesEcbDecrypt(17, key, out, in), -1);   // not a whole block
    EXPECT_EQ(AesEcbEncrypt(out, in, 0, key), 16);    // empty input: one block of padding
    EXPECT_EQ(AesEcbEncrypt(out, in, -1, key), -1);
}
