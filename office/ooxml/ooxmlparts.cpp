#include "office/ooxml/ooxmlparts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>

#include "extract/codepage.h"
#include "office/excel/numformat.h"
#include "office/excel/numshown.h"
#include "platform/docfile.h"

namespace {

constexpr const char* kHeaderType = "application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml";
constexpr const char* kFooterType = "application/vnd.openxmlformats-officedocument.wordprocessingml.footer+xml";
constexpr const char* kFootnotesType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.footnotes+xml";
constexpr const char* kEndnotesType = "application/vnd.openxmlformats-officedocument.wordprocessingml.endnotes+xml";
constexpr const char* kCommentsType = "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml";
constexpr const char* kSlideMasterType =
    "application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml";
constexpr const char* kSlideLayoutType =
    "application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml";
constexpr const char* kSlideType = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
constexpr const char* kDiagramDataType = "application/vnd.openxmlformats-officedocument.drawingml.diagramData+xml";
constexpr const char* kSharedStringsType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr const char* kWorksheetType = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr const char* kStylesType = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr const char* kDrawingMainNs = "http://schemas.openxmlformats.org/drawingml/2006/main";
constexpr const char* kDocumentMainType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char* kDocumentMacroType = "application/vnd.ms-word.document.macroEnabled.main+xml";
constexpr const char* kDocumentTemplateType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
constexpr const char* kDocumentMacroTemplateType = "application/vnd.ms-word.template.macroEnabledTemplate.main+xml";

// A walk that stopped at one of the workbook's bounds (see kMaxWorkbookText)
// returns this: the bound has been noted, the part is not read to its end.
constexpr int kStoppedAtBound = 2;

const char* Str(const xmlChar* s)
{
    return reinterpret_cast<const char*>(s);
}

int NodeType(McReaderState* s)
{
    return xmlTextReaderNodeType(s->reader);
}

bool IsEmpty(McReaderState* s)
{
    return xmlTextReaderIsEmptyElement(s->reader) == 1;
}

bool LocalIs(McReaderState* s, const char* name)
{
    const xmlChar* l = xmlTextReaderConstLocalName(s->reader);
    return l && std::strcmp(Str(l), name) == 0;
}

bool NamespaceIs(McReaderState* s, const char* ns)
{
    const xmlChar* n = xmlTextReaderConstNamespaceUri(s->reader);
    return n && std::strcmp(Str(n), ns) == 0;
}

bool IsTextNode(int type)
{
    return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
           type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
}

std::u16string Utf8Text(const char* text)
{
    if (!text)
        return std::u16string();
    const size_t n = std::strlen(text);
    std::u16string out(n + 1, u'\0');
    size_t bytes = 0;
    Utf8ToUtf16(reinterpret_cast<const unsigned char*>(text), reinterpret_cast<const unsigned char*>(text) + n,
                out.data(), out.data() + out.size(), &bytes, 1);
    out.resize(bytes / 2);
    return out;
}

std::string Attribute(McReaderState* s, const char* name, bool* present = nullptr)
{
    xmlChar* v = xmlTextReaderGetAttribute(s->reader, reinterpret_cast<const xmlChar*>(name));
    if (present)
        *present = v != nullptr;
    if (!v)
        return std::string();
    std::string r = Str(v);
    xmlFree(v);
    return r;
}

// Calls onNode for each node inside the current element until its end tag.
// onNode returns the result of any walk it started (1 to go on).
int ForEachChild(McReaderState* s, const std::function<int()>& onNode)
{
    if (IsEmpty(s))
        return 1;
    const int depth = xmlTextReaderDepth(s->reader);
    while (true) {
        const int rc = McReaderRead(s);
        if (rc != 1)
            return rc;
        if (NodeType(s) == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(s->reader) <= depth)
            return 1;
        const int r = onNode();
        if (r != 1)
            return r;
    }
}

// Emits the text inside the current element (a "t").
int EmitTextChildren(McReaderState* s, CTextCollector* collector)
{
    return ForEachChild(s, [&]() {
        if (IsTextNode(NodeType(s)))
            EmitXmlText(s, collector);
        return 1;
    });
}

int WalkText(McReaderState* s, CTextCollector* collector, const char* ns)
{
    return ForEachChild(s, [&]() {
        if (NodeType(s) != XML_READER_TYPE_ELEMENT)
            return 1;
        const bool inNs = ns == nullptr || NamespaceIs(s, ns);
        if (inNs && LocalIs(s, "t"))
            return EmitTextChildren(s, collector);
        // A line break inside a drawing paragraph ("a:br") parts the words
        // around it.
        if (LocalIs(s, "br") && NamespaceIs(s, kDrawingMainNs)) {
            AppendLineEnd(collector);
            return WalkText(s, collector, ns);
        }
        if (inNs && LocalIs(s, "p")) {
            const int r = WalkText(s, collector, ns);
            AppendLineEnd(collector);
            return r;
        }
        return WalkText(s, collector, ns);
    });
}

// Opens a part, walks its root element with walk and closes it. The root is
// the first element (a declaration, document type, comments and processing
// instructions may come before it). False when the part cannot be opened or
// was not read to its end: a parse that stopped early, a walk that ended
// before the root's end tag, or a part the XML reader refused.
//
// XML that fails after the part began (broken markup, data cut short, a
// markup-compatibility structure out of place) is damage. A part stopped by
// a reading limit (markup longer, or nesting deeper, than the reader takes)
// or by the search's stop, one that needs a namespace this reader does not
// understand, and one whose entities are refused are not read without being
// damaged. Damage of the
// part's data (its ZIP entry) is noted by its stream.
bool ReadPart(OpcPackage* package, const char* name, const std::function<int(McReaderState*)>& walk)
{
    McReaderState state;
    if (PackageOpenPart(package, &state, name, nullptr, nullptr, 0) != 0)
        return false;
    int rc = McReaderRead(&state);
    while (rc == 1 && NodeType(&state) != XML_READER_TYPE_ELEMENT)
        rc = McReaderRead(&state);
    if (rc == 1) {
        const int walked = walk(&state);
        // The data ended inside the root (the XML reader reports such an end
        // as an error; this is the same end met without one).
        if (walked == 0 && !plat::ReadCancelled())
            plat::NoteDamage("구조가 끝나지 않음");
        rc = walked == 1 ? McReaderNext(&state) : -1;
        while (rc == 1)
            rc = McReaderRead(&state);
    }
    if (rc == -1 && state.error == MC_ERROR_STRUCTURE && !state.limitReached && !plat::ReadCancelled())
        plat::NoteDamage("XML 구조 손상");
    McReaderCleanup(&state);
    return rc == 0;
}

// Every part of the given type, in name order; false when one cannot be opened.
bool ReadPartsOfType(OpcPackage* package, const char* type, const std::function<int(McReaderState*)>& walk)
{
    for (const char* name = PackageFirstPart(package); name; name = PackageNextPart(package, name)) {
        const char* t = PackageGetPartType(package, name);
        if (t && std::strcmp(t, type) == 0 && !ReadPart(package, name, walk))
            return false;
    }
    return true;
}

const char* FirstPartOfType(OpcPackage* package, const char* type)
{
    for (const char* name = PackageFirstPart(package); name; name = PackageNextPart(package, name)) {
        const char* t = PackageGetPartType(package, name);
        if (t && std::strcmp(t, type) == 0)
            return name;
    }
    return nullptr;
}

// The last segment of a relationship type ("header" of
// "http://schemas.openxmlformats.org/officeDocument/2006/relationships/header"):
// the transitional and strict namespaces name the same kinds.
std::string RelationshipKind(const std::string& type)
{
    const size_t slash = type.rfind('/');
    return slash == std::string::npos ? type : type.substr(slash + 1);
}

// A kind of part a reader reads: its relationship kind (null: known by its
// type alone) and its content type (null: any type; the main part is read by
// its name).
struct WantedPart {
    const char* relationship;
    const char* contentType;
};

// The package's own damage as a reader of it sees it: no content types (the
// parts are typed by them); a part of a kind the reader reads that the
// package names (by a relationship or an Override) and does not hold; a part
// that a relationship names as one of these kinds and whose content type
// says otherwise, so that the reader would pass it by. Parts of other kinds
// (an internal hyperlink's target, a printer's settings) may be missing
// without a word of the document being lost.
void NoteMissingParts(OpcPackage* package, std::initializer_list<WantedPart> wanted)
{
    if (package->contentTypesSegment < 0)
        plat::NoteDamage("콘텐츠 형식 파트 없음");
    for (const OpcMissingPart& missing : package->missingParts) {
        const std::string kind = RelationshipKind(missing.relationshipType);
        for (const WantedPart& w : wanted) {
            if ((w.relationship && !missing.relationshipType.empty() && kind == w.relationship) ||
                (w.contentType && missing.contentType == w.contentType)) {
                plat::NoteDamage("참조된 파트 없음");
                return;
            }
        }
    }
    auto check = [&](const std::vector<OpcRelationship>& relationships) {
        for (const OpcRelationship& r : relationships) {
            if (r.external)
                continue;
            const std::string kind = RelationshipKind(r.type);
            for (const WantedPart& w : wanted) {
                if (!w.contentType || !w.relationship || kind != w.relationship)
                    continue;
                const char* type = PackageGetPartType(package, r.target.c_str());
                if (!type || std::strcmp(type, w.contentType) != 0)
                    return false;
            }
        }
        return true;
    };
    bool typed = check(package->packageRelationships);
    for (auto it = package->parts.begin(); typed && it != package->parts.end(); ++it)
        typed = check(it->second.relationships);
    if (!typed)
        plat::NoteDamage("콘텐츠 형식 불일치");
}

bool ParseInt(const std::string& s, int* out)
{
    if (s.empty())
        return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    return ec == std::errc() && p == s.data() + s.size();
}

// The styles part: custom number formats and the format of each cell style.
void ReadStyles(OpcPackage* package, XlsxStyles* styles)
{
    const char* name = FirstPartOfType(package, kStylesType);
    if (!name)
        return;
    // Styles only shape how numbers are shown: a styles part that fails
    // leaves the numbers as they stand, and ReadPart has noted its damage.
    ReadPart(package, name, [&](McReaderState* s) {
        std::function<int()> visit;
        bool inCellXfs = false;
        visit = [&]() -> int {
            if (NodeType(s) != XML_READER_TYPE_ELEMENT)
                return 1;
            if (LocalIs(s, "numFmt")) {
                // A format without a number is one no cell can name.
                int id = 0;
                if (ParseInt(Attribute(s, "numFmtId"), &id))
                    styles->codes.emplace_back(id, Utf8Text(Attribute(s, "formatCode").c_str()));
            } else if (LocalIs(s, "cellXfs")) {
                inCellXfs = true;
                const int r = ForEachChild(s, visit);
                inCellXfs = false;
                return r;
            } else if (LocalIs(s, "xf") && inCellXfs) {
                int id = 0;
                styles->cellFormats.push_back(ParseInt(Attribute(s, "numFmtId"), &id) ? id : 0);
                return ForEachChild(s, [] { return 1; });
            } else if (LocalIs(s, "cellStyleXfs") || LocalIs(s, "dxfs")) {
                return ForEachChild(s, [] { return 1; });
            }
            return ForEachChild(s, visit);
        };
        return ForEachChild(s, visit);
    });
}

// A workbook's text is bounded: a few shared strings referenced by many
// cells could otherwise multiply a small file into gigabytes of text.
constexpr size_t kMaxWorkbookText = size_t(64) << 20;  // characters

// Cell text past which a workbook is taken to be a large one (see
// GiveLargeWorkbookRoom).
constexpr size_t kLargeWorkbookText = size_t(4) << 20;  // characters

struct SheetContext {
    CTextCollector* collector;
    const std::vector<std::u16string>* table;
    const XlsxStyles* styles;
    size_t* emitted;    // characters of cell text so far
    bool* roomGiven;    // the output has had its room for a large workbook
};

// A workbook whose text has grown large gets room in its output for the rest
// of the bound at once. The text is then written once; growing by doubling,
// the string would copy it again at every step and touch fresh memory of
// about three times its final size, which costs far more than the reading
// itself. The room is address space only until written. When it cannot be
// had, the string grows as before.
void GiveLargeWorkbookRoom(const SheetContext& ctx)
{
    if (*ctx.roomGiven || *ctx.emitted < kLargeWorkbookText)
        return;
    *ctx.roomGiven = true;
    std::u16string* out = ctx.collector->GetOutput();
    if (!out)
        return;
    // Every cell adds a line end that the bound does not count.
    const size_t rest = kMaxWorkbookText - std::min(*ctx.emitted, kMaxWorkbookText);
    const size_t room = out->size() + rest + rest / 8 + 4096;
    try {
        if (out->capacity() < room)
            out->reserve(room);
    } catch (const std::bad_alloc&) {
        // Grown step by step instead.
    }
}

void AppendCellText(const SheetContext& ctx, const std::u16string& text)
{
    if (text.empty())
        return;
    if (*ctx.emitted >= kMaxWorkbookText) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return;
    }
    GiveLargeWorkbookRoom(ctx);
    const size_t n = std::min(text.size(), kMaxWorkbookText - *ctx.emitted);
    if (n < text.size())
        plat::NoteDamage("한도에 이르러 건너뜀");
    *ctx.emitted += n + 1;
    AppendTextToCollector(ctx.collector, text.c_str(), static_cast<int>(n), u"\t");
}

