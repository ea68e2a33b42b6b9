#pragma once
#include <gtest/gtest.h>
#include <QApplication>
#include <memory>

#include "app/AppDelegate.h"
#include "gui/AppWindows.h"
#include "gui/QtUi.h"
#include "gui/StatusBanner.h"
#include "gui/Style.h"
#include "support/FakePorts.h"

namespace vaultry::test {

// One QApplication for the whole test binary.
inline QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "vaultry-gui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        qt::applyStyle();
        // A name no window registered is a fault of the code that asked for it.
        qt::QtUi::onRefusal(
            [](std::string_view name) { ADD_FAILURE() << "no outlet is named \"" << name << "\""; });
        return a;
    }();
    return *app;
}

// The application exists before any widget.
struct GuiAppFirst {
    GuiAppFirst() { guiApp(); }
};

// The real windows on the Qt adapter, with fakes for every other port, and the controller.
struct GuiWorld : GuiAppFirst, WorldWith<qt::QtUi> {
    qt::Commands commands;
    qt::AppWindows windows{ui, nc, commands};
    qt::StatusBanner banner{ui, windows, commands};
};

}  // namespace vaultry::test
