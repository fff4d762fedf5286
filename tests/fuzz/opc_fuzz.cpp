// Fuzz target: the package layer (ZIP container, content types,
// relationships) and the markup-compatibility filter: every part is typed,
// opened and read to its end with every attribute looked at. Read: every
// part opened and read to its end, no damage noted; the text is the parts'
// text nodes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/extractlib.h"
#include "extract/opc/package.h"
#include "fuzz_file.h"
#include "fuzz_target.h"
#include "platform/docfile.h"
#include "platform/text.h"

namespace {

ps_fuzz::Outcome ReadOpc(const std::uint8_t* data, std::size_t size)
{
    static const int init = InitializeLibrary();
    (void)init;
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    OpcPackage* p = PackageOpen(ps_fuzz::InputFile(data, size, ".docx").c_str(), 0, nullptr);
    if (!p)
        return o;
    o.read = PackageFirstPart(p) != nullptr;
    PackageGetRelationships(p, "");
    for (const char* name = PackageFirstPart(p); name; name = PackageNextPart(p, name)) {
        PackageGetPartType(p, name);
        PackageGetRelationships(p, name);
        McReaderState st;
        if (PackageOpenPart(p, &st, name, nullptr, nullptr, 0) != 0) {
            o.read = false;
            continue;
        }
        int rc;
        int n = 0;
        while ((rc = (++n % 7 == 0 ? McReaderNext(&st) : McReaderRead(&st))) == 1) {
            const xmlChar* value = xmlTextReaderConstValue(st.reader);
            if (value && xmlTextReaderNodeType(st.reader) == XML_READER_TYPE_TEXT && o.text.size() < 4096)
                o.text += plat::Utf8ToWide(reinterpret_cast<const char*>(value));
            while (xmlTextReaderMoveToNextAttribute(st.reader) == 1)
                xmlTextReaderConstValue(st.reader);
        }
        o.read = o.read && rc == 0;
        McReaderCleanup(&st);
    }
    PackageClose(p, 0);
    o.read = o.read && !damage.Damaged();
    return o;
}

const ps_fuzz::Registrar kOpc("opc_fuzz", ReadOpc);

}  // namespace
