// The three manager bases of the extraction library. Every format manager has
// the same small interface: Convert (path -> status), Finish (detach the
// output) and IsFormat (path -> non-zero when the file is of its format). A
// manager owns a text collector; the entry point attaches the caller's output
// string to it before Convert, and Finish detaches it again.
//
//   CMSTextConvertItem   base of the Word, PowerPoint and Excel managers
//   CHwpTextConvertItem  base of the HWP and HWPML managers
//   CPdfTextConvertItem  base of the PDF manager
//
// Managers live on the stack of one entry call.
#pragma once

#include <memory>
#include <string>

#include "extract/textcollector.h"

// Status and collector, shared by the three bases.
class CTextConvertItemBase {
public:
    // The collector, created on first need.
    CTextCollector* GetTextCollector();
    // Creates the collector when there is none and sets its output; null detaches.
    void SetOutputString(std::u16string* output);

    int GetStatus() const { return m_nStatus; }

protected:
    explicit CTextConvertItemBase(int status) : m_nStatus(status) {}
    ~CTextConvertItemBase();
    CTextConvertItemBase(const CTextConvertItemBase&) = delete;
    CTextConvertItemBase& operator=(const CTextConvertItemBase&) = delete;

    int m_nStatus;  // result of the last Convert: 0 read, 1 not extracted, 2 failure
    std::unique_ptr<CTextCollector> m_pCollector;
};

class CMSTextConvertItem : public CTextConvertItemBase {
public:
    explicit CMSTextConvertItem(int status = 0) : CTextConvertItemBase(status) {}
    virtual ~CMSTextConvertItem() = default;

    virtual int Convert(const char16_t* path) = 0;
    // Ends a conversion: detaches the output string.
    virtual void Finish();
    virtual int IsFormat(const char16_t* path) = 0;
};

class CHwpTextConvertItem : public CTextConvertItemBase {
public:
    explicit CHwpTextConvertItem(int status = 0) : CTextConvertItemBase(status) {}
    virtual ~CHwpTextConvertItem() = default;

    virtual int Convert(const char16_t* path) = 0;
    // The HWP managers end their own Finish with SetOutputString(nullptr).
    virtual void Finish() = 0;
    // The HWP generation (2, 3, 4 or 5) of the file, 0 for none.
    virtual int IsFormat(const char16_t* path) = 0;

    // 0 when the manager has no collector yet; otherwise the collector's
    // operation of the same name, and 1.
    int PushBuffer();
    int PopBuffer();

    // As AppendTextToCollector, committed with CommitHwpText.
    static void AppendHwpText(CTextCollector* collector, const char16_t* text, int count,
                              const char16_t* suffix);
};

class CPdfTextConvertItem : public CTextConvertItemBase {
public:
    explicit CPdfTextConvertItem(int status = 0) : CTextConvertItemBase(status) {}
    virtual ~CPdfTextConvertItem() = default;

    virtual int Convert(const char16_t* path) = 0;
    // Ends a conversion: detaches the output string.
    virtual void Finish();
    virtual int IsFormat(const char16_t* path) = 0;
};
