// The picture store of a document's drawing data: one entry per picture
// store entry record (officeart::kBSE) and the stream that holds the
// pictures. The PowerPoint reader fills it; the Excel reader keeps one per
// drawing group.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/cfb.h"

// One picture store entry: the first 36 bytes of the entry record and the
// name that follows when its length byte (offset 33) is not 0.
struct CMsoBlipEntry {
    std::uint8_t record[36] = {};
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

    std::vector<CMsoBlipEntry*> entries;  // owned

private:
    plat::CfbStream* m_pPictures = nullptr;
};
