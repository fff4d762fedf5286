// libFuzzer target: the compound-file reader on arbitrary bytes. Every
// storage is walked and every stream read, seeked and cloned.
#include "platform/cfb.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void Walk(plat::CfbStorage* st, int depth)
{
    std::vector<plat::CfbStat> kids;
    if (plat::Failed(st->Elements(&kids)) || depth > 32)
        return;
    for (const auto& k : kids) {
        if (k.type == plat::stg::kTypeStorage) {
            plat::CfbPtr<plat::CfbStorage> sub;
            if (plat::Succeeded(st->OpenStorage(k.name, 0x10, sub.put())))
                Walk(sub.get(), depth + 1);
            continue;
        }
        plat::CfbPtr<plat::CfbStream> s;
        if (plat::Failed(st->OpenStream(k.name, 0x10, s.put())))
            continue;
        char buf[4096];
        std::uint32_t got = 0;
        while (plat::Succeeded(s->Read(buf, sizeof buf, &got)) && got > 0) {
        }
        plat::CfbPtr<plat::CfbStream> c;
        if (plat::Succeeded(s->Clone(c.put()))) {
            c->Seek(-100, plat::stg::kSeekEnd, nullptr);
            c->Read(buf, 300, &got);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Succeeded(plat::CfbOpenStorageOnMemory(std::string(reinterpret_cast<const char*>(data), size), root.put())))
        Walk(root.get(), 0);
    return 0;
}
