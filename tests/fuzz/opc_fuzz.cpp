// libFuzzer target: the package layer (ZIP container, content types,
// relationships) and the markup-compatibility filter: every part is typed,
// opened and read to its end with every attribute looked at.
#include <cstddef>
#include <cstdint>
#include <string>

#include "extract/extractlib.h"
#include "extract/opc/package.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int init = InitializeLibrary();
    (void)init;
    OpcPackage* p = PackageOpen(ps_fuzz::InputFile(data, size, ".docx").c_str(), 0, nullptr);
    if (!p)
        return 0;
    PackageGetRelationships(p, "");
    for (const char* name = PackageFirstPart(p); name; name = PackageNextPart(p, name)) {
        PackageGetPartType(p, name);
        PackageGetRelationships(p, name);
        McReaderState st;
        if (PackageOpenPart(p, &st, name, nullptr, nullptr, 0) != 0)
            continue;
        int rc;
        int n = 0;
        while ((rc = (++n % 7 == 0 ? McReaderNext(&st) : McReaderRead(&st))) == 1) {
            xmlTextReaderConstValue(st.reader);
            while (xmlTextReaderMoveToNextAttribute(st.reader) == 1)
                xmlTextReaderConstValue(st.reader);
        }
        McReaderCleanup(&st);
    }
    PackageClose(p, 0);
    return 0;
}