// A cell: its value (shared string, number through its format, or text) or
// its inline string, then a line end.
int WalkCell(McReaderState* s, const SheetContext& ctx)
{
    const std::string type = Attribute(s, "t");
    int style = -1;
    if (!ParseInt(Attribute(s, "s"), &style))
        style = -1;
    const int r = ForEachChild(s, [&]() -> int {
        if (NodeType(s) != XML_READER_TYPE_ELEMENT)
            return 1;
        if (LocalIs(s, "v")) {
            std::string value;
            const int rv = ForEachChild(s, [&]() {
                if (IsTextNode(NodeType(s))) {
                    const xmlChar* v = xmlTextReaderConstValue(s->reader);
                    if (v)
                        value += Str(v);
                }
                return 1;
            });
            if (value.empty())
                return rv;
            if (type == "s") {
                // A shared string the table does not hold: the table was cut
                // short, is missing, or the cell is damaged.
                int index = -1;
                if (ParseInt(value, &index) && index >= 0 && static_cast<size_t>(index) < ctx.table->size())
                    AppendCellText(ctx, (*ctx.table)[index]);
                else
                    plat::NoteDamage("공유 문자열이 표에 없음");
            } else if (type.empty() || type == "n") {
                AppendCellText(ctx, FormatXlsxNumber(value, style, *ctx.styles));
            } else if (type == "b" && (value == "0" || value == "1")) {
                AppendCellText(ctx, value == "1" ? u"TRUE" : u"FALSE");
            } else {
                AppendCellText(ctx, Utf8Text(value.c_str()));
            }
            return rv;
        }
        if (LocalIs(s, "is")) {
            // An inline string: the texts of its runs, joined.
            std::vector<std::u16string> one(1);
            const int ri = WalkSharedStrings(s, one);
            AppendCellText(ctx, one.back());
            return ri;
        }
        return ForEachChild(s, [] { return 1; });  // formulas and the rest give nothing
    });
    AppendLineEnd(ctx.collector);
    // Past the bound the rest of the workbook is not read.
    if (r == 1 && *ctx.emitted >= kMaxWorkbookText) {
        plat::NoteDamage("한도에 이르러 건너뜀");
        return kStoppedAtBound;
    }
    return r;
}

