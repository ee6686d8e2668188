// The hyperlink label: its colours under real pointer events, the click rule and the
// address it opens.
#include <QEnterEvent>
#include <QLabel>

#include "platform/framework/gui/controls.h"
#include "tests/shell/shell_fixture.h"
#include "ui/about/aqua_about_box.h"
#include "ui/about/static_url.h"

namespace {

const QColor kBlue(0, 0, 255);
const QColor kMagenta(255, 0, 255);
const QColor kRed(255, 0, 0);

QColor Shown(quillet::StaticURL& link) {
    return fw::WidgetOf(link)->palette().color(QPalette::WindowText);
}

// A window with one link, created green and not underlined, whose text is an address.
class LinkWindow : public fw::Window {
public:
    void Layout() override {
        SetWidth(200);
        SetHeight(60);
    }
    void CreateControls() override {
        auto link = fw::New<quillet::StaticURL>();
        AddControl("link", link);
        link->SetBounds(10, 20, 150, 20);
        link->SetText("http://docs.example/start");
        link->SetTextColor(fw::RGB(0, 128, 0));
        link->SetUnderline(false);
        link->Open = [this] {
            auto me = ControlAs<quillet::StaticURL>("link");
            opened.push_back({me->TextColor(), me->Underline()});
        };
    }
    std::vector<std::pair<fw::Color, bool>> opened;
};

}  // namespace

TEST_F(ShellTest, TheLinksColourFollowsThePointerAndTheButton) {
    auto box = quillet::shared::AquaAboutBox();
    ShowAndActivate(*box);
    auto link = box->ControlAs<quillet::StaticURL>("homePage");
    QWidget* label = fw::WidgetOf(*link);
    QWidget* content = fw::ContentOf(*box);
    const QPoint inside(label->width() / 2, label->height() / 2);
    const QPoint away = label->mapTo(content, QPoint(label->width() / 2, -40));
    EXPECT_EQ(Shown(*link), kBlue);
    EXPECT_TRUE(link->Underline());

    QTest::mouseMove(label, inside);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(*link), kMagenta, 5000);
    EXPECT_EQ(link->TextColor(), fw::RGB(255, 0, 255));
    QTest::mouseMove(content, away);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(*link), kBlue, 5000);

    // Press and release over the label: red while down, then the home page, then blue, though
    // the pointer is still over the label.
    QTest::mouseMove(label, inside);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(*link), kMagenta, 5000);
    QTest::mousePress(label, Qt::LeftButton, {}, inside);
    EXPECT_EQ(Shown(*link), kRed);
    QTest::mouseRelease(label, Qt::LeftButton, {}, inside);
    EXPECT_EQ(urls, std::vector<std::string>{"http://www.brindlewood.example"});
    EXPECT_EQ(Shown(*link), kBlue);

    // Releases outside the label, or on its left column or top row, open nothing.
    urls.clear();
    const std::vector<QPoint> misses = {{label->width() + 5, inside.y()},
                                        {inside.x(), label->height() + 5},
                                        {-3, inside.y()},
                                        {0, inside.y()},
                                        {inside.x(), 0},
                                        {label->width(), inside.y()},
                                        {inside.x(), label->height()}};
    for (const QPoint& at : misses) {
        QTest::mousePress(label, Qt::LeftButton, {}, inside);
        EXPECT_EQ(Shown(*link), kRed);
        QTest::mouseRelease(label, Qt::LeftButton, {}, at);
        EXPECT_EQ(Shown(*link), kBlue) << at.x() << "," << at.y();
    }
    EXPECT_TRUE(urls.empty());

    // The nearest points inside count.
    for (const QPoint& at : {QPoint(1, 1), QPoint(label->width() - 1, label->height() - 1)}) {
        QTest::mousePress(label, Qt::LeftButton, {}, inside);
        QTest::mouseRelease(label, Qt::LeftButton, {}, at);
    }
    EXPECT_EQ(urls, std::vector<std::string>(2, "http://www.brindlewood.example"));
}

TEST_F(ShellTest, ALinkIsBlueAndUnderlinedOnceOpenAndAnEmptyURLOpensItsText) {
    auto w = fw::Window::Build<LinkWindow>();
    auto link = w->ControlAs<quillet::StaticURL>("link");
    // The owner's Open came once, after the label had set its look.
    ASSERT_EQ(w->opened.size(), 1u);
    EXPECT_EQ(w->opened[0], std::make_pair(fw::RGB(0, 0, 255), true));
    EXPECT_EQ(Shown(*link), kBlue);
    EXPECT_TRUE(fw::WidgetOf(*link)->font().underline());

    ShowAndActivate(*w);
    QWidget* label = fw::WidgetOf(*link);
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(urls, std::vector<std::string>{"http://docs.example/start"});
}

TEST_F(ShellTest, AnExceptionInAMouseHandlerIsReportedWithTheHandlersName) {
    auto w = fw::Window::Build<LinkWindow>();
    fw::testing::SetShowURLHook(
        [](const std::string&) { throw fw::RuntimeException("no browser"); });
    ShowAndActivate(*w);
    QTest::mouseClick(fw::WidgetOf(*w->ControlAs<quillet::StaticURL>("link")), Qt::LeftButton, {},
                      QPoint(5, 5));
    EXPECT_EQ(unhandled,
              std::vector<std::string>{"RuntimeException: no browser\rStaticURL.MouseUp"});
    unhandled.clear();
}
