// The program's main popup menu: one menu, shown from the menu button of the
// main window, the search windows and the event log.
#pragma once

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// The help page (the menu's help item and F1 of the main window).
extern const char kHelpPageUrl[];

// Shows the menu over a window and runs the command chosen.
void ShowMainMenu(QWidget* window);
// Runs one command of the menu (10100 settings ... 10108 about).
void RunMainMenuCommand(QWidget* window, int command);
// Test seam: when set, chooses a command from the items (command, enabled)
// instead of showing the menu.
std::function<int(const std::vector<std::pair<int, bool>>&)>& MainMenuChooser();