int WalkSheet(McReaderState* s, const SheetContext& ctx)
{
    return ForEachChild(s, [&]() {
        if (NodeType(s) != XML_READER_TYPE_ELEMENT)
            return 1;
        if (LocalIs(s, "c"))
            return WalkCell(s, ctx);
        return WalkSheet(s, ctx);
    });
}

int FormatIdOfStyle(int styleIndex, const XlsxStyles& styles)
{
    if (styleIndex < 0 || static_cast<size_t>(styleIndex) >= styles.cellFormats.size())
        return 0;
    return styles.cellFormats[styleIndex];
}

const std::u16string* CustomCode(int id, const XlsxStyles& styles)
{
    for (const auto& [fid, code] : styles.codes) {
        if (fid == id)
            return &code;
    }
    return nullptr;
}

bool HasTimeLetters(const std::u16string& format)
{
    bool quoted = false;
    for (char16_t c : format) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'h' || c == u'H' || c == u's' || c == u'S'))
            return true;
    }
    return false;
}

// A number shown as it stands (General): decimal fractions written with more than the
// 15 significant digits a spreadsheet shows (binary rounding noise such as
// 0.30000000000000004) are cut back to 15; integers and exponents stay.
std::u16string GeneralNumber(const std::string& value, double x)
{
    const std::u16string raw = Utf8Text(value.c_str());
    const bool exponent = value.find_first_of("eE") != std::string::npos;
    // A whole number written with a fraction or an exponent ("1014.0",
    // "1.5E3") shows as the integer it is, as in the binary workbooks.
    if ((exponent || value.find('.') != std::string::npos) && x == std::trunc(x) && std::fabs(x) < 1e16)
        return FormatGeneralNumber(x);
    if (exponent && std::fabs(x) < 1 && x != 0) {
        // A fraction written with an exponent by its producer, such as
        // 4.9999999999999975E-2: shown as 0.05 when that needs no exponent.
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 15);
        const std::string shown(buffer, end);
        if (ec == std::errc() && shown.find('e') == std::string::npos)
            return Utf8Text(shown.c_str());
        return raw;
    }
    if (exponent || value.find('.') == std::string::npos)
        return raw;
    int significant = 0;
    bool leading = true;
    for (char c : value) {
        if (c < '0' || c > '9')
            continue;
        if (leading && c == '0')
            continue;
        leading = false;
        ++significant;
    }
    if (significant <= 15)
        return raw;
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 15);
    if (ec != std::errc())
        return raw;
    const std::string shown(buffer, end);
    if (shown.find('e') != std::string::npos)
        return raw;
    return Utf8Text(shown.c_str());
}

