// The menus and their commands as Qt shows them, the About window's hideControl and the
// link's colours under real pointer events.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <map>

#include "tests/gui/gui_test.h"
#include "tests/http/test_server.h"
#include "ui/about/aqua_about_box.h"

namespace {

using ShellTest = GuiTest;

std::vector<std::string> Texts(const QList<QAction*>& actions) {
    std::vector<std::string> out;
    for (QAction* a : actions) out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
}

// Shows the window and waits until the window system has it on screen and active.
void ShowAndActivate(fw::Window& w) {
    QMainWindow* native = fw::NativeWindowOf(w);
    native->show();
    native->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(native));
}

std::map<std::string, int32_t> Tops(fw::Window& w) {
    std::map<std::string, int32_t> tops;
    for (int32_t i = 0; i < w.ControlCount(); ++i) {
        auto c = w.Control(i).Cast<fw::RectControl>();
        tops[c->Name()] = fw::WidgetOf(*c)->geometry().top();
    }
    return tops;
}

// An About window whose link has no address, so that opening it hides the link; with a
// timer after the link, hiding it cannot measure the gap and fails.
template <bool kTimerAfterLink>
class NoHomePageAboutBox : public quillet::AquaAboutBox {
public:
    void CreateControls() override {
        AquaAboutBox::CreateControls();
        if (kTimerAfterLink) AddControl("ticker", fw::New<fw::Timer>());
    }

protected:
    std::string HomePageURL() const override { return ""; }
};

QColor Shown(QWidget* label) {
    return label->palette().color(QPalette::WindowText);
}

}  // namespace

TEST_F(ShellTest, TheMenusShowTheirItemsAndRunTheirCommands) {
    TestServer server({Step::Send("HTTP/1.0 200 OK\r\n\r\n" QUILLET_VERSION "\n")});
    quillet::testing::SetUpdateSite(UpdateSite{server.URL(), "updates.example"});
    auto w = quillet::shared::Window1();
    QMenuBar* bar = fw::NativeMenuBarOf(*w);
    ASSERT_NE(bar, nullptr);
    EXPECT_LE(bar->geometry().bottom(), fw::ContentOf(*w)->geometry().top());
    const QList<QAction*> menus = bar->actions();
    ASSERT_EQ(Texts(menus), (std::vector<std::string>{"&File", "Help"}));
    const QList<QAction*> file = menus[0]->menu()->actions();
    EXPECT_EQ(Texts(file), std::vector<std::string>{"Quit"});
    EXPECT_EQ(file[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(Texts(menus[1]->menu()->actions()),
              (std::vector<std::string>{"About Quillet", "Quick Start", "Check for Updates", "-",
                                        "Quillet on the Web"}));
    const auto choose = [&](const char* name) { bar->findChild<QAction*>(name)->trigger(); };

    choose("HelpQuickStart");
    choose("HelpCheckforUpdates");
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "Velunor is zero-configuration synthesizer. Plug in a music-keyboard "
                  "and play. You can change the sound that is played from the "
                  "selection in main window.",
                  "Your version of Quillet is up to date.\nCurrent version: " QUILLET_VERSION}));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rfind("GET /QuilletVersion.txt HTTP/1.0\r\n", 0), 0u);
    choose("HelpVelunorontheWeb");
    EXPECT_EQ(urls, std::vector<std::string>{"http://www.brindlewood.example"});

    // Each About command shows a new modal About window with the running version.
    std::vector<fw::Ref<quillet::AquaAboutBox>> shown;
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [&] {
            auto box = fw::Window::FindOpen<quillet::AquaAboutBox>();
            ASSERT_TRUE(box);
            EXPECT_EQ(QApplication::activeModalWidget(), fw::NativeWindowOf(*box));
            EXPECT_EQ(box->ControlAs<fw::StaticText>("version")->Text(), QUILLET_VERSION);
            shown.push_back(box);
            fw::NativeWindowOf(*box)->close();
        });
        choose("HelpAboutVelunor");
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0], shown[1]);
    EXPECT_FALSE(w->IsClosed());
    quillet::testing::SetUpdateSite(std::nullopt);
}

