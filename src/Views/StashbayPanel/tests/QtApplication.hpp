#pragma once

#include <QApplication>

#include <cstdlib>

namespace stashbay::testing {

// The views need a Qt application; the offscreen platform draws without a display.
inline void ensureQtApplication() {
    if (QApplication::instance()) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Update requests come at Qt's next turn, not a few milliseconds of real time later.
    ::setenv("QT_QPA_UPDATE_IDLE_TIME", "0", 1);
    static int argc = 1;
    static char name[] = "stashbay_tests";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process: destroying it among the static destructors crashes Qt.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
}

}  // namespace stashbay::testing
