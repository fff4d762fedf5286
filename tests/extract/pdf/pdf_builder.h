// Builds small PDF files from text for the PDF tests: numbered objects, a
// correct cross-reference table and trailer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pdf_test {

class PdfBuilder {
public:
    // Adds an object body ("<< ... >>"); returns its number (from 1).
    int Add(const std::string& body)
    {
        objects_.push_back(body);
        return static_cast<int>(objects_.size());
    }
    // Reserves a number to be filled later with Set.
    int Reserve() { return Add(std::string()); }
    void Set(int number, const std::string& body) { objects_[number - 1] = body; }

    // A stream object of the given dictionary entries and data.
    int AddStream(const std::string& data, const std::string& entries = std::string())
    {
        return Add("<< /Length " + std::to_string(data.size()) + entries + " >>\nstream\n" + data +
                   "\nendstream");
    }

    std::string Build(int root) const
    {
        std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        std::vector<size_t> offsets;
        for (size_t i = 0; i < objects_.size(); ++i) {
            offsets.push_back(out.size());
            out += std::to_string(i + 1) + " 0 obj\n" + objects_[i] + "\nendobj\n";
        }
        const size_t xref = out.size();
        out += "xref\n0 " + std::to_string(objects_.size() + 1) + "\n0000000000 65535 f \n";
        for (size_t off : offsets) {
            char line[32];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(objects_.size() + 1) + " /Root " +
               std::to_string(root) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

private:
    std::vector<std::string> objects_;
};

inline std::string Ref(int number)
{
    return std::to_string(number) + " 0 R";
}

// A content stream that shows each line with Helvetica, one under the other.
inline std::string ShowLines(const std::vector<std::string>& lines)
{
    std::string s = "BT /F1 12 Tf 72 720 Td 16 TL\n";
    for (const std::string& l : lines)
        s += "(" + l + ") Tj T*\n";
    return s + "ET";
}

// A document of pages given by their content streams. A content of "@missing"
// puts a reference to an object that does not exist into the page tree.
inline std::string MakePdf(const std::vector<std::string>& contents,
                           const std::string& extraFontResources = std::string())
{
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    std::string kids;
    for (const std::string& c : contents) {
        if (c == "@missing") {
            kids += " 999 0 R";
            continue;
        }
        const int content = b.AddStream(c);
        const int page = b.Add("<< /Type /Page /Parent " + Ref(pages) +
                               " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " + Ref(font) +
                               extraFontResources + " >> >> /Contents " + Ref(content) + " >>");
        kids += " " + Ref(page);
    }
    b.Set(catalog, "<< /Type /Catalog /Pages " + Ref(pages) + " >>");
    b.Set(pages, "<< /Type /Pages /Kids [" + kids + " ] /Count " + std::to_string(contents.size()) + " >>");
    return b.Build(catalog);
}

}  // namespace pdf_test
