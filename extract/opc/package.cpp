#include "extract/opc/package.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <new>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include "extract/parsermessages.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace {

constexpr const char* kContentTypesNs = "http://schemas.openxmlformats.org/package/2006/content-types";
constexpr const char* kRelationshipsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr size_t kMaxPartName = 511;

const char* Str(const xmlChar* s)
{
    return reinterpret_cast<const char*>(s);
}

// PackageResolveTarget; *outside (when given) is set when the target climbs
// above the package's root.
std::string ResolveTarget(const std::string& sourcePart, const std::string& target, bool* outside);

const xmlChar* X(const char* s)
{
    return reinterpret_cast<const xmlChar*>(s);
}

// The value of an unqualified attribute of the current element ("" when absent).
bool Attribute(xmlTextReaderPtr r, const char* name, std::string* out)
{
    xmlChar* v = xmlTextReaderGetAttribute(r, X(name));
    if (!v) {
        out->clear();
        return false;
    }
    *out = Str(v);
    xmlFree(v);
    return true;
}

bool IsElement(xmlTextReaderPtr r, const char* ns, const char* local)
{
    if (xmlTextReaderNodeType(r) != XML_READER_TYPE_ELEMENT)
        return false;
    const xmlChar* n = xmlTextReaderConstNamespaceUri(r);
    const xmlChar* l = xmlTextReaderConstLocalName(r);
    return l && std::strcmp(Str(l), local) == 0 && (ns == nullptr || (n && std::strcmp(Str(n), ns) == 0));
}

bool EqualsNoCaseAscii(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string StripSlash(const char* name)
{
    if (!name)
        return std::string();
    return name[0] == '/' ? std::string(name + 1) : std::string(name);
}

// Bytes a part may hold back from the XML parser: a start tag, comment or
// other markup that has not ended. The parser looks for the end of such
// markup over all of it again at every piece it is given once it passes
// 10 MB, so its work grows with the square of the length; markup this long
// is no office program's, and the part is not read.
constexpr uint64_t kMaxPendingMarkup = uint64_t(8) << 20;
// How often (in bytes delivered) the held-back bytes are measured.
constexpr uint64_t kPendingCheckStep = uint64_t(64) << 10;

// XML readers are kept between parts and handed to the next part read on
// any thread: each new reader creates a parser, a dictionary and a
// document, and libxml2 counts references to dictionaries under one
// process-wide lock, so fresh readers per part keep the threads of a search
// waiting on each other. A kept reader keeps its dictionary, which grows
// with the names it meets: it is replaced once this many bytes have passed
// through it. At most kMaxKeptReaders wait per pass.
constexpr uint64_t kReaderRenewBytes = uint64_t(8) << 20;
constexpr size_t kMaxKeptReaders = 64;

// The passes over a part: the prolog check keeps the parser's own limits,
// the reading of the part lifts them. The parser keeps option bits from one
// document to the next, so each pass has its own readers, and a reader is
// only taken again with the options it was made with.
enum ReaderPass { kPrologPass = 0, kPartPass = 1, kReaderPasses = 2 };

struct KeptReader {
    xmlTextReaderPtr reader = nullptr;
    int options = 0;
    uint64_t bytes = 0;  // part bytes read through it
    std::thread::id owner;  // the thread that used it last
};

// The readers not in use.
struct ReaderPool {
    // guards: idle. Taken under the library's use lock (extractlib), never
    // the other way round.
    std::mutex lock;
    std::vector<KeptReader> idle[kReaderPasses];

    ~ReaderPool() { Drop(); }
    void Drop()
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& list : idle) {
            for (KeptReader& k : list)
                xmlFreeTextReader(k.reader);
            list.clear();
        }
    }
};

ReaderPool g_readers;

// libxml2 counts the references to a parser's dictionary under one
// process-wide lock: every part's tree takes one when the part starts and
// gives it back at its end. With many parts read at once the threads queue
// on that lock, and building the tree's names without the dictionary (each
// name its own copy) is cheaper; with few, the dictionary is. Measured over
// 4,000 office documents: 1 to 4 reading threads are 15-20% faster with the
// dictionary, 8 threads 25% faster without.
constexpr int kSharedDictionaryReaders = 4;
std::atomic<int> g_openReaders{0};

