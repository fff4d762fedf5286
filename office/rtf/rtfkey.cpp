#include "office/rtf/rtfkey.h"

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>

#include "office/rtf/rtfstatus.h"

namespace {

// How one table is written down: every name gets the table's default kind and
// value unless it appears in one of the override lists.
struct Override {
    const char* name;
    int kind;
    int value;
};

struct Table {
    std::vector<RtfKeyEntry> entries;
    int slots = 0;
};

// Names listed in `shared` take the slot of the name they are paired with.
Table BuildTable(int category, std::initializer_list<const char*> names, int defaultKind, int defaultValue,
                 std::initializer_list<Override> overrides = {},
                 std::initializer_list<std::pair<const char*, const char*>> shared = {})
{
    Table t;
    std::map<std::string, int> slotOf;
    for (const char* name : names) {
        int kind = defaultKind;
        int value = defaultValue;
        for (const Override& o : overrides) {
            if (!std::strcmp(o.name, name)) {
                kind = o.kind;
                value = o.value;
            }
        }
        int field = -1;
        const char* sharesWith = nullptr;
        for (const auto& s : shared) {
            if (!std::strcmp(s.first, name))
                sharesWith = s.second;
        }
        if (kind == kRtfText) {
            field = -1;
        } else if (sharesWith && slotOf.count(sharesWith)) {
            field = slotOf[sharesWith];
        } else if (kind == kRtfBorder) {
            field = t.slots;
            t.slots += kRtfBorderSlots;
        } else if (category == kRtfCatInfo && kind == kRtfDestination) {
            field = -1;  // a wide string of the reader's information record
        } else {
            field = t.slots++;
        }
        slotOf[name] = field;
        t.entries.push_back({category, field, kind, name, value});
    }
    return t;
}

const std::map<int, Table>& Tables()
{
    static const std::map<int, Table> tables = [] {
        std::map<int, Table> m;
        m[kRtfCatBorder] = BuildTable(
            kRtfCatBorder,
            {"brdrs", "brdrth", "brdrsh", "brdrdb", "brdrdot", "brdrdash", "brdrhair", "brdrdashsm", "brdrdashd",
             "brdrdashdd", "brdrtriple", "brdrtnthsg", "brdrthtnsg", "brdrtnthtnsg", "brdrtnthmg", "brdrthtnmg",
             "brdrtnthtnmg", "brdrtnthlg", "brdrthtnlg", "brdrtnthtnlg", "brdrwavy", "brdrwavydb", "brdrdashdotstr",
             "brdremboss", "brdrengrave", "brdroutset", "brdrinset", "brdrw", "brsp", "brdrcf"},
            kRtfInteger, -1);
        m[kRtfCatParagraph] = BuildTable(
            kRtfCatParagraph,
            {"pard",     "s",        "hyphpar",  "intbl",  "keep",     "nowidctlpar", "widctlpar", "keepn",
             "level",    "noline",   "outlinelevel", "pagebb", "nowwrap", "ql",        "qr",        "qj",
             "qc",       "qd",       "fi",       "li",     "ri",       "sb",          "sa",        "sl",
             "slmult",   "subdocument", "nosnaplinegrid", "rtlpar", "ltrpar", "brdrt", "brdrb",   "brdrl",
             "brdrr",    "brdrbtw",  "brdrbar",  "box",    "shading",  "cfpat",       "cbpat",     "bghoriz",
             "bgvert",   "bgfdiag",  "bgbdiag",  "bgcross", "bgdcross", "bgdkhoriz",  "bgdkvert",  "bgdkfdiag",
             "bgdkbdiag", "bgdkcross", "bgdkdcross"},
            kRtfInteger, -1,
            {{"intbl", kRtfInteger, 0}, {"fi", kRtfInteger, 0}, {"li", kRtfInteger, 0}, {"ri", kRtfInteger, 0},
             {"sb", kRtfInteger, 0}, {"sa", kRtfInteger, 0}, {"sl", kRtfInteger, 0}, {"slmult", kRtfInteger, 0},
             {"brdrt", kRtfBorder, 0}, {"brdrb", kRtfBorder, 0}, {"brdrl", kRtfBorder, 0},
             {"brdrr", kRtfBorder, 0}, {"brdrbtw", kRtfBorder, 0}, {"brdrbar", kRtfBorder, 0},
             {"box", kRtfBorder, 0}});
        m[kRtfCatFrame] = BuildTable(
            kRtfCatFrame,
            {"absw", "absh", "phmrg", "phpg", "phcol", "posx", "posnegx", "posxc", "posxi", "posxo",
             "posxl", "posxr", "pvmrg", "pvpg", "pvpara", "posy", "posnegy", "posyt", "posyil", "posyb",
             "posyc", "abslock", "nowrap", "dxfrtext", "dfrmtxtx", "dfrmtxty", "dropcapli", "dropcapt"},
            kRtfInteger, -1);
        m[kRtfCatTab] = BuildTable(kRtfCatTab,
                                   {"ldot", "lhyph", "lul", "lth", "leq", "ktqr", "ktqc", "ktqdec", "tx", "tb"},
                                   kRtfInteger, -1);
        m[kRtfCatCharacter] = BuildTable(
            kRtfCatCharacter,
            {"plain",     "animtext",   "b",          "caps",      "charscalex", "deleted",   "dn",
             "embo",      "impr",       "sub",        "nosupersub", "expnd",     "expndtw",   "kerning",
             "f",         "fs",         "i",          "outl",      "scaps",      "shad",      "strike",
             "striked",   "ul",         "uld",        "uldash",    "uldashd",    "uldashdd",  "uldb",
             "ulnone",    "ulth",       "ulw",        "ulwave",    "ulthd",      "ulthdash",  "ulldash",
             "ulthldash", "ulthdashd",  "ulthdashdd", "ulhwave",   "ululdbwave", "up",        "super",
             "v",         "cf",         "cb",         "rtlch",     "ltrch",      "cs",        "cchs",
             "lang",      "accdot",     "acccomma",   "chbrdr",    "chshdng",    "chcfpat",   "chcbpat",
             "chbghoriz", "chbgvert",   "chbgfdiag",  "chbgcross", "chbgdcross", "chbgdkhoriz", "chbgdkvert",
             "chbgdkfdiag", "chbgdkbdiag", "chbgdkcross", "chbgdkdcross"},
            kRtfInteger, -1,
            {{"b", kRtfFlag, 0}, {"embo", kRtfFlag, -1}, {"impr", kRtfFlag, -1}, {"sub", kRtfFlag, -1},
             {"nosupersub", kRtfFlag, -1}, {"i", kRtfFlag, -1}, {"outl", kRtfFlag, -1},
             {"expnd", kRtfInteger, 0}, {"cf", kRtfInteger, 0}, {"cb", kRtfInteger, 0},
             {"chbrdr", kRtfBorder, 0}});
        m[kRtfCatInfo] = BuildTable(
            kRtfCatInfo,
            {"title", "subject", "author", "manager", "company", "operator", "category", "keywords", "comment",
             "version", "doccomm", "hlinkbase", "vern", "edmins", "id", "nofwords", "nofchars", "nofcharsws",
             "nofpages", "creatim", "revtim", "printim", "buptim"},
            kRtfInteger, -1,
            {{"title", kRtfDestination, 0}, {"subject", kRtfDestination, 0}, {"author", kRtfDestination, 0},
             {"manager", kRtfDestination, 0}, {"company", kRtfDestination, 0}, {"operator", kRtfDestination, 0},
             {"category", kRtfDestination, 0}, {"keywords", kRtfDestination, 0}, {"comment", kRtfDestination, 0},
             {"doccomm", kRtfDestination, 0}, {"hlinkbase", kRtfDestination, 0}, {"creatim", kRtfDate, 0},
             {"revtim", kRtfDate, 0}, {"printim", kRtfDate, 0}, {"buptim", kRtfDate, 0}});
        m[kRtfCatDocument] = BuildTable(
            kRtfCatDocument,
            {"deftab",     "hyphhotz",   "hyphconsec",  "hyphcaps",    "hyphauto",    "linestart",  "fracwidth",
             "nextfile",   "doctemplate", "makebackup", "defformat",   "psover",      "doctemp",    "deflang",
             "deflangfe",  "windowcaption", "doctype",  "fromtext",    "viewkind",    "viewscale",  "viewzk",
             "docprivate", "fet",        "ftnsep",      "ftnsepc",     "ftncn",       "endnotes",   "enddoc",
             "ftntj",      "ftnbj",      "aendnotes",   "aenddoc",     "aftnbj",      "aftntj",     "ftnstart",
             "aftnstart",  "ftnrstpg",   "ftnrestart",  "ftnrstcont",  "aftnrestart", "aftnrstcont", "ftnnar",
             "ftnnalc",    "ftnnauc",    "ftnnrlc",     "ftnnruc",     "ftnnchi",     "ftnnchosung", "ftnnganada",
             "aftnnar",    "aftnnalc",   "aftnnauc",    "aftnnrlc",    "aftnnruc",    "aftnnchi",   "aftnnchosung",
             "aftnnganada", "paperw",    "paperh",      "psz",         "margl",       "margr",      "margt",
             "margb",      "facingp",    "margmirror",  "landscape",   "pgnstart",    "widowctrl",  "linkstyles",
             "notabind",   "wraptrsp",   "prcolbl",     "noextrasprl", "nocolbal",    "cvmme",      "sprstsp",
             "sprsspbf",   "otblrul",    "transmf",     "swpbdr",      "brkfrm",      "sprslnsp",   "subfontbysize",
             "truncatefontheight", "truncex", "bdbfhdr", "dntblnsbdb", "expshrtn",    "lytexcttp",  "lytprtmet",
             "msmcap",     "nolead",     "nospaceforul", "noultrlspc", "noxlattoyen", "oldlinewrap", "sprsbsp",
             "sprstsm",    "wpjst",      "wpsp",        "wptab",       "formprot",    "allprot",    "formshade",
             "formdisp",   "printdata",  "revprot",     "revisions",   "revprop",     "revbar",     "annotprot",
             "rtldoc",     "ltrdoc",     "pgbrdrhead",  "pgbrdrfoot",  "pgbrdrt",     "pgbrdrb",    "pgbrdrl",
             "pgbrdrr",    "brdrart",    "pgbrdropt",   "pgbrdrsnap",  "gutter",      "_null",      "_null"},
            kRtfInteger, -1,
            {{"margl", kRtfInteger, 0}, {"margr", kRtfInteger, 0}, {"margt", kRtfInteger, 0},
             {"margb", kRtfInteger, 0}});
        m[kRtfCatSection] = BuildTable(
            kRtfCatSection,
            {"sectd",      "endnhere",   "sectlinegrid", "binsxn",    "sectspecifyl", "psz",       "ds",
             "pnseclvl",   "sectunlocked", "sbknone",    "sbkcol",    "sbkpage",     "sbkeven",   "sbkodd",
             "cols",       "colsx",      "colno",       "colsr",     "colw",        "linebetcol", "linemod",
             "linex",      "linestarts", "linerestart", "lineppage", "linecont",    "pgwsxn",    "pghsxn",
             "marglsxn",   "margrsxn",   "margtsxn",    "margbsxn",  "guttersxn",   "margmirsxn", "lndscpsxn",
             "titlepg",    "headery",    "footery",     "pgnstarts", "pgncont",     "pgnrestart", "pgnx",
             "pgny",       "pgndex",     "pgnucrm",     "pgnlcrm",   "pgnucltr",    "pgnlcltr",  "pgnhn",
             "pgnhnsh",    "pgnhnsp",    "pgnhnsc",     "pgnhnsm",   "pgnhnsn",     "vertalt",   "vertalb",
             "vertalc",    "vertalj",    "rtlsect",     "ltrsect",   "stextflow",   "pgbrdrhead", "pgbrdrfoot",
             "pgbrdrt",    "pgbrdrb",    "pgbrdrl",     "pgbrdrr",   "brdrart",     "pgbrdropt", "pgbrdrsnap"},
            kRtfInteger, -1,
            {{"pgwsxn", kRtfInteger, 0}, {"pghsxn", kRtfInteger, 0}, {"marglsxn", kRtfInteger, 0},
             {"margrsxn", kRtfInteger, 0}, {"margtsxn", kRtfInteger, 0}, {"margbsxn", kRtfInteger, 0},
             {"headery", kRtfInteger, -32768}, {"footery", kRtfInteger, -32768}});
        m[kRtfCatHeaderFooter] = BuildTable(
            kRtfCatHeaderFooter, {"header", "footer", "headerl", "headerr", "headerf", "footerl", "footerr", "footerf"},
            kRtfDestination, 0);
        m[kRtfCatFont] = BuildTable(
            kRtfCatFont,
            {"_fontname", "fnil", "froman", "fswiss", "fmodern", "fscript", "fdecor", "ftech", "fbidi", "f", "cpg",
             "fcharset", "fprq", "nfont", "lang"},
            kRtfInteger, -1,
            {{"_fontname", kRtfText, kRtfTextWidth}, {"fnil", kRtfDestination, 0}, {"froman", kRtfDestination, 0},
             {"fswiss", kRtfDestination, 0}, {"fmodern", kRtfDestination, 0}, {"fscript", kRtfDestination, 0},
             {"fdecor", kRtfDestination, 0}, {"ftech", kRtfDestination, 0}, {"fbidi", kRtfDestination, 0}},
            {{"froman", "fnil"}, {"fswiss", "fnil"}, {"fmodern", "fnil"}, {"fscript", "fnil"}, {"fdecor", "fnil"},
             {"ftech", "fnil"}, {"fbidi", "fnil"}});
        m[kRtfCatColor] = BuildTable(kRtfCatColor, {"red", "green", "blue"}, kRtfInteger, 0);
        m[kRtfCatStyle] = BuildTable(
            kRtfCatStyle, {"_stylename", "s", "sbasedon", "snext", "fmodern", "additive", "sautoupd", "shidden"},
            kRtfInteger, -1, {{"_stylename", kRtfText, kRtfTextWidth}});
        m[kRtfCatTableRow] = BuildTable(
            kRtfCatTableRow,
            {"trowd", "tcelld", "trgaph", "trql", "trqr", "trqc", "trleft", "trrh", "trhdr", "trkeep", "lastrow",
             "rtlrow", "ltrrow", "trbrdrt", "trbrdrl", "trbrdrb", "trbrdrr", "trbrdrh", "trbrdrv"},
            kRtfInteger, -1,
            {{"trbrdrt", kRtfBorder, 0}, {"trbrdrl", kRtfBorder, 0}, {"trbrdrb", kRtfBorder, 0},
             {"trbrdrr", kRtfBorder, 0}, {"trbrdrh", kRtfBorder, 0}, {"trbrdrv", kRtfBorder, 0}});
        m[kRtfCatPicture] = BuildTable(
            kRtfCatPicture,
            {"pict",     "emfblip",  "pngblip",  "jpegblip", "macpict",  "pmmetafile", "wmetafile", "dibitmap",
             "wbitmap",  "wbmbitspixel", "wbmplanes", "wbmwidthbytes", "picw", "pich", "picwGoal", "pichGoal",
             "picwgoal", "pichgoal", "picscalex", "picscaley", "picscaled", "piccropt", "piccropb", "piccropr",
             "piccropl", "picbmp",   "picbpp",   "bin",      "width",    "height",     "NeXTGraphic"},
            kRtfInteger, 0,
            {{"emfblip", kRtfInteger, -1}, {"pngblip", kRtfInteger, -1}, {"jpegblip", kRtfInteger, -1},
             {"macpict", kRtfInteger, -1}, {"pmmetafile", kRtfInteger, -1}, {"wmetafile", kRtfInteger, -1},
             {"dibitmap", kRtfInteger, -1}, {"wbitmap", kRtfInteger, -1}, {"bin", kRtfFlag, 0}},
            {{"picwgoal", "picwGoal"}, {"pichgoal", "pichGoal"}});
        m[kRtfCatTableCell] = BuildTable(
            kRtfCatTableCell,
            {"cellx",     "clmgf",      "clmrg",       "clvmgf",     "clvmrg",      "clbrdrb",    "clbrdrt",
             "clbrdrl",   "clbrdrr",    "clshdng",     "clcfpat",    "clcbpat",     "clbghoriz",  "clbgvert",
             "clbgfdiag", "clbgbdiag",  "clbgcross",   "clbgdcross", "clbgdkhor",   "clbgdkvert", "clbgdkfdiag",
             "clbgdkbdiag", "clbgdkcross", "clbgdkdcross", "clvertalt", "clvertalc", "clvertalb",  "cltxlrtb",
             "cltxtbrl"},
            kRtfInteger, -1,
            {{"clbrdrb", kRtfBorder, 0}, {"clbrdrt", kRtfBorder, 0}, {"clbrdrl", kRtfBorder, 0},
             {"clbrdrr", kRtfBorder, 0}});
        m[kRtfCatObject] = BuildTable(
            kRtfCatObject,
            {"objemb",   "objlink",  "objautlink", "objsub",   "objpub",    "objicemb", "objhtml",  "objocx",
             "linkself", "objlock",  "objupdate",  "objclass", "objname",   "objtime",  "objh",     "objw",
             "objsetsize", "objalign", "objtransy", "objcropt", "objcropb", "objcropl", "objcropr", "objscalex",
             "objscaley", "objdata", "objalias",   "objsect",  "rsltrtf",   "rsltpict", "rsltbmp",  "rslttxt",
             "rsltmerge", "result",  "objattph"},
            kRtfInteger, 0);
        m[kRtfCatSpecial] = BuildTable(
            kRtfCatSpecial,
            {"par", "line", "sect", "page", "column", "tab", "emdash", "endash", "bullet", "lquote", "rquote",
             "rdblquote", "ldblquote", "ltrmark", "rtlmark", "zwj", "zwnj"},
            kRtfDestination, 0);
        m[kRtfCatUnicode] = BuildTable(kRtfCatUnicode, {"u", "uc"}, kRtfInteger, 0);
        m[kRtfCatList] = BuildTable(
            kRtfCatList,
            {"list", "listtemplateid", "listhybrid", "listlevel", "levelstartat", "levelnfc", "leveljc", "levelnfcn",
             "leveljcn", "levelindent", "levelspace", "leveltext", "levelnumbers"},
            kRtfInteger, -1);
        return m;
    }();
    return tables;
}

const Table* FindTable(int category)
{
    const auto& tables = Tables();
    auto it = tables.find(category);
    return it == tables.end() ? nullptr : &it->second;
}

// Words are compared byte by byte, case-sensitive; the word matches only when
// it ends where the name ends.
bool NameMatches(const char* word, const char* name)
{
    if (!word || !*word)
        return false;
    // Only control words (a letter or the reader's "_" names first) take part.
    unsigned char first = static_cast<unsigned char>(word[0]);
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_'))
        return false;
    return std::strcmp(word, name) == 0;
}

}  // namespace

