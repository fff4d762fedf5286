// Every development tool answers -h and --help with its usage on standard
// output and exit status 0, wherever the option stands, and never takes it
// for a file or folder to work on.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun RunTool(const std::string& command)
{
    ToolRun r;
    if (FILE* p = popen((command + " 2>/dev/null </dev/null").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int rc = pclose(p);
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    return r;
}

TEST(ToolHelp, EveryToolAnswersHelpWithItsUsage)
{
    const std::string bin = std::string(PS_BINARY_DIR) + "/bin/";
    const std::string tools = std::string(PS_SOURCE_DIR) + "/tools/";
    std::vector<std::string> commands;
    for (const char* tool : {"extract-text", "scan-folder", "mft-list", "hwp-records", "office-binary-text",
                             "rtf-text", "word6-text", "ui-gallery", "skin-gen"}) {
        if (!std::filesystem::exists(bin + tool)) {
            // The window tools are built only with the windows.
            EXPECT_TRUE(std::string(tool) == "ui-gallery" || std::string(tool) == "skin-gen") << tool << " not built";
            continue;
        }
        commands.push_back(bin + tool);
    }
    for (const char* script : {"word_coverage.py", "hwp3_word_share.py", "settings_cipher_vectors.sh"})
        commands.push_back(tools + script);
    for (const std::string& command : commands) {
        for (const char* args : {" --help", " -h", " /nonexistent/a.doc --help"}) {
            SCOPED_TRACE(command + args);
            const ToolRun r = RunTool(command + args);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << r.out;
        }
    }
}

}  // namespace