// Context handed to the XML reader's read and close callbacks.
struct PartStream {
    OpcEntryStream stream;
    xmlTextReaderPtr reader = nullptr;  // once the reader reads the part
    // The part's first bytes, taken before the reader is chosen.
    char head[4] = {};
    int headLength = 0;
    int headServed = 0;
    uint64_t delivered = 0;
    uint64_t nextCheck = kPendingCheckStep;
    bool tooLong = false;
    bool* limitReached = nullptr;  // told when tooLong ends the part
    PartStream(OpcIo* io, const OpcSegment& seg) : stream(io, seg) {}
};

int ReadCallback(void* context, char* buffer, int len)
{
    auto* s = static_cast<PartStream*>(context);
    if (s->tooLong)
        return 0;
    if (s->reader && s->delivered >= s->nextCheck) {
        s->nextCheck = s->delivered + kPendingCheckStep;
        const long consumed = xmlTextReaderByteConsumed(s->reader);
        if (consumed >= 0 && static_cast<uint64_t>(consumed) < s->delivered &&
            s->delivered - static_cast<uint64_t>(consumed) > kMaxPendingMarkup) {
            // Ends the part early: the parser reports the markup unfinished.
            s->tooLong = true;
            if (s->limitReached)
                *s->limitReached = true;
            TraceParserMessage("opc", "Markup longer than the reader takes");
            return 0;
        }
    }
    int n = 0;
    if (s->headServed < s->headLength && len > 0) {
        n = std::min(len, s->headLength - s->headServed);
        std::memcpy(buffer, s->head + s->headServed, static_cast<size_t>(n));
        s->headServed += n;
    } else {
        n = s->stream.Read(buffer, len);
    }
    if (n > 0)
        s->delivered += static_cast<uint64_t>(n);
    return n;
}

// Takes the part's first bytes into the stream's head. True when they
// begin with "<" in an 8-bit encoding (UTF-8, or one the XML declaration
// names): a reader taken again recognises only such parts, and a byte-order
// mark, UTF-16 or any other start is read by a new reader.
bool PlainStart(PartStream* s)
{
    while (s->headLength < 4) {
        const int n = s->stream.Read(s->head + s->headLength, 4 - s->headLength);
        if (n <= 0)
            break;
        s->headLength += n;
    }
    return s->headLength >= 2 && s->head[0] == '<' && s->head[1] != 0;
}

int CloseCallback(void* context)
{
    auto* s = static_cast<PartStream*>(context);
    s->stream.Close();
    delete s;
    return 0;
}

// Closes a reader of pass and keeps it for another part, unless it has
// read enough to be renewed (bytes: what it had read before this part).
void ReleaseReader(ReaderPass pass, xmlTextReaderPtr reader, int options, uint64_t bytes)
{
    g_openReaders.fetch_sub(1, std::memory_order_relaxed);
    bytes += static_cast<uint64_t>(std::max(0L, xmlTextReaderByteConsumed(reader)));
    xmlTextReaderClose(reader);
    if (bytes < kReaderRenewBytes) {
        std::lock_guard<std::mutex> guard(g_readers.lock);
        if (g_readers.idle[pass].size() < kMaxKeptReaders) {
            g_readers.idle[pass].push_back(KeptReader{reader, options, bytes, std::this_thread::get_id()});
            return;
        }
    }
    xmlFreeTextReader(reader);
}

