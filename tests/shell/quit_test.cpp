// The whole program from its start-up sequence: Ctrl+Q, the Quit command's shortcut, ends
// the event loop with status 0.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/menu_bar1.h"
#include "app/quillet_free.h"
#include "platform/framework/gui/native.h"
#include "platform/midi/component.h"
#include "platform/midi/synth_engine.h"
#include "platform/midi/testing.h"
#include "ui/main/window1.h"

TEST(ProgramQuit, CtrlQEndsTheProgramWithStatusZero) {
    QTemporaryDir runtimeDir;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    mbs::testing::ForceAudioBackend("offline");
    mbs::testing::ForceMidiBackend("loopback");
    mbs::testing::SetInstrumentOverride(
        std::vector<mbs::Instrument>{{16, "Dulcimer"}, {1, "Piano"}});
    char name[] = "quillet";
    char* argv[] = {name, nullptr};
    int argc = 1;
    fw::Runtime runtime(argc, argv);
    ASSERT_FALSE(runtime.HandedOverToRunningInstance());

    bool sameBar = false;
    bool active = false;
    QTimer::singleShot(0, [&] {
        auto w = quillet::shared::Window1();
        sameBar = quillet::App()->MenuBar == quillet::shared::MenuBar1() &&
                  w->MenuBar() == quillet::App()->MenuBar;
        QMainWindow* native = fw::NativeWindowOf(*w);
        active = QTest::qWaitForWindowActive(native);
        QTest::keyClick(native, Qt::Key_Q, Qt::ControlModifier);
    });
    // Without the Quit, the loop would run on: end it with a status the test does not take.
    QTimer::singleShot(30000, [] { fw::Quit(99); });

    quillet::Main(runtime);
    EXPECT_TRUE(active);
    EXPECT_TRUE(sameBar);
    EXPECT_EQ(runtime.ExitStatus(), 0);
    quillet::shared::ReleaseTst();
    quillet::shared::ReleaseMenuBar1();
}
