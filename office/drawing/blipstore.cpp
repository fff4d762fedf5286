#include "office/drawing/blipstore.h"

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
