// The whole program: its start-up sequence, the ways it ends, and a second start.
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

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

// Xvfb, Quillet on it, and a browser that notes the addresses it is asked to open.
struct OnX11 {
    QProcess x;
    QTemporaryDir dir;
    std::optional<Quillet> quillet;
    QStringList known;

    ~OnX11() {
        quillet.reset();
        x.kill();
        x.waitForFinished();
    }
    bool Started() {
        x.start("Xvfb", {"-displayfd", "1", "-noreset"});
        if (!WaitFor([&] { return x.canReadLine(); }, 20000)) return false;
        qputenv("DISPLAY", ":" + x.readLine().trimmed());
        QFile browser(dir.path() + "/xdg-open");
        if (!browser.open(QIODevice::WriteOnly) ||
            !browser.write("#!/bin/sh\necho \"$1\" >>\"$(dirname \"$0\")/opened\"\n") ||
            !browser.setPermissions(QFile::ReadOwner | QFile::ExeOwner))
            return false;
        browser.close();
        // X11's libraries trip the sanitizer: an unterminated strndup, memory left at exit.
        quillet.emplace(dir.path(), QStringList{"QT_QPA_PLATFORM=xcb",
                                                "PATH=" + dir.path() + ":" + qgetenv("PATH"),
                                                "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") +
                                                    ":intercept_strndup=0:detect_leaks=0"});
        return WaitFor([&] { return (known = QuilletWindows()).size() == 1; }, 20000);
    }
    // Help is the menu bar's second menu: its item `item` (About 0, Quick Start 1).
    bool Choose(int item) {
        QProcess::execute("xdotool", {"mousemove", "--window", known[0], "58", "8", "click", "1"});
        if (!NewWindowShows(known)) return false;
        QProcess::execute("xdotool",
                          QStringList{"key"} + QStringList{"Down", "Down", "Return"}.mid(1 - item));
        return NewWindowShows(known);
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
        OnX11 x11;
        ASSERT_TRUE(x11.Started());
        ASSERT_TRUE(x11.Choose(about ? 0 : 1));
        // Quick Start's box closes; it takes the keys only a moment after it shows.
        ASSERT_TRUE(about || WaitFor([&] {
                        QProcess::execute("xdotool", {"key", "Escape"});
                        return QuilletWindows() == x11.known.first(1);
                    }));
        x11.x.kill();
        Quillet& q = *x11.quillet;
        ASSERT_TRUE(WaitFor([&] { return q.state() == QProcess::NotRunning; }, 10000));
        EXPECT_EQ(std::pair(q.exitStatus(), q.exitCode()), std::pair(QProcess::NormalExit, 1));
    }
}

TEST_F(ProgramTest, OnX11TheAboutBoxHasNoTitleAndItsLinkOpensOnceAClick) {
    OnX11 x11;
    ASSERT_TRUE(x11.Started());
    ASSERT_TRUE(x11.Choose(0));
    const QString box = x11.known.back();
    for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
        QProcess xprop;
        xprop.start("xprop", {"-id", box, property});
        xprop.waitForFinished();
        EXPECT_TRUE(xprop.readAll().trimmed().endsWith("=")) << property << " is not empty";
    }
    // The link: the right and the middle button open nothing, a double click opens it once.
    QFile opened(x11.dir.path() + "/opened");
    for (const char* click : {"3", "2", "--repeat=2 1"})
        QProcess::execute(
            "sh",
            {"-c", QString("xdotool mousemove --window %1 100 313 click %2").arg(box, click)});
    ASSERT_TRUE(WaitFor([&] { return opened.size() > 0; }));
    EXPECT_FALSE(WaitFor([&] { return opened.size() > 31; }, 1000));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll(), "http://www.brindlewood.example\n");
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
