// Markup-compatibility filter over the libxml2 text reader.
//
// While a document is read as a stream of nodes, the filter hides
// AlternateContent wrappers and picks their branch (no namespace is
// understood here, so every Choice is passed over and the Fallback read),
// drops elements and attributes of namespaces declared Ignorable, keeps the
// content of elements named by ProcessContent and fails on MustUnderstand.
//
// Callers read node type, names, values and attributes from the text reader
// (McReaderState::reader) directly; only the advancing calls go through
// McReaderRead and McReaderNext. Once an error is recorded every later
// advance returns -1, which callers treat as the end of the document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <libxml/xmlreader.h>

// Namespaces the filter and its callers compare against.
inline constexpr const char* kMcNamespace =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr const char* kPresentationMainNamespace =
    "http://schemas.openxmlformats.org/presentationml/2006/main";

// Elements nested deeper than this end the document with MC_ERROR_STRUCTURE:
// the part readers walk the element tree by recursion, and no document of
// an office program nests anywhere near this deep.
inline constexpr int kMaxMcElementDepth = 1024;

// Error codes of McReaderState::error.
enum : int32_t {
    MC_ERROR_NONE = 0,
    MC_ERROR_STRUCTURE = 1,       // bad markup-compatibility structure or XML error
    MC_ERROR_MUST_UNDERSTAND = 2, // a MustUnderstand namespace
    MC_ERROR_PACKAGE_VALUE = 3,   // package reader: missing or conflicting value
    MC_ERROR_PACKAGE_PART = 4,    // package reader: bad or unknown part name
};

// A sorted set of (namespace, local name) entries, each remembering the depth
// of the element that declared it.
class McNameSet {
public:
    struct Entry {
        std::string ns;
        std::optional<std::string> local;
        uint32_t level = 0;
    };

    // Adds the entry unless it is present already.
    void Insert(const std::string& ns, const std::optional<std::string>& local, uint32_t level);
    bool Contains(const std::string& ns, const std::optional<std::string>& local) const;
    // Drops every entry declared at depth level or deeper.
    void PopLevel(uint32_t level);
    void Clear();
    size_t Count() const { return m_entries.size(); }

private:
    std::vector<Entry> m_entries;
    uint32_t m_highest = 0;
};

struct McSkipEntry {
    uint32_t first;
    uint32_t end;   // 0xFFFFFFFF covers every deeper node
    uint32_t state; // 1 AlternateContent without a branch, 2 its Choice taken, 0 other
};

struct McReaderState {
    xmlTextReaderPtr reader = nullptr;  // owned
    // When set, McReaderCleanup hands the reader to it with releaseOptions
    // and releaseBytes (to be closed and kept for another document) instead
    // of freeing it.
    void (*release)(xmlTextReaderPtr, int, uint64_t) = nullptr;
    int releaseOptions = 0;
    uint64_t releaseBytes = 0;
    McNameSet ignorable;
    McNameSet understood;               // stays empty
    McNameSet processContent;
    McNameSet suspend;
    std::vector<McSkipEntry> skip;
    int32_t error = 0;
    // The document ended at a reading limit, not at damage of its own:
    // elements nested deeper than kMaxMcElementDepth, or (set by the package
    // reader) markup longer than the reader takes.
    bool limitReached = false;
    // Depth of the element whose content passes unprocessed, -1 when none.
    int32_t suspendDepth = -1;
};

// Prepares state over reader (taking ownership). 0, or -1 when reader is null.
int McReaderInit(McReaderState* state, xmlTextReaderPtr reader);
// Read / Next of the text reader followed by the filter: 1 a node is
// current, 0 end of document, -1 error.
int McReaderRead(McReaderState* state);
int McReaderNext(McReaderState* state);
// Frees the sets, closes and frees the text reader (or hands it to
// release). Returns 0.
int McReaderCleanup(McReaderState* state);

// Records error code (unless one is recorded) and reports the formatted
// message (at most 1023 characters) through the reader's error handler, or
// libxml2's generic error channel followed by "!" and a line break.
void McRaiseError(McReaderState* state, int32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
