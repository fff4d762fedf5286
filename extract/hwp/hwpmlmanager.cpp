#include "extract/hwp/hwpmlmanager.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <libxml/xmlreader.h>

#include "extract/codepage.h"
#include "extract/opc/mcreader.h"
#include "extract/textcollector.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace {

enum : int {
    kNodeElement = 1,
    kNodeText = 3,
    kNodeSignificantWhitespace = 14,
    kNodeEndElement = 15,
};

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

char16_t Upper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// Name and value pairs of the root's attribute text, split at blanks, "="
// and double quotes.
bool RootAttributesSayHwpml(const std::u16string& text)
{
    std::vector<std::u16string> tokens;
    std::u16string current;
    bool quoted = false;
    for (char16_t c : text) {
        if (c == u'"') {
            if (quoted || !current.empty())
                tokens.push_back(current);
            current.clear();
            quoted = !quoted;
            continue;
        }
        if (!quoted && (IsBlank(c) || c == u'=' || c == u'/')) {
            if (!current.empty())
                tokens.push_back(current);
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    if (!current.empty())
        tokens.push_back(current);
    bool haveVersion = false;
    double version = 0;
    bool haveStyle = false;
    bool styleEmbed = false;
    for (size_t i = 0; i + 1 < tokens.size(); i += 2) {
        const std::u16string& name = tokens[i];
        const std::u16string& value = tokens[i + 1];
        if (name == u"Version") {
            haveVersion = true;
            std::string ascii;
            for (char16_t c : value)
                ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
            // A locale-independent reading of "major.minor".
            char* end = nullptr;
            const long major = std::strtol(ascii.c_str(), &end, 10);
            double fraction = 0;
            if (end && *end == '.') {
                double scale = 0.1;
                for (const char* p = end + 1; *p >= '0' && *p <= '9'; ++p, scale /= 10)
                    fraction += (*p - '0') * scale;
            }
            version = static_cast<double>(major) + fraction;
        } else if (name == u"Style") {
            haveStyle = true;
            styleEmbed = value.find(u"embed") != std::u16string::npos;
        }
        // SubVersion is read and not used.
    }
    return haveVersion && version >= 2.0 && (!haveStyle || styleEmbed);
}

// Sets a variable for a scope and gives it its old value back on every way out.
template <class T>
struct Restore {
    Restore(T& var, T value) : var_(var), old_(var) { var_ = value; }
    ~Restore() { var_ = old_; }
    T& var_;
    T old_;
};

void IgnoreXmlError(void*, const char*, xmlParserSeverities, xmlTextReaderLocatorPtr) {}

}  // namespace

CHwpmlDocumentManager::CHwpmlDocumentManager() = default;

CHwpmlDocumentManager::~CHwpmlDocumentManager()
{
    if (m_pState)
        McReaderCleanup(m_pState.get());
    if (m_fd >= 0)
        ::close(m_fd);
}

int CHwpmlDocumentManager::IsHwpmlHead(const unsigned char* bytes, size_t length)
{
    // Only the first 4096 bytes are looked at.
    length = std::min<size_t>(length, kSniffBytes);
    std::u16string u;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        for (size_t i = 2; i + 1 < length; i += 2)
            u.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    } else {
        size_t start = length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        for (size_t i = start; i < length; ++i)
            u.push_back(bytes[i]);
    }
    const size_t n = u.size();
    bool declared = false;
    size_t i = 0;
    while (i < n) {
        if (u[i] != u'<') {
            ++i;
            continue;
        }
        ++i;
        while (i < n && IsBlank(u[i]))
            ++i;
        if (i >= n)
            return 0;
        if (u.compare(i, 3, u"!--") == 0) {
            // A comment ends at a ">" after at least two "-".
            i += 3;
            int dashes = 0;
            while (i < n && !(u[i] == u'>' && dashes >= 2)) {
                dashes = u[i] == u'-' ? dashes + 1 : 0;
                ++i;
            }
            ++i;
            continue;
        }
        if (u[i] == u'!') {
            while (i < n && u[i] != u'>')
                ++i;
            ++i;
            continue;
        }
        if (!declared) {
            if (u.compare(i, 4, u"?xml") != 0)
                return 0;
            declared = true;
            while (i < n && u[i] != u'>')
                ++i;
            ++i;
            continue;
        }
        bool root = i + 5 <= n;
        for (size_t k = 0; root && k < 5; ++k)
            root = Upper(u[i + k]) == u"HWPML"[k];
        if (root) {
            const size_t close = u.find(u'>', i);
            const size_t stop = close == std::u16string::npos ? n : close;
            // Attributes start after the element's name.
            size_t a = i;
            while (a < stop && !IsBlank(u[a]))
                ++a;
            return RootAttributesSayHwpml(u.substr(a, stop - a)) ? 1 : 0;
        }
        while (i < n && u[i] != u'>')
            ++i;
        ++i;
    }
    return 0;
}

