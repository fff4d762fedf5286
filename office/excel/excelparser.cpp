#include "office/excel/excelparser.h"

#include <cmath>
#include <cstring>

#include "extract/libstring.h"
#include "extract/textcollector.h"
#include "office/excel/numformat.h"
#include "platform/codec.h"
#include "platform/docfile.h"

namespace {

std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

std::u16string Utf16Bytes(const std::string& bytes)
{
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = char16_t(std::uint8_t(bytes[2 * i]) | (std::uint8_t(bytes[2 * i + 1]) << 8));
    return text;
}

// The characters of a BIFF8 string stored as single bytes: each byte is the
// low half of a UTF-16 unit whose high half is zero (U+0000 to U+00FF).
std::u16string Latin1(const std::string& bytes)
{
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text[i] = char16_t(std::uint8_t(bytes[i]));
    return text;
}

// Narrow text of the ANSI code page, up to its first zero byte.
std::u16string Ansi(const std::string& bytes)
{
    const std::size_t n = bytes.find('\0');
    return plat::AnsiToWideString(std::string_view(bytes).substr(0, n));
}


}  // namespace

// ---- Record bodies -----------------------------------------------------------

std::uint8_t CExcelRecord::U8()
{
    if (Remaining() < 1) {
        m_pos = m_size;
        m_short = true;
        return 0;
    }
    return m_data[m_pos++];
}

std::uint16_t CExcelRecord::U16()
{
    if (Remaining() < 2) {
        m_pos = m_size;
        m_short = true;
        return 0;
    }
    std::uint16_t v = Le16(m_data + m_pos);
    m_pos += 2;
    return v;
}

std::uint32_t CExcelRecord::U32()
{
    if (Remaining() < 4) {
        m_pos = m_size;
        m_short = true;
        return 0;
    }
    std::uint32_t v = std::uint32_t(Le16(m_data + m_pos)) | (std::uint32_t(Le16(m_data + m_pos + 2)) << 16);
    m_pos += 4;
    return v;
}

double CExcelRecord::F64()
{
    if (Remaining() < 8) {
        m_pos = m_size;
        m_short = true;
        return 0;
    }
    double v;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | m_data[m_pos + i];
    std::memcpy(&v, &bits, 8);
    m_pos += 8;
    return v;
}

std::string CExcelRecord::Bytes(std::size_t n)
{
    if (n > Remaining())
        m_short = true;
    n = std::min(n, Remaining());
    std::string s(reinterpret_cast<const char*>(m_data + m_pos), n);
    m_pos += n;
    return s;
}

std::size_t CExcelContinueReader::Available() const
{
    return m_index < m_segments.size() ? m_segments[m_index].size - m_offset : 0;
}

std::size_t CExcelContinueReader::Left() const
{
    std::size_t n = Available();
    for (std::size_t i = m_index + 1; i < m_segments.size(); ++i)
        n += m_segments[i].size;
    return n;
}

bool CExcelContinueReader::NextSegment()
{
    if (m_index + 1 >= m_segments.size())
        return false;
    ++m_index;
    m_offset = 0;
    return true;
}

bool CExcelContinueReader::Read(void* out, std::size_t n)
{
    if (Available() < n)
        return false;
    std::memcpy(out, m_segments[m_index].data + m_offset, n);
    m_offset += n;
    return true;
}

bool CExcelContinueReader::Skip(std::size_t n)
{
    while (n > 0) {
        const std::size_t step = std::min(n, Available());
        m_offset += step;
        n -= step;
        if (n > 0 && !NextSegment())
            return false;
    }
    return true;
}

// ---- Reader ----------------------------------------------------------------------

CIExcelParser::CIExcelParser(CTextCollector* collector, int) : m_pCollector(collector) {}

CIExcelParser::~CIExcelParser() = default;

