// The menu bar and its five commands, through the menus Qt shows in the main window.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "app/menu_bar1.h"
#include "tests/http/test_server.h"
#include "tests/shell/shell_fixture.h"
#include "ui/about/aqua_about_box.h"

namespace {

struct Item {
    std::string name, kind, text, shortcut;
    bool autoEnable;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << "{" << i.name << ", " << i.kind << ", " << i.text << ", " << i.shortcut << ", "
              << i.autoEnable << "}";
}

std::string Kind(const fw::Ref<fw::MenuItem>& item) {
    if (item.As<fw::QuitMenuItem>()) return "QuitMenuItem";
    if (item.As<fw::AppleMenuItem>()) return "AppleMenuItem";
    return "MenuItem";
}

std::vector<Item> Children(const fw::Ref<fw::MenuItem>& menu) {
    std::vector<Item> out;
    for (int32_t i = 0; i < menu->Count(); ++i) {
        auto c = menu->Item(i);
        out.push_back({c->Name(), Kind(c), c->Text(), c->KeyboardShortcut(), c->AutoEnable()});
    }
    return out;
}

std::vector<std::string> Texts(const QList<QAction*>& actions) {
    std::vector<std::string> out;
    for (QAction* a : actions) out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
}

// A main window that counts its Close events.
class CountingWindow1 : public quillet::Window1 {
public:
    void Event_Close() override {
        ++closes;
        Window1::Event_Close();
    }
    int closes = 0;
};

const char* kQuickStart =
    "Velunor is zero-configuration synthesizer. Plug in a music-keyboard and play. You can "
    "change the sound that is played from the selection in main window.";

}  // namespace

TEST_F(ShellTest, TheBarHoldsFileWithQuitAndHelpWithItsFiveItemsInOrder) {
    auto bar = quillet::shared::MenuBar1();
    EXPECT_EQ(quillet::shared::MenuBar1(), bar);

    EXPECT_EQ(Children(bar), (std::vector<Item>{{"FileMenu", "MenuItem", "&File", "", false},
                                                {"HelpMenu", "MenuItem", "Help", "", true}}));
    EXPECT_EQ(Children(bar->Child("FileMenu")),
              (std::vector<Item>{{"FileQuit", "QuitMenuItem", "Quit", "Cmd+Q", true}}));
    EXPECT_EQ(Children(bar->Child("HelpMenu")),
              (std::vector<Item>{
                  {"HelpAboutVelunor", "AppleMenuItem", "About Quillet", "", true},
                  {"HelpQuickStart", "MenuItem", "Quick Start", "", true},
                  {"HelpCheckforUpdates", "AppleMenuItem", "Check for Updates", "", true},
                  {"UntitledSeparator", "MenuItem", "-", "", true},
                  {"HelpVelunorontheWeb", "MenuItem", "Quillet on the Web", "", true},
              }));
    // Child looks among the direct children only; Lookup anywhere below.
    EXPECT_TRUE(bar->Child("FileQuit").IsNil());
    EXPECT_EQ(bar->Lookup("filequit"), bar->Child("FileMenu")->Child("FileQuit"));
    EXPECT_EQ(bar->Lookup("HelpQuickStart")->Parent(), bar->Child("HelpMenu"));
}