int CHwpmlDocumentManager::IsFormat(const char16_t* path)
{
    if (!path)
        return 0;
    FILE* f = plat::OpenDocumentStream(path);
    if (!f)
        return 0;
    unsigned char head[kSniffBytes];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return IsHwpmlHead(head, got);
}

void CHwpmlDocumentManager::Finish()
{
    if (m_fd >= 0 || m_pState) {
        if (m_pState)
            McReaderCleanup(m_pState.get());
        m_pState.reset();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    SetOutputString(nullptr);
}

int CHwpmlDocumentManager::Convert(const char16_t* path)
{
    GetTextCollector()->Reset();
    m_nStatus = 0;
    if (!path || !IsFormat(path)) {
        m_nStatus = 2;
        return m_nStatus;
    }
    m_fd = plat::OpenDocumentFile(std::u16string_view(path));
    if (m_fd < 0) {
        m_nStatus = 1;
        return m_nStatus;
    }
    xmlTextReaderPtr reader = xmlReaderForFd(m_fd, nullptr, nullptr, XML_PARSE_NONET);
    m_pState = std::make_unique<McReaderState>();
    if (McReaderInit(m_pState.get(), reader) != 0) {
        m_pState.reset();
        m_nStatus = 1;
        return m_nStatus;
    }
    // Damaged XML ends the walk with the damage noted (Advance); the text
    // before it stays. The parser's own messages are of no use to anyone.
    xmlTextReaderSetErrorHandler(reader, &IgnoreXmlError, nullptr);
    m_bEnded = false;
    m_bLineOpen = false;
    m_nSectionCount = -1;
    m_nSectionsRead = 0;
    m_nStatus = Walk() ? 0 : 1;
    return m_nStatus;
}

bool CHwpmlDocumentManager::Advance()
{
    // A read stopped by the search ends here; the search reports it.
    if (m_bEnded || plat::ReadCancelled())
        return false;
    const int r = McReaderRead(m_pState.get());
    if (r != 1) {
        m_bEnded = true;
        // An XML error ends the document early and the text after it is lost:
        // a cut file, broken markup, a limit of the parser (nesting, the size
        // of a text) or a namespace that must be understood.
        if (r < 0)
            plat::NoteDamage("XML 구조 손상");
        return false;
    }
    return true;
}

int CHwpmlDocumentManager::NodeType() const
{
    return xmlTextReaderNodeType(m_pState->reader);
}

int CHwpmlDocumentManager::Depth() const
{
    return xmlTextReaderDepth(m_pState->reader);
}

bool CHwpmlDocumentManager::IsEmpty() const
{
    return xmlTextReaderIsEmptyElement(m_pState->reader) == 1;
}

bool CHwpmlDocumentManager::NameIs(const char* name) const
{
    const xmlChar* local = xmlTextReaderConstLocalName(m_pState->reader);
    return local && std::strcmp(reinterpret_cast<const char*>(local), name) == 0;
}

void CHwpmlDocumentManager::SkipElement()
{
    if (NodeType() != kNodeElement || IsEmpty())
        return;
    const int depth = Depth();
    while (Advance()) {
        if (NodeType() == kNodeEndElement && Depth() == depth)
            return;
    }
    NoteOpenAtEnd();
}

void CHwpmlDocumentManager::NoteOpenAtEnd()
{
    // The input ended with the element open. The parser reports a cut
    // document as its own error (noted first, and the first reason is the
    // one kept); a stop of the search is no damage.
    if (!plat::ReadCancelled())
        plat::NoteDamage("구조가 끝나지 않음");
}

// Calls onChild for each child node of the current element; onChild leaves
// an element child at its end (or passes it over with SkipElement).
template <class F>
void CHwpmlDocumentManager::ForChildren(F&& onChild)
{
    if (NodeType() != kNodeElement || IsEmpty())
        return;
    const int depth = Depth();
    if (++m_nNesting > kMaxNesting) {
        --m_nNesting;
        // The text of the element passed over is lost.
        plat::NoteDamage("한도에 이르러 건너뜀");
        SkipElement();
        return;
    }
    bool closed = false;
    while (Advance()) {
        if (NodeType() == kNodeEndElement && Depth() == depth) {
            closed = true;
            break;
        }
        onChild(NodeType());
    }
    --m_nNesting;
    if (!closed)
        NoteOpenAtEnd();
}

int CHwpmlDocumentManager::Walk()
{
    // Comments, processing instructions and a document type may stand
    // before the root. Advance notes the damage of a document that breaks
    // before its root.
    do {
        if (!Advance())
            return 1;
    } while (NodeType() != kNodeElement);
    // A root the sniff accepts and the walk does not know (another name that
    // starts with HWPML) is no document of this format: read, without text.
    if (!NameIs("HWPML"))
        return 1;
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("HEAD"))
            ReadHead();
        else if (NameIs("BODY"))
            ReadBody();
        else
            SkipElement();
    });
    // The head counts the sections; a body with fewer lost some of them (a
    // body with more is read whole). Markup after the root's end is never
    // read: nothing of the document stands there.
    if (!m_bEnded && m_nSectionCount >= 0 && m_nSectionsRead < m_nSectionCount)
        plat::NoteDamage("참조된 구역 없음");
    return 1;
}