// Opens a text reader over the data of segment (null when it cannot be
// opened): a kept reader of the pass made with the same options when the
// part starts plainly (see PlainStart), else a new one. *bytes receives what the reader has read before. The reader closes
// the stream through the close callback, also when it cannot be set up. No
// network access, no entity substitution.
xmlTextReaderPtr OpenReader(OpcPackage* p, int32_t segment, ReaderPass pass, const char* baseUrl,
                            const char* encoding, int options, int* usedOptions, uint64_t* bytes,
                            bool* limitReached)
{
    if (segment < 0 || static_cast<size_t>(segment) >= p->zip.segments.size())
        return nullptr;
    auto* ctx = new (std::nothrow) PartStream(&p->io, p->zip.segments[segment]);
    if (!ctx)
        return nullptr;
    // A stream that cannot be opened: its entry's local header names
    // another entry (noted as damage by the scan), or its method is one this
    // reader does not know (not damage: the part's reader says it could not
    // read the part).
    if (!ctx->stream.Open()) {
        delete ctx;
        return nullptr;
    }
    ctx->limitReached = limitReached;
    const bool plain = PlainStart(ctx);
    options = (options | XML_PARSE_NONET) &
              ~(XML_PARSE_NOENT | XML_PARSE_DTDLOAD | XML_PARSE_DTDATTR | XML_PARSE_DTDVALID | XML_PARSE_XINCLUDE);
    if (g_openReaders.load(std::memory_order_relaxed) >= kSharedDictionaryReaders)
        options |= XML_PARSE_NODICT;
    *usedOptions = options;
    *bytes = 0;
    KeptReader kept;
    if (plain) {
        // A reader this thread used last comes first: its dictionary and
        // buffers are still in this core's cache, where a reader last used
        // on another core made every name lookup a cache miss.
        const std::thread::id self = std::this_thread::get_id();
        std::lock_guard<std::mutex> guard(g_readers.lock);
        auto& list = g_readers.idle[pass];
        size_t chosen = list.size();
        for (size_t i = list.size(); i-- > 0;) {
            if (list[i].options != options)
                continue;
            if (chosen == list.size())
                chosen = i;
            if (list[i].owner == self) {
                chosen = i;
                break;
            }
        }
        if (chosen < list.size()) {
            kept = list[chosen];
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(chosen));
        }
    }
    xmlTextReaderPtr reader = nullptr;
    if (kept.reader) {
        if (xmlReaderNewIO(kept.reader, ReadCallback, CloseCallback, ctx, baseUrl, encoding, options) != 0) {
            // The stream is closed with the reader that failed to take it.
            xmlFreeTextReader(kept.reader);
            return nullptr;
        }
        reader = kept.reader;
        *bytes = kept.bytes;
    } else {
        reader = xmlReaderForIO(ReadCallback, CloseCallback, ctx, baseUrl, encoding, options);
        if (!reader)
            return nullptr;
    }
    ctx->reader = reader;
    g_openReaders.fetch_add(1, std::memory_order_relaxed);
    // Messages go where the pass sends them, not where the reader's last
    // part sent them.
    xmlTextReaderSetErrorHandler(reader, nullptr, nullptr);
    return reader;
}

void ReleasePartReader(xmlTextReaderPtr reader, int options, uint64_t bytes)
{
    ReleaseReader(kPartPass, reader, options, bytes);
}

// Whether the part may be read: its nodes are read up to the first element
// (the document type, which alone may declare entities, comes before it)
// and the part is refused when it declares entities or when its prolog does
// not parse. This pass keeps the parser's own limits, which stop an entity
// expansion bomb before the real reading would meet it.
bool PrologAccepted(OpcPackage* p, int32_t segment, const char* baseUrl, const char* encoding, int options)
{
    int used = 0;
    uint64_t bytes = 0;
    bool limitReached = false;
    xmlTextReaderPtr reader =
        OpenReader(p, segment, kPrologPass, baseUrl, encoding, options, &used, &bytes, &limitReached);
    if (!reader)
        return false;
    bool accepted = false;
    bool declaresEntities = false;
    while (xmlTextReaderRead(reader) == 1) {
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_ELEMENT) {
            accepted = true;
            break;
        }
        if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
            xmlNodePtr node = xmlTextReaderCurrentNode(reader);
            const xmlDtd* dtd = node && node->type == XML_DTD_NODE ? reinterpret_cast<const xmlDtd*>(node) : nullptr;
            const xmlDtd* internal = node && node->doc ? node->doc->intSubset : nullptr;
            if ((dtd && (dtd->entities || dtd->pentities)) || (internal && (internal->entities || internal->pentities))) {
                declaresEntities = true;
                break;
            }
        }
    }
    ReleaseReader(kPrologPass, reader, used, bytes);
    // A part without a root element, or whose XML fails before it, is
    // damaged; one refused for its entities, or for markup longer than the
    // reader takes, or whose read was stopped, is not read but not damaged.
    if (!accepted && !declaresEntities && !limitReached && !plat::ReadCancelled())
        plat::NoteDamage("XML 구조 손상");
    return accepted;
}