TEST_F(ShellTest, HidingAControlMovesTheLaterOnesUpAndShortensTheWindow) {
    auto box = quillet::shared::AquaAboutBox();
    const std::map<std::string, int32_t> before = Tops(*box);
    box->hideControl(box->ControlAs<fw::RectControl>("description"));
    box->hideControl(box->ControlAs<fw::RectControl>("description"));  // hidden: left alone
    const int32_t gap = before.at("credits") - before.at("description");
    std::map<std::string, int32_t> after = Tops(*box);
    for (const char* same : {"icon", "name", "version"}) EXPECT_EQ(after[same], before.at(same));
    for (const char* moved : {"description", "credits", "copyright", "homePage"})
        EXPECT_EQ(after[moved], before.at(moved) - gap) << moved;
    EXPECT_EQ(fw::ContentOf(*box)->height(), 340 - gap);
    EXPECT_FALSE(fw::WidgetOf(*box->ControlAs<fw::RectControl>("description"))->isVisible());
    box->TryClose(true);

    // The last control has no successor: the gap is its own height (the link's, 13).
    auto noLink = fw::Window::Build<NoHomePageAboutBox<false>>();
    EXPECT_FALSE(noLink->ControlAs<quillet::StaticURL>("homePage")->Visible());
    EXPECT_EQ(fw::ContentOf(*noLink)->height(), 340 - 13);
    fw::Window::Build<NoHomePageAboutBox<true>>();
    EXPECT_EQ(unhandled, std::vector<std::string>{"IllegalCastException: Illegal cast"
                                                  "\rAquaAboutBox.HideControl"
                                                  "\rAquaAboutBox.HomePage.Open\rStaticURL.Open"});
    unhandled.clear();
}

TEST_F(ShellTest, TheLinksColourFollowsThePointerAndTheButton) {
    const QColor blue(0, 0, 255), magenta(255, 0, 255), red(255, 0, 0);
    auto box = quillet::shared::AquaAboutBox();
    ShowAndActivate(*box);
    QWidget* label = fw::WidgetOf(*box->ControlAs<quillet::StaticURL>("homePage"));
    const QPoint inside = label->rect().center();
    EXPECT_EQ(Shown(label), blue);
    EXPECT_TRUE(label->font().underline());
    QTest::mouseMove(label, inside);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(label), magenta, 5000);
    QTest::mouseMove(fw::ContentOf(*box),
                     label->mapTo(fw::ContentOf(*box), QPoint(inside.x(), -40)));
    QTRY_COMPARE_WITH_TIMEOUT(Shown(label), blue, 5000);

    // Red while pressed; released over the label it opens the home page and turns blue.
    QTest::mouseMove(label, inside);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(label), magenta, 5000);
    QTest::mousePress(label, Qt::LeftButton, {}, inside);
    EXPECT_EQ(Shown(label), red);
    QTest::mouseRelease(label, Qt::LeftButton, {}, inside);
    EXPECT_EQ(urls, std::vector<std::string>{"http://www.brindlewood.example"});
    EXPECT_EQ(Shown(label), blue);
    // Released outside, or on its left column or top row, it opens nothing.
    for (QPoint at : {QPoint(label->width() + 5, inside.y()), QPoint(0, inside.y()),
                      QPoint(inside.x(), 0), QPoint(label->width(), inside.y())}) {
        QTest::mousePress(label, Qt::LeftButton, {}, inside);
        QTest::mouseRelease(label, Qt::LeftButton, {}, at);
        EXPECT_EQ(Shown(label), blue);
    }
    EXPECT_EQ(urls.size(), 1u);
}

TEST_F(ShellTest, TheWindowsStayLightUnderADarkTheme) {
    const QPalette theme = QApplication::palette();
    QPalette dark = theme;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(30, 30, 30));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, Qt::white);
    QApplication::setPalette(dark);
    // The black texts the program sets stand on a light window.
    for (fw::Ref<fw::Window> w : {fw::Ref<fw::Window>(quillet::shared::Window1()),
                                  fw::Ref<fw::Window>(quillet::shared::AquaAboutBox())}) {
        const QImage picture = fw::NativeWindowOf(*w)->grab().toImage();
        EXPECT_GT(picture.pixelColor(picture.width() - 3, picture.height() - 3).lightness(), 200);
    }
    QApplication::setPalette(theme);
}