const std::vector<RtfKeyEntry>& CRTFKey::Entries(int category)
{
    static const std::vector<RtfKeyEntry> none;
    const Table* t = FindTable(category);
    return t ? t->entries : none;
}

int CRTFKey::SlotCount(int category)
{
    const Table* t = FindTable(category);
    return t ? t->slots : 0;
}

const RtfKeyEntry* CRTFKey::Lookup(int category, const char* word) const
{
    const Table* t = FindTable(category);
    if (!t)
        return nullptr;
    for (const RtfKeyEntry& e : t->entries) {
        if (NameMatches(word, e.name))
            return &e;
    }
    return nullptr;
}

void CRTFKey::LoadDefaults(int category, RtfPropRecord& record) const
{
    const Table* t = FindTable(category);
    if (!t || category == kRtfCatHeaderFooter)
        return;
    if (record.slots.size() < static_cast<size_t>(t->slots))
        record.slots.resize(t->slots, 0);
    const bool flagsToo = category == kRtfCatParagraph || category == kRtfCatCharacter ||
                          category == kRtfCatTableRow || category == kRtfCatPicture ||
                          category == kRtfCatTableCell;
    for (const RtfKeyEntry& e : t->entries) {
        if (e.field < 0)
            continue;
        if (e.valueKind == kRtfInteger || (flagsToo && e.valueKind == kRtfFlag))
            record.slots[e.field] = e.defaultValue;
    }
    if (category == kRtfCatFont)
        record.text[0] = 0;
}

int CRTFKey::Apply(const RtfKeyEntry& entry, RtfPropRecord* record, const RtfToken* token) const
{
    if (!record || !token)
        return 0;
    switch (entry.valueKind) {
    case kRtfText: {
        // The field keeps a property's short name, never document text: a
        // longer one is cut, and no text read changes.
        int n = token->length;
        if (n > kRtfTextWidth - 1)
            n = kRtfTextWidth - 1;
        if (n < 0 || !token->text)
            n = 0;
        if (n)
            std::memcpy(record->text, token->text, n);
        record->text[n] = 0;
        return 1;
    }
    case kRtfInteger:
    case kRtfFlag:
        if (entry.field < 0)
            return 0;
        if (record->slots.size() <= static_cast<size_t>(entry.field))
            record->slots.resize(entry.field + 1, 0);
        record->slots[entry.field] = entry.valueKind == kRtfFlag ? (token->param == 1 ? 1 : 0) : token->param;
        return 1;
    default:
        return 0;
    }
}
