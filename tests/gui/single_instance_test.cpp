// A second start of the program shows the running one's window and ends with status 0.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "platform/framework/gui/native.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

TEST(SingleInstance, ASecondStartShowsTheHiddenWindow) {
    QTemporaryDir runtimeDir;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    char name[] = "quillet";
    char* argv[] = {name, nullptr};
    int argc = 1;
    fw::Runtime runtime(argc, argv);
    ASSERT_FALSE(runtime.HandedOverToRunningInstance());

    mbs::testing::ForceAudioBackend("offline");
    mbs::testing::ForceMidiBackend("loopback");
    mbs::testing::SetInstrumentOverride(
        std::vector<mbs::Instrument>{{16, "Dulcimer"}, {1, "Piano"}});
    mbs::LoadMidiComponent();
    fw::Application::Register(fw::New<quillet::QuilletFree>());
    auto w = quillet::shared::Window1();
    w->Log("Keys MIDI 1");
    QMainWindow* native = fw::NativeWindowOf(*w);
    native->close();
    ASSERT_FALSE(native->isVisible());

    QProcess second;
    second.setProgram(QStringLiteral(QUILLET_EXECUTABLE));
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start();
    ASSERT_TRUE(second.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    ASSERT_TRUE(WaitFor([&] { return native->isVisible(); }, 5000));
    EXPECT_EQ(quillet::shared::Window1(), w);
    EXPECT_EQ(fw::Window::OpenWindows().size(), 1u);
    EXPECT_EQ(w->ControlAs<fw::StaticText>("Warnings")->Text(), "Keys MIDI 1");
    EXPECT_EQ(w->ControlAs<fw::PopupMenu>("InstrumentsList")
                  ->List(w->ControlAs<fw::PopupMenu>("InstrumentsList")->ListIndex()),
              "Dulcimer");
    fw::Quit(0);
    fw::Application::Register(nullptr);
}

TEST(SingleInstance, ATerminationSignalQuitsCleanly) {
    char name[] = "test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    QCoreApplication app(argc, argv);
    QTemporaryDir runtimeDir;
    QProcess quillet;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    env.insert("QUILLET_AUDIO", "offline");
    env.insert("QUILLET_MIDI", "loopback");
    quillet.setProcessEnvironment(env);
    quillet.setProgram(QStringLiteral(QUILLET_EXECUTABLE));
    quillet.setProcessChannelMode(QProcess::ForwardedChannels);
    quillet.start();
    ASSERT_TRUE(quillet.waitForStarted(5000));
    // Its instance socket exists once its runtime is up.
    ASSERT_TRUE(
        WaitFor([&] { return QFile::exists(runtimeDir.path() + "/quillet.instance"); }, 20000));
    quillet.terminate();
    ASSERT_TRUE(WaitFor([&] { return quillet.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(quillet.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quillet.exitCode(), 0);
}