// Opens the XML of segment into state; false when it cannot be opened.
// A document type is accepted, but a part that declares entities is not
// read: their text would not reach the caller, and expanding them is
// refused. Text nodes may be as large as the part (parts are bounded by the
// data stream), beyond the parser's default limit on one text node.
bool OpenSegment(OpcPackage* p, McReaderState* state, int32_t segment, const char* baseUrl,
                 const char* encoding, int options)
{
    if (!PrologAccepted(p, segment, baseUrl, encoding, options))
        return false;
    int used = 0;
    uint64_t bytes = 0;
    xmlTextReaderPtr reader = OpenReader(p, segment, kPartPass, baseUrl, encoding, options | XML_PARSE_HUGE, &used,
                                         &bytes, &state->limitReached);
    if (!reader)
        return false;
    // What the parser reports about the part goes to the trace log.
    RouteXmlMessagesToTrace();
    xmlTextReaderSetErrorHandler(reader, &TraceXmlReaderError, nullptr);
    McReaderInit(state, reader);
    state->release = &ReleasePartReader;
    state->releaseOptions = used;
    state->releaseBytes = bytes;
    return true;
}

// Advances to the root element, past a declaration, document type, comments
// and processing instructions.
int ReadToRoot(McReaderState* st)
{
    int rc = McReaderRead(st);
    while (rc == 1 && xmlTextReaderNodeType(st->reader) != XML_READER_TYPE_ELEMENT)
        rc = McReaderRead(st);
    return rc;
}

// Reads "[Content_Types].xml".
void ReadContentTypes(OpcPackage* p)
{
    McReaderState st;
    // A part that cannot be opened has noted its damage (see OpenSegment).
    if (!OpenSegment(p, &st, p->contentTypesSegment, nullptr, nullptr, 0)) {
        p->contentTypesRead = false;
        return;
    }
    xmlTextReaderPtr r = st.reader;
    int rc = ReadToRoot(&st);
    // Another root than Types types no part.
    if (rc == 1 && !IsElement(r, kContentTypesNs, "Types"))
        plat::NoteDamage("콘텐츠 형식 값 손상");
    if (rc == 1 && IsElement(r, kContentTypesNs, "Types") && !xmlTextReaderIsEmptyElement(r)) {
        const int rootDepth = xmlTextReaderDepth(r);
        rc = McReaderRead(&st);
        while (rc == 1 && xmlTextReaderDepth(r) > rootDepth) {
            if (st.error != 0)
                break;
            if (xmlTextReaderDepth(r) == rootDepth + 1 && IsElement(r, nullptr, "Default")) {
                std::string ext, type;
                Attribute(r, "Extension", &ext);
                Attribute(r, "ContentType", &type);
                if (ext.empty()) {
                    TraceParserMessage("opc", "Missing @Extension attribute!");
                    st.error = MC_ERROR_PACKAGE_VALUE;
                } else if (type.empty()) {
                    TraceParserMessage("opc", "Missing @ContentType attribute!");
                    st.error = MC_ERROR_PACKAGE_VALUE;
                } else {
                    auto it = p->extensions.find(ext);
                    if (it == p->extensions.end())
                        p->extensions.emplace(ext, type);
                    else if (it->second != type)
                        McRaiseError(&st, MC_ERROR_PACKAGE_VALUE,
                                     "Extension \"%s\" is mapped to type \"%s\" as well as \"%s\"", ext.c_str(),
                                     type.c_str(), it->second.c_str());
                }
            } else if (xmlTextReaderDepth(r) == rootDepth + 1 && IsElement(r, nullptr, "Override")) {
                std::string name, type;
                const bool hasName = Attribute(r, "PartName", &name);
                const bool hasType = Attribute(r, "ContentType", &type);
                if (!hasName) {
                    TraceParserMessage("opc", "Attribute @PartName not given!");
                    st.error = MC_ERROR_STRUCTURE;
                } else if (!hasType) {
                    TraceParserMessage("opc", "Attribute @ContentType not given!");
                    st.error = MC_ERROR_STRUCTURE;
                } else if (name.empty() || name[0] != '/') {
                    McRaiseError(&st, MC_ERROR_PACKAGE_PART, "Part %s MUST start with a '/'", name.c_str());
                } else {
                    // A part known only by its relationships entry has no
                    // data: it is not there.
                    auto it = p->parts.find(name.substr(1));
                    if (it != p->parts.end()) {
                        it->second.overrideType = type;
                        it->second.hasOverride = true;
                    }
                    if ((it == p->parts.end() || it->second.firstSegment < 0) &&
                        name.find(".rels") == std::string::npos) {
                        // Reported, but the entries after it are still taken: a
                        // type for a part that is not there changes nothing,
                        // while stopping here would leave the remaining parts
                        // (often the worksheets) without their types. The
                        // part readers judge whether a part of this type is
                        // one they miss.
                        xmlGenericError(xmlGenericErrorContext, "Part %s does not exist.!\n", name.c_str());
                        p->missingParts.push_back({std::string(), std::string(), type, name.substr(1)});
                    }
                }
            }
            rc = McReaderRead(&st);
        }
    }
    // The XML itself failed (not one of the checks of its values): the
    // types of the parts after the failure are unknown.
    if (rc == -1 && (st.error == MC_ERROR_NONE || st.error == MC_ERROR_STRUCTURE))
        p->contentTypesRead = false;
    p->contentTypesError = st.error;
    // A value that stopped the taking of types (missing, conflicting or not
    // a part name), or XML that failed, leaves parts without their types:
    // damage, unless a reading limit stopped it.
    if (plat::ReadCancelled()) {
        // Stopped, not damaged.
    } else if (st.error != MC_ERROR_NONE && st.error != MC_ERROR_MUST_UNDERSTAND && !st.limitReached) {
        plat::NoteDamage(st.error == MC_ERROR_STRUCTURE && rc == -1 ? "XML 구조 손상" : "콘텐츠 형식 값 손상");
    } else if (rc == -1 && st.error == MC_ERROR_NONE) {
        plat::NoteDamage("XML 구조 손상");
    }
    McReaderCleanup(&st);
}

