// Fuzz target: the compound-file reader on arbitrary bytes. Every storage is
// walked and every stream read, seeked and cloned. Read: every element
// listed, opened and read without failure or damage; the text is the
// streams' names.
#include "platform/cfb.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "platform/docfile.h"

namespace {

bool Walk(plat::CfbStorage* st, int depth, std::u16string& names)
{
    std::vector<plat::CfbStat> kids;
    if (plat::Failed(st->Elements(&kids)) || depth > 32)
        return false;
    bool whole = true;
    for (const auto& k : kids) {
        if (k.type == plat::stg::kTypeStorage) {
            plat::CfbPtr<plat::CfbStorage> sub;
            if (plat::Succeeded(st->OpenStorage(k.name, 0x10, sub.put())))
                whole = Walk(sub.get(), depth + 1, names) && whole;
            else
                whole = false;
            continue;
        }
        plat::CfbPtr<plat::CfbStream> s;
        if (plat::Failed(st->OpenStream(k.name, 0x10, s.put()))) {
            whole = false;
            continue;
        }
        names += k.name + u"\n";
        char buf[4096];
        std::uint32_t got = 0;
        plat::HResult hr;
        while (plat::Succeeded(hr = s->Read(buf, sizeof buf, &got)) && got > 0) {
        }
        whole = whole && plat::Succeeded(hr);
        plat::CfbPtr<plat::CfbStream> c;
        if (plat::Succeeded(s->Clone(c.put()))) {
            c->Seek(-100, plat::stg::kSeekEnd, nullptr);
            c->Read(buf, 300, &got);
        }
    }
    return whole;
}

ps_fuzz::Outcome ReadCfb(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    plat::DamageScope damage;
    plat::CfbPtr<plat::CfbStorage> root;
    if (plat::Succeeded(plat::CfbOpenStorageOnMemory(std::string(reinterpret_cast<const char*>(data), size), root.put())))
        o.read = Walk(root.get(), 0, o.text) && !damage.Damaged();
    return o;
}

const ps_fuzz::Registrar kCfb("cfb_fuzz", ReadCfb);

}  // namespace
