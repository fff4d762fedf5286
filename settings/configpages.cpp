#include "settings/configpages.h"

#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"
#include "core/documentkinds.h"
#include "core/eventstore/CppSQLite3.h"
#include "core/eventstore/eventqueries.h"
#include "core/eventstore/eventstore.h"
#include "core/eventstore/eventtables.h"
#include "core/registry.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/wformat.h"
#include "settings/confighooks.h"

using namespace ps::ui;

namespace {

constexpr int kPageBitmap = 177;
constexpr int kPageWidth = 335;
constexpr int kPageHeight = 334;

// A stored field read as a decimal number the way the C library does:
// blanks, a sign, then digits; anything else reads as 0.
int FieldValue(const std::u16string& s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    long long v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        v = v * 10 + (s[i] - u'0');
        if (v > 0x7FFFFFFF) v = 0x7FFFFFFF;  // the stored state only tells zero from non-zero
    }
    return static_cast<int>(negative ? -v : v);
}

void DrawPageBitmap(QWidget* w, QPainter& p)
{
    p.fillRect(w->rect(), Qt::white);
    const QPixmap bmp = SkinBitmap(kPageBitmap);
    if (!bmp.isNull()) TransparentBlt(p, QRect(0, 0, bmp.width(), w->height()), bmp, bmp.rect());
}

}  // namespace

// ---- Shared page behaviour -------------------------------------------------------------------

CConfigPageBase::CConfigPageBase(QWidget* parent) : QWidget(parent)
{
    setFont(Font12());
    resize(kPageWidth, kPageHeight);
}

void TellUnstoredEvents(EventStoreFailureWatch& watch, QWidget* owner)
{
    EventStoreFailure first;
    if (watch.TakeNotice(first)) ShowMessageBox(EventStoreFailureText(first), u"", 1, owner);
}

void CConfigPageBase::NotifyChanged(int index, int value)
{
    // Before the settings window has given its handle (while the page loads)
    // the notice reaches nobody.
    if (m_hConfigWnd)
        PostUserMessage(m_hConfigWnd, UM_CONFIG_PAGE_CHANGED, static_cast<quintptr>(index), value);
}

QLabel* CConfigPageBase::MakeLabel(const char16_t* key, const QFont& font, int x, int y)
{
    auto* l = new QLabel(ToQ(GetText(key)), this);
    l->setFont(font);
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->setStyleSheet("background: transparent; color: black;");
    l->adjustSize();
    l->move(x, y);
    return l;
}

void CConfigPageBase::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    DrawPageBitmap(this, p);
}

void CConfigPageBase::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: e->accept(); return;
    default: QWidget::keyPressEvent(e);
    }
}

// ---- Search folders --------------------------------------------------------------------------

CSearchFolderPage::CSearchFolderPage(QWidget* parent) : CConfigPageBase(parent)
{
    MakeLabel(u"SEARCH_FOLDER_PAGE", FontBold12(), 20, 20);
    m_tree = new CDriveSelectTree(this);
    m_tree->setFont(Font12());
    m_tree->setFrameShape(QFrame::NoFrame);
    m_tree->setGeometry(20, 43, 310, 270);
    m_tree->Initialize();
    LoadSettings();
}

void CSearchFolderPage::SetConfigWindow(QObject* window)
{
    CConfigPageBase::SetConfigWindow(window);
    m_tree->SetNotifyWindow(window);
}

void CSearchFolderPage::SetStoredState(const std::u16string& path, bool check)
{
    QTreeWidgetItem* item = m_tree->FindItemByPath(ToQ(path));
    if (!item) return;  // a folder or drive that is gone
    m_tree->SetCheck(item, check);
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) {
        const auto [count, on] = m_tree->CountChildren(p);
        CDriveSelectTree::SetStateImage(p, count > 0 && on == count ? 2 : 3);
    }
}

void CSearchFolderPage::Collect(std::vector<std::u16string>& checked, std::vector<std::u16string>& unchecked) const
{
    QTreeWidgetItem* top = m_tree->topLevelItem(0);
    if (!top) return;
    QStringList on, off;
    m_tree->CollectPaths(top, on, off);
    for (const QString& s : on) checked.push_back(FromQ(s));
    for (const QString& s : off) unchecked.push_back(FromQ(s));
}