void CHwpmlDocumentManager::ReadHead()
{
    if (xmlChar* v = xmlTextReaderGetAttribute(m_pState->reader, BAD_CAST "SecCnt")) {
        m_nSectionCount = std::max(0, std::atoi(reinterpret_cast<const char*>(v)));
        xmlFree(v);
    }
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (!NameIs("DOCSETTING")) {
            SkipElement();
            return;
        }
        ForChildren([this](int t) {
            if (t != kNodeElement)
                return;
            if (NameIs("SECURITY")) {
                auto flag = [this](const char* name) {
                    xmlChar* v = xmlTextReaderGetAttribute(m_pState->reader, BAD_CAST name);
                    const bool set = v && std::strcmp(reinterpret_cast<const char*>(v), "1") == 0;
                    if (v)
                        xmlFree(v);
                    return set;
                };
                m_bEncrypted = flag("Enc");
                m_bSigned = flag("Sig");
            }
            SkipElement();
        });
    });
}

void CHwpmlDocumentManager::ReadBody()
{
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("SECTION")) {
            ++m_nSectionsRead;
            ReadParagraphList();
        }
        else
            SkipElement();
    });
}

void CHwpmlDocumentManager::ReadParagraphList()
{
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("P")) {
            std::u16string anchored;
            {
                Restore<std::u16string*> keep(m_pAnchored, &anchored);
                ReadParagraph();
            }
            AppendParagraphEnd();
            AppendPlain(anchored.data(), anchored.size());
        } else {
            SkipElement();
        }
    });
}

