#include "core/documentkinds.h"

namespace {

// The table's own rules, checked where it is compiled: one bit per kind,
// no extension twice, every extension with a format.
constexpr bool TableIsSound()
{
    DocumentKindMask seen = 0;
    for (const DocumentKindInfo& k : kDocumentKinds) {
        if (k.bit == 0 || (k.bit & (k.bit - 1)) != 0 || (seen & k.bit) != 0) return false;
        seen |= k.bit;
        if (k.Extensions().empty()) return false;
        for (const DocumentExtension& e : k.Extensions()) {
            if (e.format == DocumentFormat::None) return false;
            for (char16_t c : e.extension)
                if (c >= u'a' && c <= u'z') return false;
            int times = 0;
            for (const DocumentKindInfo& o : kDocumentKinds)
                for (const DocumentExtension& f : o.Extensions()) times += f.extension == e.extension;
            if (times != 1) return false;
        }
    }
    return true;
}
static_assert(TableIsSound(), "kDocumentKinds: one bit per kind, upper-case extensions each in one row");

}  // namespace

DocumentExtensionMatch MatchDocumentExtension(std::u16string_view upperExtension)
{
    for (int k = 0; k < kDocumentKindCount; ++k)
        for (const DocumentExtension& e : kDocumentKinds[k].Extensions())
            if (e.extension == upperExtension)
                return {k, e.format};
    return {};
}

std::vector<std::u16string> ExtensionsOfKinds(DocumentKindMask mask)
{
    std::vector<std::u16string> out;
    for (const DocumentKindInfo& k : kDocumentKinds)
        if (mask & k.bit)
            for (const DocumentExtension& e : k.Extensions()) out.emplace_back(e.extension);
    return out;
}

std::u16string DocumentKindColumnList(std::u16string_view prefix)
{
    std::u16string out;
    for (const DocumentKindInfo& k : kDocumentKinds) {
        if (!out.empty()) out += u", ";
        out += prefix;
        out += k.name;
    }
    return out;
}
