// What the settings pages ask of the program above them. settings/ lies
// below app/ and never includes it: the program fills these in (app/maindlg.cpp,
// the settings window's opener, at its load).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

struct ConfigHooks {
    // Runs the exception list window modally, owned by the given window.
    std::function<void(QWidget* owner)> openExceptionList;
    // Writes the event-log export of the events; false when nothing could be
    // written (the file cannot be created).
    std::function<bool(const std::u16string& path, const std::vector<int64_t>& eventIds)> writeLogExport;
    // The messages every window that exports or deletes records shows
    // (%s: the file's path, the store's message).
    const char16_t* cannotCreateLogFile = u"";
    const char16_t* cannotReadLogStore = u"";
    const char16_t* cannotDeleteLog = u"";
};

ConfigHooks& ConfigPageHooks();
