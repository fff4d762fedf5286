// What the parsers behind the readers say about a damaged document goes to
// the trace log, never to the terminal.
#include "extract/parsermessages.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "extract/extractlib.h"
#include "extract/liblog.h"
#include "extract/opc/package.h"
#include "platform/text.h"
#include "support/isolation.h"
#include "support/zip_writer.h"

namespace {

// Everything written to standard error while `run` runs.
template <typename F>
std::string StandardErrorOf(const std::string& file, F run)
{
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* f = std::fopen(file.c_str(), "w+");
    if (!f || saved < 0) return "<no capture>";
    dup2(fileno(f), 2);
    run();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(f);
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Nothing reached the terminal but trace-log lines (the trace log goes to
// standard error when its destination says so).
::testing::AssertionResult OnlyTraceLines(const std::string& err)
{
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
        if (ConvertLog().Mode() != 2 || line.find("] : [") == std::string::npos)
            return ::testing::AssertionFailure() << "on the terminal: " << line;
    return ::testing::AssertionSuccess();
}

std::string Types(const std::string& body)
{
    return "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">" + body + "</Types>";
}

class ParserMessagesTest : public ::testing::Test {
protected:
    void SetUp() override { InitializeLibrary(); }
    void TearDown() override { FinalizeLibrary(); }
    ps_test::TempDir dir_;
};

TEST_F(ParserMessagesTest, DamagedPackagesAndXmlStayOffTheTerminal)
{
    const std::string types = Types(
        "<Default ContentType=\"no extension\"/>"
        "<Override PartName=\"/gone.xml\" ContentType=\"x\"/>");
    const std::string path = dir_.file("broken.docx");
    ASSERT_TRUE(ps_test::WriteFileBytes(path, ps_test::ZipWriter()
                                                  .Add("[Content_Types].xml", types)
                                                  .Add("_rels/.rels", "<Relationships><Relationship/></Relationships>")
                                                  .Add("a.xml", "<a><b>unclosed</a>&bogus;")
                                                  .Bytes()));
    const std::string err = StandardErrorOf(dir_.file("stderr1"), [&] {
        OpcPackage* p = PackageOpen(plat::Utf8ToWide(path).c_str(), 0, nullptr);
        ASSERT_NE(p, nullptr);
        McReaderState st;
        if (PackageOpenPart(p, &st, "a.xml", nullptr, nullptr, 0) == 0) {
            while (McReaderRead(&st) == 1) {
            }
            McReaderCleanup(&st);
        }
        PackageClose(p, 0);
        // The parser used directly, on this thread and on a new one.
        xmlFreeDoc(xmlReadMemory("<x><y></x>", 10, "mem.xml", nullptr, 0));
        std::thread([] { xmlFreeDoc(xmlReadMemory("<x>&z;</x", 9, "thread.xml", nullptr, 0)); }).join();
        TraceParserMessage("test", "a message\n");
    });
    EXPECT_TRUE(OnlyTraceLines(err));
}

TEST_F(ParserMessagesTest, DamagedPdfStaysOffTheTerminal)
{
    const std::string path = dir_.file("broken.pdf");
    ASSERT_TRUE(ps_test::WriteFileBytes(
        path, "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n2 0 obj << /Type /Pages /Kids [3 0 R] "
              "/Count 1 >> endobj\n3 0 obj << /Type /Page /Contents 4 0 R >> endobj\n4 0 obj << /Length 99 >> "
              "stream\nBT (x) Tj\nendstream\nxref\n0 1\nbroken\ntrailer << /Root 9 0 R >>\n%%EOF\n"));
    std::u16string text;
    const std::string err = StandardErrorOf(dir_.file("stderr2"), [&] {
        ConvertPdfToText(plat::Utf8ToWide(path).c_str(), nullptr, &text);
    });
    EXPECT_TRUE(OnlyTraceLines(err));
}

}  // namespace