int CIExcelParser::Convert(const char16_t* path)
{
    m_version = kBiff8;
    if (!path || !m_access.OpenStorage(path, kH2sRootMode))
        return 0;
    plat::CfbStream* stream = nullptr;
    if (!m_access.OpenStream(u"Workbook", kH2sStreamMode, &stream) || !stream) {
        if (stream)
            stream->Release();
        stream = nullptr;
        if (!m_access.OpenStream(u"Book", kH2sStreamMode, &stream) || !stream) {
            if (stream)
                stream->Release();
            return 0;
        }
    }
    std::string bytes;
    char chunk[65536];
    for (;;) {
        std::uint32_t got = 0;
        if (!ReadStreamBytes(stream, chunk, sizeof chunk, &got)) {
            // The stream's sectors are not all in the file: the records
            // read so far are read, the rest is lost.
            plat::NoteDamage("스트림을 끝까지 읽지 못함");
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    stream->Release();
    return ConvertStream(std::move(bytes));
}

int CIExcelParser::ConvertStream(std::string stream)
{
    m_stream = std::move(stream);
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_stream.data());
    const std::size_t size = m_stream.size();

    // The first BOF, searched four bytes at a time. A workbook stream
    // starts with it: bytes before it are damage, read past all the same.
    std::size_t pos = 0;
    while (pos + 4 <= size && Le16(data + pos) != 0x0809)
        pos += 4;
    if (pos + 4 > size)
        return 0;
    if (pos != 0)
        plat::NoteDamage("스트림이 BOF로 시작하지 않음");
    {
        const std::size_t length = Le16(data + pos + 2);
        const std::size_t body = pos + 4;
        if (length > size - body)
            plat::NoteDamage("길이가 데이터를 넘음");
        CExcelRecord r(data + body, std::min(length, size - body));
        OnBof(pos, r);
        if (r.Short())
            plat::NoteDamage("레코드가 필드보다 짧음");
        pos = body + length;
    }
    while (pos <= size && size - pos >= 4) {
        // A stopped search ends the reading here; the scan reports the stop.
        if (plat::ReadCancelled())
            return 1;
        const std::uint16_t type = Le16(data + pos);
        const std::uint16_t length = Le16(data + pos + 2);
        // Zero bytes after the last record pad the stream; a substream still
        // open there is damage, noted below.
        if (type == 0 && length == 0)
            break;
        const std::size_t body = pos + 4;
        if (length > size - body)
            plat::NoteDamage("길이가 데이터를 넘음");
        CExcelRecord r(data + body, std::min<std::size_t>(length, size - body));
        if (type == 0x00FC) {
            OnSst(body, length);
        } else if (type == 0x0207) {
            OnString(body, length);
        } else if (!Dispatch(type, pos, r)) {
            return 0;
        }
        if (r.Short())
            plat::NoteDamage("레코드가 필드보다 짧음");
        // Every record body is passed over whole, whatever its handler read.
        pos = body + length;
    }
    // Each substream (the globals, each sheet, each chart in a sheet) ends
    // with its EOF; one still open lost its end. Bytes after the last EOF
    // are outside the workbook.
    if (m_openSubstreams > 0)
        plat::NoteDamage("구조가 끝나지 않음");
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (!m_sheetMet[i]) {
            plat::NoteDamage("참조된 시트 없음");
            break;
        }
    }
    return 1;
}

