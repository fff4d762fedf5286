#include "extract/opc/mcreader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#define MC_NS "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\""
#define P_NS "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\""

struct Walk {
    std::string nodes;  // "<name a=v>", "</name>", "'text'" in order
    int last = 0;       // the final advancing result
    int error = 0;
};

void Append(std::string& out, xmlTextReaderPtr r)
{
    const int type = xmlTextReaderNodeType(r);
    if (type == XML_READER_TYPE_ELEMENT) {
        out += "<";
        out += reinterpret_cast<const char*>(xmlTextReaderConstName(r));
        if (xmlTextReaderMoveToFirstAttribute(r) == 1) {
            do {
                if (xmlTextReaderIsNamespaceDecl(r))
                    continue;
                out += " ";
                out += reinterpret_cast<const char*>(xmlTextReaderConstName(r));
                out += "=";
                out += reinterpret_cast<const char*>(xmlTextReaderConstValue(r));
            } while (xmlTextReaderMoveToNextAttribute(r) == 1);
            xmlTextReaderMoveToElement(r);
        }
        out += xmlTextReaderIsEmptyElement(r) ? "/>" : ">";
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
        out += "</";
        out += reinterpret_cast<const char*>(xmlTextReaderConstName(r));
        out += ">";
    } else if (type == XML_READER_TYPE_TEXT) {
        out += "'";
        out += reinterpret_cast<const char*>(xmlTextReaderConstValue(r));
        out += "'";
    }
}

// Reads xml through the filter; when nextOn names an element, Next is used
// to pass over it.
Walk Read(const std::string& xml, const std::string& nextOn = {})
{
    Walk w;
    McReaderState state;
    xmlTextReaderPtr reader =
        xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NOBLANKS);
    EXPECT_EQ(McReaderInit(&state, reader), 0);
    int r = McReaderRead(&state);
    while (r == 1) {
        Append(w.nodes, state.reader);
        const bool next = !nextOn.empty() && xmlTextReaderNodeType(state.reader) == XML_READER_TYPE_ELEMENT &&
                          nextOn == reinterpret_cast<const char*>(xmlTextReaderConstName(state.reader));
        r = next ? McReaderNext(&state) : McReaderRead(&state);
    }
    w.last = r;
    w.error = state.error;
    EXPECT_EQ(McReaderCleanup(&state), 0);
    return w;
}

TEST(McReader, InitRejectsNullReader)
{
    McReaderState state;
    EXPECT_EQ(McReaderInit(&state, nullptr), -1);
    EXPECT_EQ(McReaderRead(&state), -1);
    EXPECT_EQ(McReaderCleanup(&state), 0);
}

TEST(McReader, PlainDocumentPassesUnchanged)
{
    Walk w = Read("<a x=\"1\"><b>t</b><c/></a>");
    EXPECT_EQ(w.nodes, "<a x=1><b>'t'</b><c/></a>");
    EXPECT_EQ(w.last, 0);
    EXPECT_EQ(w.error, 0);
}

struct Case {
    const char* name;
    const char* xml;
    const char* nodes;
    int last;
    int error;
};

