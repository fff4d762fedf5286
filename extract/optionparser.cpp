#include "extract/optionparser.h"

#include "platform/text.h"

namespace {

size_t Length(const char16_t* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}  // namespace

int COptionParser::GetValue(const char16_t* key, std::u16string& value) const
{
    if (!m_pszOptions || !key)
        return 0;
    std::u16string_view text(m_pszOptions, std::min(Length(m_pszOptions), kMaxOptionsLength));
    std::u16string_view wanted(key, Length(key));
    // Tokens at ";"; empty tokens between consecutive separators do not count.
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t stop = text.find(u';', pos);
        if (stop == std::u16string_view::npos)
            stop = text.size();
        std::u16string_view token = text.substr(pos, stop - pos);
        pos = stop + 1;
        if (token.empty())
            continue;
        if (token.size() < wanted.size() || token.substr(0, wanted.size()) != wanted)
            continue;
        if (token.size() > wanted.size() + 1 && token[wanted.size()] == u':')
            value.assign(token.substr(wanted.size() + 1));
        else
            value.clear();
        return 1;
    }
    return 0;
}

int COptionParser::GetBool(const char16_t* key, int defaultValue) const
{
    std::u16string value;
    if (!GetValue(key, value))
        return defaultValue;
    if (value.empty())
        return 1;
    return plat::EqualsNoCase(value, u"true") ? 1 : 0;
}
