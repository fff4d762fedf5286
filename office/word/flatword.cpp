#include "office/word/flatword.h"

#include <cstdint>
#include <cstdio>

#include "platform/docfile.h"
#include "platform/text.h"

void CMSWordFlatFileText::Init(CTextCollector* collector)
{
    m_pCollector = collector;
}

int CMSWordFlatFileText::Convert(const char16_t* path)
{
    if (!path)
        return 0;
    FILE* f = plat::OpenDocumentStream(path);
    if (!f)
        return 0;
    unsigned char header[404];
    int result = 0;
    if (std::fread(header, 1, sizeof header, f) == sizeof header) {
        const uint16_t id = static_cast<uint16_t>(header[0] | (header[1] << 8));
        result = (id == 0x37FE || id == 0xA694 || id == 0xA695) ? 1 : 0;
    }
    std::fclose(f);
    return result;
}
