// The framework's own promises: timers, unhandled exceptions, Quit.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/framework/core/exceptions.h"
#include "platform/framework/gui/application.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/testing.h"
#include "platform/framework/gui/window.h"
#include "tests/support/wait.h"

namespace {

class TimerWindow : public fw::Window {
public:
    void CreateControls() override {
        timer = fw::New<fw::Timer>();
        AddControl("Timer", timer);
        timer->SetPeriod(20);
        timer->Action = [this] { ticksSeenByOpen += opened ? 0 : 1, ++ticks; };
    }
    void Event_Open() override {
        // Long enough for several periods to pass while handling events.
        QDeadlineTimer deadline(200);
        while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        opened = true;
    }
    fw::Ref<fw::Timer> timer;
    bool opened = false;
    int ticks = 0;
    int ticksSeenByOpen = 0;
};

class ThrowingWindow : public fw::Window {
public:
    void CreateControls() override {
        auto timer = fw::New<fw::Timer>();
        AddControl("Timer", timer);
        timer->SetPeriod(10);
        timer->SetMode(1);
        timer->Action = [] {
            fw::Ref<fw::Window> nothing;
            nothing->SetTitle("never");
        };
    }
};

}  // namespace

TEST(Framework, AWindowsTimerStartsOnlyAfterItsOpenReturned) {
    auto w = fw::Window::Build<TimerWindow>();
    EXPECT_EQ(w->ticksSeenByOpen, 0);
    EXPECT_TRUE(WaitFor([&] { return w->ticks >= 3; }, 2000));
    // Mode 1 fires once.
    w->timer->SetMode(1);
    int before = w->ticks;
    EXPECT_TRUE(WaitFor([&] { return w->ticks == before + 1; }, 2000));
    EXPECT_EQ(w->timer->Mode(), 0);
    EXPECT_FALSE(WaitFor([&] { return w->ticks > before + 1; }, 200));
    w->TryClose(true);
}

TEST(FrameworkDeathTest, AnUnhandledExceptionIsReportedAndEndsTheProgramWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fw::testing::SetMsgBoxHook(
                [](const std::string& m) { std::fprintf(stderr, "[box] %s\n", m.c_str()); });
            auto w = fw::Window::Build<ThrowingWindow>();
            WaitFor([] { return false; }, 5000);
        },
        ::testing::ExitedWithCode(1),
        "NilObjectException was not handled(.|\n)*\\[box\\] An exception of class "
        "NilObjectException");
}

TEST(Framework, HandlersReportExceptionsThroughTheHook) {
    std::vector<std::string> reports;
    fw::testing::SetUnhandledExceptionHook([&](const std::string& cls, const std::string& message) {
        reports.push_back(cls + "|" + message);
    });
    auto w = fw::Window::Build<ThrowingWindow>();
    EXPECT_TRUE(WaitFor([&] { return !reports.empty(); }, 2000));
    EXPECT_EQ(reports.at(0), "NilObjectException|");
    fw::testing::SetUnhandledExceptionHook(nullptr);
    w->TryClose(true);
}
