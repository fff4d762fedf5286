// What many windows share: the small-icon list with its extension map, the
// statistics action and text helpers. This is the program layer's ground
// floor: it includes no window of the program (app/application.h is the
// start, which builds the main window).
#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "search/lastcheck.h"

class QWidget;

// The list of small icons of the program and the map from upper-case
// extension ("HWP", "DIR", "CHKBOX", "UNCHKBOX") to an index in it. Index 0
// is a blank icon, so an unknown extension shows nothing.
class IconList {
public:
    IconList();
    int Add(const QIcon& icon);
    // The index of a key; 0 when the map does not hold it.
    int IndexOf(const std::u16string& key) const;
    QIcon At(int index) const;
    QIcon Of(const std::u16string& key) const { return At(IndexOf(key)); }
    bool Has(const std::u16string& key) const { return map_.count(key) != 0; }
    void Set(const std::u16string& key, int index) { map_[key] = index; }
    // Fills the map from the MIME database: each extension's type icon, the
    // folder icon as "DIR" and the two header check images.
    void FillExtensionIcons(const std::vector<std::u16string>& extensions);

private:
    QList<QIcon> icons_;
    std::map<std::u16string, int> map_;
};

// The process-wide icon list (the application object's).
IconList& AppIcons();

// Reports a numbered user action: to the test seam when one is set,
// otherwise to the statistics module.
void Act(int action);

// The UI text of a key as a QString, and a text formatted with the key's text
// as format (Windows printf rules).
QString Tx(const char16_t* key);
std::u16string Fmt(const char16_t* key, ...);
QString QFmt(const char16_t* key, ...);

// The properties of a document (name, folder, size, modification time) in
// a message box; nothing for an empty path.
void ShowDocumentProperties(const std::u16string& path, QWidget* parent);

// Disables a control that opens a window not built yet, and shows it faded.
void ShowDisabled(QWidget* w);