bool CIExcelParser::Dispatch(std::uint16_t type, std::size_t start, CExcelRecord& r)
{
    switch (type) {
    case 0x0009: case 0x0209: case 0x0409: case 0x0809: OnBof(start, r); break;
    case 0x002F: return false;  // FILEPASS: an encrypted workbook is not read
    case 0x000A:  // EOF: ends the innermost substream
        if (m_openSubstreams > 0)
            --m_openSubstreams;
        else
            plat::NoteDamage("구조가 어긋남");  // an end without its BOF
        break;
    case 0x0006: case 0x0206: case 0x0406: OnFormula(r); break;
    case 0x007E: case 0x027E: OnRk(r); break;
    case 0x0085: OnBoundSheet(r); break;
    case 0x00BD: OnMulRk(r); break;
    case 0x00D6: OnRString(r); break;
    case 0x00E0: r.U16(); m_xfFormats.push_back(r.U16()); break;  // XF
    case 0x00FD: OnLabelSst(r); break;
    case 0x0200: OnDimensions(r); break;
    case 0x0203: OnNumber(r); break;
    case 0x0204: OnLabel(r); break;
    case 0x0205: OnBoolErr(r); break;
    case 0x041E: OnFormat(r); break;
    default:
        // Every other record (0x0056 and CONTINUE records included) holds
        // nothing the text needs; its body is passed over.
        break;
    }
    switch (type) {
    case 0x000A: case 0x007E: case 0x027E: case 0x00FD: case 0x0203: case 0x0205:
        // These records are exactly as long as their fields: bytes left over
        // mean the length is wrong, and the records after it are misread.
        if (r.Remaining() != 0)
            plat::NoteDamage("레코드 길이가 맞지 않음");
        break;
    case 0x0204:
        // Some writers end a text cell's characters with a zero character;
        // other bytes after the text belong to the records that follow.
        for (const std::uint8_t* p = r.Data() + r.Position(); p != r.Data() + r.Position() + r.Remaining(); ++p) {
            if (*p != 0) {
                plat::NoteDamage("레코드 길이가 맞지 않음");
                break;
            }
        }
        break;
    default:
        break;
    }
    return true;
}

void CIExcelParser::OnBof(std::size_t start, CExcelRecord& r)
{
    ++m_openSubstreams;
    {
        const auto met = m_sheetsByPosition.equal_range(std::uint32_t(start));
        for (auto it = met.first; it != met.second; ++it)
            m_sheetMet[it->second] = true;
    }
    m_firstRow = 0;
    m_firstCol = 0;
    const std::uint16_t version = r.U16();
    const std::uint16_t type = r.U16();
    r.U16();
    r.U16();
    if (version == 0x0500)
        m_version = kBiff5;
    else if (version == 0x0600)
        m_version = kBiff8;
    std::uint32_t kind;
    switch (type) {
    case 0x0005: case 0x0100: kind = 1; break;
    case 0x0006: kind = 2; break;
    case 0x0010: kind = 0; break;
    case 0x0020: kind = 4; break;
    case 0x0040: kind = 8; break;
    default: return;  // a substream of another type: its body is passed over
    }
    m_kind = m_version | kind;
    if (m_version == kBiff8) {
        if (r.Remaining() > 0) {
            r.U32();
            r.U32();
        } else {
            m_version = kBiff5;
        }
    }
    const auto range = m_sheetsByPosition.equal_range(std::uint32_t(start));
    for (auto it = range.first; it != range.second; ++it) {
        // The caption starts a line of its own, and the sheet's cells count
        // their rows and columns from the line after it.
        if (m_lineOpen)
            WriteCellText(u"\n", -1, nullptr);
        const std::u16string caption = u"[Sheet Name : " + m_sheets[it->second].name + u"]\n";
        WriteCellText(caption.c_str(), -1, nullptr);
        m_lineOpen = false;
        m_lastRow = 0;
        m_lastCol = 0;
    }
}

void CIExcelParser::OnBoundSheet(CExcelRecord& r)
{
    ExcelSheet sheet;
    sheet.position = r.U32();
    sheet.options = r.U16();
    if (m_version == kBiff8)
        sheet.name = ReadUnicodeString(r, 1);
    else
        sheet.name = ReadNarrow(r, r.U8());
    // The sheet's BOF must lie inside the stream; one never met by the walk
    // is noted at the end.
    if (sheet.position >= m_stream.size())
        plat::NoteDamage("시트 위치가 데이터를 넘음");
    m_sheetsByPosition.emplace(sheet.position, m_sheets.size());
    m_sheets.push_back(std::move(sheet));
    m_sheetMet.push_back(false);
}

void CIExcelParser::OnFormat(CExcelRecord& r)
{
    ExcelFormat format;
    format.id = r.U16();
    if (m_version == kBiff8)
        format.text = ReadUnicodeString(r, 2);
    else
        format.text = ReadNarrow(r, r.U8());
    m_formatIndex.emplace(format.id, m_formats.size());  // the first record of an id wins
    m_formats.push_back(std::move(format));
}

