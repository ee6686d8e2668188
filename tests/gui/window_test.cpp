// The main window's instrument list: its rows, the default instrument, and the arrow keys
// and wheel stepping through it, read back from the list and from FluidSynth's channel 0.
#include <qpa/qwindowsysteminterface.h>
#include <QComboBox>
#include <QTest>

#include <algorithm>
#include <climits>
#include <map>

#include "platform/framework/core/text.h"
#include "tests/gui/gui_test.h"

namespace {

using Rows = std::vector<std::pair<std::string, int32_t>>;

Rows RowsOf(quillet::Window1& w) {
    Rows rows;
    auto list = w.ControlAs<fw::PopupMenu>("InstrumentsList");
    for (int32_t i = 0; i < list->ListCount(); ++i)
        rows.emplace_back(list->List(i), list->RowTag(i).IntegerValue());
    return rows;
}

// A wheel turn as the window system reports it, over the middle of the widget.
void Wheel(QWidget* target, int notchesTowardUser) {
    QWidget* top = target->window();
    const QPoint at = target->mapTo(top, target->rect().center());
    QWindowSystemInterface::handleWheelEvent(top->windowHandle(), at, top->mapToGlobal(at), {},
                                             QPoint(0, -120 * notchesTowardUser));
    QWindowSystemInterface::flushWindowSystemEvents();
}

void Tap(QWidget* w, Qt::Key key) {
    QTest::keyPress(w, key);
    QTest::keyRelease(w, key);
}

using WindowTest = GuiTest;

}  // namespace

TEST_F(WindowTest, OpensOnTheGMSoundFontWithDulcimerOnChannelZero) {
    auto w = quillet::shared::Window1();
    EXPECT_EQ(fw::ContentOf(*w)->size(), QSize(257, 82));
    EXPECT_EQ(Status(*w), "Initializing...");

    // One row per distinct preset name, sorted, tagged with the first preset of that name
    // (bank * 128 + program + 1), read with a FluidSynth of the test's own.
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_sfont_t* sfont = fluid_synth_get_sfont_by_id(
        synth, fluid_synth_sfload(synth, "/usr/share/sounds/sf2/default-GM.sf2", 0));
    std::map<int32_t, std::string> presets;
    fluid_sfont_iteration_start(sfont);
    while (fluid_preset_t* p = fluid_sfont_iteration_next(sfont))
        presets[fluid_preset_get_banknum(p) * 128 + fluid_preset_get_num(p) + 1] =
            fw::Trim(fluid_preset_get_name(p));
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    std::map<std::string, int32_t, std::less<>> first;
    for (auto& [id, name] : presets) first.emplace(name, id);

    const Rows rows = RowsOf(*w);
    ASSERT_EQ(rows.size(), first.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].second, first[rows[i].first]) << rows[i].first;
        if (i > 0) {
            EXPECT_LT(fw::TextCompare(rows[i - 1].first, rows[i].first), 0);
        }
    }
    auto* combo = fw::ContentOf(*w)->findChild<QComboBox*>();
    EXPECT_EQ(combo->currentText().toStdString(), "Dulcimer");
    EXPECT_EQ(w->player->InstrumentIDOnChannel(0), 16);
    int sfid = 0, bank = -1, program = -1;
    fluid_synth_get_program(w->player->Engine()->Synth(), 0, &sfid, &bank, &program);
    EXPECT_EQ(bank * 1000 + program, 15);

    // A row chosen with the mouse sets channel 0's instrument.
    const auto piano =
        std::find(rows.begin(), rows.end(), Rows::value_type{"Yamaha Grand Piano", 1});
    ASSERT_NE(piano, rows.end());
    combo->activated(static_cast<int>(piano - rows.begin()));
    EXPECT_EQ(w->player->InstrumentIDOnChannel(0), 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, RowsOfInstrumentSets) {
    const struct {
        std::vector<mbs::Instrument> instruments;
        Rows rows;
        int32_t selected, onChannel0;
    } cases[] = {
        // Duplicates keep the first index's ID; rows sort by name whatever the IDs.
        {{{40, "Violin"}, {16, "Dulcimer"}, {3, "accordion"}, {77, "Violin"}, {2, "Celesta"}},
         {{"accordion", 3}, {"Celesta", 2}, {"Dulcimer", 16}, {"Violin", 40}},
         2,
         16},
        // The default shares its name with an earlier instrument: nothing is selected.
        {{{5, "Bells"}, {16, "Bells"}, {9, "Organ"}}, {{"Bells", 5}, {"Organ", 9}}, -1, 0},
        {{}, {}, -1, 0},
    };
    for (const auto& c : cases) {
        auto w = WindowWith(c.instruments);
        EXPECT_EQ(RowsOf(*w), c.rows);
        EXPECT_EQ(List(*w)->ListIndex(), c.selected);
        EXPECT_EQ(w->player->InstrumentIDOnChannel(0), c.onChannel0);
        // With nothing selected, keys and wheel on an empty list change nothing.
        if (c.rows.empty()) {
            Tap(fw::NativeWindowOf(*w), Qt::Key_Down);
            Wheel(fw::NativeWindowOf(*w), 1);
            EXPECT_EQ(List(*w)->ListIndex(), -1);
        }
        w->TryClose(true);
    }
}

