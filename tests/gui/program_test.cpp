// The whole program: its start-up sequence, the ways it ends, and a second start.
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tests/gui/gui_test.h"

namespace {

using ProgramTest = GuiTest;

// Quillet as a process of its own, on the offscreen platform.
struct Quillet : QProcess {
    explicit Quillet(const QString& runtimeDir = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUILLET_AUDIO", "offline");
        env.insert("QUILLET_MIDI", "loopback");
        if (!runtimeDir.isEmpty()) env.insert("XDG_RUNTIME_DIR", runtimeDir);
        setProcessEnvironment(env);
        setProcessChannelMode(QProcess::ForwardedChannels);
        start(QStringLiteral(QUILLET_EXECUTABLE), {});
    }
    ~Quillet() override {
        kill();
        waitForFinished();
    }
    bool EndedWithZero() {
        return WaitFor([&] { return state() == NotRunning; }, 20000) &&
               exitStatus() == NormalExit && exitCode() == 0;
    }
};

class ThrowingWindow : public fw::Window {
public:
    void CreateControls() override {
        auto timer = fw::New<fw::Timer>();
        AddControl("Timer", timer);
        timer->SetPeriod(10);
        timer->Action = [] { fw::Ref<fw::Window>()->SetTitle("never"); };
    }
};

}  // namespace

TEST_F(ProgramTest, WithoutASoundFontItSaysSoAndQuitsWithStatusZero) {
    mbs::testing::SetSoundFontOverride(std::vector<std::string>{"/nonexistent/a.sf2"});
    testing::internal::CaptureStderr();
    // The Quit comes before the event loop runs: the loop must end as soon as it starts.
    quillet::Main(TestRuntime());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(TestRuntime().ExitStatus(), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Velunor only runs on Mac OS X 10.2 or newer."});
    EXPECT_NE(err.find("no General MIDI SoundFont found"), std::string::npos) << err;
    EXPECT_NE(err.find("/nonexistent/a.sf2: not found"), std::string::npos) << err;
}

TEST_F(ProgramTest, CtrlQEndsTheEventLoopWithStatusZero) {
    mbs::testing::SetInstrumentOverride(std::vector<mbs::Instrument>{{16, "Dulcimer"}});
    QTimer::singleShot(0, [] {
        QMainWindow* native = fw::NativeWindowOf(*quillet::shared::Window1());
        ASSERT_TRUE(QTest::qWaitForWindowActive(native));
        QTest::keyClick(native, Qt::Key_Q, Qt::ControlModifier);
    });
    // Without the Quit the loop would run on: end it with a status the test does not take.
    QTimer::singleShot(30000, [] { fw::Quit(99); });
    quillet::Main(TestRuntime());
    EXPECT_EQ(TestRuntime().ExitStatus(), 0);
}

TEST_F(ProgramTest, ASecondStartShowsTheRunningWindowAndEnds) {
    auto w = WindowWith({{16, "Dulcimer"}, {1, "Piano"}});
    w->Log("Keys MIDI 1");
    fw::NativeWindowOf(*w)->close();
    ASSERT_FALSE(w->Visible());
    EXPECT_TRUE(Quillet().EndedWithZero());
    ASSERT_TRUE(WaitFor([&] { return w->Visible(); }));
    EXPECT_EQ(quillet::shared::Window1(), w);
    EXPECT_EQ(Status(*w), "Keys MIDI 1");
}

TEST_F(ProgramTest, TerminationSignalsQuitWithStatusZero) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir runtimeDir;
        Quillet quillet(runtimeDir.path());
        // Its instance socket exists once its runtime is up.
        ASSERT_TRUE(
            WaitFor([&] { return QFile::exists(runtimeDir.path() + "/quillet.instance"); }, 20000));
        ::kill(static_cast<pid_t>(quillet.processId()), signal);
        EXPECT_TRUE(quillet.EndedWithZero()) << "signal " << signal;
    }
}

TEST(ProgramDeathTest, AnUnhandledExceptionIsShownAndEndsTheProgramWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            fw::testing::SetMsgBoxHook(
                [](const std::string& m) { std::fprintf(stderr, "[box] %s\n", m.c_str()); });
            fw::Window::Build<ThrowingWindow>();
            WaitFor([] { return false; }, 5000);
        },
        ::testing::ExitedWithCode(1),
        "NilObjectException was not handled(.|\n)*\\[box\\] An exception of class "
        "NilObjectException");
}