void CIExcelParser::OnDimensions(CExcelRecord& r)
{
    if (m_version == kBiff8) {
        m_firstRow = r.U32();
        r.U32();
        m_firstCol = r.U16();
    } else {
        m_firstRow = r.U16();
        r.U16();
        r.U16();
    }
}

// ---- Strings -----------------------------------------------------------------------

std::u16string CIExcelParser::ReadNarrow(CExcelRecord& r, std::size_t count)
{
    return Ansi(r.Bytes(count));
}

std::u16string CIExcelParser::ReadShortString(CExcelRecord& r, std::uint16_t count)
{
    if (count == 0)
        return u"";
    const std::uint8_t options = r.U8();
    const std::uint16_t runs = (options & 0x08) ? r.U16() : 0;
    const std::uint32_t extra = (options & 0x04) ? r.U32() : 0;
    std::u16string text =
        (options & 0x01) ? Utf16Bytes(r.Bytes(2 * std::size_t(count))) : Latin1(r.Bytes(count));
    r.Skip(4 * std::size_t(runs));
    r.Skip(extra);
    return text;
}

std::u16string CIExcelParser::ReadUnicodeString(CExcelRecord& r, int width)
{
    const std::uint16_t count = width == 1 ? r.U8() : r.U16();
    if (count == 0) {
        // The option byte is there all the same.
        r.U8();
        return u"";
    }
    return ReadShortString(r, count);
}

CIExcelParser::ContinuedString CIExcelParser::ReadContinuedString(CExcelContinueReader& in, int countWidth)
{
    // The count, option byte and the counts of the formatting data that
    // follow it never straddle two records; the characters may, and each
    // CONTINUE record they go on in starts with an option byte of its own
    // (the characters' width can change there). A record ending inside a
    // character or without a CONTINUE after it cut the string.
    ContinuedString out;
    std::uint8_t b[4];
    if (!in.Read(b, std::size_t(countWidth) + 1))
        return out;
    std::uint32_t remaining = countWidth == 1 ? b[0] : Le16(b);
    const std::uint8_t options = b[countWidth];
    std::uint16_t runs = 0;
    std::uint32_t extra = 0;
    if (options & 0x08) {
        if (!in.Read(b, 2))
            return out;
        runs = Le16(b);
    }
    if (options & 0x04) {
        if (!in.Read(b, 4))
            return out;
        extra = std::uint32_t(Le16(b)) | (std::uint32_t(Le16(b + 2)) << 16);
    }
    bool wide = options & 0x01;
    while (remaining > 0) {
        const std::size_t unit = wide ? 2 : 1;
        const std::size_t take = std::min<std::size_t>(remaining, in.Available() / unit);
        std::string part(take * unit, '\0');
        in.Read(part.data(), part.size());
        out.text += wide ? Utf16Bytes(part) : Latin1(part);
        remaining -= std::uint32_t(take);
        if (remaining == 0)
            break;
        std::uint8_t option;
        if (in.Available() != 0 || !in.NextSegment() || !in.Read(&option, 1))
            return out;
        wide = option & 0x01;
    }
    out.whole = true;
    // Formatting runs and extended data may go on in further records.
    out.tailWhole = in.Skip(4 * std::size_t(runs)) && in.Skip(extra);
    return out;
}