void CSearchFolderPage::LoadSettings()
{
    m_tree->ResetChecks(false);
    std::vector<std::u16string> include, exclude;
    LoadSearchFolders(include, exclude);
    // A list whose count promises more entries than it holds is damaged:
    // it is read as no list at all, so the defaults below replace it.
    const auto damaged = [](const std::vector<std::u16string>& list) {
        return std::any_of(list.begin(), list.end(), [](const std::u16string& p) { return p.empty(); });
    };
    if (damaged(include) || damaged(exclude)) {
        DeleteSearchFolders();
        include.clear();
        exclude.clear();
    }
    for (const auto& path : include) SetStoredState(path, true);
    for (const auto& path : exclude) SetStoredState(path, false);
    if (include.empty() && exclude.empty()) {
        // First opening: everything is searched, and that is stored at once.
        m_tree->ResetChecks(true);
        std::vector<std::u16string> checked, unchecked;
        Collect(checked, unchecked);
        Written(SaveSearchFolders(checked, unchecked));
    }
    m_tree->viewport()->update();
}

int CSearchFolderPage::HasSelection() const
{
    std::vector<std::u16string> checked, unchecked;
    Collect(checked, unchecked);
    return checked.empty() ? 0 : 1;
}

bool CSearchFolderPage::SaveSettings()
{
    std::vector<std::u16string> checked, unchecked;
    Collect(checked, unchecked);
    DeleteSearchFolders();
    if (!Written(SaveSearchFolders(checked, unchecked))) return false;
    AddEvent(0x1000000);
    return true;
}

void CSearchFolderPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    DrawPageBitmap(this, p);
    p.setPen(QColor(199, 199, 197));
    p.setBrush(Qt::NoBrush);
    p.drawRect(m_tree->geometry().adjusted(-1, -1, 0, 0));
}

// ---- Check-box pages -------------------------------------------------------------------------

CCheckListPage::CCheckListPage(QWidget* parent, int pageIndex, const char16_t* titleKey,
                               const std::u16string& valueName, int32_t eventType, std::vector<Field> fields)
    : CConfigPageBase(parent),
      m_nPageIndex(pageIndex),
      m_valueName(valueName),
      m_eventType(eventType),
      m_fields(std::move(fields))
{
    MakeLabel(titleKey, FontBold12(), 20, 20);
    for (size_t i = 0; i < m_fields.size(); ++i) {
        auto* box = new CCheckButtonEx(ToQ(GetText(m_fields[i].key)), this);
        box->setFont(Font12());
        box->SetBackgroundColour(0xFFFFFF);
        box->adjustSize();
        box->move(20, 50 + 25 * static_cast<int>(i));
        connect(box, &QAbstractButton::clicked, this, [this] { NotifyChanged(m_nPageIndex, 1); });
        m_boxes.push_back(box);
    }
}

void CCheckListPage::LoadSettings()
{
    StringVector parts;
    SplitString(parts, ReadRegistryString(SettingsKey(), m_valueName, u""), u"|");
    if (parts.size() != m_boxes.size()) {
        // Missing or malformed: every kind, stored at once.
        SetDefaults();
        return;
    }
    for (size_t i = 0; i < m_boxes.size(); ++i) m_boxes[i]->SetCheck(FieldValue(parts[i]) != 0 ? 1 : 0);
}

int CCheckListPage::HasSelection() const
{
    for (auto* b : m_boxes)
        if (b->GetCheck()) return 1;
    return 0;
}

bool CCheckListPage::SaveSettings()
{
    std::u16string text;
    for (size_t i = 0; i < m_boxes.size(); ++i) {
        const int state = m_boxes[i]->GetCheck();
        text += state ? u"1|" : u"0|";
        if (state) ReportUserAction(m_fields[i].action);
    }
    if (!Written(WriteRegistryString(HKEY_CURRENT_USER_ROOT, SettingsKey(), m_valueName, text, false) == 1))
        return false;
    AddEvent(m_eventType);
    return true;
}

bool CCheckListPage::SetDefaults()
{
    for (auto* b : m_boxes) b->SetCheck(1);
    const bool ok = SaveSettings();
    update();
    return ok;
}

