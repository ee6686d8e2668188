// The About window: its layout, texts, licence field, hideControl and the report of an
// exception that passes through its handlers.
#include <qpa/qwindowsysteminterface.h>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

#include "platform/framework/gui/controls.h"
#include "tests/shell/shell_fixture.h"
#include "ui/about/aqua_about_box.h"

namespace {

QLabel* LabelOf(fw::Window& w, const std::string& name) {
    return qobject_cast<QLabel*>(fw::WidgetOf(*w.ControlAs<fw::RectControl>(name)));
}

QTextEdit* CreditsOf(fw::Window& w) {
    return qobject_cast<QTextEdit*>(fw::WidgetOf(*w.ControlAs<fw::RectControl>("credits")));
}

std::map<std::string, int32_t> Tops(fw::Window& w) {
    std::map<std::string, int32_t> tops;
    for (int32_t i = 0; i < w.ControlCount(); ++i) {
        auto c = w.Control(i).Cast<fw::RectControl>();
        tops[c->Name()] = c->Top();
        // The widget is where the control says.
        EXPECT_EQ(fw::WidgetOf(*c)->geometry().top(), c->Top()) << c->Name();
    }
    return tops;
}

// The paragraphs of the project's LICENSE, each with its lines joined by single spaces.
std::vector<std::string> LicenceParagraphs() {
    QFile file(QStringLiteral(QUILLET_LICENSE_FILE));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll()).trimmed();
    std::vector<std::string> out;
    for (const QString& p : text.split(QRegularExpression(QStringLiteral("\\n\\s*\\n"))))
        out.push_back(p.simplified().toStdString());
    return out;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos;
         start = at + separator.size())
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

// An About window whose link has no address, so that opening it hides the link.
class NoHomePageAboutBox : public quillet::AquaAboutBox {
protected:
    std::string HomePageURL() const override { return ""; }
};

// The same, with a timer after the link: the control after the link has no place, so
// hideControl cannot measure the gap.
class TimerAfterLinkAboutBox : public NoHomePageAboutBox {
public:
    void CreateControls() override {
        AquaAboutBox::CreateControls();
        AddControl("ticker", fw::New<fw::Timer>());
    }
};

}  // namespace

TEST_F(ShellTest, AboutWindowIsLaidOutWithItsTexts) {
    auto box = quillet::shared::AquaAboutBox();
    EXPECT_EQ(quillet::shared::AquaAboutBox(), box);
    QMainWindow* native = fw::NativeWindowOf(*box);
    ASSERT_TRUE(native->isVisible());
    EXPECT_EQ(fw::ContentOf(*box)->size(), QSize(284, 340));
    EXPECT_EQ(native->windowTitle(), QString());
    EXPECT_EQ(fw::NativeMenuBarOf(*box), nullptr);
    // Not resizable, no minimise or maximise button, but a close button.
    EXPECT_EQ(native->minimumSize(), native->maximumSize());
    Qt::WindowFlags flags = native->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    struct Placed {
        std::string name;
        QRect rect;
    };
    const std::vector<Placed> expected = {
        {"icon", {118, 25, 48, 47}},      {"name", {24, 84, 236, 19}},
        {"version", {24, 111, 236, 12}},  {"description", {24, 131, 236, 39}},
        {"credits", {24, 168, 236, 109}}, {"copyright", {24, 295, 236, 12}},
        {"homePage", {24, 307, 236, 13}},
    };
    ASSERT_EQ(box->ControlCount(), 7);
    for (int32_t i = 0; i < 7; ++i) {
        auto c = box->Control(i).Cast<fw::RectControl>();
        const Placed& e = expected[static_cast<size_t>(i)];
        EXPECT_EQ(c->Name(), e.name);
        EXPECT_EQ(fw::WidgetOf(*c)->geometry(), e.rect) << e.name;
        EXPECT_TRUE(fw::WidgetOf(*c)->isVisible()) << e.name;
    }

    QLabel* icon = LabelOf(*box, "icon");
    EXPECT_EQ(icon->pixmap().size(), QSize(48, 48));

    struct Label {
        std::string name, text;
        int pixelSize;
        bool bold, underline;
        QColor colour;
    };
    const std::vector<Label> labels = {
        {"name", "Quillet", 14, true, false, Qt::black},
        {"version", QUILLET_VERSION, 10, false, false, Qt::black},
        {"description", "Plug-n-Play Keyboard Synthesizer", 11, false, false, Qt::black},
        {"copyright", "Copyright \u00A9 2026 Brindlewood Software", 10, false, false, Qt::black},
        {"homePage", "Brindlewood Software", 10, false, true, QColor(0, 0, 255)},
    };
    for (const Label& l : labels) {
        QLabel* q = LabelOf(*box, l.name);
        EXPECT_EQ(box->ControlAs<fw::StaticText>(l.name)->Text(), l.text);
        EXPECT_EQ(q->text().toStdString(), l.text);
        EXPECT_EQ(q->font().pixelSize(), l.pixelSize) << l.name;
        EXPECT_EQ(q->font().bold(), l.bold) << l.name;
        EXPECT_EQ(q->font().underline(), l.underline) << l.name;
        EXPECT_EQ(q->palette().color(QPalette::WindowText), l.colour) << l.name;
        EXPECT_TRUE(q->alignment() & Qt::AlignHCenter) << l.name;
        // Every text fits its label on one line.
        EXPECT_LE(QFontMetrics(q->font()).horizontalAdvance(q->text()), q->width()) << l.name;
    }
    EXPECT_EQ(box->ControlAs<quillet::StaticURL>("homePage")->URL,
              "http://www.brindlewood.example");
}

