// Starts the program, then writes pictures of its main window (with the menu bar) and of the
// About box that the Help menu shows, for a person to look at. Usage:
//   about_screenshot OUTPUT_DIR
// Runs on any Qt platform: offscreen, or under Xvfb for the X11 rendering a user sees.
#include <QDir>
#include <QMainWindow>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "app/menu_bar1.h"
#include "app/quillet_free.h"
#include "platform/framework/gui/native.h"
#include "platform/framework/gui/testing.h"
#include "platform/midi/component.h"
#include "platform/midi/testing.h"
#include "ui/about/aqua_about_box.h"
#include "ui/main/window1.h"

namespace {

bool Save(QWidget* window, const QString& path) {
    bool ok = QTest::qWaitForWindowExposed(window) && window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    // The pictures show the windows, not a sound card or a keyboard.
    mbs::testing::ForceAudioBackend("offline");
    mbs::testing::ForceMidiBackend("loopback");
    fw::Runtime runtime(argc, argv, fw::Runtime::Options{.singleInstance = false});

    bool ok = true;
    QTimer::singleShot(0, [&] {
        auto w = quillet::shared::Window1();
        ok = Save(fw::NativeWindowOf(*w), dir + QStringLiteral("/main-window.png")) && ok;
        bool shown = false;
        QTimer::singleShot(0, [&] {
            if (auto box = fw::Window::FindOpen<quillet::AquaAboutBox>()) {
                shown = true;
                ok = Save(fw::NativeWindowOf(*box), dir + QStringLiteral("/about-box.png")) && ok;
                box->Close();
            }
        });
        fw::testing::ChooseMenuItem("HelpAboutVelunor");
        ok = ok && shown;
        fw::Quit(0);
    });
    quillet::Main(runtime);
    quillet::shared::ReleaseTst();
    quillet::shared::ReleaseMenuBar1();
    return ok ? 0 : 1;
}
