#include <gtest/gtest.h>

#include <qpa/qwindowsysteminterface.h>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <map>
#include <set>

#include "platform/framework/core/text.h"
#include "platform/framework/gui/controls.h"
#include "platform/framework/gui/native.h"
#include "tests/support/wait.h"
#include "tests/support/window_fixture.h"

namespace {

struct Row {
    std::string text;
    int32_t tag;
    bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(quillet::Window1& w) {
    auto list = w.ControlAs<fw::PopupMenu>("InstrumentsList");
    std::vector<Row> rows;
    for (int32_t i = 0; i < list->ListCount(); ++i)
        rows.push_back({list->List(i), list->RowTag(i).IntegerValue()});
    return rows;
}

std::string Trimmed(const char* s) {
    return fw::Trim(s ? s : "");
}

// The presets of the installed GM SoundFont, read with a FluidSynth of the test's own.
std::vector<std::pair<int32_t, std::string>> PresetsInBankProgramOrder(const std::string& path) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    int id = fluid_synth_sfload(synth, path.c_str(), 0);
    std::vector<std::tuple<int, int, std::string>> presets;
    fluid_sfont_t* sfont = fluid_synth_get_sfont_by_id(synth, id);
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* p = fluid_sfont_iteration_next(sfont))
        presets.emplace_back(fluid_preset_get_banknum(p), fluid_preset_get_num(p),
                             Trimmed(fluid_preset_get_name(p)));
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    std::sort(presets.begin(), presets.end());
    std::vector<std::pair<int32_t, std::string>> out;
    for (auto& [bank, program, name] : presets) out.emplace_back(bank * 128 + program + 1, name);
    return out;
}

int32_t ListIndex(quillet::Window1& w) {
    return w.ControlAs<fw::PopupMenu>("InstrumentsList")->ListIndex();
}

void SetListIndex(quillet::Window1& w, int32_t i) {
    w.ControlAs<fw::PopupMenu>("InstrumentsList")->SetListIndex(i);
}

std::string Status(quillet::Window1& w) {
    return w.ControlAs<fw::StaticText>("Warnings")->Text();
}

// A wheel turn as the window system reports it, over the middle of the target widget.
void Wheel(QWidget* target, int notchesTowardUser) {
    QWidget* top = target->window();
    QPoint at = target->mapTo(top, QPoint(target->width() / 2, target->height() / 2));
    QWindowSystemInterface::handleWheelEvent(top->windowHandle(), at, top->mapToGlobal(at),
                                             QPoint(), QPoint(0, -120 * notchesTowardUser));
    QWindowSystemInterface::flushWindowSystemEvents();
}

}  // namespace

TEST_F(WindowTest, OpensWithTheGMSoundFontAndSelectsDulcimer) {
    auto w = quillet::shared::Window1();
    ASSERT_TRUE(w->Visible());
    QMainWindow* native = fw::NativeWindowOf(*w);
    EXPECT_EQ(native->windowTitle().toStdString(), "Quillet");
    EXPECT_EQ(fw::ContentOf(*w)->size(), QSize(257, 82));
    EXPECT_EQ(Status(*w), "Initializing...");
    EXPECT_TRUE(messages.empty());

    // One row per distinct preset name, in ascending order, tagged with the first preset's ID.
    std::map<std::string, int32_t, std::less<>> firstId;
    for (auto& [id, name] : PresetsInBankProgramOrder("/usr/share/sounds/sf2/default-GM.sf2"))
        firstId.emplace(name, id);
    std::vector<Row> rows = Rows(*w);
    ASSERT_EQ(rows.size(), firstId.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(firstId.count(rows[i].text)) << rows[i].text;
        EXPECT_EQ(rows[i].tag, firstId[rows[i].text]) << rows[i].text;
        if (i > 0) {
            EXPECT_LT(fw::TextCompare(rows[i - 1].text, rows[i].text), 0);
        }
    }

    int32_t selected = ListIndex(*w);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(rows[static_cast<size_t>(selected)], (Row{"Dulcimer", 16}));
    auto* combo = fw::ContentOf(*w)->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentText().toStdString(), "Dulcimer");

    int sfid = 0, bank = -1, program = -1;
    ASSERT_EQ(fluid_synth_get_program(w->player->Engine()->Synth(), 0, &sfid, &bank, &program),
              FLUID_OK);
    EXPECT_EQ(bank, 0);
    EXPECT_EQ(program, 15);

    // Choosing another row changes channel 0, read back from FluidSynth.
    auto pianoRow = std::find(rows.begin(), rows.end(), Row{"Yamaha Grand Piano", 1});
    ASSERT_NE(pianoRow, rows.end());
    combo->activated(static_cast<int>(pianoRow - rows.begin()));
    ASSERT_EQ(fluid_synth_get_program(w->player->Engine()->Synth(), 0, &sfid, &bank, &program),
              FLUID_OK);
    EXPECT_EQ(bank, 0);
    EXPECT_EQ(program, 0);
}

