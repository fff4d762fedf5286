#include "support/zip_writer.h"

#include <zlib.h>

namespace ps_test {

namespace {

void Put16(std::string& s, uint32_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

}  // namespace

std::string RawDeflate(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

ZipWriter& ZipWriter::Add(const std::string& name, const std::string& data, bool deflate)
{
    ZipEntry e;
    e.name = name;
    e.data = data;
    e.deflate = deflate;
    return Add(e);
}

ZipWriter& ZipWriter::Add(const ZipEntry& entry)
{
    m_entries.push_back(entry);
    return *this;
}

std::string ZipWriter::Bytes() const
{
    std::string out;
    std::string central;
    for (const ZipEntry& e : m_entries) {
        const std::string body = e.deflate ? RawDeflate(e.data) : e.data;
        const uint32_t crc = static_cast<uint32_t>(
            crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint16_t flags = e.descriptor ? 8 : 0;
        const uint16_t method = e.deflate ? 8 : 0;
        Put32(out, 0x04034B50);
        Put16(out, 20);
        Put16(out, flags);
        Put16(out, method);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, e.descriptor ? 0 : crc);
        Put32(out, e.descriptor ? 0 : static_cast<uint32_t>(body.size()));
        Put32(out, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
        Put16(out, static_cast<uint32_t>(e.name.size()));
        Put16(out, static_cast<uint32_t>(e.extra.size()));
        out += e.name;
        out += e.extra;
        out += body;
        if (e.descriptor) {
            if (e.descriptorSignature)
                Put32(out, 0x08074B50);
            Put32(out, crc);
            Put32(out, static_cast<uint32_t>(body.size()));
            Put32(out, static_cast<uint32_t>(e.data.size()));
        }
        Put32(central, 0x02014B50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, method);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(body.size()));
        Put32(central, static_cast<uint32_t>(e.data.size()));
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += e.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(m_entries.size()));
    Put16(out, static_cast<uint32_t>(m_entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

std::string MakeOoxmlPackage(const std::vector<std::pair<std::string, std::string>>& parts,
                             const std::vector<std::pair<std::string, std::string>>& overrides,
                             bool withContentTypes)
{
    ZipWriter zip;
    if (withContentTypes) {
        std::string types =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
        for (const auto& [name, type] : overrides)
            types += "<Override PartName=\"" + name + "\" ContentType=\"" + type + "\"/>";
        types += "</Types>";
        zip.Add("[Content_Types].xml", types);
    }
    for (const auto& [name, data] : parts)
        zip.Add(name, data);
    return zip.Bytes();
}

}  // namespace ps_test
