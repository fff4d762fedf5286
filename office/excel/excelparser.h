// CIExcelParser reads an Excel 95 (BIFF5, stream "Book") or Excel 97-2003
// (BIFF8, stream "Workbook") workbook and writes the text of its cells to a
// text collector, record by record in stream order: a caption per sheet, text
// cells, numbers rendered through their cell formats, formula results.
//
//   CTextCollector collector;  collector.SetOutput(&text);
//   CIExcelParser reader(&collector, 0);
//   int ok = reader.Convert(path);  // 1 read, 0 not a workbook or encrypted
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "extract/io/h2s_storage.h"
#include "office/drawing/blipstore.h"

class CTextCollector;

constexpr std::uint32_t kBiff8 = 0x8000;
constexpr std::uint32_t kBiff5 = 0x5000;

// Bounded little-endian reads over one record body; a read past the end
// gives 0 (or fewer bytes), leaves the position at the end and marks the
// record short: its fields claim more than its length holds.
class CExcelRecord {
public:
    CExcelRecord(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    double F64();
    // Up to n bytes (fewer at the end).
    std::string Bytes(std::size_t n);
    void Skip(std::size_t n)
    {
        if (n > Remaining())
            m_short = true;
        m_pos = n > Remaining() ? m_size : m_pos + n;
    }
    std::size_t Remaining() const { return m_size - m_pos; }
    // A read ran past the end of the body.
    bool Short() const { return m_short; }
    std::size_t Position() const { return m_pos; }
    const std::uint8_t* Data() const { return m_data; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_short = false;
};

// One record body and the CONTINUE bodies that follow it, read as one
// sequence of segments: a string that reaches the end of a segment goes on in
// the next one, whose first byte repeats the option byte.
class CExcelContinueReader {
public:
    void AddSegment(const std::uint8_t* data, std::size_t size) { m_segments.push_back({data, size}); }

    std::size_t Available() const;
    // Moves to the start of the next segment; false at the last one.
    bool NextSegment();
    // Bytes after the position in this segment and all later ones.
    std::size_t Left() const;
    // Reads n bytes from the current segment only.
    bool Read(void* out, std::size_t n);
    // Reads n bytes, entering further segments as needed (no option bytes).
    bool Skip(std::size_t n);

private:
    struct Segment {
        const std::uint8_t* data;
        std::size_t size;
    };
    std::vector<Segment> m_segments;
    std::size_t m_index = 0;
    std::size_t m_offset = 0;
};

// A format record: id and text.
struct ExcelFormat {
    std::uint16_t id = 0;
    std::u16string text;
};

struct ExcelSheet {
    std::uint32_t position = 0;  // of the sheet's BOF record
    std::uint16_t options = 0;
    std::u16string name;
};

class CIExcelParser : public CStorageAccess {
public:
    CIExcelParser(CTextCollector* collector, int unused);
    ~CIExcelParser() override;

    // 1 when the stream was read to its end or an end record; 0 when the
    // workbook cannot be opened, has no BOF or is encrypted (FILEPASS).
    // Damage met on the way (a record or offset past the stream, a substream
    // without its EOF, a sheet its BOUNDSHEET names and that is not there, a
    // shared-string table that disagrees with its count, a cell naming a
    // string the table lacks) is noted with plat::NoteDamage and the reading
    // goes on.
    int Convert(const char16_t* path);
    // The same over the bytes of a workbook stream (tests, tools).
    int ConvertStream(std::string stream);

    // The text of a number in cell format xf.
    std::u16string FormatCellNumber(double value, std::uint32_t xf) const;
    static const char16_t* GetErrorText(std::uint8_t code);
    // An RK value as a double.
    static double DecodeRk(std::uint32_t rk);

    // Reads the shared string table from an SST body and its CONTINUE
    // records (segments after the first).
    void ReadSharedStrings(CExcelContinueReader& reader);

    const std::vector<std::u16string>& SharedStrings() const { return m_sst; }
    const std::vector<ExcelSheet>& Sheets() const { return m_sheets; }
    std::uint32_t Version() const { return m_version; }

private:
    bool Dispatch(std::uint16_t type, std::size_t start, CExcelRecord& r);
    void OnBof(std::size_t start, CExcelRecord& r);
    void OnBoundSheet(CExcelRecord& r);
    void OnFormat(CExcelRecord& r);
    void OnDimensions(CExcelRecord& r);
    void OnSst(std::size_t bodyStart, std::size_t length);
    void OnLabelSst(CExcelRecord& r);
    void OnLabel(CExcelRecord& r);
    void OnRk(CExcelRecord& r);
    void OnMulRk(CExcelRecord& r);
    void OnNumber(CExcelRecord& r);
    void OnFormula(CExcelRecord& r);
    void OnString(std::size_t bodyStart, std::size_t length);
    void OnBoolErr(CExcelRecord& r);
    void OnRString(CExcelRecord& r);

    // A record body and the CONTINUE records that follow it at once.
    CExcelContinueReader ContinuedRecord(std::size_t bodyStart, std::size_t length) const;
    // An XLUnicodeRichExtendedString (count of countWidth bytes) that may go
    // on in the next segments. whole: all its characters were there;
    // tailWhole: so were its formatting runs and extended data.
    struct ContinuedString {
        std::u16string text;
        bool whole = false;
        bool tailWhole = false;
    };
    static ContinuedString ReadContinuedString(CExcelContinueReader& in, int countWidth);

    // XLUnicodeString within one record (count of width 1 or 2 bytes).
    std::u16string ReadUnicodeString(CExcelRecord& r, int width);
    // The characters, options and extras of a string whose count is known.
    std::u16string ReadShortString(CExcelRecord& r, std::uint16_t count);
    std::u16string ReadNarrow(CExcelRecord& r, std::size_t count);

    void WriteCellText(const char16_t* text, int count, const char16_t* suffix);
    void WriteMarks(std::uint16_t row, std::uint16_t column);
    // Position marks, then the cell's text (nothing for an empty text).
    void WriteCell(std::uint16_t row, std::uint16_t column, const char16_t* text);
    std::uint16_t RelRow(std::uint16_t row) const { return std::uint16_t(row - std::uint16_t(m_firstRow)); }
    std::uint16_t RelCol(std::uint16_t col) const { return std::uint16_t(col - std::uint16_t(m_firstCol)); }

    CTextCollector* m_pCollector;
    CStorageAccess m_access;
    std::string m_stream;

    std::uint32_t m_version = kBiff8;
    std::uint32_t m_kind = 0;
    std::vector<std::u16string> m_sst;
    std::vector<ExcelFormat> m_formats;
    std::unordered_map<std::uint16_t, std::size_t> m_formatIndex;
    std::vector<ExcelSheet> m_sheets;
    std::multimap<std::uint32_t, std::size_t> m_sheetsByPosition;  // equal keys in file order
    std::vector<bool> m_sheetMet;  // per sheet: its BOF was read
    std::size_t m_openSubstreams = 0;  // BOFs read and not yet closed by an EOF
    std::vector<std::uint16_t> m_xfFormats;  // number-format index per XF
    std::uint32_t m_firstRow = 0;
    std::uint32_t m_firstCol = 0;
    std::uint32_t m_lastRow = 0;
    std::uint32_t m_lastCol = 0;
    bool m_lineOpen = false;       // cell text written since the last caption
    bool m_stringPending = false;  // a formula's text comes in the next STRING

    // Held like the presentation reader's; a workbook never fills them.
    CMsoBLIPStoreManager m_blipStore[2];
};