void CIExcelParser::ReadSharedStrings(CExcelContinueReader& in)
{
    // The table holds the strings its count gives: a string cut by the end
    // of the table (its CONTINUE record missing), fewer strings than the
    // count, or bytes left over after the last string all mean strings were
    // lost or misread. (A table whose cells count no use of it, total 0,
    // loses nothing by a wrong string count: some writers leave one so.)
    std::uint8_t head[8];
    if (!in.Read(head, 8)) {
        plat::NoteDamage("문자열 표 손상");
        return;
    }
    const std::uint32_t total = std::uint32_t(Le16(head)) | (std::uint32_t(Le16(head + 2)) << 16);
    const std::uint32_t unique = std::uint32_t(Le16(head + 4)) | (std::uint32_t(Le16(head + 6)) << 16);
    m_sst.reserve(std::min<std::size_t>(unique, m_stream.size() / 3 + 1));
    for (std::uint32_t i = 0; i < unique; ++i) {
        // A string starts in the next record when this one is used up.
        if (in.Available() == 0 && !in.NextSegment()) {
            if (total != 0)
                plat::NoteDamage("문자열 표 손상");
            return;
        }
        ContinuedString s = ReadContinuedString(in, 2);
        if (!s.whole) {
            plat::NoteDamage("문자열 표 손상");
            return;
        }
        for (char16_t& c : s.text)
            if (c == u'\n')
                c = u' ';
        m_sst.push_back(std::move(s.text));
        if (!s.tailWhole) {
            // Formatting data cut by the end of the table: the text is
            // whole, what came after it is not there.
            plat::NoteDamage("문자열 표 손상");
            return;
        }
    }
    if (in.Left() != 0)
        plat::NoteDamage("문자열 표 손상");
}

CExcelContinueReader CIExcelParser::ContinuedRecord(std::size_t bodyStart, std::size_t length) const
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_stream.data());
    const std::size_t size = m_stream.size();
    CExcelContinueReader reader;
    reader.AddSegment(data + bodyStart, std::min(length, size - bodyStart));
    // The CONTINUE records that follow at once.
    std::size_t pos = bodyStart + length;
    while (pos <= size && size - pos >= 4 && Le16(data + pos) == 0x003C) {
        const std::size_t n = Le16(data + pos + 2);
        const std::size_t body = pos + 4;
        reader.AddSegment(data + body, std::min(n, size - body));
        pos = body + n;
    }
    return reader;
}

void CIExcelParser::OnSst(std::size_t bodyStart, std::size_t length)
{
    CExcelContinueReader reader = ContinuedRecord(bodyStart, length);
    ReadSharedStrings(reader);
}

// ---- Cells -------------------------------------------------------------------------

void CIExcelParser::WriteCellText(const char16_t* text, int count, const char16_t* suffix)
{
    AppendTextToCollector(m_pCollector, text, count, suffix);
}

void CIExcelParser::WriteMarks(std::uint16_t row, std::uint16_t column)
{
    if (row != m_lastRow) {
        WriteCellText(u"\n", -1, nullptr);
        m_lastRow = row;
    }
    if (column != m_lastCol) {
        WriteCellText(u"\t", -1, nullptr);
        m_lastCol = column;
    }
}

const char16_t* CIExcelParser::GetErrorText(std::uint8_t code)
{
    switch (code) {
    case 0x00: return u"#NULL!";
    case 0x07: return u"#DIV/0!";
    case 0x0F: return u"#VALUE!";
    case 0x17: return u"#REF!";
    case 0x1D: return u"#NAME?";
    case 0x24: return u"#NUM!";
    case 0x2A: return u"#N/A!";
    default: return u"#KNOWN";
    }
}

double CIExcelParser::DecodeRk(std::uint32_t rk)
{
    double value;
    if (rk & 0x02) {
        value = double(std::int32_t(rk) >> 2);
    } else {
        const std::uint64_t bits = std::uint64_t(rk & 0xFFFFFFFC) << 32;
        std::memcpy(&value, &bits, 8);
    }
    if (rk & 0x01)
        value *= 0.01;
    return value;
}

