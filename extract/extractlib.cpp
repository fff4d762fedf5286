#include "extract/extractlib.h"

#include <libxml/parser.h>

#include <mutex>

#include "extract/hwp/hwpdocmanager.h"
#include "extract/hwp/hwpmlmanager.h"
#include "extract/optionparser.h"
#include "extract/parsermessages.h"
#include "extract/pdf/pdfdocmanager.h"

// The package reader's kept XML readers (extract/opc/package.h; that header's
// start and end functions are not this library's).
void PackageDropKeptReaders();

namespace {

// Users of the XML parser: each InitializeLibrary and each live OOXML manager.
// Documents are converted on several threads, so the count and the parser's
// set-up and clean-up happen under one lock.
// guards: g_nLibraryUseCount and the parser's set-up and clean-up. Taken
// before the package's kept-reader lock (extract/opc/package.cpp).
std::mutex g_libraryUseLock;
int g_nLibraryUseCount = 0;

// The package library's start and end: the XML parser is set up once for
// the library and cleaned up when its last user is gone.
void PackageLibraryInit()
{
    xmlInitParser();
    RouteXmlMessagesToTrace();
}

void PackageLibraryCleanup()
{
    PackageDropKeptReaders();
    xmlCleanupParser();
}

}  // namespace

int InitializeLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryUseLock);
    if (g_nLibraryUseCount++ == 0)
        PackageLibraryInit();
    return 0;
}

int FinalizeLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryUseLock);
    if (g_nLibraryUseCount > 0 && --g_nLibraryUseCount == 0)
        PackageLibraryCleanup();
    return 0;
}

int AcquireXmlParser()
{
    return InitializeLibrary();
}

int ReleaseXmlParser()
{
    return FinalizeLibrary();
}

int GetLibraryUseCount()
{
    std::lock_guard<std::mutex> lock(g_libraryUseLock);
    return g_nLibraryUseCount;
}

namespace {

// A manager's status as the entry's result: 0 read, 2 failed (HWP only), any
// other status not read.
EntryResult FromManagerStatus(int status, bool passFailure)
{
    if (status == 0)
        return EntryResult::Read;
    return passFailure && status == 2 ? EntryResult::Failed : EntryResult::NotRead;
}

}  // namespace

EntryResult ConvertHwpToText(const char16_t* path, const char16_t* options, std::u16string* output,
                             ReadError* failure)
{
    if (!output)
        return EntryResult::Failed;
    return RunReaderEntry(failure, [&] {
        COptionParser parser(options);
        const bool hwpml = parser.GetBool(u"xml", 0) != 0;
        int status;
        if (hwpml) {
            CHwpmlDocumentManager manager;
            manager.SetOutputString(output);
            status = manager.Convert(path);
            manager.Finish();
        } else {
            CHwpDocumentManager manager;
            manager.SetOutputString(output);
            status = manager.Convert(path);
            manager.Finish();
        }
        return FromManagerStatus(status, true);
    });
}

EntryResult ConvertPdfToText(const char16_t* path, const char16_t* /*options*/, std::u16string* output,
                             ReadError* failure)
{
    if (!output)
        return EntryResult::Failed;
    return RunReaderEntry(failure, [&] {
        CPdfDocManager manager;
        manager.SetOutputString(output);
        if (manager.Convert(path) != 0)
            return EntryResult::NotRead;
        manager.Finish();
        return EntryResult::Read;
    });
}
