// What a document kind is: the one table every layer derives its kinds from.
// A row gives the kind's name (also its column of SearchEventLog), its bit
// in a DocumentKindMask, the keys of its texts in the windows, which reader
// reads it and its extensions with their formats. The rows are in the order
// of the result tabs, the store columns, the mask bits, the DocumentKindCounts
// and the stored "KindOfDocument" setting; a row's index is its kind index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// How a document's bytes are laid out: decides the reader's option text
// (search/extractors.cpp).
enum class DocumentFormat {
    None,          // none of the kinds' extensions: no reader, no text
    Hwp,           // "HWP"
    OfficeBinary,  // "DOC", "PPT", "XLS"
    OfficeXml,     // "DOCX", "PPTX", "XLSX"
    Pdf,           // "PDF"
};

// The reader that reads a kind. The readers sit above this layer: the
// search's dispatch (search/extractors.cpp) maps each to its entry.
enum class DocumentReader { Hwp, Word, Excel, PowerPoint, Pdf };

// A selection of document kinds, one bit each (DocumentKindInfo::bit).
using DocumentKindMask = uint32_t;

struct DocumentExtension {
    std::u16string_view extension;  // upper case, no dot; empty ends the list
    DocumentFormat format = DocumentFormat::None;
};

// The most extensions of one kind (raise it for a kind with more).
inline constexpr size_t kMaxKindExtensions = 2;

struct DocumentKindInfo {
    const char16_t* name;           // also its SearchEventLog column (resources/schema.sql)
    DocumentKindMask bit;           // its bit in a DocumentKindMask
    const char16_t* tabKey;         // the search window's tab text (with a %d count)
    const char16_t* userSearchKey;  // its check box in the user search window
    const char16_t* configKey;      // its check box on the settings page
    DocumentReader reader;
    uint32_t iconColour;            // 0xRRGGBB band of the icon drawn when the theme has none
    // In the order a search request lists them.
    std::array<DocumentExtension, kMaxKindExtensions> extensions;

    constexpr std::span<const DocumentExtension> Extensions() const
    {
        size_t n = 0;
        while (n < extensions.size() && !extensions[n].extension.empty()) ++n;
        return {extensions.data(), n};
    }
};

inline constexpr DocumentKindInfo kDocumentKinds[] = {
    {u"HWP", 0x01, u"KIND_OF_HWP", u"USER_SEARCH_KIND_OF_HWP", u"CONFIG_KIND_OF_HWP", DocumentReader::Hwp, 0x288CC8,
     {{{u"HWP", DocumentFormat::Hwp}}}},
    {u"DOC", 0x02, u"KIND_OF_DOC", u"USER_SEARCH_KIND_OF_DOC", u"CONFIG_KIND_OF_DOC", DocumentReader::Word, 0x285AB4,
     {{{u"DOC", DocumentFormat::OfficeBinary}, {u"DOCX", DocumentFormat::OfficeXml}}}},
    {u"XLS", 0x04, u"KIND_OF_XLS", u"USER_SEARCH_KIND_OF_XLS", u"CONFIG_KIND_OF_XLS", DocumentReader::Excel, 0x288C46,
     {{{u"XLS", DocumentFormat::OfficeBinary}, {u"XLSX", DocumentFormat::OfficeXml}}}},
    {u"PPT", 0x08, u"KIND_OF_PPT", u"USER_SEARCH_KIND_OF_PPT", u"CONFIG_KIND_OF_PPT", DocumentReader::PowerPoint,
     0xD25A28, {{{u"PPT", DocumentFormat::OfficeBinary}, {u"PPTX", DocumentFormat::OfficeXml}}}},
    {u"PDF", 0x10, u"KIND_OF_PDF", u"USER_SEARCH_KIND_OF_PDF", u"CONFIG_KIND_OF_PDF", DocumentReader::Pdf, 0xC82828,
     {{{u"PDF", DocumentFormat::Pdf}}}},
};

inline constexpr int kDocumentKindCount = static_cast<int>(std::size(kDocumentKinds));

// Every kind's bit.
inline constexpr DocumentKindMask kAllDocumentKinds = [] {
    DocumentKindMask m = 0;
    for (const DocumentKindInfo& k : kDocumentKinds) m |= k.bit;
    return m;
}();

// Documents per kind, in table order.
using DocumentKindCounts = std::array<int32_t, kDocumentKindCount>;

// What an upper-case extension (no dot; exact, case-sensitive comparison)
// is: its kind index (-1 for none of the kinds) and format.
struct DocumentExtensionMatch {
    int kind = -1;
    DocumentFormat format = DocumentFormat::None;
};
DocumentExtensionMatch MatchDocumentExtension(std::u16string_view upperExtension);

// The kind index of an upper-case extension, or -1.
inline int DocumentKindOfExtension(std::u16string_view upperExtension)
{
    return MatchDocumentExtension(upperExtension).kind;
}

// The extensions of the kinds a mask selects, kind by kind in table order.
std::vector<std::u16string> ExtensionsOfKinds(DocumentKindMask mask);

// The kinds' store columns for a statement: "HWP, DOC, ..." in table order,
// each behind the prefix (a table alias such as "S.").
std::u16string DocumentKindColumnList(std::u16string_view prefix = {});
