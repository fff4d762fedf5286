// Number formats of spreadsheet cells: a numeric cell is rendered through
// its number format so that the text the matcher sees keeps the separators,
// hyphens and leading zeros the workbook shows (a resident number or a phone
// number stored as a number gets its hyphens back, a date reads as a date).
//
// Numeric formats (grouping, decimals, percent, scientific, fractions,
// sections by sign and condition) are rendered as the workbook shows them
// (numshown.h); dates, times and digit masks by a chain of substitutions on a
// working copy of the format. Every digit of the value is kept:
// a digit mask such as "000-0000-0000" or "000" receives all the digits, and
// its unfilled zeros stay as leading zeros.
#pragma once

#include <string>

#include "extract/libstring.h"

// Renders value with the format text pattern into out (overwritten).
void FormatNumberByPattern(double value, const char16_t* pattern, CRefString& out);
// Renders value with the built-in format id (0 to 49; others give empty text).
void FormatNumberByBuiltinFormat(double value, int id, CRefString& out);

// The same, into a UTF-16 string.
std::u16string FormatNumberByPattern(double value, const std::u16string& pattern);
std::u16string FormatNumberByBuiltinFormat(double value, int id);

// The General format: whole numbers of up to 16 digits with every digit,
// others with up to 15 significant digits and no trailing zeros, very large
// or small ones in scientific notation ("1.5E+20").
std::u16string FormatGeneralNumber(double value);

// True when the built-in id is a date or time format (14 to 22, 45 to 47).
bool IsBuiltinDateFormat(int id);
// True when the format text shows a date or time (its first section holds
// y, m, d, h or s outside quotes, escapes and brackets, or "[h]"-like
// elapsed-time brackets).
bool IsDateFormatPattern(const std::u16string& pattern);
// True when the format text is a digit mask: its first section holds zeros
// and otherwise only literal characters (no "#", ".", ",", "?", "%", "E",
// "@" and no date or time letters).
bool IsDigitMaskPattern(const std::u16string& pattern);

// Through which the binary Excel reader calls the two operations.
class ExcelNumberFormatter {
public:
    ExcelNumberFormatter() = default;
    void FormatNumberByPattern(double value, const char16_t* pattern, CRefString& out) const
    {
        ::FormatNumberByPattern(value, pattern, out);
    }
    void FormatNumberByBuiltinFormat(double value, int id, CRefString& out) const
    {
        ::FormatNumberByBuiltinFormat(value, id, out);
    }
};
