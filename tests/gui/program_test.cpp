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

// Quillet as a process of its own, on the offscreen platform unless vars ("NAME=value") say.
struct Quillet : QProcess {
    explicit Quillet(const QString& runtimeDir = {}, const QStringList& vars = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& var : vars) env.insert(var.section('=', 0, 0), var.section('=', 1));
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

QStringList QuilletWindows() {
    QProcess xdotool;
    xdotool.start("xdotool", {"search", "--onlyvisible", "--class", "quillet"});
    xdotool.waitForFinished();
    return QString(xdotool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Waits for a window of Quillet on $DISPLAY that is not among the known ones; adds it to them.
bool NewWindowShows(QStringList& known) {
    return WaitFor([&] {
        for (const QString& id : QuilletWindows())
            if (!known.contains(id)) return known << id, true;
        return false;
    });
}

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
    // A keyboard, so that the watch has stopped and the status line stays as it is.
    mbs::loopback::AddSource("Keys MIDI 1");
    auto w = WindowWith({{16, "Dulcimer"}, {1, "Piano"}});
    ASSERT_TRUE(WaitFor([&] { return !w->ControlAs<fw::Timer>("Timer1")->Enabled(); }));
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

TEST_F(ProgramTest, TheDisplayGoingAwayEndsTheProgramByExit) {
    // Help's Quick Start box shown and closed, then Help's About box left open.
    for (const bool about : {false, true}) {
        QProcess x;
        x.start("Xvfb", {"-displayfd", "1", "-noreset"});
        ASSERT_TRUE(WaitFor([&] { return x.canReadLine(); }, 20000)) << "no Xvfb";
        qputenv("DISPLAY", ":" + x.readLine().trimmed());
        QTemporaryDir runtimeDir;
        // X11's libraries trip the sanitizer: an unterminated strndup, memory left at exit.
        Quillet q(runtimeDir.path(),
                  {"QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") +
                                              ":intercept_strndup=0:detect_leaks=0"});
        QStringList known;
        ASSERT_TRUE(WaitFor([&] { return (known = QuilletWindows()).size() == 1; }, 20000));
        // Help is the menu bar's second menu; About is its first item, Quick Start its second.
        QProcess::execute("xdotool", {"mousemove", "--window", known[0], "58", "8", "click", "1"});
        ASSERT_TRUE(NewWindowShows(known));
        QProcess::execute("xdotool",
                          QStringList{"key"} + QStringList{"Down", "Down", "Return"}.mid(about));
        ASSERT_TRUE(NewWindowShows(known));
        // Quick Start's box closes; it takes the keys only a moment after it shows.
        ASSERT_TRUE(about || WaitFor([&] {
                        QProcess::execute("xdotool", {"key", "Escape"});
                        return QuilletWindows() == known.first(1);
                    }));
        x.kill();
        ASSERT_TRUE(WaitFor([&] { return q.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(std::pair(q.exitStatus(), q.exitCode()), std::pair(QProcess::NormalExit, 1));
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