// Reads one relationships part into rels; source is the part's name.
void ReadRelationships(OpcPackage* p, int32_t segment, const std::string& source,
                       std::vector<OpcRelationship>* rels)
{
    McReaderState st;
    // A part that cannot be opened has noted its damage (see OpenSegment).
    if (!OpenSegment(p, &st, segment, nullptr, nullptr, 0))
        return;
    xmlTextReaderPtr r = st.reader;
    int rc = ReadToRoot(&st);
    // Another root than Relationships names no part.
    if (rc == 1 && !IsElement(r, kRelationshipsNs, "Relationships"))
        plat::NoteDamage("관계 값 손상");
    if (rc == 1 && IsElement(r, kRelationshipsNs, "Relationships") && !xmlTextReaderIsEmptyElement(r)) {
        const int rootDepth = xmlTextReaderDepth(r);
        rc = McReaderRead(&st);
        while (rc == 1 && xmlTextReaderDepth(r) > rootDepth && st.error == 0) {
            if (xmlTextReaderDepth(r) == rootDepth + 1 && IsElement(r, nullptr, "Relationship")) {
                std::string id, type, target, mode;
                Attribute(r, "Id", &id);
                Attribute(r, "Type", &type);
                Attribute(r, "Target", &target);
                const bool hasMode = Attribute(r, "TargetMode", &mode);
                OpcRelationship rel;
                rel.id = id;
                rel.type = type;
                bool take = false;
                if (id.empty()) {
                    TraceParserMessage("opc", "Missing @Id attribute!");
                    st.error = MC_ERROR_PACKAGE_VALUE;
                } else if (type.empty()) {
                    TraceParserMessage("opc", "Missing @Type attribute!");
                    st.error = MC_ERROR_PACKAGE_VALUE;
                } else if (target.empty() && (!hasMode || EqualsNoCaseAscii(mode, "Internal"))) {
                    // An empty reference (a link left without an address)
                    // names no part of the package: passed over like a part
                    // it does not hold, and the entries after it are taken.
                    TraceParserMessage("opc", "Relationship with an empty target");
                    p->missingParts.push_back({source, type, std::string(), std::string()});
                } else if (!hasMode || EqualsNoCaseAscii(mode, "Internal")) {
                    bool outside = false;
                    rel.target = ResolveTarget(source, target, &outside);
                    // A part known only by its relationships entry has no
                    // data: it is not there.
                    auto named = p->parts.find(rel.target);
                    if (named != p->parts.end() && named->second.firstSegment >= 0 && !outside) {
                        take = true;
                    } else {
                        // Not taken, and the entries after it still are:
                        // documents name parts they do not hold (internal
                        // hyperlinks, for one). The part readers judge
                        // whether a part of this type is one they miss.
                        TraceParserMessage("opc", "Referenced part does not exist");
                        p->missingParts.push_back({source, type, std::string(), rel.target});
                    }
                } else if (EqualsNoCaseAscii(mode, "External")) {
                    rel.external = true;
                    rel.target = target;
                    take = true;
                } else {
                    McRaiseError(&st, MC_ERROR_PACKAGE_VALUE, "TargetMode %s unknown!\n", mode.c_str());
                }
                if (take) {
                    auto it = std::lower_bound(rels->begin(), rels->end(), rel.id,
                                               [](const OpcRelationship& a, const std::string& b) { return a.id < b; });
                    if (it == rels->end() || it->id != rel.id)
                        rels->insert(it, std::move(rel));
                }
            }
            rc = McReaderRead(&st);
        }
    }
    if (st.error != 0 && p->relationshipsError == 0)
        p->relationshipsError = st.error;
    // A value that stopped the taking of relationships (a missing Id or
    // Type, an unknown target mode), or XML that failed: the parts named
    // after it are not known to be missing. Damage, unless a reading limit
    // stopped it.
    if (plat::ReadCancelled()) {
        // Stopped, not damaged.
    } else if (st.error != MC_ERROR_NONE && st.error != MC_ERROR_MUST_UNDERSTAND && !st.limitReached) {
        plat::NoteDamage(st.error == MC_ERROR_STRUCTURE && rc == -1 ? "XML 구조 손상" : "관계 값 손상");
    } else if (rc == -1 && st.error == MC_ERROR_NONE) {
        plat::NoteDamage("XML 구조 손상");
    }
    McReaderCleanup(&st);
}

}  // namespace

