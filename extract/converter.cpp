#include "extract/converter.h"

CTextConvertItemBase::~CTextConvertItemBase() = default;

CTextCollector* CTextConvertItemBase::GetTextCollector()
{
    if (!m_pCollector)
        m_pCollector = std::make_unique<CTextCollector>();
    return m_pCollector.get();
}

void CTextConvertItemBase::SetOutputString(std::u16string* output)
{
    GetTextCollector()->SetOutput(output);
}

void CMSTextConvertItem::Finish()
{
    SetOutputString(nullptr);
}

void CPdfTextConvertItem::Finish()
{
    SetOutputString(nullptr);
}

int CHwpTextConvertItem::PushBuffer()
{
    if (!m_pCollector)
        return 0;
    m_pCollector->PushBuffer();
    return 1;
}

int CHwpTextConvertItem::PopBuffer()
{
    if (!m_pCollector)
        return 0;
    m_pCollector->PopBuffer();
    return 1;
}

void CHwpTextConvertItem::AppendHwpText(CTextCollector* collector, const char16_t* text, int count,
                                        const char16_t* suffix)
{
    AppendHwpTextToCollector(collector, text, count, suffix);
}
