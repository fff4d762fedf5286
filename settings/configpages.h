// The pages of the settings window: search folders, kinds of personal
// information, kinds of documents, exceptions and the event log. Each page
// reads its values from the key store when it is created and writes them
// back only when the settings window asks it to.
#pragma once

#include <QLabel>
#include <QSpinBox>
#include <QWidget>
#include <array>
#include <string>

#include "core/controls/buttons.h"
#include "core/controls/shelltree.h"

class EventStoreFailureWatch;

// Tells the user, once, why an event of the settings was not stored: the
// first write the watch saw fail since it began (nothing when every write
// was stored, or when the watch has told it already).
void TellUnstoredEvents(EventStoreFailureWatch& watch, QWidget* owner);

// What every page shares: the page bitmap as background, Enter and Escape
// kept from the window, and the change notice to the settings window.
class CConfigPageBase : public QWidget {
    Q_OBJECT
public:
    explicit CConfigPageBase(QWidget* parent);

    // The settings window that receives UM_CONFIG_PAGE_CHANGED; none while
    // the page is being created.
    virtual void SetConfigWindow(QObject* window) { m_hConfigWnd = window; }
    QObject* ConfigWindow() const { return m_hConfigWnd; }

    // Set when a write of this page to the key store failed; cleared by the
    // next successful one.
    bool WriteFailed() const { return m_bWriteFailed; }
    void ClearWriteFailed() { m_bWriteFailed = false; }

protected:
    void NotifyChanged(int index, int value);
    bool Written(bool ok)
    {
        m_bWriteFailed = !ok;
        return ok;
    }
    QLabel* MakeLabel(const char16_t* key, const QFont& font, int x, int y);
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

    QObject* m_hConfigWnd = nullptr;
    bool m_bWriteFailed = false;
};

// Page 0: the folders to search (checked) and to leave out (unchecked).
class CSearchFolderPage : public CConfigPageBase {
    Q_OBJECT
public:
    enum { IDD = 134, IDC_TITLE = 1042, IDC_TREE = 1039 };

    explicit CSearchFolderPage(QWidget* parent);
    void SetConfigWindow(QObject* window) override;

    void LoadSettings();
    int HasSelection() const;
    // Writes the tree's lists and records the settings event; false (and no
    // event) when the key store could not be written.
    bool SaveSettings();
    ps::ui::CDriveSelectTree* Tree() const { return m_tree; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void Collect(std::vector<std::u16string>& checked, std::vector<std::u16string>& unchecked) const;
    void SetStoredState(const std::u16string& path, bool check);

    ps::ui::CDriveSelectTree* m_tree;
};

// Pages 1 and 2: a column of check boxes stored as "%d|" per box.
class CCheckListPage : public CConfigPageBase {
    Q_OBJECT
public:
    int HasSelection() const;
    // Writes the boxes, reports their actions and records the event; false
    // (and no event) when the key store could not be written.
    bool SaveSettings();
    // All boxes checked and saved at once.
    bool SetDefaults();
    void LoadSettings();
    ps::ui::CCheckButtonEx* Box(int field) const { return m_boxes.at(static_cast<size_t>(field)); }
    int BoxCount() const { return static_cast<int>(m_boxes.size()); }

protected:
    struct Field {
        int id;
        const char16_t* key;
        int action;
    };
    CCheckListPage(QWidget* parent, int pageIndex, const char16_t* titleKey, const std::u16string& valueName,
                   int32_t eventType, std::vector<Field> fields);

private:
    int m_nPageIndex;
    std::u16string m_valueName;
    int32_t m_eventType;
    std::vector<Field> m_fields;
    std::vector<ps::ui::CCheckButtonEx*> m_boxes;
};

class CPersonalInformationPage : public CCheckListPage {
    Q_OBJECT
public:
    enum { IDD = 135, IDC_TITLE = 1043 };
    explicit CPersonalInformationPage(QWidget* parent);
};

class CKindOfDocumentPage : public CCheckListPage {
    Q_OBJECT
public:
    enum { IDD = 136, IDC_TITLE = 1046 };
    explicit CKindOfDocumentPage(QWidget* parent);

private:
    // A check box per row of kDocumentKinds (core/documentkinds.h).
    static std::vector<Field> KindFields();
};

// Page 4: explains the exceptions and opens the exception list.
class CExceptionSettingPage : public CConfigPageBase {
    Q_OBJECT
public:
    enum { IDD = 145, IDC_OPERATE = 1074 };
    explicit CExceptionSettingPage(QWidget* parent);
    void OnBnClickedOperate();
    ps::ui::ImageButton* OperateButton() const { return m_btnOperate; }

private:
    ps::ui::ImageButton* m_btnOperate;
};

// Page 5: days of events kept, and the whole log deleted or saved at once.
class CLogSettingPage : public CConfigPageBase {
    Q_OBJECT
public:
    enum { IDD = 138, IDC_DAYS = 1058, IDC_DELETE_LOG = 1061, IDC_SAVE_LOG = 1062 };
    static constexpr int kDefaultDays = 120;

    explicit CLogSettingPage(QWidget* parent);

    void LoadSettings();
    bool SaveSettings();
    // The day count the window's default commands set.
    void SetDays(int days) { m_spin->setValue(days); }
    int Days() const { return m_spin->value(); }
    QSpinBox* DaysBox() const { return m_spin; }

    void OnBnClickedDeleteLog();
    void OnBnClickedSaveLog();
    // The name the save dialog proposes for a local time.
    static QString InitialFileName(const QDateTime& now);

private:
    QSpinBox* m_spin;
    ps::ui::ImageButton* m_btnDelete;
    ps::ui::ImageButton* m_btnSave;
    int m_nDays = 0;
    bool m_bLoaded = false;
};