void CHwpmlDocumentManager::ReadParagraph()
{
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("TEXT"))
            ReadTextElement();
        else
            SearchParagraphLists();
    });
}

void CHwpmlDocumentManager::SearchParagraphLists()
{
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("PARALIST"))
            ReadParagraphList();
        else
            SearchParagraphLists();
    });
}

void CHwpmlDocumentManager::ReadTextElement()
{
    ForChildren([this](int type) {
        if (type != kNodeElement)
            return;
        if (NameIs("CHAR")) {
            ReadChar();
        } else if (NameIs("TABLE") || !m_pAnchored) {
            // A table stands between the paragraph's text before it and the
            // text after it: the text before ends its line, so that it never
            // runs into the first cell.
            if (m_bLineOpen)
                AppendParagraphEnd();
            SearchParagraphLists();
        } else {
            // An object anchored among the characters: its text waits for
            // the paragraph's end.
            CTextCollector* collector = GetTextCollector();
            std::u16string text;
            {
                // The paragraph's own line stays as it is.
                Restore<bool> keepLine(m_bLineOpen, false);
                struct KeepOutput {
                    CTextCollector* c;
                    std::u16string* o;
                    ~KeepOutput() { c->SetOutput(o); }
                } keep{collector, collector->GetOutput()};
                collector->SetOutput(&text);
                SearchParagraphLists();
            }
            m_pAnchored->append(text);
        }
    });
}

void CHwpmlDocumentManager::ReadChar()
{
    ForChildren([this](int type) {
        if (type == kNodeElement) {
            static const char16_t tab = u'\t', lineBreak = u'\n', blank = u' ', hyphen = u'-';
            if (NameIs("TAB"))
                AppendPlain(&tab, 1);
            else if (NameIs("LINEBREAK"))
                AppendPlain(&lineBreak, 1);
            else if (NameIs("NBSPACE") || NameIs("FWSPACE"))
                AppendPlain(&blank, 1);
            else if (NameIs("HYPEN"))  // the format's own spelling of the hyphen
                AppendPlain(&hyphen, 1);
            SkipElement();
            return;
        }
        if (type != kNodeText && type != kNodeSignificantWhitespace)
            return;
        const xmlChar* value = xmlTextReaderConstValue(m_pState->reader);
        if (!value)
            return;
        const size_t bytes = std::strlen(reinterpret_cast<const char*>(value));
        m_scratch.assign(bytes + 1, u'\0');
        size_t written = 0;
        Utf8ToUtf16(value, value + bytes, m_scratch.data(), m_scratch.data() + bytes + 1, &written, 0);
        AppendPlain(m_scratch.data(), written / 2);
    });
}

// Text of the document goes out as it stands: a tab keeps the characters
// after it (the HWP 5 control filter would take it for an inline control).
void CHwpmlDocumentManager::AppendPlain(const char16_t* text, size_t length)
{
    if (length == 0)
        return;
    if (length > 0x3FFFFFFF) {
        plat::NoteDamage("한도에 이르러 건너뜀");  // past what the collector takes in one piece
        return;
    }
    CTextCollector* collector = GetTextCollector();
    char16_t* buffer = collector->GetBuffer(static_cast<int>(length) + 1);
    std::memcpy(buffer, text, length * sizeof(char16_t));
    buffer[length] = 0;
    // A zero inside the text would end the piece early.
    for (size_t i = 0; i < length; ++i) {
        if (buffer[i] == 0)
            buffer[i] = u' ';
    }
    m_bLineOpen = text[length - 1] != u'\n';
    collector->CommitRange(0, static_cast<int>(length));
}

void CHwpmlDocumentManager::AppendParagraphEnd()
{
    static const char16_t end[] = {13, 0};
    CHwpTextConvertItem::AppendHwpText(GetTextCollector(), end, 1, nullptr);
    m_bLineOpen = false;
}