TEST(McReader, CompatibilityTable)
{
    const Case cases[] = {
        {"choice and fallback: only the fallback's children",
         "<r " MC_NS " xmlns:x=\"urn:x\"><mc:AlternateContent><mc:Choice Requires=\"x\"><x:new>N</x:new></mc:Choice>"
         "<mc:Fallback><old>O</old></mc:Fallback></mc:AlternateContent><z/></r>",
         "<r><old>'O'</old><z/></r>", 0, 0},
        {"alternate content without fallback delivers nothing",
         "<r " MC_NS " xmlns:x=\"urn:x\"><mc:AlternateContent><mc:Choice Requires=\"x\"><x:new>N</x:new>"
         "</mc:Choice></mc:AlternateContent><z/></r>",
         "<r><z/></r>", 0, 0},
        {"nested alternate content inside a fallback",
         "<r " MC_NS " xmlns:x=\"urn:x\"><mc:AlternateContent><mc:Choice Requires=\"x\"/><mc:Fallback>"
         "<mc:AlternateContent><mc:Choice Requires=\"x\">A</mc:Choice><mc:Fallback><in>B</in></mc:Fallback>"
         "</mc:AlternateContent></mc:Fallback></mc:AlternateContent></r>",
         "<r><in>'B'</in></r>", 0, 0},
        {"ignorable element dropped with its content",
         "<r " MC_NS " xmlns:w14=\"urn:w14\" mc:Ignorable=\"w14\"><w14:x><k>gone</k></w14:x><k>kept</k></r>",
         "<r><k>'kept'</k></r>", 0, 0},
        {"element ignorable by its own declaration",
         "<r " MC_NS "><w14:x xmlns:w14=\"urn:w14\" mc:Ignorable=\"w14\"><k>gone</k></w14:x><k>kept</k></r>",
         "<r><k>'kept'</k></r>", 0, 0},
        {"process content keeps the children",
         "<r " MC_NS " xmlns:v=\"urn:v\" mc:Ignorable=\"v\" mc:ProcessContent=\"v:box\">"
         "<v:box><k>in</k></v:box><v:other><k>out</k></v:other></r>",
         "<r><k>'in'</k></r>", 0, 0},
        {"ignorable attributes and mc attributes are hidden",
         "<r " MC_NS " xmlns:v=\"urn:v\" mc:Ignorable=\"v\"><k a=\"1\" v:b=\"2\"/></r>",
         "<r><k a=1/></r>", 0, 0},
        {"ignorable scope ends with its element",
         "<r " MC_NS " xmlns:v=\"urn:v\"><s mc:Ignorable=\"v\"><v:x/></s><v:y/></r>",
         "<r><s></s><v:y/></r>", 0, 0},
        {"choice requiring two prefixes fails",
         "<r " MC_NS " xmlns:x=\"urn:x\" xmlns:y=\"urn:y\"><mc:AlternateContent><mc:Choice Requires=\"x y\">"
         "A</mc:Choice></mc:AlternateContent><z/></r>",
         "<r>", -1, 1},
        {"choice without requires fails",
         "<r " MC_NS "><mc:AlternateContent><mc:Choice>A</mc:Choice></mc:AlternateContent></r>", "<r>", -1, 1},
        {"choice outside alternate content fails",
         "<r " MC_NS " xmlns:x=\"urn:x\"><mc:Choice Requires=\"x\">A</mc:Choice><z/></r>", "<r>", -1, 1},
        {"fallback nested too deep fails",
         "<r " MC_NS "><mc:AlternateContent><q><mc:Fallback>A</mc:Fallback></q></mc:AlternateContent></r>",
         "<r><q>", -1, 1},
        {"must understand fails with error 2",
         "<r " MC_NS " xmlns:x=\"urn:x\"><s mc:MustUnderstand=\"x\"/></r>", "<r>", -1, 2},
        {"malformed xml reports an error",
         "<r><a></r>", "", -1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Walk w = Read(c.xml);
        EXPECT_EQ(w.nodes, c.nodes);
        EXPECT_EQ(w.last, c.last);
        EXPECT_EQ(w.error, c.error);
    }
}

TEST(McReader, ErrorIsFinal)
{
    McReaderState state;
    const std::string xml = "<r " MC_NS "><mc:Choice/><a/><b/></r>";
    ASSERT_EQ(McReaderInit(&state, xmlReaderForMemory(xml.data(), int(xml.size()), nullptr, nullptr, 0)), 0);
    EXPECT_EQ(McReaderRead(&state), 1);
    EXPECT_EQ(McReaderRead(&state), -1);
    EXPECT_EQ(McReaderRead(&state), -1);
    EXPECT_EQ(McReaderNext(&state), -1);
    McReaderCleanup(&state);
}

TEST(McReader, PresentationExtensionListPassesUnprocessed)
{
    const std::string xml =
        "<p:sld " P_NS " " MC_NS " xmlns:v=\"urn:v\" mc:Ignorable=\"v\"><p:extLst><v:e mc:Ignorable=\"v\">"
        "<mc:AlternateContent/></v:e></p:extLst><v:gone/><t/></p:sld>";
    Walk w = Read(xml);
    EXPECT_EQ(w.nodes,
              "<p:sld><p:extLst><v:e mc:Ignorable=v><mc:AlternateContent/></v:e></p:extLst><t/></p:sld>");
    EXPECT_EQ(w.error, 0);
}

TEST(McReader, NextPassesSubtreesAndLeavesScopes)
{
    // Next over the extension list leaves its unprocessed state; Next over an
    // element that declared an ignorable namespace ends that declaration.
    const std::string xml =
        "<p:sld " P_NS " " MC_NS " xmlns:v=\"urn:v\"><p:extLst><v:e/></p:extLst>"
        "<s mc:Ignorable=\"v\"><v:x/></s><v:y/><mc:AlternateContent><mc:Fallback><f/></mc:Fallback>"
        "</mc:AlternateContent></p:sld>";
    Walk w1 = Read(xml, "p:extLst");
    EXPECT_EQ(w1.nodes, "<p:sld><p:extLst><s></s><v:y/><f/></p:sld>");
    Walk w2 = Read(xml, "s");
    EXPECT_EQ(w2.nodes, "<p:sld><p:extLst><v:e/></p:extLst><s><v:y/><f/></p:sld>");
    EXPECT_EQ(w2.error, 0);
}

TEST(McReader, DeepNestingEndsCleanly)
{
    std::string xml;
    for (int i = 0; i < 5000; ++i)
        xml += "<a>";
    for (int i = 0; i < 5000; ++i)
        xml += "</a>";
    Walk w = Read(xml);
    EXPECT_EQ(w.last, -1);
    EXPECT_EQ(w.error, 1);
}

}  // namespace