TEST_F(WindowTest, BuildsRowsFromTheSynthesizersInstruments) {
    // Duplicate names keep the lower index's ID; rows sort by name whatever the IDs.
    mbs::testing::SetInstrumentOverride(Instruments(
        {{40, "Violin"}, {16, "Dulcimer"}, {3, "Accordion"}, {77, "Violin"}, {2, "Celesta"}}));
    auto w = quillet::shared::Window1();
    EXPECT_EQ(Rows(*w), (std::vector<Row>{
                            {"Accordion", 3}, {"Celesta", 2}, {"Dulcimer", 16}, {"Violin", 40}}));
    EXPECT_EQ(ListIndex(*w), 2);
    EXPECT_EQ(mbs::testing::InstrumentRequests(),
              (std::vector<std::pair<int32_t, int32_t>>{{0, 16}}));

    // Choosing the same row again sends its instrument again.
    auto* combo = fw::ContentOf(*w)->findChild<QComboBox*>();
    combo->activated(2);
    combo->activated(0);
    EXPECT_EQ(mbs::testing::InstrumentRequests(),
              (std::vector<std::pair<int32_t, int32_t>>{{0, 16}, {0, 16}, {0, 3}}));

    // No selection: a Change sends nothing.
    mbs::testing::ClearInstrumentRequests();
    SetListIndex(*w, -1);
    EXPECT_EQ(ListIndex(*w), -1);
    EXPECT_TRUE(mbs::testing::InstrumentRequests().empty());
}

TEST_F(WindowTest, DefaultSharingANameWithALowerIndexSelectsNothing) {
    mbs::testing::SetInstrumentOverride(Instruments({{5, "Bells"}, {16, "Bells"}, {9, "Organ"}}));
    auto w = quillet::shared::Window1();
    EXPECT_EQ(Rows(*w), (std::vector<Row>{{"Bells", 5}, {"Organ", 9}}));
    EXPECT_EQ(ListIndex(*w), -1);
    EXPECT_TRUE(mbs::testing::InstrumentRequests().empty());
}

TEST_F(WindowTest, NoInstrumentsLeavesTheListEmpty) {
    mbs::testing::SetInstrumentOverride(std::vector<mbs::Instrument>{});
    auto w = quillet::shared::Window1();
    EXPECT_TRUE(Rows(*w).empty());
    EXPECT_EQ(ListIndex(*w), -1);
    // Keys and wheel on an empty list change nothing and send nothing.
    QMainWindow* native = fw::NativeWindowOf(*w);
    QTest::keyPress(native, Qt::Key_Down);
    QTest::keyRelease(native, Qt::Key_Down);
    Wheel(native, 1);
    EXPECT_EQ(ListIndex(*w), -1);
    EXPECT_TRUE(mbs::testing::InstrumentRequests().empty());
}

TEST_F(WindowTest, ArrowKeysStepOneRowAndClamp) {
    mbs::testing::SetInstrumentOverride(Instruments(
        {{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {5, "E"}, {6, "F"}, {7, "G"}, {16, "H"}}));
    auto w = quillet::shared::Window1();
    QMainWindow* native = fw::NativeWindowOf(*w);
    ASSERT_EQ(ListIndex(*w), 7);

    auto tap = [&](Qt::Key key) {
        QTest::keyPress(native, key);
        QTest::keyRelease(native, key);
    };
    SetListIndex(*w, 3);
    mbs::testing::ClearInstrumentRequests();
    tap(Qt::Key_Right);
    EXPECT_EQ(ListIndex(*w), 4);
    tap(Qt::Key_Down);
    EXPECT_EQ(ListIndex(*w), 5);
    tap(Qt::Key_Left);
    EXPECT_EQ(ListIndex(*w), 4);
    tap(Qt::Key_Up);
    EXPECT_EQ(ListIndex(*w), 3);
    // Each press selected a row once and set its instrument once.
    EXPECT_EQ(mbs::testing::InstrumentRequests(),
              (std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {0, 6}, {0, 5}, {0, 4}}));

    // A key that is not an arrow changes nothing while no arrow is held.
    mbs::testing::ClearInstrumentRequests();
    tap(Qt::Key_A);
    tap(Qt::Key_Space);
    EXPECT_EQ(ListIndex(*w), 3);
    EXPECT_TRUE(mbs::testing::InstrumentRequests().empty());

    // Clamped at both ends, and the index is written even when it stays.
    SetListIndex(*w, 7);
    mbs::testing::ClearInstrumentRequests();
    tap(Qt::Key_Right);
    tap(Qt::Key_Down);
    EXPECT_EQ(ListIndex(*w), 7);
    EXPECT_EQ(mbs::testing::InstrumentRequests().size(), 2u);
    SetListIndex(*w, 0);
    tap(Qt::Key_Left);
    tap(Qt::Key_Up);
    EXPECT_EQ(ListIndex(*w), 0);

    // With no selection, every arrow selects row 0.
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down}) {
        SetListIndex(*w, -1);
        tap(key);
        EXPECT_EQ(ListIndex(*w), 0) << key;
    }

    // Left and right held together on row 0: left stays on 0, right then moves to 1.
    SetListIndex(*w, 0);
    QTest::keyPress(native, Qt::Key_Left);
    QTest::keyPress(native, Qt::Key_Right);
    EXPECT_EQ(ListIndex(*w), 1);
    // A non-arrow key while an arrow is held applies that arrow's step.
    QTest::keyRelease(native, Qt::Key_Left);
    QTest::keyPress(native, Qt::Key_A);
    EXPECT_EQ(ListIndex(*w), 2);
    QTest::keyRelease(native, Qt::Key_A);
    QTest::keyRelease(native, Qt::Key_Right);
    // On row 5 the pair ends where it started: the press of right sees both held.
    QTest::keyPress(native, Qt::Key_Left);
    SetListIndex(*w, 5);
    QTest::keyPress(native, Qt::Key_Right);
    EXPECT_EQ(ListIndex(*w), 5);
    QTest::keyRelease(native, Qt::Key_Left);
    QTest::keyRelease(native, Qt::Key_Right);

    EXPECT_FALSE(w->Event_KeyDown(fw::Chr(29)));
}

