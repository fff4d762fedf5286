// Records the search engine shares with the matcher, the event store, the
// search window and the result views: the found-file record and the
// personal-information scan results. Header only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/docfile.h"

// Code of a kind of personal information; also its index in
// PersonalInfoCounts and the order of the report columns.
enum PersonalInfoKind : int32_t {
    kPersonalInfoResidentNumber = 0,
    kPersonalInfoAccount = 1,
    kPersonalInfoCreditCard = 2,
    kPersonalInfoPhoneNumber = 3,
    kPersonalInfoAddress = 4,
    kPersonalInfoEMail = 5,
    kPersonalInfoIpAddress = 6,
};
constexpr int kPersonalInfoKindCount = 7;

// Selection of kinds, one bit each. The bits are not in kind-code order.
// 127 selects all seven; the whole-computer search passes 0xFFFF, whose
// higher bits have no meaning.
using PersonalInfoMask = uint32_t;
constexpr PersonalInfoMask kMaskResidentNumber = 0x01;
constexpr PersonalInfoMask kMaskCreditCard = 0x02;
constexpr PersonalInfoMask kMaskAccount = 0x04;
constexpr PersonalInfoMask kMaskPhoneNumber = 0x08;
constexpr PersonalInfoMask kMaskAddress = 0x10;
constexpr PersonalInfoMask kMaskEMail = 0x20;
constexpr PersonalInfoMask kMaskIpAddress = 0x40;
constexpr PersonalInfoMask kMaskAllKinds = 0x7F;

// The kind code a single mask bit stands for; -1 for anything else.
constexpr int32_t KindOfMaskBit(PersonalInfoMask bit) {
    switch (bit) {
    case kMaskResidentNumber: return kPersonalInfoResidentNumber;
    case kMaskCreditCard: return kPersonalInfoCreditCard;
    case kMaskAccount: return kPersonalInfoAccount;
    case kMaskPhoneNumber: return kPersonalInfoPhoneNumber;
    case kMaskAddress: return kPersonalInfoAddress;
    case kMaskEMail: return kPersonalInfoEMail;
    case kMaskIpAddress: return kPersonalInfoIpAddress;
    default: return -1;
    }
}

// The mask bit of a kind code; 0 for a code outside 0..6.
constexpr PersonalInfoMask MaskBitOfKind(int32_t kind) {
    switch (kind) {
    case kPersonalInfoResidentNumber: return kMaskResidentNumber;
    case kPersonalInfoAccount: return kMaskAccount;
    case kPersonalInfoCreditCard: return kMaskCreditCard;
    case kPersonalInfoPhoneNumber: return kMaskPhoneNumber;
    case kPersonalInfoAddress: return kMaskAddress;
    case kPersonalInfoEMail: return kMaskEMail;
    case kPersonalInfoIpAddress: return kMaskIpAddress;
    default: return 0;
    }
}

// Seven signed 32-bit counts indexed by PersonalInfoKind. Starts zeroed.
struct PersonalInfoCounts {
    std::array<int32_t, kPersonalInfoKindCount> count{};

    int32_t& operator[](int kind) { return count[static_cast<size_t>(kind)]; }
    int32_t operator[](int kind) const { return count[static_cast<size_t>(kind)]; }
    void Clear() { count.fill(0); }
    int64_t Total() const {
        int64_t sum = 0;
        for (int32_t c : count) sum += c;
        return sum;
    }
    friend bool operator==(const PersonalInfoCounts&, const PersonalInfoCounts&) = default;
};

// One hit of the matcher: its kind and the text as found in the document.
struct PersonalInfoHit {
    int32_t kind = kPersonalInfoResidentNumber;  // a PersonalInfoKind
    std::u16string text;

    friend bool operator==(const PersonalInfoHit&, const PersonalInfoHit&) = default;
};
using PersonalInfoHitList = std::vector<PersonalInfoHit>;

// A document's key as the event store keeps it: text, compared exactly. The
// key a search computes is a SHA-256 digest written as 64 upper-case
// hexadecimal digits; such a text is held as its 32 bytes (a search keeps
// one key per document found) and written back digit for digit. Any other
// text (a blank key, a key of another form in an older database) is held as
// it is. Two keys are equal exactly when their texts are.
class DocumentKey {
public:
    static constexpr size_t kDigestSize = 32;
    using Digest = std::array<uint8_t, kDigestSize>;

