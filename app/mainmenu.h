// The program's main popup menu: one menu, shown from the menu button of the
// main window, the search windows and the event log.
#pragma once

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// The help page (the menu's help item and F1 of the main window); empty
// while there is none, and then neither opens anything.
extern const char kHelpPageUrl[];
// What the menu says when the installed read-me could not be opened.
inline constexpr char16_t kOpenReadMeFailedText[] =
    u"읽어보기를 열지 못했습니다. 이 문서를 여는 프로그램이 없거나 실행되지 않았습니다.";

// Shows the menu over a window and runs the command chosen.
void ShowMainMenu(QWidget* window);
// Runs one command of the menu (10100 settings ... 10108 about).
void RunMainMenuCommand(QWidget* window, int command);
// Test seam: when set, chooses a command from the items (command, enabled)
// instead of showing the menu.
std::function<int(const std::vector<std::pair<int, bool>>&)>& MainMenuChooser();
