// A number as a workbook shows it through a numeric format code: sections
// for positive, negative and zero values, digit placeholders (0 # ?),
// decimals, thousands separators and scaling commas, percent, scientific
// notation, fractions and literal text (quoted, escaped, currency brackets).
//
// Date and time sections are not handled here (see numformat.h). Nothing
// drops the digits of a value: a scientific format given a whole number of
// more than six digits leaves the number for the caller to show as it
// stands, and a section without placeholders (";;;", a word in place of the
// number) given a value other than zero shows its words and then the number.
#pragma once

#include <optional>
#include <string>

// The shown text, or nothing when the section that applies to value is a
// date or time, a text section, or one of the cases above.
std::optional<std::u16string> FormatNumberAsShown(double value, const std::u16string& code);

// The format code of a built-in numeric format id (1 to 4, 9 to 13, 37 to
// 40, 48, 49), empty for the others (General, dates, locale-dependent ids).
std::u16string BuiltinNumberFormatCode(int id);
