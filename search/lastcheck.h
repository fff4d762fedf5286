// lastCheckFile: the documents the analysis has in hand, kept in the key
// store so that a run that dies inside a document leaves its path for the
// next start.
#pragma once

#include <string>

// "SOFTWARE\Norvane\Privasweep": lastCheckFile, findPSInfoFlag, Migration.
extern const char16_t kRunKey[];
// Every clean end of an analysis deletes the value.
void DeleteLastCheckFile();
std::u16string ReadLastCheckFile();
// The document the last run ended in: the value holds one path per line;
// the first non-empty line.
std::u16string FirstLastCheckFile(const std::u16string& value);
