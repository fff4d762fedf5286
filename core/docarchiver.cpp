#include "core/docarchiver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pending.h"
#include "platform/text.h"

namespace {
const char16_t kStartText[] = u"Privasweep";

void WipeText(std::u16string& s)
{
    if (!s.empty()) explicit_bzero(s.data(), s.size() * sizeof(char16_t));
    s.clear();
    s.shrink_to_fit();
}
}  // namespace

DocumentArchiver::DocumentArchiver() : handler_(this) {}

DocumentArchiver::~DocumentArchiver()
{
    ClearPassword();
    archive_.reset();  // releases the engine's archive before the module goes
}

bool DocumentArchiver::Start()
{
    if (Started()) return true;
    if (!loader_.Load()) return false;
    HarrowStartRecord start{sizeof(HarrowStartRecord), kStartText, kStartText};
    reinterpret_cast<HARROW_StartUp_t>(loader_.HARROW_StartUp)(&start);
    const HarrowHandle h =
        reinterpret_cast<HARROW_CreateArchive_t>(loader_.HARROW_CreateArchive)(&handler_.registration);
    archive_ = std::make_unique<harrow::Archive>(h, &loader_);
    handler_.harrow = &loader_;
    handler_.archive = archive_.get();
    return h != 0;
}

void DocumentArchiver::SetPassword(const std::u16string& password)
{
    WipeText(password_);
    password_ = password;
}

void DocumentArchiver::ClearPassword() { WipeText(password_); }

ArchiveOutcome DocumentArchiver::EncryptDocument(const std::u16string& path)
{
    lastArchive_.clear();
    itemResult_ = -1;
    if (!Started() || password_.empty()) return ArchiveOutcome::Failed;
    if (stopFlag && stopFlag->load()) return ArchiveOutcome::Cancelled;

    struct stat document{};
    if (stat(plat::PathToNative(path).c_str(), &document) != 0) return ArchiveOutcome::Failed;
    const std::u16string list = path + u"\n";
    std::u16string temp;
    for (int attempt = 0; attempt < 8; ++attempt) {
        temp = MakeTemporaryArchiveName(path);
        // Listed for the next start first, so that an archive left half
        // written by a crash is removed then (once renamed, the name is gone).
        plat::DeleteAtNextStart(temp);
        itemEnded_ = false;
        itemResult_ = -1;
        CreateZipRequest request;
        request.targetPath = temp.c_str();
        request.fileList = list.c_str();
        request.encryption = static_cast<uint32_t>(algorithm_);
        CreateZipArchive(&handler_, &request);
        if (handler_.lastCreateAnswer != 0x1000300) break;  // a name taken meanwhile: another one
    }
    const bool created = handler_.lastCreateAnswer == 1 && handler_.lastCreatedPath == temp;
    const bool complete = created && itemEnded_ && itemResult_ == kHarrowItemVerified && handler_.lastCloseAnswer == 1;
    if (!complete) {
        if (created) unlink(plat::PathToNative(temp).c_str());
        const bool stopped = itemResult_ == kHarrowItemCancelled || (stopFlag && stopFlag->load());
        return stopped ? ArchiveOutcome::Cancelled : ArchiveOutcome::Failed;
    }
    // The verified archive takes its final name; a name taken meanwhile is
    // never replaced, the next number is taken instead.
    std::u16string final;
    int error = EEXIST;
    for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
        final = MakeArchiveName(path);
        error = RenameNoReplace(temp, final);
    }
    if (error != 0) {
        unlink(plat::PathToNative(temp).c_str());
        return ArchiveOutcome::Failed;
    }
    // The archive may be read by whoever could read the document.
    chmod(plat::PathToNative(final).c_str(), document.st_mode & 0666);
    SyncFolderOf(final);
    lastArchive_ = final;
    return IsGone(RemoveDocument(path)) ? ArchiveOutcome::Done : ArchiveOutcome::DocumentStayed;
}

uint32_t DocumentArchiver::OnQueryPassword(HarrowEvent* event)
{
    if (password_.empty()) return kHarrowPasswordNotGiven;
    event->password = password_.c_str();
    return 1;
}

uint32_t DocumentArchiver::OnItemBegin(HarrowEvent* event)
{
    if (onItemBegin) onItemBegin(event->itemPath ? std::u16string(event->itemPath) : std::u16string());
    return 1;
}

uint32_t DocumentArchiver::OnOtherEvent(HarrowEvent* event)
{
    if (event->type == kHarrowEventProgress && onProgress) onProgress(event->bytesDone, event->bytesTotal);
    return stopFlag && stopFlag->load() ? 0 : 1;
}

uint32_t DocumentArchiver::OnItemEnd(HarrowEvent* event)
{
    itemEnded_ = true;
    itemResult_ = event->itemResult;
    return 1;
}
