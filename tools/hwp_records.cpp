// hwp-records FILE [STREAM]
//
// Lists the records of an HWP 5 document's streams (DocInfo and the sections
// of BodyText, or the one stream given, such as "BodyText/Section0"): one
// line per record with its level, tag and size, the control id of control
// headers and shape components, and the start of paragraph texts.
#include <cstdio>
#include <string>

#include "extract/hwp/hwp_datablock.h"
#include "extract/io/h2s_storage.h"
#include "extract/libstring.h"
#include "extract/readerror.h"
#include "platform/text.h"
#include "tools/toolhelp.h"

namespace {

void Dump(CH2sStorage& storage, const std::u16string& name, bool compressed)
{
    CH2sStream device;
    CH2sDataBlock ar;
    ar.Attach(&device);
    if (!storage.OpenStream(name, device)) {
        std::printf("%s: missing\n", plat::WideToUtf8(name).c_str());
        ClearLibraryError();
        return;
    }
    if (compressed)
        ar.BeginCompression();
    std::printf("== %s\n", plat::WideToUtf8(name).c_str());
    for (;;) {
        ar.PeekTag();
        if (ar.atEnd())
            break;
        const unsigned tag = ar.NextRecord(0);
        std::string extra;
        if (tag == 71 || tag == 76) {
            const std::uint32_t id = ar.ReadDword();
            for (int s = 24; s >= 0; s -= 8)
                extra.push_back(static_cast<char>((id >> s) & 0x7F));
        } else if (tag == 66) {
            char b[32];
            std::snprintf(b, sizeof b, "nChars=%08x", ar.ReadDword());
            extra = b;
        } else if (tag == 67) {
            std::u16string t;
            for (int i = 0; i < 40 && ar.Remaining() >= 2; ++i) {
                char16_t c = static_cast<char16_t>(ar.ReadWord());
                t.push_back(c < 32 ? u'.' : c);
            }
            extra = plat::WideToUtf8(t);
        }
        std::printf("%*s%u L%u size %u %s\n", static_cast<int>(ar.level()) * 2, "", tag, ar.level(), ar.size(),
                    extra.c_str());
        ar.EndRecord();
    }
    ar.Detach();
    device.Close();
}

}  // namespace

int main(int argc, char** argv)
{
    static const char kUsage[] =
        "usage: hwp-records FILE [STREAM]\n"
        "Lists the records of an HWP 5 document's DocInfo and sections, or of the one\n"
        "stream given (\"BodyText/Section0\"): level, tag, size and the start of texts.\n";
    if (tools::AskedForHelp(argc, argv))
        return tools::ShowHelp(kUsage);
    if (argc < 2 || argc > 3)
        return tools::UsageError(kUsage, 3);
    SetThrowOnError(1);
    try {
        CH2sMainStorage root;
        root.Open(plat::PathFromNative(argv[1]));
        unsigned char header[256] = {};
        root.ReadFileHeader(header);
        const bool compressed = header[36] & 1;
        std::printf("properties %02x%02x\n", header[37], header[36]);
        if (argc == 3) {
            std::u16string name = plat::PathFromNative(argv[2]);
            if (name.rfind(u"BodyText/", 0) == 0) {
                CH2sStorage body;
                root.OpenSubStorage(u"BodyText", body);
                Dump(body, name.substr(9), compressed);
            } else {
                Dump(root, name, compressed);
            }
            return 0;
        }
        Dump(root, u"DocInfo", compressed);
        CH2sStorage body;
        root.OpenSubStorage(u"BodyText", body);
        for (int i = 0; i < 1000; ++i) {
            std::u16string name = u"Section" + plat::Utf8ToWide(std::to_string(i));
            CH2sStream probe;
            if (!body.OpenStream(name, probe)) {
                ClearLibraryError();
                break;
            }
            probe.Close();
            Dump(body, name, compressed);
        }
    } catch (const ReadError& e) {
        std::printf("library error %lx\n", static_cast<unsigned long>(e.code()));
        return 2;
    }
    return 0;
}