    DocumentKey() = default;
    DocumentKey(const char16_t* text) : DocumentKey(std::u16string_view(text)) {}
    DocumentKey(const std::u16string& text) : DocumentKey(std::u16string_view(text)) {}
    DocumentKey(std::u16string_view text)
    {
        Digest d{};
        if (ParseDigest(text, d))
            value_ = d;
        else
            value_ = std::u16string(text);
    }
    static DocumentKey FromDigest(const Digest& digest)
    {
        DocumentKey k;
        k.value_ = digest;
        return k;
    }

    // The key's text, as the event store has it.
    std::u16string Text() const
    {
        const Digest* d = digest();
        if (!d)
            return std::get<std::u16string>(value_);
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text(2 * kDigestSize, u'0');
        for (size_t i = 0; i < kDigestSize; ++i) {
            text[2 * i] = kHex[(*d)[i] >> 4];
            text[2 * i + 1] = kHex[(*d)[i] & 15];
        }
        return text;
    }
    // The digest when the text is 64 upper-case hexadecimal digits, else null.
    const Digest* digest() const { return std::get_if<Digest>(&value_); }
    bool empty() const { return !digest() && std::get<std::u16string>(value_).empty(); }
    void clear() { value_ = std::u16string(); }

    // A text and its digest form never meet: a text that reads as a digest is
    // always held as one.
    friend bool operator==(const DocumentKey&, const DocumentKey&) = default;
    friend auto operator<=>(const DocumentKey&, const DocumentKey&) = default;

private:
    static bool ParseDigest(std::u16string_view text, Digest& out)
    {
        if (text.size() != 2 * kDigestSize)
            return false;
        auto nibble = [](char16_t c) {
            return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
        };
        for (size_t i = 0; i < kDigestSize; ++i) {
            const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            out[i] = static_cast<uint8_t>(hi << 4 | lo);
        }
        return true;
    }

    std::variant<std::u16string, Digest> value_;
};

// The found-file record. The engine creates it and hands it over; from then
// on it belongs to the receiver. Paths are UTF-16 with '/' as separator and
// have no length limit. The path is the record's only copy of its text: the
// file name and the folder are parts of it, read where they are needed (a
// search keeps one record per document found).
struct SearchFileInfo {
    std::u16string path;         // full path of the document
    DocumentKey documentKey;     // empty until the key is computed
    uint64_t fileSize = 0;       // bytes; never 0 in a reported record
    uint64_t lastWriteTime = 0;  // FILETIME: 100 ns ticks since 1601-01-01 UTC
    uint32_t fromEventStore = 0; // 1 when the document's result was taken from the event store
    int64_t fileIndex = 0;       // the document's FileInfo row id, once known
    // The file the search read (or, for a result taken from the event store,
    // found at the path then): an action on the document acts only on it.
    // Not known for a record that was not searched. Never stored.
    plat::FileIdentity identity;

    // The file-name part of path: what follows its last '/', the whole path
    // when it has none. Valid while path is unchanged.
    std::u16string_view FileName() const
    {
        const size_t slash = path.rfind(u'/');
        return slash == std::u16string::npos ? std::u16string_view(path) : std::u16string_view(path).substr(slash + 1);
    }
    // The parent folder of path, without trailing separator except the root
    // "/"; empty for a path without '/'. Valid while path is unchanged.
    std::u16string_view Folder() const
    {
        const size_t slash = path.rfind(u'/');
        if (slash == std::u16string::npos)
            return {};
        return std::u16string_view(path).substr(0, slash == 0 ? 1 : slash);
    }
    // The path of a document named name in folder (as the event store keeps
    // them): joined with one '/', none added after a folder ending in one.
    void SetFolderAndName(std::u16string_view folder, std::u16string_view name)
    {
        path.assign(folder);
        if (path.empty() || path.back() != u'/')
            path += u'/';
        path += name;
    }

    friend bool operator==(const SearchFileInfo&, const SearchFileInfo&) = default;
};
