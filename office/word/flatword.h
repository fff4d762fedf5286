// Word files outside a compound file: the first 16-bit value of the file is
// the format identifier itself (0x37FE, 0xA694 or 0xA695). They are
// accepted, and no text is taken from them.
#pragma once

class CTextCollector;

class CMSWordFlatFileText {
public:
    // Stores the collector (not owned) and clears the state.
    void Init(CTextCollector* collector);
    // 1 when the file opens and its 404-byte header can be read, else 0.
    // Nothing is written to the collector.
    int Convert(const char16_t* path);

private:
    CTextCollector* m_pCollector = nullptr;
};
