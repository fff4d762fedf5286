// The picture store of a document's drawing data: one entry per picture
// store entry record (officeart::kBSE) and the stream that holds the
// pictures. The PowerPoint reader fills it; the Excel reader keeps one per
// drawing group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/cfb.h"

// One picture store entry: the first 36 bytes of the entry record and the
// name that follows when its length byte (offset 33) is not 0.
struct CMsoBlipEntry {
    static constexpr std::size_t kRecordSize = 36;
    std::uint8_t record[kRecordSize] = {};
    std::vector<std::uint8_t> name;  // name bytes and two zero bytes; empty without a name

    int NameLength() const { return record[33]; }
};

class CMsoBLIPStoreManager {
public:
    CMsoBLIPStoreManager() = default;
    virtual ~CMsoBLIPStoreManager();
    CMsoBLIPStoreManager(const CMsoBLIPStoreManager&) = delete;
    CMsoBLIPStoreManager& operator=(const CMsoBLIPStoreManager&) = delete;

    // Holds its own reference to the stream (null: none).
    void SetPicturesStream(plat::CfbStream* stream);
    plat::CfbStream* PicturesStream() const { return m_pPictures; }

    // Adds the entry of a picture store entry record whose body claims
    // `length` bytes, `available` of them present at body. A body shorter
    // than the entry adds nothing; a name that is not all there is left
    // out (its length byte set to 0). False when nothing was added.
    bool AddEntry(const std::uint8_t* body, std::size_t available, std::uint64_t length);

    std::vector<CMsoBlipEntry*> entries;  // owned

private:
    plat::CfbStream* m_pPictures = nullptr;
};