TEST_F(WindowTest, ArrowKeysAndWheelStepOneRowAndClamp) {
    auto w = WindowWith({{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {5, "E"}, {6, "F"}, {16, "G"}});
    QMainWindow* native = fw::NativeWindowOf(*w);
    auto list = List(*w);
    const auto at = [&] { return list->ListIndex(); };
    ASSERT_EQ(at(), 6);

    // Right and down step toward the end, left and up toward the start, one row a press,
    // and each row chosen sets channel 0's instrument.
    list->SetListIndex(3);
    const std::pair<Qt::Key, int32_t> steps[] = {
        {Qt::Key_Right, 4}, {Qt::Key_Down, 5}, {Qt::Key_Left, 4}, {Qt::Key_Up, 3}, {Qt::Key_A, 3}};
    for (auto [key, row] : steps) {
        Tap(native, key);
        EXPECT_EQ(at(), row) << key;
        EXPECT_EQ(w->player->InstrumentIDOnChannel(0), row + 1) << key;
    }
    // Clamped at both ends; with no selection every arrow selects the first row.
    list->SetListIndex(6);
    Tap(native, Qt::Key_Down);
    EXPECT_EQ(at(), 6);
    list->SetListIndex(0);
    Tap(native, Qt::Key_Up);
    EXPECT_EQ(at(), 0);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Down}) {
        list->SetListIndex(-1);
        Tap(native, key);
        EXPECT_EQ(at(), 0) << key;
    }
    // The held keys decide: a key pressed while an arrow is held applies that arrow.
    QTest::keyPress(native, Qt::Key_Right);
    QTest::keyPress(native, Qt::Key_A);
    EXPECT_EQ(at(), 2);
    QTest::keyRelease(native, Qt::Key_A);
    QTest::keyRelease(native, Qt::Key_Right);

    // The wheel steps a row a notch, once, over the list too; more notches than rows clamp.
    Wheel(native, 1);
    EXPECT_EQ(at(), 3);
    Wheel(fw::ContentOf(*w)->findChild<QComboBox*>(), -1);
    EXPECT_EQ(at(), 2);
    Wheel(native, 10);
    EXPECT_EQ(at(), 6);
    Wheel(native, -10);
    EXPECT_EQ(at(), 0);
    // Extreme deltas do not overflow the step, from the last row or from no selection.
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(w->Event_MouseWheel(0, 0, 0, INT32_MAX));
    EXPECT_EQ(at(), 6);
    list->SetListIndex(-1);
    EXPECT_FALSE(w->Event_MouseWheel(0, 0, 0, INT32_MIN));
    EXPECT_EQ(at(), 0);
    EXPECT_EQ(w->player->InstrumentIDOnChannel(0), 1);
}
