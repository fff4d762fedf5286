// Readers of the older HWP generations (V2.00, V2.10, V3.00): single files
// with a fixed header, a document-information block, a summary, an optional
// information block and a body (font names, styles, paragraph list) that
// V2.10 and V3.00 may compress as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/io/h2s_archive.h"

class CTextCollector;

enum HwpOldGeneration : int {
    kHwpV20 = 20,
    kHwpV21 = 21,
    kHwpV30 = 30,
};

int IsHwp20File(const char16_t* path);
int IsHwp21File(const char16_t* path);
int IsHwp30File(const char16_t* path);

class CHwpOldArchive : public CH2sArchive {
public:
    static constexpr int kBufferSize = 10240;
    // Paragraph lists nested deeper than this end the document.
    static constexpr int kMaxNesting = 32;

    explicit CHwpOldArchive(CTextCollector* collector);
    ~CHwpOldArchive() override;

    // 1 read, 0 failed.
    int ReadHwp20(const char16_t* path, const void* unused);
    int ReadHwp21(const char16_t* path, const void* unused);
    int ReadHwp30(const char16_t* path, const char16_t* password);

    // Reads paragraphs until the one that ends the list. 0.
    int ReadParagraphList(int generation);
    // One paragraph and its text: 1, or 0 at the end of the list (its end
    // paragraph, or the data's end, which marks the document damaged).
    int ReadParagraph(int generation);
    void ReadSpecialChar(int generation, std::uint16_t code);
    void EmitHwpCodes(const std::vector<std::uint16_t>& run);

    // Encryption kind of the V3.00 document read last (0 none).
    int encryptionKind() const { return m_nEncryption; }

private:
    class Body;

    int ReadOld(const char16_t* path, int generation);
    // Passes over n bytes: true when they were all there; a length that
    // runs past the data marks the document damaged.
    bool SkipLarge(std::uint64_t n);
    // From the file's header on: the body goes through an inflating device
    // when the document says it is compressed.
    void StartBody(Body& body);
    // After the body's paragraph list: the V3.00 blocks that follow it must
    // fill the body to its end, and a compressed body is read to its end and
    // its check value compared.
    void FinishBody(Body& body, int generation);
    void ReadFontTable(int groups);
    // The style count; the styles are passed over.
    unsigned ReadStyleTable(int generation);
    void ReadBoxInfo();
    void ReadBox(int generation);
    void ReadPicture(int generation);
    void CommitLineFeed();
    void CommitTab();
    // True when no byte is left to read.
    bool AtEndOfData();

    CTextCollector* m_pCollector;
    std::uint8_t m_bCompressed = 0;
    std::uint8_t m_bSubRevision = 0;
    std::uint16_t m_nInfoBlockLength = 0;
    std::uint16_t m_nEncryptValue = 0;
    unsigned m_nStyles = 0;
    bool m_bSignatureMismatch = false;
    int m_nEncryption = 0;
    int m_nDepth = 0;
};