CPersonalInformationPage::CPersonalInformationPage(QWidget* parent)
    : CCheckListPage(parent, 1, u"PERSONAL_INFORMATION_PAGE", u"PersonalInfo", 0x2000000,
                     {{1045, u"COLUMN_ID_NUMBER", 63},
                      {1022, u"COLUMN_ACCOUNT_NUMBER", 64},
                      {1023, u"COLUMN_CREDIT_NUMBER", 65},
                      {1024, u"COLUMN_PHONE_NUMBER", 66},
                      {1025, u"COLUMN_ADDRESS", 67},
                      {1026, u"COLUMN_EMAIL", 68},
                      {1027, u"COLUMN_IP_ADDRESS", 69}})
{
    LoadSettings();
}

namespace {

// The page's check box of each document kind, in the order of
// kDocumentKinds: its control id and its action.
constexpr struct {
    int id;
    int action;
} kKindBoxes[] = {{1047, 70}, {1048, 71}, {1049, 72}, {1050, 73}, {1051, 74}};
static_assert(std::size(kKindBoxes) == kDocumentKindCount, "a check box per document kind");

}  // namespace

std::vector<CCheckListPage::Field> CKindOfDocumentPage::KindFields()
{
    std::vector<Field> fields;
    for (int i = 0; i < kDocumentKindCount; ++i)
        fields.push_back({kKindBoxes[i].id, kDocumentKinds[i].configKey, kKindBoxes[i].action});
    return fields;
}

CKindOfDocumentPage::CKindOfDocumentPage(QWidget* parent)
    : CCheckListPage(parent, 2, u"KIND_OF_DOCUMENT_PAGE", u"KindOfDocument", 0x3000000, KindFields())
{
    LoadSettings();
}

// ---- Exceptions ------------------------------------------------------------------------------

CExceptionSettingPage::CExceptionSettingPage(QWidget* parent) : CConfigPageBase(parent)
{
    MakeLabel(u"EXCEPTION_SETTING_PAGE", FontBold12(), 20, 20);
    MakeLabel(u"CONFIG_EXCEPTION_EXPLAIN", Font12(), 20, 45);
    MakeLabel(u"CONFIG_EXCEPTION_EXPLAIN_SUB", Font12(), 20, 62);
    m_btnOperate = new ImageButton(this);
    m_btnOperate->LoadBitmapStrip(197, 1);
    m_btnOperate->setToolTip(ToQ(GetText(u"CONFIG_EXCEPTION_OPERATE")));
    m_btnOperate->move(20, 90);
    connect(m_btnOperate, &QAbstractButton::clicked, this, [this] { OnBnClickedOperate(); });
}

void CExceptionSettingPage::OnBnClickedOperate()
{
    ReportUserAction(27);
    // Removals made in the list take effect at once, whatever the settings
    // window does afterwards.
    // Owned by the settings window, so that the window manager hands the
    // activation back to it; the keyboard goes back to the frame, where
    // Escape closes the settings window as before the list was opened.
    QWidget* settings = window();
    if (ConfigPageHooks().openExceptionList)
        ConfigPageHooks().openExceptionList(settings);
    if (settings && settings->isVisible()) {
        settings->activateWindow();
        settings->setFocus(Qt::OtherFocusReason);
    }
}

// ---- Event log -------------------------------------------------------------------------------

CLogSettingPage::CLogSettingPage(QWidget* parent) : CConfigPageBase(parent)
{
    MakeLabel(u"LOG_SETTING_PAGE", FontBold12(), 20, 20);
    MakeLabel(u"CONFIG_SAVE_LOG_DATE", Font12(), 20, 53);
    m_spin = new QSpinBox(this);
    m_spin->setRange(1, 365);
    m_spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_spin->setFont(Font12());
    m_spin->setGeometry(112, 49, 58, 21);
    MakeLabel(u"CONFIG_SAVE_LOG_DAY", Font12(), 175, 53);
    QLabel* explain = MakeLabel(u"CONFIG_SUB_EXPLAIN", Font11(), 20, 78);
    explain->setStyleSheet("background: transparent; color: #808080;");
    m_btnDelete = new ImageButton(this);
    m_btnDelete->LoadBitmapStrip(198, 1);
    m_btnDelete->move(20, 110);
    m_btnSave = new ImageButton(this);
    m_btnSave->LoadBitmapStrip(199, 1);
    m_btnSave->move(100, 110);
    connect(m_spin, &QSpinBox::textChanged, this, [this] { NotifyChanged(5, 1); });
    connect(m_btnDelete, &QAbstractButton::clicked, this, [this] { OnBnClickedDeleteLog(); });
    connect(m_btnSave, &QAbstractButton::clicked, this, [this] { OnBnClickedSaveLog(); });
    LoadSettings();
}