TEST_F(WindowTest, WheelStepsByWholeNotches) {
    mbs::testing::SetInstrumentOverride(
        Instruments({{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {16, "E"}}));
    auto w = quillet::shared::Window1();
    QMainWindow* native = fw::NativeWindowOf(*w);
    auto* combo = fw::ContentOf(*w)->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);

    SetListIndex(*w, 1);
    Wheel(native, 1);
    EXPECT_EQ(ListIndex(*w), 2);
    Wheel(native, -1);
    EXPECT_EQ(ListIndex(*w), 1);
    // Over the list itself the wheel still steps once, through the window.
    mbs::testing::ClearInstrumentRequests();
    Wheel(combo, 1);
    EXPECT_EQ(ListIndex(*w), 2);
    EXPECT_EQ(mbs::testing::InstrumentRequests().size(), 1u);
    // More notches than rows left select the last row.
    SetListIndex(*w, 1);
    Wheel(native, 10);
    EXPECT_EQ(ListIndex(*w), 4);
    Wheel(native, -10);
    EXPECT_EQ(ListIndex(*w), 0);

    // A purely sideways scroll writes the index back, and selects row 0 when none was.
    mbs::testing::ClearInstrumentRequests();
    SetListIndex(*w, 3);
    EXPECT_FALSE(w->Event_MouseWheel(0, 0, 1, 0));
    EXPECT_EQ(ListIndex(*w), 3);
    EXPECT_EQ(mbs::testing::InstrumentRequests().size(), 2u);
    SetListIndex(*w, -1);
    EXPECT_FALSE(w->Event_MouseWheel(0, 0, 0, 0));
    EXPECT_EQ(ListIndex(*w), 0);
    // Extreme deltas do not overflow the step.
    EXPECT_FALSE(w->Event_MouseWheel(0, 0, 0, INT32_MAX));
    EXPECT_EQ(ListIndex(*w), 4);
    EXPECT_FALSE(w->Event_MouseWheel(0, 0, 0, INT32_MIN));
    EXPECT_EQ(ListIndex(*w), 0);
}

TEST_F(WindowTest, ClosingHidesAndActivateShowsTheSameWindow) {
    mbs::testing::SetInstrumentOverride(Instruments({{1, "A"}, {16, "B"}, {3, "C"}}));
    auto w = quillet::shared::Window1();
    SetListIndex(*w, 2);
    w->Log("Some Keyboard MIDI 1");
    QMainWindow* native = fw::NativeWindowOf(*w);

    native->close();
    EXPECT_FALSE(native->isVisible());
    EXPECT_FALSE(w->Visible());
    EXPECT_FALSE(w->IsClosed());
    EXPECT_EQ(quillet::shared::Window1(), w);

    fw::testing::RaiseActivate();
    EXPECT_TRUE(native->isVisible());
    EXPECT_EQ(quillet::shared::Window1(), w);
    EXPECT_EQ(fw::Window::OpenWindows().size(), 1u);
    EXPECT_EQ(ListIndex(*w), 2);
    EXPECT_EQ(Status(*w), "Some Keyboard MIDI 1");

    // Quitting closes it for good.
    fw::Quit(0);
    EXPECT_TRUE(w->IsClosed());
    EXPECT_TRUE(fw::Window::OpenWindows().empty());
}
