#include "app/mainmenu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QUrl>

#include "app/aboutdlg.h"
#include "app/appcore.h"
#include "core/controls/skin.h"
#include "core/controls/wnd.h"
#include "core/modules.h"
#include "core/util.h"
#include "settings/configdlg.h"

using namespace ps::ui;

const char kHelpPageUrl[] = "https://privasweep.norvane.example/help?event=help";

namespace {
const char kFaqPageUrl[] = "https://privasweep.norvane.example/faq?event=faq";
const char kSupportPageUrl[] = "https://support.norvane.example/question";
const char kFamilyPageUrl[] = "https://kitmoor.norvane.example/";
const char kMakerPageUrl[] = "https://www.norvane.example/";

}  // namespace

std::function<int(const std::vector<std::pair<int, bool>>&)>& MainMenuChooser()
{
    static std::function<int(const std::vector<std::pair<int, bool>>&)> chooser;
    return chooser;
}

void RunMainMenuCommand(QWidget* window, int command)
{
    switch (command) {
    case 10101: OpenOnDesktop(QUrl(kHelpPageUrl)); break;
    case 10102: OpenWithAssociation(GetProgramFilesFolder() + u"/Norvane/Privasweep/ReadMe.txt"); break;
    case 10103: RunOnlineUpdate(); break;
    case 10104: OpenOnDesktop(QUrl(kFaqPageUrl)); break;
    case 10105: OpenOnDesktop(QUrl(kSupportPageUrl)); break;
    case 10106: OpenOnDesktop(QUrl(kFamilyPageUrl)); break;
    case 10107: OpenOnDesktop(QUrl(kMakerPageUrl)); break;
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
        {10100, true}, {10101, true}, {10102, true}, {10103, IsUpdaterLoaded()}, {10104, true},
        {10105, true},  {10106, true}, {10107, true}, {10108, true},
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
