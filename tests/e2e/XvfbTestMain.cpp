// A gtest main for tests that show real windows: an Xvfb display of their own for the
// whole run, started before the application connects to it.
#include "platform/LeakCheck.h"
#include "support/Command.h"
#include "support/VirtualDisplay.h"

#include <QAccessible>
#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<test_support::VirtualDisplay> display;
    const bool listing = ::testing::GTEST_FLAG(list_tests);
    if (!listing && test_support::Installed("Xvfb")) {
        display = std::make_unique<test_support::VirtualDisplay>();
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the tests skip without a display
    }
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    int result = 0;
    {
        QApplication app(argc, argv);
        // The accessibility bridge tries the session bus on a thread of Qt's own the first
        // time a control changes; tried here, that thread has settled before a test ends.
        QAccessible::isActive();
        std::setlocale(LC_ALL, "");
        result = RUN_ALL_TESTS();
    }
    display.reset();
    CheckForLeaksBeforeExit();
    return result;
}
