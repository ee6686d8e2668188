#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QTest>

#include <string>
#include <vector>

#include "app/quillet_free.h"
#include "platform/framework/gui/native.h"
#include "platform/framework/gui/testing.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

// The main window fixture, with the browser replaced by a list of the URLs it was given.
class ShellTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        mbs::testing::SetInstrumentOverride(Instruments({{16, "Dulcimer"}, {1, "Piano"}}));
        fw::testing::SetShowURLHook([this](const std::string& url) { urls.push_back(url); });
    }

    void TearDown() override {
        WindowTest::TearDown();
        fw::testing::SetShowURLHook(nullptr);
        quillet::testing::SetUpdateSite(std::nullopt);
    }

    // Shows the window and waits until the window system has it on screen and active.
    static void ShowAndActivate(fw::Window& w) {
        QMainWindow* native = fw::NativeWindowOf(w);
        native->show();
        native->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(native));
        ASSERT_TRUE(QTest::qWaitForWindowActive(native));
    }

    std::vector<std::string> urls;
};