// "General" or "@" alone: the number as it stands.
bool IsGeneralCode(const std::u16string& code)
{
    if (code == u"@")
        return true;
    static const char16_t kGeneral[] = u"general";
    if (code.size() != 7)
        return false;
    for (size_t i = 0; i < 7; ++i) {
        char16_t c = code[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kGeneral[i])
            return false;
    }
    return true;
}

}  // namespace

void EmitXmlText(McReaderState* state, CTextCollector* collector)
{
    const xmlChar* v = xmlTextReaderConstValue(state->reader);
    if (!v)
        return;
    const std::u16string text = Utf8Text(Str(v));
    if (!text.empty())
        AppendTextToCollector(collector, text.c_str(), static_cast<int>(text.size()), nullptr);
}

void AppendLineEnd(CTextCollector* collector)
{
    char16_t* buffer = collector->GetBuffer(2);
    if (!buffer)
        return;
    buffer[0] = u'\n';
    buffer[1] = 0;
    collector->CommitText(0, 1);
}

int WalkTextElements(McReaderState* state, CTextCollector* collector)
{
    return WalkText(state, collector, nullptr);
}

int WalkDrawingTextElements(McReaderState* state, CTextCollector* collector)
{
    return WalkText(state, collector, kDrawingMainNs);
}

