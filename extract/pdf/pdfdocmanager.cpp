#include "extract/pdf/pdfdocmanager.h"

#include "extract/pdf/pdftext.h"

int CPdfDocManager::Convert(const char16_t* path)
{
    CTextCollector* collector = GetTextCollector();
    collector->Reset();
    if (!path)
        m_nStatus = 2;
    else
        m_nStatus = ExtractPdfText(path, &OnPdfTextChunk, collector) == 1 ? 0 : 1;
    if (m_nStatus == 0)
        Finish();
    return m_nStatus;
}

int CPdfDocManager::IsFormat(const char16_t* /*path*/)
{
    return 1;
}
