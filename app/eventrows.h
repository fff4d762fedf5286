// Event rows of the event-log window: the kinds and periods of the filter,
// the texts every event type code reads as, the row record, and the event
// list (a lazy table over the ids of one period: rows are read from the
// store in batches as they are first shown).
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/controls/wnd.h"
#include "core/eventstore/eventlogqueries.h"
#include "core/util.h"

// Private messages of the event-log window.
inline constexpr int UM_EVENT_SELECTED = 711;  // wParam: index of the selected record

enum EventLogPeriod { kPeriodDay = 0, kPeriodWeek = 1, kPeriodMonth = 2, kPeriodYear = 3, kPeriodCustom = 4 };
enum EventLogKind { kKindAll = 0, kKindSearch = 1, kKindEncrypt = 2, kKindDelete = 3, kKindException = 4, kKindEtc = 5 };

// The filter the event-log window holds and hands to the record windows.
struct EventLogFilter {
    int period = kPeriodMonth;
    int kind = kKindAll;
    DateRecord reference;
    DateRecord rangeStart;
    DateRecord rangeEnd;
};

// Type mask of a kind (a kind outside 1-5 selects every event) and its text.
int32_t KindMask(int kind);
std::u16string KindText(int kind);
const char16_t* KindTextKey(int kind);
const char16_t* PeriodTextKey(int period);
// The text of the period line for the filter's period and reference date;
// a week or a month also becomes the filter's range. Empty for a custom range.
std::u16string PeriodCaption(EventLogFilter& filter);
// A day as the event-log and record windows show it everywhere (period line,
// range field, date popup, list): "2026-12-01".
std::u16string ShownDate(const DateRecord& date);

// The date part of the filter as the store's queries take it.
EventDate ToEventDate(const DateRecord& d);
// The reference date's own calendar day, with the time of day cleared.
DateRecord DayOf(const DateRecord& d);

// The event ids the filter selects, newest first: by day, by year, or by
// the range (week, month, custom). A period outside 0-4 gives none.
// Throws CppSQLite3Exception when the store fails.
std::vector<int64_t> SelectEventIds(int period, int32_t mask, const EventLogFilter& f);

// ---- Event texts ----

// Kind and kind text of a type code; both outputs keep the caller's values
// when the code belongs to no group.
void GetEventKindText(int32_t type, int& kind, std::u16string& text);
// The status text of a type code, without counts; a code that is not an
// event type leaves the output as it was.
void GetPlainEventText(int32_t type, std::u16string& text);
// The event's EventInfo row; an empty row when there is none.
EventInfoRow LoadEventInfoRow(int64_t eventId);
// "%d-%02d-%02d %s:%s:%s" of the date and the six-digit time.
std::u16string DateTimeText(const EventInfoRow& row);
// The hours, minutes or seconds of a six-digit time text (index 0, 1, 2);
// empty when the text is too short.
std::u16string TimePart(const std::u16string& time, int index);
// The event text of a row: status text, with the number of documents of a
// search end or of an action end as the type asks.
std::u16string FormatEventData(const EventLogRow& row);

// One row of the event list.
class CEventInfoRecord {
public:
    // Reads the event from the store.
    explicit CEventInfoRecord(int64_t eventId);
    // From a row read in a batch.
    explicit CEventInfoRecord(const EventLogRow& row);

    int64_t EventId() const { return eventId_; }
    int Kind() const { return kind_; }
    EventInfoRow GetEventInfoRow() const { return row_.info; }
    const EventLogRow& Row() const { return row_; }
    std::u16string GetKindText() const { return kindText_; }
    std::u16string GetDateTimeText() const { return dateTime_; }
    std::u16string GetEventDataText() const { return eventText_; }
    const PersonalInfoCounts& Counts() const { return row_.counts; }
    const DocumentKindCounts& DocumentKinds() const { return row_.kinds; }
    // The documents of an action end, read from the store at the first call.
    std::vector<SearchFileInfo> GetDocuments();
    // Whether the text occurs in the date, event or kind text (case-sensitive).
    bool Contains(const std::u16string& text) const;

private:
    void Build();
    int64_t eventId_ = 0;
    EventLogRow row_;
    int kind_ = 0;
    std::u16string kindText_, dateTime_, eventText_;
    bool documentsLoaded_ = false;
    std::vector<SearchFileInfo> documents_;
};

// The rows of the event list: the ids of the filter, newest first; each
// record is read when a view first asks for it, in batches of consecutive
// rows. A batch the store cannot read leaves its rows empty and reports the
// failure once through the handler.
class EventListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kBatch = 200;
    explicit EventListModel(QObject* parent = nullptr);

    void SetIds(std::vector<int64_t> ids);
    void Clear() { SetIds({}); }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    // The record of a row, read when needed; null outside the rows.
    CEventInfoRecord* Record(int row) const;
    bool IsLoaded(int row) const { return row >= 0 && static_cast<size_t>(row) < records_.size() && records_[row]; }
    int LoadedCount() const;
    // Reads every row not read yet. False when the store failed.
    bool LoadAll();
    // Keeps the rows whose texts contain the text; returns how many remain.
    int Filter(const std::u16string& text);

    std::function<void(const std::u16string& error)> onError;

private:
    bool LoadRange(size_t first, size_t count) const;
    std::vector<int64_t> ids_;
    mutable std::vector<std::unique_ptr<CEventInfoRecord>> records_;
};

// The event list: three columns, whole-row selection; the selected row is
// sent to the parent window as UM_EVENT_SELECTED.
class CEventReportControl : public QTreeView {
    Q_OBJECT
public:
    explicit CEventReportControl(QWidget* parent = nullptr);
    EventListModel* Model() const { return model_; }
    // Selects a row (and so reports it).
    void SelectRow(int row);

private:
    void OnCurrentChanged(const QModelIndex& current);
    EventListModel* model_;
};