namespace {

// The shared-string table is bounded like the workbook's text: each string
// counts its characters and a little for itself.
int WalkStrings(McReaderState* s, std::vector<std::u16string>& table, size_t& budget)
{
    return ForEachChild(s, [&]() {
        if (NodeType(s) != XML_READER_TYPE_ELEMENT)
            return 1;
        if (LocalIs(s, "si")) {
            if (budget < 16) {
                plat::NoteDamage("한도에 이르러 건너뜀");
                return kStoppedAtBound;
            }
            budget -= 16;
            table.emplace_back();
            return WalkStrings(s, table, budget);
        }
        if (LocalIs(s, "t")) {
            return ForEachChild(s, [&]() {
                // A text before the first string of the table is out of
                // place: it belongs to no string.
                if (IsTextNode(NodeType(s)) && table.empty())
                    plat::NoteDamage("XML 구조 손상");
                if (IsTextNode(NodeType(s)) && !table.empty()) {
                    std::u16string text = Utf8Text(Str(xmlTextReaderConstValue(s->reader)));
                    if (text.size() > budget) {
                        plat::NoteDamage("한도에 이르러 건너뜀");
                        text.resize(budget);
                    }
                    budget -= text.size();
                    table.back() += text;
                }
                return 1;
            });
        }
        return WalkStrings(s, table, budget);
    });
}

}  // namespace

int WalkSharedStrings(McReaderState* s, std::vector<std::u16string>& table)
{
    size_t budget = kMaxWorkbookText;
    return WalkStrings(s, table, budget);
}

std::u16string FormatXlsxNumber(const std::string& value, int styleIndex, const XlsxStyles& styles)
{
    const std::u16string raw = Utf8Text(value.c_str());
    double x = 0;
    auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), x);
    if (ec != std::errc() || p != value.data() + value.size() || !std::isfinite(x))
        return raw;
    const int id = FormatIdOfStyle(styleIndex, styles);
    const std::u16string* code = CustomCode(id, styles);
    if (code) {
        if (IsDateFormatPattern(*code)) {
            const double v = HasTimeLetters(*code) ? x : std::trunc(x);
            if (x < 0 || (v == 0 && !HasTimeLetters(*code)))
                return raw;
            return FormatNumberByPattern(v, *code);
        }
        if (IsDigitMaskPattern(*code))
            return FormatNumberByPattern(x, *code);
        if (IsGeneralCode(*code))
            return GeneralNumber(value, x);
        return FormatNumberByPattern(x, *code);
    }
    if (IsBuiltinDateFormat(id)) {
        const bool dateOnly = id >= 14 && id <= 17;
        if (x < 0 || (dateOnly && std::trunc(x) == 0))
            return raw;
        return FormatNumberByBuiltinFormat(dateOnly ? std::trunc(x) : x, id);
    }
    // Grouped, decimal, percent, scientific and fraction formats as the
    // workbook shows them.
    if (!BuiltinNumberFormatCode(id).empty())
        return FormatNumberByBuiltinFormat(x, id);
    return GeneralNumber(value, x);
}

