#include "extract/opc/mcreader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlmemory.h>

namespace {

constexpr uint32_t kAllDepths = 0xFFFFFFFFu;

const char* Str(const xmlChar* s)
{
    return reinterpret_cast<const char*>(s);
}

const xmlChar* X(const char* s)
{
    return reinterpret_cast<const xmlChar*>(s);
}

bool IsMc(const xmlChar* ns)
{
    return ns && std::strcmp(Str(ns), kMcNamespace) == 0;
}

// Ordering of entries: namespace, then local name, a missing name first.
int CompareEntry(const std::string& ns1, const std::optional<std::string>& l1,
                 const std::string& ns2, const std::optional<std::string>& l2)
{
    int c = ns1.compare(ns2);
    if (c != 0)
        return c;
    if (!l1 || !l2)
        return (l1 ? 1 : 0) - (l2 ? 1 : 0);
    return l1->compare(*l2);
}

std::vector<std::string> SplitTokens(const char* value)
{
    std::vector<std::string> tokens;
    const char* p = value;
    while (*p) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
            ++p;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            ++p;
        if (p > start)
            tokens.emplace_back(start, p);
    }
    return tokens;
}

// The namespace bound to prefix at the current node (empty prefix: the
// default namespace), or nothing.
std::optional<std::string> ResolvePrefix(xmlTextReaderPtr reader, const std::string& prefix)
{
    xmlChar* uri = xmlTextReaderLookupNamespace(reader, prefix.empty() ? nullptr : X(prefix.c_str()));
    if (!uri)
        return std::nullopt;
    std::string result = Str(uri);
    xmlFree(uri);
    return result;
}

// The value of an attribute in the markup-compatibility namespace, or null.
xmlChar* McAttribute(xmlTextReaderPtr reader, const char* name)
{
    return xmlTextReaderGetAttributeNs(reader, X(name), X(kMcNamespace));
}

bool TopContains(const McReaderState* s, uint32_t d)
{
    if (s->skip.empty())
        return false;
    const McSkipEntry& top = s->skip.back();
    return top.first <= d && d < top.end;
}

// Copies the namespace declarations of markup-compatibility wrappers above
// node onto node, so it keeps its prefixes when the wrappers are dropped.
void InheritWrapperNamespaces(xmlNodePtr node)
{
    for (xmlNodePtr p = node->parent; p && p->type == XML_ELEMENT_NODE; p = p->parent) {
        if (!p->ns || !IsMc(p->ns->href))
            break;
        const char* name = Str(p->name);
        if (std::strcmp(name, "AlternateContent") != 0 && std::strcmp(name, "Choice") != 0 &&
            std::strcmp(name, "Fallback") != 0)
            break;
        for (xmlNsPtr ns = p->nsDef; ns; ns = ns->next) {
            bool declared = false;
            for (xmlNsPtr own = node->nsDef; own; own = own->next) {
                if ((own->prefix == nullptr && ns->prefix == nullptr) ||
                    (own->prefix && ns->prefix && xmlStrEqual(own->prefix, ns->prefix))) {
                    declared = true;
                    break;
                }
            }
            if (!declared)
                xmlNewNs(node, ns->href, ns->prefix);
        }
    }
}

void ElementEnd(McReaderState* s, uint32_t d)
{
    if (TopContains(s, d)) {
        if (s->skip.back().first == d)
            s->skip.pop_back();
    }
    s->ignorable.PopLevel(d);
    s->understood.PopLevel(d);
    s->processContent.PopLevel(d);
    s->suspend.PopLevel(d);
}