TEST_F(ShellTest, TheLicenceIsReadOnlyWrapsAndScrollsVertically) {
    auto box = quillet::shared::AquaAboutBox();
    ShowAndActivate(*box);
    std::string text = box->ControlAs<fw::EditField>("credits")->Text();

    // Paragraphs of LICENSE, separated by two carriage returns; no other line break or tab.
    EXPECT_EQ(Split(text, "\r\r"), LicenceParagraphs());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\t'), std::string::npos);
    EXPECT_NE(text.front(), '\r');
    EXPECT_NE(text.back(), '\r');

    QTextEdit* edit = CreditsOf(*box);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->lineWrapMode(), QTextEdit::WidgetWidth);
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(edit->horizontalScrollBar()->maximum(), 0);
    EXPECT_TRUE(edit->document()->firstBlock().blockFormat().alignment() & Qt::AlignLeft);
    // A blank line stands between two paragraphs.
    EXPECT_EQ(edit->document()->blockCount(), 2 * static_cast<int>(LicenceParagraphs().size()) - 1);

    // Typing changes nothing.
    QTest::mouseClick(edit->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QTest::keyClicks(edit, "typed");
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(box->ControlAs<fw::EditField>("credits")->Text(), text);
    EXPECT_FALSE(edit->toPlainText().contains(QStringLiteral("typed")));

    // The wheel over the field scrolls it down.
    QScrollBar* bar = edit->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    QWidget* top = fw::NativeWindowOf(*box);
    QPoint at = edit->viewport()->mapTo(top, edit->viewport()->rect().center());
    QWindowSystemInterface::handleWheelEvent(top->windowHandle(), at, top->mapToGlobal(at),
                                             QPoint(), QPoint(0, -120));
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 5000);
}

TEST_F(ShellTest, HidingAControlMovesTheLaterOnesUpAndShortensTheWindow) {
    auto box = quillet::shared::AquaAboutBox();
    std::map<std::string, int32_t> before = Tops(*box);

    // The gap is the distance from the hidden control's top to its successor's.
    box->hideControl(box->ControlAs<fw::RectControl>("description"));
    const int32_t gap = 168 - 131;
    EXPECT_FALSE(fw::WidgetOf(*box->ControlAs<fw::RectControl>("description"))->isVisible());
    std::map<std::string, int32_t> after = Tops(*box);
    for (const char* same : {"icon", "name", "version"}) EXPECT_EQ(after[same], before[same]);
    for (const char* moved : {"description", "credits", "copyright", "homePage"})
        EXPECT_EQ(after[moved], before[moved] - gap) << moved;
    EXPECT_EQ(box->Height(), 340 - gap);
    EXPECT_EQ(fw::ContentOf(*box)->height(), 340 - gap);

    // A hidden control is left alone.
    box->hideControl(box->ControlAs<fw::RectControl>("description"));
    EXPECT_EQ(Tops(*box), after);
    EXPECT_EQ(box->Height(), 340 - gap);

    // The last control has no successor: the gap is its own height.
    box->hideControl(box->ControlAs<fw::RectControl>("homePage"));
    EXPECT_EQ(box->ControlAs<fw::RectControl>("homePage")->Top(), after["homePage"] - 13);
    EXPECT_EQ(box->ControlAs<fw::RectControl>("copyright")->Top(), after["copyright"]);
    EXPECT_EQ(box->Height(), 340 - gap - 13);
    EXPECT_EQ(fw::ContentOf(*box)->height(), 340 - gap - 13);
}

TEST_F(ShellTest, ALinkWithoutAddressIsHiddenWhenTheWindowOpens) {
    auto box = fw::Window::Build<NoHomePageAboutBox>();
    auto link = box->ControlAs<quillet::StaticURL>("homePage");
    EXPECT_EQ(link->Text(), "Brindlewood Software");
    EXPECT_EQ(link->URL, "");
    EXPECT_FALSE(link->Visible());
    EXPECT_FALSE(fw::WidgetOf(*link)->isVisible());
    EXPECT_EQ(link->Top(), 307 - 13);
    EXPECT_EQ(fw::ContentOf(*box)->height(), 340 - 13);
}

TEST_F(ShellTest, AnExceptionInHideControlIsReportedWithEveryHandlerItPassed) {
    fw::Window::Build<TimerAfterLinkAboutBox>();
    ASSERT_EQ(unhandled.size(), 1u);
    EXPECT_EQ(unhandled[0],
              "IllegalCastException: Illegal cast\rAquaAboutBox.HideControl"
              "\rAquaAboutBox.HomePage.Open\rStaticURL.Open");
    unhandled.clear();
}