TEST_F(ShellTest, TheMainWindowShowsTheSharedBarAboveItsContent) {
    auto w = quillet::shared::Window1();
    EXPECT_EQ(w->MenuBar(), quillet::shared::MenuBar1());
    EXPECT_EQ(w->FileQuit(), quillet::shared::MenuBar1()->Lookup("FileQuit"));
    EXPECT_EQ(w->HelpAboutVelunor()->Text(), "About Quillet");
    EXPECT_EQ(w->HelpCheckforUpdates()->Text(), "Check for Updates");
    EXPECT_EQ(w->UntitledSeparator()->Text(), "-");
    EXPECT_TRUE(w->UntitledMenu1().IsNil());

    QMenuBar* bar = fw::NativeMenuBarOf(*w);
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    // The content keeps its size; the bar sits above it.
    EXPECT_EQ(fw::ContentOf(*w)->size(), QSize(257, 82));
    EXPECT_LE(bar->geometry().bottom(), fw::ContentOf(*w)->geometry().top());

    QList<QAction*> menus = bar->actions();
    ASSERT_EQ(Texts(menus), (std::vector<std::string>{"&File", "Help"}));
    EXPECT_EQ(QKeySequence::mnemonic(menus[0]->text()), QKeySequence(Qt::ALT | Qt::Key_F));
    ASSERT_NE(menus[0]->menu(), nullptr);
    ASSERT_NE(menus[1]->menu(), nullptr);

    QList<QAction*> file = menus[0]->menu()->actions();
    ASSERT_EQ(Texts(file), (std::vector<std::string>{"Quit"}));
    EXPECT_EQ(file[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    QList<QAction*> help = menus[1]->menu()->actions();
    EXPECT_EQ(Texts(help),
              (std::vector<std::string>{"About Quillet", "Quick Start", "Check for Updates", "-",
                                        "Quillet on the Web"}));
    for (QAction* a : help) EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
    // The File menu does without AutoEnable and is still usable: nothing is greyed.
    for (QAction* a : menus + file + help) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

    // Alt+F, the access key, opens the File menu.
    ShowAndActivate(*w);
    QTest::keyClick(fw::NativeWindowOf(*w), Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(menus[0]->menu()->isVisible(), 5000);
    menus[0]->menu()->close();
}

TEST_F(ShellTest, ChoosingQuitQuitsAndClosesTheWindowOnce) {
    auto w = fw::Window::Build<CountingWindow1>();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("FileQuit"));
    EXPECT_TRUE(fw::QuitRequested());
    EXPECT_TRUE(w->IsClosed());
    EXPECT_FALSE(fw::NativeWindowOf(*w)->isVisible());
    EXPECT_EQ(w->closes, 1);
    // The window stays closed through a further Quit.
    fw::Quit(0);
    EXPECT_EQ(w->closes, 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ShellTest, QuickStartShowsItsMessage) {
    quillet::shared::Window1();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("HelpQuickStart"));
    EXPECT_EQ(messages, std::vector<std::string>{kQuickStart});
    EXPECT_TRUE(urls.empty());
}

TEST_F(ShellTest, TheWebCommandOpensTheHomePage) {
    quillet::shared::Window1();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("HelpVelunorontheWeb"));
    EXPECT_EQ(urls, std::vector<std::string>{"http://www.brindlewood.example"});
    EXPECT_TRUE(messages.empty());
}

TEST_F(ShellTest, CheckForUpdatesFetchesQuilletsVersionFile) {
    TestServer server([](ServerConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-type: text/plain\r\n\r\n" QUILLET_VERSION "\n");
        c.Close();
    });
    UpdateSite site;
    site.baseURL = server.URL("/");
    site.hostName = "updates.example";
    quillet::testing::SetUpdateSite(site);

    quillet::shared::Window1();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("HelpCheckforUpdates"));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rfind("GET /QuilletVersion.txt HTTP/1.0\r\n", 0), 0u)
        << server.Requests()[0];
    EXPECT_EQ(messages, std::vector<std::string>{"Your version of Quillet is up to date.\n"
                                                 "Current version: " QUILLET_VERSION});
}

