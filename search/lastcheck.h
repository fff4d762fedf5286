// lastCheckFile: the documents the analysis has in hand, kept in the key
// store so that a run that dies inside a document leaves its path for the
// next start.
#pragma once

#include <string>
#include <vector>

// "SOFTWARE\Norvane\Privasweep": lastCheckFile, findPSInfoFlag, Migration.
extern const char16_t kRunKey[];
// Every clean end of an analysis deletes the value.
void DeleteLastCheckFile();
std::u16string ReadLastCheckFile();
// The documents the last run had in hand: the value holds one path per line,
// each written with plat::EscapeLine so that no name can split it.
std::vector<std::u16string> LastCheckFiles(const std::u16string& value);
// The first of them; empty when none.
std::u16string FirstLastCheckFile(const std::u16string& value);