void CLogSettingPage::LoadSettings()
{
    // A count the page cannot offer (0, or a damaged value) shows the default.
    const uint32_t days = GetLogSaveLimitDay();
    m_nDays = static_cast<int>(days);
    m_spin->setValue(days >= 1 && days <= 365 ? static_cast<int>(days) : kDefaultDays);
    m_bLoaded = true;
}

bool CLogSettingPage::SaveSettings()
{
    const int days = m_spin->value();
    if (!Written(WriteRegistryDword(HKEY_CURRENT_USER_ROOT, SettingsKey(), u"LogSaveLimitDay",
                                    static_cast<uint32_t>(days), false) == 1))
        return false;
    m_nDays = days;
    AddEvent(0x7000000);
    return true;
}

void CLogSettingPage::OnBnClickedDeleteLog()
{
    ReportUserAction(32);
    if (ShowMessageBox(GetText(u"CONFIG_QUESTION_DELETE_LOG"), u"", 0, this) != IDOK) return;
    // The deletion is recorded only when it happened; a failure is told,
    // with the store's reason when it gave one.
    EventStoreFailureWatch watch;
    bool deleted = false;
    try {
        deleted = DeleteAllEvents();
    } catch (const CppSQLite3Exception& e) {
        ShowMessageBox(plat::FormatWide(ConfigPageHooks().cannotReadLogStore, e.ErrorMessage().c_str()), u"", 1, this);
        return;
    }
    if (!deleted) {
        EventStoreFailure first;
        ShowMessageBox(watch.TakeNotice(first) ? std::u16string(ConfigPageHooks().cannotDeleteLog) + u"\n" +
                                                     EventStoreFailureText(first)
                                               : std::u16string(ConfigPageHooks().cannotDeleteLog),
                       u"", 1, this);
        return;
    }
    AddEvent(0x6000000);
    TellUnstoredEvents(watch, this);
}

QString CLogSettingPage::InitialFileName(const QDateTime& now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    // Hour and minute are padded with blanks, as the name has always been.
    return QString::asprintf("PrivasweepLog_%4d%02d%02d_%2d%2d", d.year(), d.month(), d.day(), t.hour(), t.minute());
}

void CLogSettingPage::OnBnClickedSaveLog()
{
    ReportUserAction(33);
    QString path = AskFileName(this, QStringLiteral("로그 파일 저장"), InitialFileName(Now()),
                               QStringLiteral("CSV Files (*.csv);;TXT Files (*.txt);;All Files (*)"), true);
    if (path.isEmpty()) return;
    // A name typed without an extension gets the default one.
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (path.indexOf(QLatin1Char('.'), slash + 1) < 0) path += QStringLiteral(".csv");
    // A log that cannot be read or a file that cannot be created is told,
    // never passed over as if the log had been saved.
    std::vector<int64_t> ids;
    bool written = false;
    try {
        GetAllEventIds(ids);
        written = ConfigPageHooks().writeLogExport && ConfigPageHooks().writeLogExport(FromQ(path), ids);
    } catch (const CppSQLite3Exception& e) {
        ShowMessageBox(plat::FormatWide(ConfigPageHooks().cannotReadLogStore, e.ErrorMessage().c_str()), u"", 1, this);
        return;
    }
    if (!written) {
        ShowMessageBox(plat::FormatWide(ConfigPageHooks().cannotCreateLogFile, FromQ(path).c_str()), u"", 1, this);
        return;
    }
    // The file is written; an event the store did not keep is told.
    EventStoreFailureWatch watch;
    AddEvent(0x5000000);
    TellUnstoredEvents(watch, this);
}
