// Replaces documents by password-protected ZIP archives through the archive
// engine, one archive per document, safely: the archive is written under a
// temporary name beside the document, closed, read back with the password,
// and only then renamed to its final name (never over an existing file);
// the document is deleted after that, and only after that.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/docfiles.h"
#include "core/harrow.h"

enum class ArchiveOutcome {
    Done,            // archive complete, document gone
    DocumentStayed,  // archive complete, but the document was not removed: it could
                     // not be, or it changed or vanished after it was read (the
                     // archive holds the bytes read, the document its newer ones)
    Failed,          // no archive; the document is untouched
    Cancelled,       // stopped before the archive was complete; the document is untouched
};

class DocumentArchiver : public harrow::UIEventHandler {
public:
    DocumentArchiver();
    ~DocumentArchiver();
    DocumentArchiver(const DocumentArchiver&) = delete;
    DocumentArchiver& operator=(const DocumentArchiver&) = delete;

    // Loads the engine, starts it and creates its archive object; false when
    // any of it fails (the engine cannot be used then).
    bool Start();
    bool Started() const { return archive_ && archive_->handle != 0; }

    // The password (kept until ClearPassword or destruction, then wiped) and
    // the algorithm: 1 ZIP 2.0, 2 AES-128, 3 AES-256.
    void SetPassword(const std::u16string& password);
    void ClearPassword();
    void SetAlgorithm(int algorithm) { algorithm_ = algorithm; }

    // Builds the archive of one document and removes the document; blocks.
    // With the identity of the search's read, only that file is archived and
    // removed: the name must hold it when the engine starts and again before
    // the document is removed (Failed with kDocumentReplacedText otherwise).
    // Everything is done by name inside the document's folder held open.
    ArchiveOutcome EncryptDocument(const std::u16string& path, const plat::FileIdentity& expected = {});
    // The final archive name of the last document (empty when none was made).
    const std::u16string& LastArchivePath() const { return lastArchive_; }
    // Why the last document failed: the engine's item result, -1 when the
    // engine never reported the item.
    int32_t LastItemResult() const { return itemResult_; }
    // Why the last document was not handled, in the user's words ("압축 파일을
    // 쓰지 못함 (디스크 공간 부족)"); empty after Done and Cancelled.
    const std::u16string& LastFailureReason() const { return lastReason_; }

    // Stop request, checked by the engine between blocks.
    std::atomic<bool>* stopFlag = nullptr;
    // Called on the worker thread.
    std::function<void(const std::u16string& path)> onItemBegin;
    std::function<void(uint64_t done, uint64_t total)> onProgress;
    // Tests: called once the archive is complete and named, just before the
    // document is checked and removed.
    std::function<void()> beforeRemove;

    uint32_t OnQueryPassword(HarrowEvent* event) override;
    uint32_t OnItemBegin(HarrowEvent* event) override;
    uint32_t OnOtherEvent(HarrowEvent* event) override;
    uint32_t OnItemEnd(HarrowEvent* event) override;

    harrow::Harrow& Loader() { return loader_; }
    CHarrowEventHandler& Handler() { return handler_; }

private:
    harrow::Harrow loader_;
    CHarrowEventHandler handler_;
    std::unique_ptr<harrow::Archive> archive_;
    std::u16string password_;
    int algorithm_ = 3;
    bool itemEnded_ = false;
    int32_t itemResult_ = -1;
    std::u16string lastArchive_;
    std::u16string lastReason_;
    // The document being archived: the path the engine is given (inside the
    // held folder) and the path the user knows, which events report.
    std::u16string engineSource_;
    std::u16string shownSource_;
};