int PackageLibraryInit()
{
    xmlInitParser();
    return 0;
}

void PackageDropKeptReaders()
{
    g_readers.Drop();
}

void* PackageLibraryCleanup()
{
    PackageDropKeptReaders();
    xmlCleanupParser();
    return nullptr;
}

std::string PackageResolveTarget(const std::string& sourcePart, const std::string& target)
{
    return ResolveTarget(sourcePart, target, nullptr);
}

namespace {

std::string ResolveTarget(const std::string& sourcePart, const std::string& target, bool* outside)
{
    if (outside)
        *outside = false;
    std::string result;
    const size_t slash = sourcePart.rfind('/');
    if (slash != std::string::npos)
        result = sourcePart.substr(0, slash + 1);
    size_t i = 0;
    while (i < target.size()) {
        if (target[i] == '/') {
            result.clear();
            while (i < target.size() && target[i] == '/')
                ++i;
            continue;
        }
        size_t end = target.find('/', i);
        const bool more = end != std::string::npos;
        if (!more)
            end = target.size();
        const std::string segment = target.substr(i, end - i);
        if (segment == ".") {
            // passed over
        } else if (segment == "..") {
            // Remove the result's last folder; above the package's root
            // there is none.
            if (result.empty() && outside)
                *outside = true;
            if (!result.empty() && result.back() == '/')
                result.pop_back();
            const size_t prev = result.rfind('/');
            result.erase(prev == std::string::npos ? 0 : prev + 1);
        } else {
            result += segment;
            if (more)
                result += '/';
        }
        i = more ? end + 1 : end;
        while (more && i < target.size() && target[i] == '/')
            ++i;
        // Longer than any part name: it names no part (an entry's name is
        // cut at the same length).
        if (result.size() > kMaxPartName)
            break;
    }
    if (result.size() > kMaxPartName)
        result.resize(kMaxPartName);
    return result;
}

}  // namespace

