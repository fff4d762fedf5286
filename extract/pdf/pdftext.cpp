#include "extract/pdf/pdftext.h"

#include <cstring>
#include <exception>
#include <string>

#include "extract/textcollector.h"
#include "platform/text.h"

namespace {

// Stands between MuPDF's C frames and a C++ callback: nothing may be thrown
// across the glue, so the first exception is kept and thrown again later.
struct Relay {
    TextChunkCallback callback;
    void* user;
    std::exception_ptr error;
};

void RelayChunk(void* user, const void* text, int length, int utf8)
{
    auto* relay = static_cast<Relay*>(user);
    if (relay->error)
        return;
    try {
        relay->callback(relay->user, text, length, utf8);
    } catch (...) {
        relay->error = std::current_exception();
    }
}

}  // namespace

int ExtractPdfText(const char16_t* path, TextChunkCallback callback, void* user,
                   PdfExtractStats* stats)
{
    if (!path || !callback)
        return 0;
    const std::string native = plat::PathToNative(plat::WStringView(path));
    Relay relay{callback, user, nullptr};
    int result = PdfExtractTextNative(native.c_str(), &RelayChunk, &relay, stats);
    if (relay.error)
        std::rethrow_exception(relay.error);
    return result;
}

void OnPdfTextChunk(void* user, const void* text, int length, int utf8)
{
    auto* collector = static_cast<CTextCollector*>(user);
    if (!collector || !text || length <= 0)
        return;
    if (utf8) {
        std::u16string wide = plat::Utf8ToWide(
            std::string_view(static_cast<const char*>(text), static_cast<size_t>(length)));
        if (wide.empty())
            return;
        char16_t* buffer = collector->GetBuffer(static_cast<int>(wide.size()) + 1);
        std::memcpy(buffer, wide.data(), wide.size() * sizeof(char16_t));
        collector->CommitRange(0, static_cast<int>(wide.size()));
        return;
    }
    char16_t* buffer = collector->GetBuffer(length + 1);
    std::memcpy(buffer, text, static_cast<size_t>(length) * sizeof(char16_t));
    collector->CommitRange(0, length);
}
