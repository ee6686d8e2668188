#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/variant.h"
#include "picture.h"
#include "window.h"

namespace fw {

// A pop-up list. It never takes the keyboard focus and leaves the wheel to its window, so
// the window's own key and wheel handlers alone move the selection.
class PopupMenu : public RectControl {
public:
    PopupMenu();
    ~PopupMenu() override;

    void AddRow(const std::string& text);
    void DeleteAllRows();
    int32_t ListCount() const;
    std::string List(int32_t row) const;
    Variant RowTag(int32_t row) const;
    void SetRowTag(int32_t row, Variant tag);
    // -1 when no row is selected.
    int32_t ListIndex() const;
    // Selects a row (-1 for none) and raises Change at once, also when the row is the one
    // already selected. An index outside the rows changes nothing.
    void SetListIndex(int32_t index);

    std::function<void()> Change;

private:
    std::vector<Variant> tags_;
};

// A text label. Its text is always plain text, never markup.
class StaticText : public RectControl {
public:
    StaticText();
    ~StaticText() override;

    std::string Text() const { return text_; }
    void SetText(const std::string& text);
    Color TextColor() const { return color_; }
    void SetTextColor(Color c);
    bool Underline() const { return underline_; }
    void SetUnderline(bool v);
    void SetBold(bool v);
    void SetItalic(bool v);
    // In pixels, as a Macintosh point was one pixel; 0 means the system's size.
    void SetTextSize(int32_t size);
    void SetTextFont(const std::string& font);
    // 0 left, 1 centre, 2 right.
    void SetTextAlign(int32_t align);
    void SetMultiline(bool v);

    // Mouse events, in the label's own coordinates. MouseDown returning true takes the
    // click, so that the matching MouseUp comes to this label.
    virtual void Event_MouseEnter() {}
    virtual void Event_MouseExit() {}
    virtual bool Event_MouseDown(int32_t x, int32_t y) {
        (void)x, (void)y;
        return false;
    }
    virtual void Event_MouseUp(int32_t x, int32_t y) { (void)x, (void)y; }

private:
    void ApplyFont();
    std::string text_;
    Color color_{};
    bool underline_ = false, bold_ = false, italic_ = false;
    int32_t size_ = 0;
    std::string font_ = "System";
};

// A text field. Its text is always plain text; line breaks may be CR, LF or CR LF.
class EditField : public RectControl {
public:
    EditField();
    ~EditField() override;

    // As set, or as the user typed it (then with LF line breaks).
    std::string Text() const { return text_; }
    void SetText(const std::string& text);
    bool ReadOnly() const;
    void SetReadOnly(bool v);
    // A multi-line field wraps its lines at its width; a single-line one does not.
    bool Multiline() const { return multiline_; }
    void SetMultiline(bool v);
    void SetScrollbarVertical(bool v);
    void SetScrollbarHorizontal(bool v);
    void SetBorder(bool v);
    // 0 default (left), 1 left, 2 centre, 3 right.
    void SetAlignment(int32_t align);
    // Whether Tab types a tab rather than moving the focus on.
    void SetAcceptTabs(bool v);
    Color TextColor() const { return textColor_; }
    void SetTextColor(Color c);
    Color BackColor() const { return backColor_; }
    void SetBackColor(Color c);
    // In pixels, as for StaticText; 0 means the system's size.
    void SetTextSize(int32_t size);
    void SetTextFont(const std::string& font);

private:
    void ApplyWrap();
    void ApplyFont();

    std::string text_;
    Color textColor_{0, 0, 0};
    Color backColor_{255, 255, 255};
    int32_t size_ = 0;
    std::string font_ = "System";
    int32_t align_ = 0;
    bool multiline_ = false;
    bool settingText_ = false;
};

// A drawing area showing a backdrop picture.
class Canvas : public RectControl {
public:
    Canvas();
    ~Canvas() override;

    Ref<Picture> Backdrop() const { return backdrop_; }
    void SetBackdrop(Ref<Picture> picture);

private:
    Ref<Picture> backdrop_;
};

// A timer that raises Action on the main thread. A timer on a window never fires before that
// window's Open event has returned.
class Timer : public Control {
public:
    Timer();
    ~Timer() override;

    // 0 off, 1 fires once, 2 fires every Period.
    int32_t Mode() const { return mode_; }
    void SetMode(int32_t mode);
    int32_t Period() const { return period_; }
    void SetPeriod(int32_t milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);

    std::function<void()> Action;

    struct Impl;

protected:
    void AttachTo(fw::Window& window) override;
    void OwnerOpened() override;
    void OwnerClosed() override;

private:
    void Apply();
    void Fire();

    std::unique_ptr<Impl> impl_;
    int32_t mode_ = 2;
    int32_t period_ = 1000;
    bool enabled_ = true;
    bool ownerOpen_ = true;
};

}  // namespace fw