// Returns whether the element just reached at depth d is skipped.
bool ElementStart(McReaderState* s, uint32_t d)
{
    if (TopContains(s, d))
        return true;
    xmlTextReaderPtr r = s->reader;
    xmlNodePtr node = xmlTextReaderCurrentNode(r);
    if (!node || node->type != XML_ELEMENT_NODE)
        return false;

    InheritWrapperNamespaces(node);

    if (xmlChar* v = McAttribute(r, "Ignorable")) {
        for (const std::string& prefix : SplitTokens(Str(v))) {
            auto ns = ResolvePrefix(r, prefix);
            if (ns && !s->understood.Contains(*ns, std::nullopt))
                s->ignorable.Insert(*ns, std::nullopt, d);
        }
        xmlFree(v);
    }
    if (xmlChar* v = McAttribute(r, "ProcessContent")) {
        for (const std::string& token : SplitTokens(Str(v))) {
            size_t colon = token.find(':');
            std::string prefix = colon == std::string::npos ? std::string() : token.substr(0, colon);
            std::string local = colon == std::string::npos ? token : token.substr(colon + 1);
            auto ns = ResolvePrefix(r, prefix);
            if (ns && !s->understood.Contains(*ns, std::nullopt))
                s->processContent.Insert(*ns, local, d);
        }
        xmlFree(v);
    }
    if (xmlChar* v = McAttribute(r, "MustUnderstand")) {
        std::vector<std::string> tokens = SplitTokens(Str(v));
        xmlFree(v);
        for (const std::string& prefix : tokens) {
            auto ns = ResolvePrefix(r, prefix);
            if (!ns) {
                McRaiseError(s, MC_ERROR_STRUCTURE, "MustUnderstand prefix \"%s\" is not declared",
                             prefix.c_str());
                return true;
            }
            if (!s->understood.Contains(*ns, std::nullopt)) {
                McRaiseError(s, MC_ERROR_MUST_UNDERSTAND, "MustUnderstand namespace \"%s\"", ns->c_str());
                return true;
            }
        }
    }

    // Hide the markup-compatibility attributes and those of ignorable namespaces.
    for (xmlAttrPtr a = node->properties; a;) {
        xmlAttrPtr next = a->next;
        if (a->ns && a->ns->href &&
            (IsMc(a->ns->href) || s->ignorable.Contains(Str(a->ns->href), std::nullopt)))
            xmlRemoveProp(a);
        a = next;
    }

    const char* href = node->ns && node->ns->href ? Str(node->ns->href) : nullptr;
    const char* local = Str(node->name);
    if (href && IsMc(node->ns->href)) {
        if (std::strcmp(local, "AlternateContent") == 0) {
            s->skip.push_back({d, d + 1, 1});
        } else if (std::strcmp(local, "Choice") == 0) {
            std::optional<std::string> required;
            xmlChar* v = xmlTextReaderGetAttribute(r, X("Requires"));
            if (!v)
                v = McAttribute(r, "Requires");
            if (v) {
                required = ResolvePrefix(r, Str(v));
                xmlFree(v);
            }
            if (!required) {
                McRaiseError(s, MC_ERROR_STRUCTURE, "Missing \"Requires\" attribute");
                return true;
            }
            if (s->skip.empty() || (s->skip.back().state != 1 && s->skip.back().state != 2) ||
                d != s->skip.back().first + 1 || d != s->skip.back().end) {
                McRaiseError(s, MC_ERROR_STRUCTURE, "Choice element does not appear at a valid position.");
                return true;
            }
            if (s->understood.Contains(*required, std::nullopt) && s->skip.back().state == 1) {
                s->skip.back().state = 2;
                s->skip.push_back({d, d + 1, 0});
            } else {
                s->skip.push_back({d, kAllDepths, 0});
            }
        } else if (std::strcmp(local, "Fallback") == 0) {
            if (s->skip.empty() || (s->skip.back().state != 1 && s->skip.back().state != 2) ||
                d != s->skip.back().first + 1 || d != s->skip.back().end) {
                McRaiseError(s, MC_ERROR_STRUCTURE, "Fallback element does not appear at a valid position.");
                return true;
            }
            if (s->skip.back().state == 2)
                s->skip.push_back({d, kAllDepths, 0});
            else
                s->skip.push_back({d, d + 1, 0});
        }
    } else if (href && s->ignorable.Contains(href, std::nullopt) &&
               !s->understood.Contains(href, std::nullopt)) {
        if (s->processContent.Contains(href, std::string(local)) ||
            s->processContent.Contains(href, std::string("*")))
            s->skip.push_back({d, d + 1, 0});
        else
            s->skip.push_back({d, kAllDepths, 0});
    }
    return TopContains(s, d);
}

// The filter applied after an underlying Read or Next returned r.
int Process(McReaderState* s, int r)
{
    while (true) {
        if (s->error != 0)
            return -1;
        if (r == 0)
            return 0;
        if (r != 1) {
            // The XML reader has reported its own error.
            s->error = MC_ERROR_STRUCTURE;
            return -1;
        }
        xmlTextReaderPtr reader = s->reader;
        const int depthValue = xmlTextReaderDepth(reader);
        const int type = xmlTextReaderNodeType(reader);
        if (depthValue < 0) {
            s->error = MC_ERROR_STRUCTURE;
            return -1;
        }
        if (depthValue > kMaxMcElementDepth) {
            s->limitReached = true;
            McRaiseError(s, MC_ERROR_STRUCTURE, "Elements nested deeper than %d", kMaxMcElementDepth);
            return -1;
        }
        const uint32_t d = static_cast<uint32_t>(depthValue);

        // Content of a suspending element passes unprocessed.
        if (s->suspendDepth >= 0) {
            if (depthValue > s->suspendDepth)
                return 1;
            if (depthValue == s->suspendDepth && type == XML_READER_TYPE_END_ELEMENT) {
                s->suspendDepth = -1;
                return 1;
            }
            s->suspendDepth = -1;  // left by Next
        }
        if (type == XML_READER_TYPE_ELEMENT && !TopContains(s, d)) {
            const xmlChar* ns = xmlTextReaderConstNamespaceUri(reader);
            const xmlChar* local = xmlTextReaderConstLocalName(reader);
            if (ns && local && s->suspend.Contains(Str(ns), std::string(Str(local)))) {
                if (!xmlTextReaderIsEmptyElement(reader))
                    s->suspendDepth = depthValue;
                return 1;
            }
        }

        bool skipped;
        if (type == XML_READER_TYPE_ELEMENT) {
            // Entries of siblings passed over by Next are out of scope.
            s->ignorable.PopLevel(d);
            s->processContent.PopLevel(d);
            skipped = ElementStart(s, d);
            if (xmlTextReaderIsEmptyElement(reader) == 1)
                ElementEnd(s, d);
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            skipped = TopContains(s, d);
            ElementEnd(s, d);
        } else {
            skipped = TopContains(s, d);
        }
        if (s->error != 0)
            return -1;
        if (!skipped)
            return 1;
        r = xmlTextReaderRead(reader);
    }
}

}  // namespace

