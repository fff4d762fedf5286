// Folder trees: lookups by text and "/"-separated label path, lazy filling
// on first expansion, the computer's drives and folders, and three-state
// check boxes.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QStringList>
#include <QTreeWidget>

#include "core/controls/shellpidl.h"

namespace ps::ui {

// Tree with lookups by item text and by label path.
class CTreeCtrlEx : public QTreeWidget {
    Q_OBJECT
public:
    explicit CTreeCtrlEx(QWidget* parent = nullptr);

    // First child of `parent` (null: the top level) whose text equals `text`
    // exactly; the parent is expanded (and so filled) first. With `recursive`
    // a child's own children are searched before the next child.
    virtual QTreeWidgetItem* FindChildByText(const QString& text, QTreeWidgetItem* parent, bool recursive);
    // Inserts a child in sorted place.
    virtual QTreeWidgetItem* InsertChild(const QString& text, QTreeWidgetItem* parent);
    virtual QTreeWidgetItem* TranslateItem(QTreeWidgetItem* item) { return item; }

    // "/Computer/Data/Docs/" for an item; the inverse lookup (leading and
    // trailing "/" optional), null when a label is not found.
    QString GetItemPath(QTreeWidgetItem* item) const;
    QTreeWidgetItem* FindItemByPath(const QString& path);
};

// Fills an item's children when it is first expanded, under a wait cursor.
class CWaitingTreeCtrl : public CTreeCtrlEx {
    Q_OBJECT
public:
    explicit CWaitingTreeCtrl(QWidget* parent = nullptr);

    // Whether an item that has children must be filled again when expanded.
    virtual bool NeedsRefresh(QTreeWidgetItem*) { return false; }
    // Fills the item's children (null: the top level); non-zero when the
    // item may have children.
    virtual int PopulateItem(QTreeWidgetItem* item) = 0;

    void RefreshItem(QTreeWidgetItem* item);
    void RefreshRoot();
    void DeleteChildren(QTreeWidgetItem* item);

protected:
    virtual void OnItemExpanding(QTreeWidgetItem* item);
};

// Tree over the model of the computer: the computer item, its drives and
// their folders, with file icons.
class CShellTreeCtrl : public CWaitingTreeCtrl {
    Q_OBJECT
public:
    // Roles of the item data.
    enum Role {
        kRoleList = Qt::UserRole + 1,  // QByteArray: the absolute item list
        kRoleNotExpanded,              // bool: not expanded yet
        kRoleStateImage,               // int: 0 none, 1 unchecked, 2 checked, 3 partly checked
        kRoleFlags,                    // int: 0x1 files too, 0x10 normal names, 0x20 paths as text
    };

    explicit CShellTreeCtrl(QWidget* parent = nullptr);

    void InitImages();
    int PopulateItem(QTreeWidgetItem* item) override;
    // Enumerates the folders below an item's list and adds them.
    bool FillFolder(int flags, QTreeWidgetItem* parent, PCIDL absoluteList);
    // Adds one item (dropping what the tree does not show); null when dropped.
    QTreeWidgetItem* AddShellItem(PCIDL parentList, PCIDL childItem, QTreeWidgetItem* parent, int flags);

    // The item's absolute list and file-system path (empty when it has none).
    static QByteArray ItemList(const QTreeWidgetItem* item);
    static QString ItemFsPath(const QTreeWidgetItem* item);
    QString RootName() const { return rootName_; }
    const QPixmap& StateImages() const { return stateImages_; }

protected:
    void FillItemInfo(QTreeWidgetItem* item, PCIDL absoluteList);

    QString rootName_;
    QString computerName_;
    QPixmap stateImages_;
};

// Drives and folders with a three-state check box on every item.
class CDriveSelectTree : public CShellTreeCtrl {
    Q_OBJECT
public:
    explicit CDriveSelectTree(QWidget* parent = nullptr);

    // Inserts the computer item, lists the drives and opens it.
    void Initialize();
    // Where check changes are posted (UM_CONFIG_PAGE_CHANGED, wParam 0, lParam 1).
    void SetNotifyWindow(QObject* target) { notify_ = target; }

    static int StateImage(const QTreeWidgetItem* item);
    static void SetStateImage(QTreeWidgetItem* item, int state);
    // Checked means state 2 or 3.
    static bool GetCheck(const QTreeWidgetItem* item) { return StateImage(item) >= 2; }
    void SetCheck(QTreeWidgetItem* item, bool check);

    void ResetChecks(bool check);
    void SetChildrenCheck(QTreeWidgetItem* item, bool check);
    // Direct children and those of them in state 2.
    std::pair<int, int> CountChildren(QTreeWidgetItem* item) const;
    // Label paths of the visible items from `start`: checked (2 or 3) and the rest.
    void CollectPaths(QTreeWidgetItem* start, QStringList& checked, QStringList& unchecked) const;
    // File-system paths of the visible items from `start`: state 2 and state 1.
    void CollectCheckStates(QTreeWidgetItem* start, QStringList& checked, QStringList& unchecked) const;

    // What a click on the item's check box does.
    void SetItemCheckByClick(QTreeWidgetItem* item);
    // The check-box rectangle of an item, in viewport coordinates.
    QRect StateImageRect(QTreeWidgetItem* item) const;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void OnItemExpanding(QTreeWidgetItem* item) override;

private:
    void UpdateAncestors(QTreeWidgetItem* item);
    QObject* notify_ = nullptr;
};

}  // namespace ps::ui
