// bench-memory [--docx-chars N] [--pdf-glyphs N] [--jobs N] [--keep DIR]
//
// The memory of a search over documents that ask for much of it. Generates
// eight documents in a private folder: four Word documents whose one
// paragraph repeats a run until the text has --docx-chars characters
// (default 400 M, a few hundred KB on disk), and four PDF documents whose one
// page shows --pdf-glyphs characters (default 30 M) in text objects of 70 (the
// text page of such a page grows until the document's memory budget stops
// it). Runs scan-folder (beside this program) over them with --jobs threads
// (default 8) and with one, and prints for each run its peak resident size
// (the child's maximum resident set), its time and the statuses of the
// documents, then the threaded run once more with a search ceiling of 512 MB;
// the time of the threaded run against one thread comes last.
// --keep writes the documents to DIR and leaves them there.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/docfile.h"
#include "support/zip_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A ceiling below what eight documents at their limits hold together.
constexpr unsigned kSmallCeilingMb = 512;

// The folder of this program (scan-folder is built beside it).
std::string ProgramDir()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

// A Word document of one paragraph: runs of 4,000 characters (a phone number
// in each) until the text has chars characters.
std::string HungryDocx(uint64_t chars)
{
    std::string run = "<w:r><w:t>tel 02-123-4567 ";
    run.append(4000 - 17, 'a');
    run += "</w:t></w:r>";
    std::string body = "<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas.openxmlformats.org/"
                       "wordprocessingml/2006/main\"><w:body><w:p>";
    body.reserve(body.size() + (chars / 4000 + 1) * run.size() + 64);
    for (uint64_t n = 0; n < chars; n += 4000)
        body += run;
    body += "</w:p></w:body></w:document>";
    return ps_test::MakeOoxmlPackage({{"word/document.xml", body}}, {});
}

// zlib-wrapped deflate, as a PDF's FlateDecode reads it.
std::string Flate(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

// A PDF of one page that shows glyphs characters, 70 a text object.
std::string HungryPdf(uint64_t glyphs)
{
    const std::string show = "BT /F1 10 Tf 72 700 Td (tel 02-123-4567 bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb) Tj ET\n";
    const uint64_t perShow = 70;
    std::string content;
    content.reserve((glyphs / perShow + 1) * show.size());
    for (uint64_t n = 0; n < glyphs; n += perShow)
        content += show;
    const std::string stream = Flate(content);
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
        "/Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Length " + std::to_string(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream +
            "\nendstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    long maxRssKb = 0;
    std::map<int, int> statuses;  // scan status -> documents
};

// Runs scan-folder --jobs jobs folder; its output goes to a file read back.
// memoryMb: the search's ceiling (0: the machine's default).
Run ScanFolder(const std::string& program, unsigned jobs, unsigned memoryMb, const std::string& folder,
               const std::string& outPath)
{
    Run run;
    const std::string jobsText = std::to_string(jobs), memoryText = std::to_string(memoryMb);
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("--jobs"),
                               const_cast<char*>(jobsText.c_str())};
    if (memoryMb) {
        argv.push_back(const_cast<char*>("--memory"));
        argv.push_back(const_cast<char*>(memoryText.c_str()));
    }
    argv.push_back(const_cast<char*>(folder.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.maxRssKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream out(outPath);
    for (std::string line; std::getline(out, line);)
        if (!line.empty())
            run.statuses[std::atoi(line.c_str())] += 1;
    return run;
}

void Print(const char* what, const Run& r)
{
    std::printf("%-24s peak resident %7.1f MB  time %7.2f s  statuses:", what, r.maxRssKb / 1024.0, r.seconds);
    for (const auto& [status, n] : r.statuses)
        std::printf(" %d x%d", status, n);
    std::printf("%s\n", r.ok ? "" : "  (scan-folder failed)");
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t docxChars = uint64_t{400} << 20;
    uint64_t pdfGlyphs = uint64_t{30} << 20;
    unsigned jobs = 8;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--docx-chars" && i + 1 < argc)
            docxChars = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--pdf-glyphs" && i + 1 < argc)
            pdfGlyphs = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--jobs" && i + 1 < argc)
            jobs = static_cast<unsigned>(std::max(1L, std::strtol(argv[++i], nullptr, 10)));
        else if (a == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench-memory [--docx-chars N] [--pdf-glyphs N] [--jobs N] [--keep DIR]\n");
            return 2;
        }
    }
    const std::string program = ProgramDir() + "/scan-folder";
    if (::access(program.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench-memory: %s not found (build scan-folder)\n", program.c_str());
        return 1;
    }
    std::string folder = keep;
    if (folder.empty()) {
        char pattern[] = "/tmp/bench-memory-XXXXXX";
        if (!::mkdtemp(pattern))
            return 1;
        folder = pattern;
    } else {
        fs::create_directories(folder);
    }
    const std::string docs = folder + "/docs";
    fs::create_directories(docs);
    // The documents are made by a child of their own: a child spawned later
    // would start with this process's largest resident size as its own
    // (the size is kept across exec), and the documents take gigabytes to make.
    const pid_t maker = ::fork();
    if (maker < 0)
        return 1;
    if (maker == 0) {
        const std::string docx = HungryDocx(docxChars);
        const std::string pdf = HungryPdf(pdfGlyphs);
        for (int i = 0; i < 4; ++i) {
            if (!WriteFile(docs + "/hungry" + std::to_string(i) + ".docx", docx) ||
                !WriteFile(docs + "/hungry" + std::to_string(i) + ".pdf", pdf))
                ::_exit(1);
        }
        std::printf("documents: 4 docx of %.1f KB (%llu M characters), 4 pdf of %.1f KB (%llu M glyphs)\n",
                    docx.size() / 1024.0, static_cast<unsigned long long>(docxChars >> 20), pdf.size() / 1024.0,
                    static_cast<unsigned long long>(pdfGlyphs >> 20));
        std::fflush(stdout);
        ::_exit(0);
    }
    int made = 0;
    if (::waitpid(maker, &made, 0) != maker || !WIFEXITED(made) || WEXITSTATUS(made) != 0) {
        std::fprintf(stderr, "bench-memory: the documents could not be made\n");
        return 1;
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    std::printf("machine memory %.1f GB; search ceiling %.0f MB; document budget %llu MB, text %llu M characters\n",
                static_cast<double>(pages) * pageSize / (1 << 30), plat::DefaultSearchMemoryLimit() / 1048576.0,
                static_cast<unsigned long long>(plat::kDocumentBudget.memory >> 20),
                static_cast<unsigned long long>(plat::kDocumentBudget.text >> 20));
    const Run many = ScanFolder(program, jobs, 0, docs, folder + "/out-many.txt");
    const Run one = ScanFolder(program, 1, 0, docs, folder + "/out-one.txt");
    // The same with a ceiling that the documents reach together: the search
    // holds them to it (waiting, or reading in part).
    const Run ceiled = ScanFolder(program, jobs, kSmallCeilingMb, docs, folder + "/out-ceiled.txt");
    char label[64];
    std::snprintf(label, sizeof label, "%u jobs", jobs);
    Print(label, many);
    Print("1 job", one);
    std::snprintf(label, sizeof label, "%u jobs, ceiling %u MB", jobs, kSmallCeilingMb);
    Print(label, ceiled);
    if (keep.empty())
        fs::remove_all(folder);
    std::printf("time %u jobs / 1 job: %.2f\n", jobs, one.seconds > 0 ? many.seconds / one.seconds : 0.0);
    return many.ok && one.ok && ceiled.ok ? 0 : 1;
}