void McNameSet::Insert(const std::string& ns, const std::optional<std::string>& local, uint32_t level)
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), 0, [&](const Entry& e, int) {
        return CompareEntry(e.ns, e.local, ns, local) < 0;
    });
    if (it != m_entries.end() && CompareEntry(it->ns, it->local, ns, local) == 0)
        return;
    m_entries.insert(it, Entry{ns, local, level});
    m_highest = std::max(m_highest, level);
}

bool McNameSet::Contains(const std::string& ns, const std::optional<std::string>& local) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), 0, [&](const Entry& e, int) {
        return CompareEntry(e.ns, e.local, ns, local) < 0;
    });
    return it != m_entries.end() && CompareEntry(it->ns, it->local, ns, local) == 0;
}

void McNameSet::PopLevel(uint32_t level)
{
    if (m_entries.empty() || m_highest < level)
        return;
    std::erase_if(m_entries, [level](const Entry& e) { return e.level >= level; });
    m_highest = 0;
    for (const Entry& e : m_entries)
        m_highest = std::max(m_highest, e.level);
}

void McNameSet::Clear()
{
    m_entries.clear();
    m_highest = 0;
}

int McReaderInit(McReaderState* state, xmlTextReaderPtr reader)
{
    if (!state || !reader)
        return -1;
    state->ignorable.Clear();
    state->understood.Clear();
    state->processContent.Clear();
    state->suspend.Clear();
    state->skip.clear();
    state->error = 0;
    state->limitReached = false;
    state->suspendDepth = -1;
    state->suspend.Insert(kPresentationMainNamespace, std::string("extLst"), 0);
    state->reader = reader;
    return 0;
}

int McReaderRead(McReaderState* state)
{
    if (!state || !state->reader)
        return -1;
    if (state->error != 0)
        return -1;
    return Process(state, xmlTextReaderRead(state->reader));
}

int McReaderNext(McReaderState* state)
{
    if (!state || !state->reader)
        return -1;
    if (state->error != 0)
        return -1;
    xmlTextReaderPtr r = state->reader;
    // Next over a non-empty element passes its subtree and its end tag.
    if (xmlTextReaderNodeType(r) == XML_READER_TYPE_ELEMENT && !xmlTextReaderIsEmptyElement(r)) {
        const int depth = xmlTextReaderDepth(r);
        if (depth >= 0) {
            if (state->suspendDepth == depth)
                state->suspendDepth = -1;
            else if (state->suspendDepth < 0)
                ElementEnd(state, static_cast<uint32_t>(depth));
        }
    }
    return Process(state, xmlTextReaderNext(r));
}

int McReaderCleanup(McReaderState* state)
{
    if (!state)
        return 0;
    state->ignorable.Clear();
    state->understood.Clear();
    state->processContent.Clear();
    state->suspend.Clear();
    state->skip.clear();
    state->skip.shrink_to_fit();
    if (state->reader) {
        if (state->release) {
            state->release(state->reader, state->releaseOptions, state->releaseBytes);
        } else {
            xmlTextReaderClose(state->reader);
            xmlFreeTextReader(state->reader);
        }
        state->reader = nullptr;
    }
    state->release = nullptr;
    return 0;
}

void McRaiseError(McReaderState* state, int32_t code, const char* format, ...)
{
    if (!state)
        return;
    if (state->error == 0)
        state->error = code;
    char message[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    xmlTextReaderErrorFunc handler = nullptr;
    void* arg = nullptr;
    if (state->reader)
        xmlTextReaderGetErrorHandler(state->reader, &handler, &arg);
    if (handler)
        handler(arg, message, XML_PARSER_SEVERITY_ERROR, nullptr);
    else
        xmlGenericError(xmlGenericErrorContext, "%s!\n", message);
}
