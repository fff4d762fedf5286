// The HWPML manager: reads the XML form of HWP documents with libxml2's XML
// text reader over a file descriptor, advancing through the
// markup-compatibility filter, and commits the text of every paragraph it
// reaches, nested paragraph lists where they stand.
#pragma once

#include <memory>
#include <string>

#include "extract/converter.h"

struct McReaderState;

class CHwpmlDocumentManager : public CHwpTextConvertItem {
public:
    CHwpmlDocumentManager();
    ~CHwpmlDocumentManager() override;

    // 0 read (also a document whose root is not HWPML: no text), 1 the file
    // cannot be opened or read, 2 not HWPML. A document whose XML breaks
    // off, that ends with elements open, nests past kMaxNesting or lacks
    // sections its head counts reads 0 with the damage noted
    // (plat::NoteDamage): the text before stays, the entry reports it.
    int Convert(const char16_t* path) override;
    void Finish() override;
    // 1 when the first 4096 bytes show an XML declaration and an HWPML root
    // of version 2.0 or later (and, with a Style, an embedded style).
    int IsFormat(const char16_t* path) override;

    static constexpr size_t kSniffBytes = 4096;
    // The sniff over bytes already read (the first kSniffBytes count).
    static int IsHwpmlHead(const unsigned char* bytes, size_t length);

    // Elements nested deeper than this are passed over (damage).
    static constexpr int kMaxNesting = 200;

private:
    bool Advance();
    int NodeType() const;
    int Depth() const;
    bool IsEmpty() const;
    bool NameIs(const char* name) const;
    void SkipElement();
    // Marks the damage of an element still open when the input ended.
    void NoteOpenAtEnd();
    template <class F>
    void ForChildren(F&& onChild);

    int Walk();
    void ReadHead();
    void ReadBody();
    void ReadParagraphList();
    void ReadParagraph();
    void ReadTextElement();
    void ReadChar();
    void SearchParagraphLists();
    void AppendPlain(const char16_t* text, size_t length);
    void AppendParagraphEnd();

    int m_fd = -1;
    std::unique_ptr<McReaderState> m_pState;  // owns the XML text reader while a file is open
    bool m_bEnded = false;  // end of input or a parse error
    int m_nSectionCount = -1;  // the head's SecCnt; -1 when it names none
    int m_nSectionsRead = 0;
    bool m_bEncrypted = false;
    bool m_bSigned = false;
    int m_nNesting = 0;
    // Text went out since the last line end.
    bool m_bLineOpen = false;
    std::u16string m_scratch;
    // Text of the objects anchored in the paragraph being read (text boxes,
    // notes), written after the paragraph so that they never split its words.
    std::u16string* m_pAnchored = nullptr;
};
