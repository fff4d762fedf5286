// Entry point of the window tests: an offscreen QApplication in isolated
// per-user folders.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/isolation.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ps_test::IsolatedHome home;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