TEST_F(ShellTest, EachAboutCommandShowsAFreshModalAboutWindow) {
    auto w = quillet::shared::Window1();
    struct Seen {
        fw::Ref<quillet::AquaAboutBox> box;
        std::string version;
        bool modal = false;
        bool hasMenuBar = true;
    };
    std::vector<Seen> seen;
    auto closeOnceShown = [&] {
        QTimer::singleShot(0, [&] {
            auto box = fw::Window::FindOpen<quillet::AquaAboutBox>();
            if (!box) return;
            QMainWindow* native = fw::NativeWindowOf(*box);
            seen.push_back({box, box->ControlAs<fw::StaticText>("version")->Text(),
                            QApplication::activeModalWidget() == native,
                            fw::NativeMenuBarOf(*box) != nullptr});
            native->close();
        });
    };

    closeOnceShown();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("HelpAboutVelunor"));
    closeOnceShown();
    EXPECT_TRUE(fw::testing::ChooseMenuItem("HelpAboutVelunor"));

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].box, seen[1].box);
    for (auto& s : seen) {
        EXPECT_TRUE(s.box->IsClosed());
        EXPECT_EQ(s.version, QUILLET_VERSION);
        EXPECT_EQ(s.version, quillet::App()->ShortVersion());
        EXPECT_TRUE(s.modal);
        EXPECT_FALSE(s.hasMenuBar);
    }
    EXPECT_TRUE(fw::Window::FindOpen<quillet::AquaAboutBox>().IsNil());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(w->IsClosed());
}

namespace {

// A window that records the commands its one handler receives.
class HandlerWindow : public fw::Window {
public:
    void AddMenuHandlers() override {
        AddMenuHandler("Act", [this] {
            ++handled;
            return true;
        });
    }
    int handled = 0;
};

QAction* FirstItemOfFirstMenu(fw::Window& w) {
    QMenuBar* bar = fw::NativeMenuBarOf(w);
    if (!bar || bar->actions().isEmpty() || !bar->actions()[0]->menu()) return nullptr;
    QList<QAction*> items = bar->actions()[0]->menu()->actions();
    return items.isEmpty() ? nullptr : items[0];
}

}  // namespace

TEST_F(ShellTest, WindowsSharingABarEachShowItAndHandleWhatIsChosenInThem) {
    auto bar = fw::New<fw::MenuBar>();
    auto menu = fw::New<fw::MenuItem>();
    menu->SetName("Menu");
    menu->SetText("&Menu");
    bar->Append(menu);
    auto act = fw::New<fw::MenuItem>();
    act->SetName("Act");
    act->SetText("Act");
    act->SetKeyboardShortcut("Cmd+Shift+K");
    act->SetAutoEnable(false);
    menu->Append(act);

    auto a = fw::Window::Build<HandlerWindow>();
    auto b = fw::Window::Build<HandlerWindow>();
    a->SetMenuBar(bar);
    b->SetMenuBar(bar);
    ASSERT_NE(fw::NativeMenuBarOf(*a), nullptr);
    EXPECT_NE(fw::NativeMenuBarOf(*a), fw::NativeMenuBarOf(*b));
    ASSERT_NE(FirstItemOfFirstMenu(*a), nullptr);
    EXPECT_EQ(FirstItemOfFirstMenu(*a)->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));

    FirstItemOfFirstMenu(*a)->trigger();
    EXPECT_EQ(a->handled, 1);
    EXPECT_EQ(b->handled, 0);

    // A change of the shared bar shows in every window; without AutoEnable, Enabled rules.
    act->SetEnabled(false);
    act->SetText("Renamed");
    for (auto* w : {a.Get(), b.Get()}) {
        ASSERT_NE(FirstItemOfFirstMenu(*w), nullptr);
        EXPECT_FALSE(FirstItemOfFirstMenu(*w)->isEnabled());
        EXPECT_EQ(FirstItemOfFirstMenu(*w)->text(), QStringLiteral("Renamed"));
    }
    EXPECT_FALSE(fw::testing::ChooseMenuItem("Act"));
    act->SetAutoEnable(true);
    EXPECT_TRUE(FirstItemOfFirstMenu(*b)->isEnabled());

    // The front window gets the command.
    ShowAndActivate(*b);
    EXPECT_TRUE(fw::testing::ChooseMenuItem("Act"));
    EXPECT_EQ(a->handled, 1);
    EXPECT_EQ(b->handled, 1);

    a->SetMenuBar(nullptr);
    EXPECT_EQ(fw::NativeMenuBarOf(*a), nullptr);
    EXPECT_NE(FirstItemOfFirstMenu(*b), nullptr);
}
