// The whole program from its entry point, one run per test process.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>

#include "app/quillet_free.h"
#include "platform/framework/gui/testing.h"
#include "platform/midi/testing.h"

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        mbs::testing::ForceMidiBackend("loopback");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
        fw::testing::SetMsgBoxHook([this](const std::string& m) { messages.push_back(m); });
    }
    void TearDown() override { fw::testing::SetMsgBoxHook(nullptr); }

    int RunProgram() {
        char name[] = "quillet";
        char* argv[] = {name, nullptr};
        return quillet::Run(1, argv);
    }

    QTemporaryDir runtimeDir;
    std::vector<std::string> messages;
};

}  // namespace

TEST_F(StartupTest, NoSoundFontShowsTheMessageAndQuitsWithStatusZero) {
    mbs::testing::ForceAudioBackend("offline");
    mbs::testing::SetSoundFontOverride(
        std::vector<std::string>{"/nonexistent/a.sf2", "/nonexistent/b.sf3"});
    testing::internal::CaptureStderr();
    // The Quit comes before the event loop runs; the loop must end as soon as it starts,
    // or this call never returns.
    int status = RunProgram();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Velunor only runs on Mac OS X 10.2 or newer."});
    EXPECT_NE(err.find("no General MIDI SoundFont found"), std::string::npos) << err;
    EXPECT_NE(err.find("/nonexistent/a.sf2: not found"), std::string::npos) << err;
    EXPECT_NE(err.find("/nonexistent/b.sf3: not found"), std::string::npos) << err;
}

TEST_F(StartupTest, NoAudioOutputShowsTheMessageAndNamesTheDriversTried) {
    mbs::testing::ForceAudioBackend("driver");
    testing::internal::CaptureStderr();
    int status = RunProgram();
    std::string err = testing::internal::GetCapturedStderr();
    if (messages.empty()) GTEST_SKIP() << "this machine has a working audio output";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"Velunor only runs on Mac OS X 10.2 or newer."});
    EXPECT_NE(err.find("no audio output"), std::string::npos) << err;
    EXPECT_NE(err.find("alsa:"), std::string::npos) << err;
    EXPECT_NE(err.find("pulseaudio:"), std::string::npos) << err;
}
