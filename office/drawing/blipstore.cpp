#include "office/drawing/blipstore.h"

#include <cstring>
#include <memory>

CMsoBLIPStoreManager::~CMsoBLIPStoreManager()
{
    for (CMsoBlipEntry* e : entries)
        delete e;
    entries.clear();
    if (m_pPictures)
        m_pPictures->Release();
}

void CMsoBLIPStoreManager::SetPicturesStream(plat::CfbStream* stream)
{
    if (stream)
        stream->AddRef();
    if (m_pPictures)
        m_pPictures->Release();
    m_pPictures = stream;
}

bool CMsoBLIPStoreManager::AddEntry(const std::uint8_t* body, std::size_t available, std::uint64_t length)
{
    constexpr std::size_t kSize = CMsoBlipEntry::kRecordSize;
    // The store feeds no text: an entry left out, or its name, loses none.
    // (A record running past its container is noted by the reader's walk.)
    if (available < kSize || length < kSize)
        return false;
    auto entry = std::make_unique<CMsoBlipEntry>();
    std::memcpy(entry->record, body, kSize);
    const std::size_t nameLength = entry->NameLength();
    if (nameLength && available >= kSize + nameLength) {
        entry->name.assign(body + kSize, body + kSize + nameLength);
        entry->name.resize((nameLength / 2) * 2 + 2, 0);
    } else if (nameLength) {
        entry->record[33] = 0;  // the name is not there: keep none
    }
    entries.push_back(entry.get());
    entry.release();
    return true;
}