namespace {

// The format text of a built-in id whose table entry the number-format
// service leaves empty or gives back as pattern text; a workbook normally
// defines these ids with FORMAT records of its own.
const char16_t* FallbackBuiltinPattern(std::uint16_t id)
{
    switch (id) {
    case 5: case 6: case 37: case 38: case 41: case 42: return u"#,##0";
    case 7: case 8: case 39: case 40: case 43: case 44: return u"#,##0.00";
    default: return nullptr;
    }
}

// Built-in ids that the service renders itself: fixed, percent, date and
// time formats.
bool RenderedByService(std::uint16_t id)
{
    return (id >= 1 && id <= 4) || (id >= 9 && id <= 22) || (id >= 45 && id <= 48);
}

bool IsGeneralAt(const std::u16string& pattern, std::size_t i)
{
    static const char16_t kWord[] = u"general";
    if (pattern.size() - i < 7)
        return false;
    for (std::size_t k = 0; k < 7; ++k)
        if ((pattern[i + k] | 0x20) != kWord[k])
            return false;
    return true;
}

// The format text with every "General" (any case) outside quotes replaced
// by text, in one pass.
std::u16string ReplaceGeneral(const std::u16string& pattern, const std::u16string& text)
{
    std::u16string out;
    out.reserve(pattern.size());
    bool quoted = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && c == u'\\' && i + 1 < pattern.size()) {
            out += c;
            out += pattern[++i];
            continue;
        } else if (!quoted && IsGeneralAt(pattern, i)) {
            out += text;
            i += 6;
            continue;
        }
        out += c;
    }
    return out;
}

}  // namespace

std::u16string CIExcelParser::FormatCellNumber(double value, std::uint32_t xf) const
{
    // A cell without a known cell format shows as General does.
    if (xf >= m_xfFormats.size())
        return FormatGeneralNumber(value);
    const std::uint16_t id = m_xfFormats[xf];
    const ExcelNumberFormatter formatter;
    CRefString text;
    if (RenderedByService(id)) {
        formatter.FormatNumberByBuiltinFormat(value, id, text);
        return text.GetString();
    }
    // Custom formats, and the built-in ids that depend on the language of
    // the program that wrote the workbook (currency, accounting, the East
    // Asian dates): the workbook's FORMAT record of the id.
    std::u16string pattern;
    auto it = m_formatIndex.find(id);
    if (it != m_formatIndex.end() && id != 0)
        pattern = m_formats[it->second].text;
    else if (const char16_t* fallback = FallbackBuiltinPattern(id))
        pattern = fallback;
    if (pattern.empty())
        return FormatGeneralNumber(value);  // General, text, unknown ids
    if (pattern.size() == 7 && IsGeneralAt(pattern, 0))
        return FormatGeneralNumber(value);
    // "General" inside a date or mask format stands for the number; the
    // section chosen by the sign gives the sign. Numeric formats read it
    // themselves.
    if (IsDateFormatPattern(pattern) || IsDigitMaskPattern(pattern))
        pattern = ReplaceGeneral(pattern, u"\"" + FormatGeneralNumber(std::fabs(value)) + u"\"");
    formatter.FormatNumberByPattern(value, pattern.c_str(), text);
    return text.GetString();
}

void CIExcelParser::WriteCell(std::uint16_t row, std::uint16_t column, const char16_t* text)
{
    m_stringPending = false;  // a formula whose STRING record never came
    WriteMarks(row, column);
    if (text && *text) {
        WriteCellText(text, -1, nullptr);
        m_lineOpen = true;
    }
}

void CIExcelParser::OnLabelSst(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    r.U16();
    const std::uint32_t index = r.U32();
    if (index >= m_sst.size()) {
        // The cell names a string the table does not hold (the table lost
        // it, or the cell's index is damaged).
        plat::NoteDamage("참조된 문자열 없음");
        return;
    }
    WriteCell(row, col, m_sst[index].c_str());
}

void CIExcelParser::OnLabel(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    r.U16();
    const std::uint16_t count = r.U16();
    const std::u16string text = m_version == kBiff8 ? ReadShortString(r, count) : ReadNarrow(r, count);
    WriteCell(row, col, text.c_str());
}

void CIExcelParser::OnRk(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    const std::uint16_t xf = r.U16();
    const double value = DecodeRk(r.U32());
    WriteCell(row, col, FormatCellNumber(value, xf).c_str());
}