OpcPackage* PackageOpen(const char16_t* path, int mode, void* user)
{
    if (!path)
        return nullptr;
    auto* p = new (std::nothrow) OpcPackage;
    if (!p)
        return nullptr;
    p->mode = mode;
    p->user = user;
    if (!OpcIoOpen(&p->io, plat::PathToNative(path), mode)) {
        delete p;
        return nullptr;
    }
    p->zip.io = &p->io;
    const bool scanned = p->zip.Scan([p](int32_t index, OpcEntryKind kind) {
        const std::string& name = p->zip.segments[index].name;
        switch (kind) {
        case OpcEntryKind::ContentTypes:
            p->contentTypesSegment = index;
            return true;
        case OpcEntryKind::Relationships:
            if (name.empty())
                p->packageRelsSegment = index;
            else
                p->parts[name].relsSegment = index;
            return true;
        case OpcEntryKind::Data: {
            OpcPart& part = p->parts[name];
            part.firstSegment = index;
            part.lastSegment = index;
            // The pieces of an interleaved part are not joined: such a part
            // is not read (PackageOpenPart), rather than read from one piece.
            if (p->zip.segments[index].piece >= 0)
                part.interleaved = true;
            return true;
        }
        case OpcEntryKind::Folder:
            return true;
        }
        return true;
    });
    if (!scanned) {
        p->io.Close();
        delete p;
        return nullptr;
    }
    if (p->contentTypesSegment >= 0)
        ReadContentTypes(p);
    if (p->packageRelsSegment >= 0)
        ReadRelationships(p, p->packageRelsSegment, std::string(), &p->packageRelationships);
    for (auto& [name, part] : p->parts) {
        if (part.relsSegment >= 0)
            ReadRelationships(p, part.relsSegment, name, &part.relationships);
    }
    return p;
}

namespace {

void AppendEscaped(std::string& out, const std::string& value)
{
    for (char c : value) {
        switch (c) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '\'': out += "&apos;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c; break;
        }
    }
}

void AppendAttribute(std::string& out, const char* name, const std::string& value)
{
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value);
    out += '"';
}

std::string ContentTypesXml(const OpcPackage* p)
{
    std::string out = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"";
    std::string body;
    for (const auto& [extension, type] : p->extensions) {
        body += "<Default";
        AppendAttribute(body, "Extension", extension);
        AppendAttribute(body, "ContentType", type);
        body += "/>";
    }
    for (const auto& [name, part] : p->parts) {
        if (!part.hasOverride)
            continue;
        body += "<Override";
        AppendAttribute(body, "PartName", "/" + name);
        AppendAttribute(body, "ContentType", part.overrideType);
        body += "/>";
    }
    return body.empty() ? out + "/>" : out + ">" + body + "</Types>";
}

}  // namespace

std::string PackageRelativeTarget(const std::string& sourcePart, const std::string& target)
{
    // The folders both names share are dropped; each further folder of the
    // source climbs one level.
    const size_t sourceEnd = sourcePart.rfind('/');
    const std::string folder = sourceEnd == std::string::npos ? std::string() : sourcePart.substr(0, sourceEnd + 1);
    size_t shared = 0;
    for (size_t i = 0; i < folder.size() && i < target.size() && folder[i] == target[i]; ++i) {
        if (folder[i] == '/')
            shared = i + 1;
    }
    std::string out;
    for (size_t i = shared; i < folder.size(); ++i) {
        if (folder[i] == '/')
            out += "../";
    }
    return out + target.substr(shared);
}

std::string PackageRelationshipsXml(const std::string& sourcePart, const std::vector<OpcRelationship>& relationships)
{
    std::string out = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const OpcRelationship& r : relationships) {
        out += "<Relationship";
        AppendAttribute(out, "Id", r.id);
        AppendAttribute(out, "Type", r.type);
        if (r.external) {
            AppendAttribute(out, "TargetMode", "External");
            AppendAttribute(out, "Target", r.target);
        } else {
            AppendAttribute(out, "Target", PackageRelativeTarget(sourcePart, r.target));
        }
        out += "/>";
    }
    return out + "</Relationships>";
}

