#include "app/eventrows.h"

#include <QHeaderView>
#include <algorithm>
#include <deque>

#include "app/appcore.h"
#include "core/controls/skin.h"
#include "core/eventstore/eventtypes.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/wformat.h"

using namespace ps::ui;

namespace {

struct KindEntry {
    const char16_t* key;
    int32_t mask;
};
const KindEntry kKinds[6] = {
    {u"EVENT_LOG_SEARCH_TYPE_ALL", EVENT_MASK_ALL},         {u"EVENT_LOG_SEARCH_TYPE_SEARCH", EVENT_MASK_SEARCH},
    {u"EVENT_LOG_SEARCH_TYPE_ENCRYPT", EVENT_MASK_ENCRYPT}, {u"EVENT_LOG_SEARCH_TYPE_DELETE", EVENT_MASK_DELETE},
    {u"EVENT_LOG_SEARCH_TYPE_EXCEPTION", EVENT_MASK_EXCEPTION}, {u"EVENT_LOG_SEARCH_TYPE_ETC", EVENT_MASK_SETTINGS},
};

const char16_t* const kPeriodKeys[5] = {u"EVENT_LOG_SEARCH_TYPE_DAY", u"EVENT_LOG_SEARCH_TYPE_WEEK",
                                        u"EVENT_LOG_SEARCH_TYPE_MONTH", u"EVENT_LOG_SEARCH_TYPE_YEAR",
                                        u"EVENT_LOG_SEARCH_TYPE_CUSTOM"};

// What each event type reads as: its status key, the key of its count text
// (null when it has none), the info key of the encryption ends, and how the
// parts are joined.
enum class Join { Status, Space, Paren, ParenInfo };
struct TypeText {
    int32_t type;
    const char16_t* status;
    const char16_t* data;
    const char16_t* info;
    Join join;
};
const TypeText kTypeTexts[] = {
    {EVENT_ALL_SEARCH_START, u"EVENT_LOG_EVENT_DATA_ALL_SEARCH_START", nullptr, nullptr, Join::Status},
    {EVENT_ALL_SEARCH_CANCEL, u"EVENT_LOG_EVENT_DATA_ALL_SEARCH_CANCEL", u"EVENT_LOG_EVENT_DATA_SEARCH_DATA", nullptr, Join::Space},
    {EVENT_ALL_SEARCH_COMPLETE, u"EVENT_LOG_EVENT_DATA_ALL_SEARCH_COMPLETE", u"EVENT_LOG_EVENT_DATA_SEARCH_DATA", nullptr, Join::Space},
    {EVENT_USER_SEARCH_START, u"EVENT_LOG_EVENT_DATA_USER_SEARCH_START", nullptr, nullptr, Join::Status},
    {EVENT_USER_SEARCH_CANCEL, u"EVENT_LOG_EVENT_DATA_USER_SEARCH_CANCEL", u"EVENT_LOG_EVENT_DATA_SEARCH_DATA", nullptr, Join::Space},
    {EVENT_USER_SEARCH_COMPLETE, u"EVENT_LOG_EVENT_DATA_USER_SEARCH_COMPLETE", u"EVENT_LOG_EVENT_DATA_SEARCH_DATA", nullptr, Join::Space},
    {EVENT_ENCRYPT_START, u"EVENT_LOG_EVENT_DATA_ENCRYPT_START", nullptr, nullptr, Join::Status},
    {EVENT_ENCRYPT_CANCEL, u"EVENT_LOG_EVENT_DATA_ENCRYPT_CANCEL", u"EVENT_LOG_EVENT_DATA_ENCRYPT_DATA", nullptr, Join::Paren},
    {EVENT_ENCRYPT_KEY_BASE_COMPLETE, u"EVENT_LOG_EVENT_DATA_ENCRYPT_KEY_BASE_COMPLETE", u"EVENT_LOG_EVENT_DATA_ENCRYPT_DATA", u"EVENT_LOG_EVENT_DATA_KEY_BASE_INFO", Join::ParenInfo},
    {EVENT_ENCRYPT_AES128_COMPLETE, u"EVENT_LOG_EVENT_DATA_ENCRYPT_AES128_COMPLETE", u"EVENT_LOG_EVENT_DATA_ENCRYPT_DATA", u"EVENT_LOG_EVENT_DATA_AES128_INFO", Join::ParenInfo},
    {EVENT_ENCRYPT_AES256_COMPLETE, u"EVENT_LOG_EVENT_DATA_ENCRYPT_AES256_COMPLETE", u"EVENT_LOG_EVENT_DATA_ENCRYPT_DATA", u"EVENT_LOG_EVENT_DATA_AES256_INFO", Join::ParenInfo},
    {EVENT_DELETE_START, u"EVENT_LOG_EVENT_DATA_DELETE_START", nullptr, nullptr, Join::Status},
    {EVENT_DELETE_CANCEL, u"EVENT_LOG_EVENT_DATA_DELETE_CANCEL", u"EVENT_LOG_EVENT_DATA_DELETE_DATA", nullptr, Join::Space},
    {EVENT_DELETE_COMPLETE, u"EVENT_LOG_EVENT_DATA_DELETE_COMPLETE", u"EVENT_LOG_EVENT_DATA_DELETE_DATA", nullptr, Join::Space},
    {EVENT_ADD_EXCEPTION_START, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_START", nullptr, nullptr, Join::Status},
    {EVENT_ADD_EXCEPTION_CANCEL, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_CANCEL", u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_ADD_EXCEPTION_COMPLETE, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_COMPLETE", u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_REMOVE_EXCEPTION_START, u"EVENT_LOG_EVENT_DATA_REMOVE_EXCEPTION_START", nullptr, nullptr, Join::Status},
    {EVENT_REMOVE_EXCEPTION_CANCEL, u"EVENT_LOG_EVENT_DATA_REMOVE_EXCEPTION_CANCEL", u"EVENT_LOG_EVENT_DATA_REMOVE_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_REMOVE_EXCEPTION_COMPLETE, u"EVENT_LOG_EVENT_DATA_REMOVE_EXCEPTION_COMPLETE", u"EVENT_LOG_EVENT_DATA_REMOVE_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_ERROR_EXCEPTION_START, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_START", nullptr, nullptr, Join::Status},
    {EVENT_ERROR_EXCEPTION_CANCEL, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_CANCEL", u"EVENT_LOG_EVENT_DATA_ADD_ERROR_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_ERROR_EXCEPTION_COMPLETE, u"EVENT_LOG_EVENT_DATA_ADD_EXCEPTION_COMPLETE", u"EVENT_LOG_EVENT_DATA_ADD_ERROR_EXCEPTION_DATA", nullptr, Join::Space},
    {EVENT_SEARCH_FOLDER_CHANGED, u"EVENT_LOG_EVENT_DATA_SEARCH_FOLDER_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_PERSONAL_INFO_CHANGED, u"EVENT_LOG_EVENT_DATA_PERSONAL_INFO_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_KIND_OF_DOCUMENT_CHANGED, u"EVENT_LOG_EVENT_DATA_KIND_OF_DOCUMENT_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_PASSWORD_CHANGED, u"EVENT_LOG_EVENT_DATA_PASSWORD_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_LOG_SAVED, u"EVENT_LOG_EVENT_DATA_LOG_SAVED", nullptr, nullptr, Join::Status},
    {EVENT_LOG_DELETED, u"EVENT_LOG_EVENT_DATA_LOG_DELETED", nullptr, nullptr, Join::Status},
    {EVENT_LOG_SAVE_DATE_CHANGED, u"EVENT_LOG_EVENT_DATA_LOG_SAVE_DATE_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_KEY_BASE_ALGORITHM_CHANGED, u"EVENT_LOG_EVENT_DATA_KEY_BASE_ALGORITHM_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_AES128_ALGORITHM_CHANGED, u"EVENT_LOG_EVENT_DATA_AES128_ALGORITHM_CHANGED", nullptr, nullptr, Join::Status},
    {EVENT_AES256_ALGORITHM_CHANGED, u"EVENT_LOG_EVENT_DATA_AES256_ALGORITHM_CHANGED", nullptr, nullptr, Join::Status},
};

// A completed action that stored no document: every document of the run was
// refused or was gone (an action never starts without documents). Its count
// text ("0개 문서 암호처리") under "완료" would read as a success, so the line
// says that nothing was handled, as the action window's heading did. Why
// each document was refused is not stored with the event.
struct NothingHandledText {
    int32_t type;
    const char16_t* status;
    const char16_t* flag;  // key of the mark the count text carries, or null
};
const NothingHandledText kNothingHandledTexts[] = {
    {EVENT_ENCRYPT_KEY_BASE_COMPLETE, u"암호처리하지 못함", nullptr},
    {EVENT_ENCRYPT_AES128_COMPLETE, u"암호처리하지 못함", nullptr},
    {EVENT_ENCRYPT_AES256_COMPLETE, u"암호처리하지 못함", nullptr},
    {EVENT_DELETE_COMPLETE, u"문서삭제하지 못함", nullptr},
    {EVENT_ADD_EXCEPTION_COMPLETE, u"예외처리하지 못함", nullptr},
    {EVENT_REMOVE_EXCEPTION_COMPLETE, u"예외처리 해제하지 못함", nullptr},
    {EVENT_ERROR_EXCEPTION_COMPLETE, u"예외처리하지 못함", u"EVENT_LOG_EVENT_DATA_ADD_ERROR_FILE_FLAG"},
};
constexpr char16_t kNoDocumentHandledText[] = u"처리한 문서 없음";

const TypeText* FindType(int32_t type)
{
    for (const auto& t : kTypeTexts)
        if (t.type == type)
            return &t;
    return nullptr;
}

// Texts looked up once per process run: a fill formats many rows. A deque,
// so that a text handed out stays where it is when later ones are added.
const std::u16string& CachedText(const char16_t* key)
{
    static std::deque<std::pair<const char16_t*, std::u16string>> cache;
    for (const auto& [k, v] : cache)
        if (k == key)
            return v;
    cache.emplace_back(key, GetText(key));
    return cache.back().second;
}

}  // namespace

int32_t KindMask(int kind)
{
    return kind >= 1 && kind <= 5 ? kKinds[kind].mask : EVENT_MASK_ALL;
}

const char16_t* KindTextKey(int kind)
{
    return kKinds[kind >= 1 && kind <= 5 ? kind : 0].key;
}

std::u16string KindText(int kind)
{
    return GetText(KindTextKey(kind));
}

const char16_t* PeriodTextKey(int period)
{
    return period >= 0 && period <= 4 ? kPeriodKeys[period] : kPeriodKeys[0];
}

std::u16string ShownDate(const DateRecord& date)
{
    return plat::FormatWide(u"%04d-%02d-%02d", date.time.year, date.time.month, date.time.day);
}

std::u16string PeriodCaption(EventLogFilter& filter)
{
    switch (filter.period) {
    case kPeriodDay: return ShownDate(filter.reference);
    case kPeriodWeek:
    case kPeriodMonth: {
        const auto [a, b] =
            filter.period == kPeriodWeek ? GetWeekRange(filter.reference) : GetMonthRange(filter.reference);
        filter.rangeStart = a;
        filter.rangeEnd = b;
        return plat::FormatWide(u"%s ~ %s", ShownDate(a).c_str(), ShownDate(b).c_str());
    }
    case kPeriodYear: return plat::FormatWide(u"%d", filter.reference.time.year);
    default: return std::u16string();
    }
}

EventDate ToEventDate(const DateRecord& d)
{
    return EventDate{d.time.year, d.time.month, d.time.day};
}

DateRecord DayOf(const DateRecord& d)
{
    plat::SystemTime t = d.time;
    t.hour = t.minute = t.second = t.milliseconds = 0;
    DateRecord r;
    return MakeDateRecord(t, r) ? r : d;
}

std::vector<int64_t> SelectEventIds(int period, int32_t mask, const EventLogFilter& f)
{
    std::vector<int64_t> ids;
    switch (period) {
    case kPeriodDay: GetEventIdsOfDay(ids, mask, ToEventDate(f.reference)); break;
    case kPeriodYear: GetEventIdsOfYear(ids, f.reference.time.year, mask); break;
    case kPeriodWeek:
    case kPeriodMonth:
    case kPeriodCustom: GetEventIdsOfRange(ids, mask, ToEventDate(f.rangeStart), ToEventDate(f.rangeEnd)); break;
    default: break;
    }
    return ids;
}

void GetEventKindText(int32_t type, int& kind, std::u16string& text)
{
    const uint32_t t = static_cast<uint32_t>(type);
    if (t & 0xFFu) {
        kind = kKindSearch;
        text = CachedText(kKinds[kKindSearch].key);
    }
    if (t & 0xF00u) {
        kind = kKindEncrypt;
        text = CachedText(kKinds[kKindEncrypt].key);
    }
    if (t & 0xF000u) {
        kind = kKindDelete;
        text = CachedText(kKinds[kKindDelete].key);
    }
    if (t & 0xFF0000u) {
        kind = kKindException;
        text = CachedText(kKinds[kKindException].key);
    }
    if (t > 0xFFFFFFu) {
        kind = kKindEtc;
        text = CachedText(kKinds[kKindEtc].key);
    }
}

void GetPlainEventText(int32_t type, std::u16string& text)
{
    if (const TypeText* t = FindType(type))
        text = CachedText(t->status);
}

EventInfoRow LoadEventInfoRow(int64_t eventId)
{
    EventInfoRow row;
    GetEventInfo(row, eventId);
    return row;
}

std::u16string TimePart(const std::u16string& time, int index)
{
    const size_t at = static_cast<size_t>(index) * 2;
    return at < time.size() ? time.substr(at, 2) : std::u16string();
}

std::u16string DateTimeText(const EventInfoRow& row)
{
    return plat::FormatWide(u"%d-%02d-%02d %s:%s:%s", row.Year, row.Month, row.Day, TimePart(row.Time, 0).c_str(),
                            TimePart(row.Time, 1).c_str(), TimePart(row.Time, 2).c_str());
}

std::u16string FormatEventData(const EventLogRow& row)
{
    const TypeText* t = FindType(row.info.Type);
    if (!t)
        return {};
    const std::u16string& status = CachedText(t->status);
    if (!t->data)
        return status;
    if (row.fileCount == 0)
        for (const auto& nothing : kNothingHandledTexts)
            if (nothing.type == t->type)
                return nothing.flag ? plat::FormatWide(u"%s (%s, %s)", nothing.status, kNoDocumentHandledText,
                                                       CachedText(nothing.flag).c_str())
                                    : plat::FormatWide(u"%s (%s)", nothing.status, kNoDocumentHandledText);
    int n = 0;
    if (IsSearchEndType(t->type)) {
        for (int32_t k : row.kinds)
            n += k;
    } else {
        n = row.fileCount;
    }
    const std::u16string data = plat::FormatWide(CachedText(t->data).c_str(), n);
    switch (t->join) {
    case Join::Space: return plat::FormatWide(u"%s %s", status.c_str(), data.c_str());
    case Join::Paren: return plat::FormatWide(u"%s (%s)", status.c_str(), data.c_str());
    case Join::ParenInfo:
        return plat::FormatWide(u"%s (%s, %s)", status.c_str(), data.c_str(), CachedText(t->info).c_str());
    default: return status;
    }
}

// ---- CEventInfoRecord ----

CEventInfoRecord::CEventInfoRecord(int64_t eventId) : eventId_(eventId)
{
    const std::vector<EventLogRow> rows = LoadEventLogRows(&eventId, 1);
    row_ = rows.front();
    Build();
}

CEventInfoRecord::CEventInfoRecord(const EventLogRow& row) : eventId_(row.eventId), row_(row)
{
    Build();
}

void CEventInfoRecord::Build()
{
    GetEventKindText(row_.info.Type, kind_, kindText_);
    dateTime_ = DateTimeText(row_.info);
    eventText_ = kind_ == 0 ? std::u16string() : FormatEventData(row_);
}

std::vector<SearchFileInfo> CEventInfoRecord::GetDocuments()
{
    if (!documentsLoaded_ && IsActionEndType(row_.info.Type)) {
        GetEventDocuments(eventId_, documents_);
        documentsLoaded_ = true;
    }
    return documents_;
}

bool CEventInfoRecord::Contains(const std::u16string& text) const
{
    return dateTime_.find(text) != std::u16string::npos || eventText_.find(text) != std::u16string::npos ||
           kindText_.find(text) != std::u16string::npos;
}

// ---- EventListModel ----

EventListModel::EventListModel(QObject* parent) : QAbstractTableModel(parent) {}

void EventListModel::SetIds(std::vector<int64_t> ids)
{
    beginResetModel();
    ids_ = std::move(ids);
    records_.clear();
    records_.resize(ids_.size());
    endResetModel();
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(ids_.size());
}

int EventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

bool EventListModel::LoadRange(size_t first, size_t count) const
{
    count = std::min(count, ids_.size() - first);
    try {
        const std::vector<EventLogRow> rows = LoadEventLogRows(ids_.data() + first, count);
        for (size_t i = 0; i < count; ++i)
            if (!records_[first + i])
                records_[first + i] = std::make_unique<CEventInfoRecord>(rows[i]);
        return true;
    } catch (const CppSQLite3Exception& e) {
        // The rows stay empty records, so the view keeps working.
        for (size_t i = 0; i < count; ++i)
            if (!records_[first + i]) {
                EventLogRow empty;
                empty.eventId = ids_[first + i];
                records_[first + i] = std::make_unique<CEventInfoRecord>(empty);
            }
        if (onError)
            onError(e.ErrorMessage());
        return false;
    }
}

CEventInfoRecord* EventListModel::Record(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= ids_.size())
        return nullptr;
    if (!records_[row]) {
        const size_t first = static_cast<size_t>(row) - static_cast<size_t>(row) % kBatch;
        LoadRange(first, kBatch);
    }
    return records_[row].get();
}

int EventListModel::LoadedCount() const
{
    return static_cast<int>(std::count_if(records_.begin(), records_.end(), [](const auto& r) { return r != nullptr; }));
}

bool EventListModel::LoadAll()
{
    bool ok = true;
    for (size_t first = 0; first < ids_.size(); first += kEventLogBatch) {
        bool missing = false;
        for (size_t i = first; i < std::min(ids_.size(), first + kEventLogBatch) && !missing; ++i)
            missing = !records_[i];
        if (missing)
            ok = LoadRange(first, kEventLogBatch) && ok;
    }
    return ok;
}

int EventListModel::Filter(const std::u16string& text)
{
    LoadAll();
    beginResetModel();
    std::vector<int64_t> ids;
    std::vector<std::unique_ptr<CEventInfoRecord>> records;
    for (size_t i = 0; i < ids_.size(); ++i)
        if (records_[i] && records_[i]->Contains(text)) {
            ids.push_back(ids_[i]);
            records.push_back(std::move(records_[i]));
        }
    ids_ = std::move(ids);
    records_ = std::move(records);
    endResetModel();
    return static_cast<int>(ids_.size());
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == 1 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    CEventInfoRecord* r = Record(index.row());
    if (!r)
        return {};
    switch (index.column()) {
    case 0: return ToQ(r->GetDateTimeText());
    case 1: return ToQ(r->GetEventDataText());
    case 2: return ToQ(r->GetKindText());
    default: return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignCenter);
    if (role != Qt::DisplayRole)
        return {};
    static const char16_t* const keys[3] = {u"EVENT_LOG_COLUMN_DATE_TIME", u"EVENT_LOG_COLUMN_EVENT_DATA",
                                            u"EVENT_LOG_COLUMN_EVENT_TYPE"};
    return section >= 0 && section < 3 ? Tx(keys[section]) : QVariant();
}

// ---- CEventReportControl ----

CEventReportControl::CEventReportControl(QWidget* parent) : QTreeView(parent)
{
    model_ = new EventListModel(this);
    setModel(model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);  // rows are never measured one by one
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setFont(Font12());
    header()->setFont(Font12());
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->resizeSection(0, 130);
    header()->resizeSection(1, 390);
    header()->resizeSection(2, 100);
    header()->setSectionResizeMode(1, QHeaderView::Stretch);
    setFrameShape(QFrame::NoFrame);
    setStyleSheet("QTreeView { background: white; alternate-background-color: #F7F9FB; }"
                  "QTreeView::item { height: 22px; }"
                  "QHeaderView::section { background: #EEF2F6; border: 0; border-right: 1px solid #D5DCE3;"
                  " border-bottom: 1px solid #C9D2DB; height: 24px; color: #2B3A48; }");
    setAlternatingRowColors(true);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& c) { OnCurrentChanged(c); });
}

void CEventReportControl::SelectRow(int row)
{
    if (row < 0 || row >= model_->rowCount())
        return;
    const QModelIndex idx = model_->index(row, 0);
    selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(idx);
}

void CEventReportControl::OnCurrentChanged(const QModelIndex& current)
{
    if (!current.isValid())
        return;
    SendUserMessage(parentWidget(), UM_EVENT_SELECTED, static_cast<quintptr>(current.row()), 0);
}
