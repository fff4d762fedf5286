#include "app/mainmenu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QUrl>
#include <string>
#include <sys/stat.h>

#include "app/aboutdlg.h"
#include "app/appcore.h"
#include "core/controls/messagebox.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"
#include "core/modules.h"
#include "core/uitext.h"
#include "core/util.h"
#include "platform/text.h"
#include "settings/configdlg.h"

using namespace ps::ui;

// The program has no help, FAQ, support or home pages of its own (yet): an
// empty address means "nowhere to go", and its menu item is disabled rather
// than opening an address that leads nowhere.
const char kHelpPageUrl[] = "";

namespace {
const char kFaqPageUrl[] = "";
const char kSupportPageUrl[] = "";
const char kFamilyPageUrl[] = "";
const char kMakerPageUrl[] = "";

std::u16string ReadMePath() { return GetProgramFilesFolder() + u"/Norvane/Privasweep/ReadMe.txt"; }

bool HasPage(const char* url) { return url && *url; }

bool ReadMeInstalled()
{
    struct stat st{};
    return stat(plat::PathToNative(ReadMePath()).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void OpenPage(const char* url)
{
    if (HasPage(url)) OpenOnDesktop(QUrl(QString::fromUtf8(url)));
}

}  // namespace

std::function<int(const std::vector<std::pair<int, bool>>&)>& MainMenuChooser()
{
    static std::function<int(const std::vector<std::pair<int, bool>>&)> chooser;
    return chooser;
}

void RunMainMenuCommand(QWidget* window, int command)
{
    switch (command) {
    case 10101: OpenPage(kHelpPageUrl); break;
    case 10102:
        if (!OpenWithAssociation(ReadMePath()))
            ShowMessageBox(ReadMeInstalled() ? std::u16string(kOpenReadMeFailedText) : GetText(u"ERROR_MSG_NO_EXIST_OPEN_DOCUMENT"),
                           u"", 1, window);
        break;
    case 10103: RunOnlineUpdate(); break;
    case 10104: OpenPage(kFaqPageUrl); break;
    case 10105: OpenPage(kSupportPageUrl); break;
    case 10106: OpenPage(kFamilyPageUrl); break;
    case 10107: OpenPage(kMakerPageUrl); break;
    case 10108: {
        CAboutInfoDlg about(window);
        about.DoModal();
        break;
    }
    case 10100: {
        CConfigurationDlg config(nullptr);
        config.DoModal();
        break;
    }
    default: break;
    }
}

void ShowMainMenu(QWidget* window)
{
    const std::vector<std::pair<int, bool>> items = {
        {10100, true},
        {10101, HasPage(kHelpPageUrl)},
        {10102, ReadMeInstalled()},
        {10103, IsUpdaterLoaded()},
        {10104, HasPage(kFaqPageUrl)},
        {10105, HasPage(kSupportPageUrl)},
        {10106, HasPage(kFamilyPageUrl)},
        {10107, HasPage(kMakerPageUrl)},
        {10108, true},
    };
    int command = 0;
    if (const auto& chooser = MainMenuChooser()) {
        command = chooser(items);
        for (auto& [id, enabled] : items)
            if (id == command && !enabled) command = 0;
    } else {
        QMenu menu(window);
        menu.setFont(Font12());
        const char16_t* keys[] = {u"MAIN_MENU_CONFIG",   u"MAIN_MENU_HELP",
                                  u"MAIN_MENU_README",   u"MAIN_MENU_ONLINE_UPDATE",
                                  u"MAIN_MENU_FAQ",      u"MAIN_MENU_CUSTOMER_INTERVIEW",
                                  u"MAIN_MENU_KITMOOR_HOMEPAGE", u"MAIN_MENU_NORVANE_HOMEPAGE",
                                  u"MAIN_MENU_ABOUT_PRIVASWEEP"};
        for (size_t i = 0; i < items.size(); ++i) {
            if (i == 1 || i == 4 || i == 6 || i == 8) menu.addSeparator();
            QAction* a = menu.addAction(Tx(keys[i]));
            a->setData(items[i].first);
            a->setEnabled(items[i].second);
        }
        if (QAction* chosen = menu.exec(QCursor::pos())) command = chosen->data().toInt();
    }
    RunMainMenuCommand(window, command);
}