namespace {

// Writes data as the deflated content of the entry in segment (created
// under archiveName when -1); segment follows the data when it moves.
void WriteEntry(OpcPackage* p, int32_t& segment, const std::string& archiveName, const std::string& data)
{
    if (p->io.error != 0)
        return;
    if (segment < 0)
        segment = p->zip.CreateSegment(archiveName, 0);
    if (segment < 0)
        return;
    OpcWriteStream stream(&p->zip, segment);
    if (stream.Open(8, 0) && stream.Write(data.data(), data.size()))
        stream.Close();
    segment = stream.Segment();
}

// The relationships of a part (or of the package) written, or their entry
// deleted when there are none.
void WriteRelationships(OpcPackage* p, int32_t& segment, const std::string& part,
                        const std::vector<OpcRelationship>& relationships)
{
    if (relationships.empty()) {
        p->zip.FreeSegment(segment);
        segment = -1;
        return;
    }
    const bool created = segment < 0;
    WriteEntry(p, segment, OpcEncodeName(OpcRelationshipsName(part)), PackageRelationshipsXml(part, relationships));
    if (created && segment >= 0) {
        p->zip.segments[segment].flags |= 2;
        p->zip.segments[segment].name = part;
    }
}

}  // namespace

int PackageClose(OpcPackage* package, int trim)
{
    if (!package)
        return 0;
    if (package->mode != 0 && package->io.error == 0) {
        // The content types, the package's relationships and each part's are
        // written into their entries (new entries go after the last one),
        // then the archive is committed.
        WriteEntry(package, package->contentTypesSegment, "[Content_Types].xml", ContentTypesXml(package));
        WriteRelationships(package, package->packageRelsSegment, std::string(), package->packageRelationships);
        for (auto& [name, part] : package->parts)
            WriteRelationships(package, part.relsSegment, name, part.relationships);
        package->zip.Commit(trim != 0);
    }
    const int error = package->mode == 0 ? 0 : package->io.error;
    package->io.Close();
    delete package;
    return error;
}

const char* PackageFirstPart(OpcPackage* package)
{
    if (!package || package->parts.empty())
        return nullptr;
    return package->parts.begin()->first.c_str();
}

const char* PackageNextPart(OpcPackage* package, const char* name)
{
    if (!package || !name)
        return nullptr;
    auto it = package->parts.find(StripSlash(name));
    if (it == package->parts.end())
        return nullptr;
    for (++it; it != package->parts.end(); ++it) {
        if (it->second.firstSegment >= 0)
            return it->first.c_str();
    }
    return nullptr;
}

const char* PackageGetPartType(OpcPackage* package, const char* name)
{
    if (!package || !name)
        return nullptr;
    const std::string key = StripSlash(name);
    auto it = package->parts.find(key);
    if (it == package->parts.end())
        return nullptr;
    if (it->second.hasOverride)
        return it->second.overrideType.c_str();
    const size_t dot = key.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return nullptr;
    auto ext = package->extensions.find(key.substr(dot + 1));
    return ext == package->extensions.end() ? nullptr : ext->second.c_str();
}

const std::vector<OpcRelationship>* PackageGetRelationships(OpcPackage* package, const char* name)
{
    if (!package || !name)
        return nullptr;
    const std::string key = StripSlash(name);
    if (key.empty())
        return &package->packageRelationships;
    auto it = package->parts.find(key);
    return it == package->parts.end() ? nullptr : &it->second.relationships;
}

int PackageOpenPart(OpcPackage* package, McReaderState* state, const char* name, const char* baseUrl,
                    const char* encoding, int options)
{
    if (!package || !state || !name)
        return 1;
    auto it = package->parts.find(StripSlash(name));
    if (it == package->parts.end() || it->second.firstSegment < 0 || it->second.interleaved)
        return 1;
    return OpenSegment(package, state, it->second.firstSegment, baseUrl, encoding, options) ? 0 : 1;
}