void CIExcelParser::OnMulRk(CExcelRecord& r)
{
    const std::size_t length = r.Remaining();
    // Row, first column, one or more (format, value) pairs of 6 bytes and
    // the last column, which says how many pairs there are.
    if (length < 12 || (length - 6) % 6 != 0) {
        plat::NoteDamage("레코드가 필드보다 짧음");
        if (length < 6)
            return;
    }
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t first = RelCol(r.U16());
    const std::size_t entries = (length - 6) / 6;
    const std::uint8_t* lastField = r.Data() + length - 2;
    const std::uint16_t last = RelCol(Le16(lastField));
    if (std::size_t(std::uint16_t(last - first)) + 1 != entries)
        plat::NoteDamage("개수가 데이터와 다름");
    std::uint16_t col = first;
    for (std::size_t i = 0; i < entries && col <= last; ++i, ++col) {
        const std::uint16_t xf = r.U16();
        const double value = DecodeRk(r.U32());
        WriteCell(row, col, FormatCellNumber(value, xf).c_str());
        if (col == 0xFFFF)
            break;
    }
}

void CIExcelParser::OnNumber(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    const std::uint16_t xf = r.U16();
    const double value = r.F64();
    WriteCell(row, col, FormatCellNumber(value, xf).c_str());
}

void CIExcelParser::OnFormula(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    const std::uint16_t xf = r.U16();
    std::uint8_t result[8] = {};
    const std::string bytes = r.Bytes(8);
    std::memcpy(result, bytes.data(), bytes.size());
    m_stringPending = false;
    if (Le16(result + 6) != 0xFFFF) {
        double value;
        std::memcpy(&value, result, 8);  // little-endian host
        WriteCell(row, col, FormatCellNumber(value, xf).c_str());
        return;
    }
    switch (result[0]) {
    case 0:
        // The text comes in the STRING record that follows, in this cell's place.
        WriteMarks(row, col);
        m_stringPending = true;
        break;
    case 1:
        WriteCell(row, col, result[2] ? u"TRUE" : u"FALSE");
        break;
    case 2:
        WriteCell(row, col, GetErrorText(result[2]));
        break;
    default:
        break;  // 3: an empty result
    }
}

void CIExcelParser::OnString(std::size_t bodyStart, std::size_t length)
{
    // A formula's text result; a long one goes on in CONTINUE records.
    std::u16string text;
    if (m_version == kBiff8) {
        CExcelContinueReader in = ContinuedRecord(bodyStart, length);
        ContinuedString s = ReadContinuedString(in, 2);
        if (!s.whole || !s.tailWhole)
            plat::NoteDamage("레코드가 필드보다 짧음");
        text = std::move(s.text);
    } else {
        CExcelRecord r(reinterpret_cast<const std::uint8_t*>(m_stream.data()) + bodyStart,
                       std::min(length, m_stream.size() - bodyStart));
        text = ReadNarrow(r, r.U16());
        if (r.Short())
            plat::NoteDamage("레코드가 필드보다 짧음");
    }
    if (!m_stringPending)
        WriteCellText(u"\t", -1, nullptr);  // no formula before it: kept apart all the same
    m_stringPending = false;
    if (!text.empty()) {
        WriteCellText(text.c_str(), -1, nullptr);
        m_lineOpen = true;
    }
}

void CIExcelParser::OnBoolErr(CExcelRecord& r)
{
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    r.U16();
    const std::uint8_t value = r.U8();
    const std::uint8_t isError = r.U8();
    WriteCell(row, col, isError ? GetErrorText(value) : value == 0 ? u"FALSE" : u"TRUE");
}

void CIExcelParser::OnRString(CExcelRecord& r)
{
    // The formatting runs that follow the text say where fonts change; the
    // cell's text is written whole.
    const std::uint16_t row = RelRow(r.U16());
    const std::uint16_t col = RelCol(r.U16());
    r.U16();
    const std::u16string text = m_version == kBiff8 ? ReadUnicodeString(r, 2) : ReadNarrow(r, r.U16());
    WriteCell(row, col, text.c_str());
}