int ReadDocxParts(OpcPackage* package, CTextCollector* collector)
{
    if (!PackageFirstPart(package))
        return 0;
    NoteMissingParts(package, {{"officeDocument", nullptr},
                               {nullptr, kDocumentMainType},
                               {nullptr, kDocumentMacroType},
                               {nullptr, kDocumentTemplateType},
                               {nullptr, kDocumentMacroTemplateType},
                               {"header", kHeaderType},
                               {"footer", kFooterType},
                               {"footnotes", kFootnotesType},
                               {"endnotes", kEndnotesType},
                               {"comments", kCommentsType}});
    auto walk = [collector](McReaderState* s) { return WalkTextElements(s, collector); };
    if (!ReadPart(package, "/word/document.xml", walk))
        return 0;
    for (const char* name = PackageFirstPart(package); name; name = PackageNextPart(package, name)) {
        // A part without a type is none of the stories read here (a
        // package without content types has noted that).
        const char* t = PackageGetPartType(package, name);
        if (!t)
            continue;
        if (std::strcmp(t, kHeaderType) == 0 || std::strcmp(t, kFooterType) == 0 ||
            std::strcmp(t, kFootnotesType) == 0 || std::strcmp(t, kEndnotesType) == 0 ||
            std::strcmp(t, kCommentsType) == 0) {
            if (!ReadPart(package, name, walk))
                return 0;
        }
    }
    return 1;
}

int ReadPptxParts(OpcPackage* package, CTextCollector* collector)
{
    if (!PackageFirstPart(package))
        return 0;
    // The presentation part holds no text of its own; it names the slides.
    NoteMissingParts(package, {{"officeDocument", nullptr},
                               {"slide", kSlideType},
                               {"slideMaster", kSlideMasterType},
                               {"slideLayout", kSlideLayoutType},
                               {"diagramData", kDiagramDataType}});
    auto walk = [collector](McReaderState* s) { return WalkTextElements(s, collector); };
    if (!ReadPartsOfType(package, kSlideMasterType, walk) || !ReadPartsOfType(package, kSlideLayoutType, walk) ||
        !ReadPartsOfType(package, kSlideType, walk))
        return 0;
    auto diagram = [collector](McReaderState* s) { return WalkDrawingTextElements(s, collector); };
    if (!ReadPartsOfType(package, kDiagramDataType, diagram))
        return 0;
    return 1;
}

int ReadXlsxParts(OpcPackage* package, CTextCollector* collector, std::vector<std::u16string>& sharedStrings)
{
    if (!PackageFirstPart(package))
        return 0;
    // The workbook part holds no cell text; it names the sheets.
    NoteMissingParts(package, {{"officeDocument", nullptr},
                               {"worksheet", kWorksheetType},
                               {"sharedStrings", kSharedStringsType},
                               {"styles", kStylesType}});
    if (const char* name = FirstPartOfType(package, kSharedStringsType)) {
        if (!ReadPart(package, name, [&](McReaderState* s) { return WalkSharedStrings(s, sharedStrings); }))
            return 0;
    }
    XlsxStyles styles;
    ReadStyles(package, &styles);
    size_t emitted = 0;
    bool roomGiven = false;
    const SheetContext ctx{collector, &sharedStrings, &styles, &emitted, &roomGiven};
    for (const char* name = PackageFirstPart(package); name && emitted < kMaxWorkbookText;
         name = PackageNextPart(package, name)) {
        const char* t = PackageGetPartType(package, name);
        if (t && std::strcmp(t, kWorksheetType) == 0 &&
            !ReadPart(package, name, [&](McReaderState* s) { return WalkSheet(s, ctx); }))
            return 0;
    }
    return 1;
}
