// Reads every stream of every compound file under a folder (by default the
// public corpus) several times and prints the throughput of the reader, and
// of the inflater over the compressed streams of HWP documents.
//   bench-cfb [folder] [rounds]
#include "extract/io/h2s_archive.h"
#include "extract/io/h2s_storage.h"
#include "platform/cfb.h"
#include "platform/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using plat::CfbPtr;

namespace {

std::uint64_t Walk(plat::CfbStorage* st, std::vector<char>& buf, std::uint64_t* streams)
{
    std::uint64_t bytes = 0;
    std::vector<plat::CfbStat> kids;
    st->Elements(&kids);
    for (const auto& k : kids) {
        if (k.type == plat::stg::kTypeStorage) {
            CfbPtr<plat::CfbStorage> sub;
            if (plat::Succeeded(st->OpenStorage(k.name, 0x10, sub.put())))
                bytes += Walk(sub.get(), buf, streams);
            continue;
        }
        CfbPtr<plat::CfbStream> s;
        if (plat::Failed(st->OpenStream(k.name, 0x10, s.put())))
            continue;
        ++*streams;
        std::uint32_t got = 0;
        while (plat::Succeeded(s->Read(buf.data(), static_cast<std::uint32_t>(buf.size()), &got)) && got > 0)
            bytes += got;
    }
    return bytes;
}

// Decompresses DocInfo and BodyText/Section* of an HWP 5 document whose
// header marks it compressed; returns the bytes produced.
std::uint64_t InflateHwp(const std::u16string& path, std::vector<char>& buf)
{
    CH2sMainStorage root;
    if (!root.Open(path))
        return 0;
    unsigned char header[256] = {};
    root.ReadFileHeader(header);
    if (!(header[36] & 1))
        return 0;
    std::uint64_t total = 0;
    auto drain = [&](CH2sStorage& st, const std::u16string& name) {
        CH2sStream dev;
        if (!st.OpenStream(name, dev))
            return false;
        CH2sArchive ar(&dev);
        if (!ar.BeginCompression())
            return false;
        int n;
        while ((n = ar.Read(buf.data(), static_cast<int>(buf.size()))) > 0)
            total += static_cast<std::uint64_t>(n);
        ar.EndCompression();
        return true;
    };
    drain(root, u"DocInfo");
    CH2sStorage body;
    if (root.OpenSubStorage(u"BodyText", body))
        for (int i = 0; i < 10000 && drain(body, u"Section" + plat::AsciiToWide(std::to_string(i))); ++i) {
        }
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : std::string(PS_BENCH_CORPUS);
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<std::u16string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file())
            continue;
        std::u16string p = plat::PathFromNative(it->path().string());
        if (plat::CfbIsStorageFile(p) == plat::stg::kOk)
            files.push_back(p);
    }
    if (files.empty()) {
        std::printf("no compound files under %s\n", dir.c_str());
        return 0;
    }
    std::vector<char> buf(64 * 1024);
    std::uint64_t bytes = 0, streams = 0, opened = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
        for (const auto& f : files) {
            CfbPtr<plat::CfbStorage> root;
            if (plat::Failed(plat::CfbOpenStorage(f, 0x40040, root.put())))
                continue;
            ++opened;
            bytes += Walk(root.get(), buf, &streams);
        }
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("compound files: %zu (%llu opens), streams read: %llu, bytes: %llu in %.3f s\n", files.size(),
                (unsigned long long)opened, (unsigned long long)streams, (unsigned long long)bytes, secs);
    std::printf("stream reading: %.1f MB/s\n", bytes / secs / 1e6);

    std::uint64_t inflated = 0;
    t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
        for (const auto& f : files)
            inflated += InflateHwp(f, buf);
    secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (inflated)
        std::printf("HWP inflate (open, header, DocInfo, sections): %llu bytes out in %.3f s: %.1f MB/s\n",
                    (unsigned long long)inflated, secs, inflated / secs / 1e6);
    return 0;
}
