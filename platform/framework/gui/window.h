#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/ref.h"

namespace fw {

class Window;
class MenuBar;

// Anything a window holds by name: a visible control or a timer.
class Control : public std::enable_shared_from_this<Control> {
public:
    virtual ~Control();

    const std::string& Name() const { return name_; }
    // The window the control was added to; nil before that or after the window is gone.
    Ref<fw::Window> Window() const;

    // The Open event, raised once after the window's controls exist, before the window's.
    std::function<void()> Open;
    virtual void Event_Open();

protected:
    friend class fw::Window;
    virtual void AttachTo(fw::Window& window);
    // Called when the owning window's Open event has returned, and when it has closed.
    virtual void OwnerOpened() {}
    virtual void OwnerClosed() {}

private:
    std::string name_;
    std::weak_ptr<fw::Window> window_;
};

struct NativeWidget;

// A control with a place in its window.
class RectControl : public Control {
public:
    ~RectControl() override;

    int32_t Left() const;
    int32_t Top() const;
    int32_t Width() const;
    int32_t Height() const;
    void SetLeft(int32_t v);
    void SetTop(int32_t v);
    void SetWidth(int32_t v);
    void SetHeight(int32_t v);
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
    bool Visible() const;
    void SetVisible(bool v);
    bool Enabled() const;
    void SetEnabled(bool v);
    void SetHelpTag(const std::string& text);

    NativeWidget& Native() { return *native_; }

protected:
    explicit RectControl(std::unique_ptr<NativeWidget> native);
    void AttachTo(fw::Window& window) override;

private:
    std::unique_ptr<NativeWidget> native_;
    int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
};

// A top-level window. A program derives its window classes from it and builds them through
// Window::Build, which runs the set-up hooks and then the Open events.
class Window : public std::enable_shared_from_this<Window> {
public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Set-up hooks, in this order, when the window is built.
    virtual void Layout() {}
    virtual void CreateControls() {}
    virtual void AddMenuHandlers() {}

    virtual void Event_Open() {}
    virtual void Event_Close() {}
    // Return true to cancel the close.
    virtual bool Event_CancelClose(bool appQuitting) {
        (void)appQuitting;
        return false;
    }
    // Return true when the key was handled.
    virtual bool Event_KeyDown(const std::string& key) {
        (void)key;
        return false;
    }
    // deltaY counts whole wheel notches, positive when the wheel turns toward the user.
    virtual bool Event_MouseWheel(int32_t x, int32_t y, int32_t deltaX, int32_t deltaY) {
        (void)x, (void)y, (void)deltaX, (void)deltaY;
        return false;
    }

    // Builds a window of class T: Layout, CreateControls, AddMenuHandlers, the controls'
    // Open events, the window's Open event; shows it when Visible.
    template <class T, class... Args>
    static Ref<T> Build(Args&&... args) {
        Ref<T> w = New<T>(std::forward<Args>(args)...);
        w->RunSetUp();
        return w;
    }
    // The open window of class T, nil when there is none.
    template <class T>
    static Ref<T> FindOpen() {
        for (const auto& w : OpenWindows())
            if (auto t = w.template As<T>()) return t;
        return nullptr;
    }
    static std::vector<Ref<Window>> OpenWindows();

    // Content size; the menu bar sits above it.
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    void SetWidth(int32_t v);
    void SetHeight(int32_t v);
    void SetMinSize(int32_t width, int32_t height);
    void SetMaxSize(int32_t width, int32_t height);
    std::string Title() const { return title_; }
    void SetTitle(const std::string& title);
    bool Resizeable() const { return resizeable_; }
    void SetResizeable(bool v);
    bool MinimizeButton() const { return minimizeButton_; }
    void SetMinimizeButton(bool v);
    bool MaximizeButton() const { return maximizeButton_; }
    void SetMaximizeButton(bool v);
    void SetCloseButton(bool v);
    // 0 default, 1 parent window, 2 main screen, 3 parent-window screen, 4 stagger.
    void SetPlacement(int32_t v) { placement_ = v; }
    bool Visible() const;
    void SetVisible(bool v);

    // The bar shown above the content; nil for none. Several windows may share one bar.
    Ref<fw::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(Ref<fw::MenuBar> bar);
    // Registers this window's handler of the menu item with that name, replacing an earlier
    // one. An item chosen in this window's bar runs this window's handler.
    void AddMenuHandler(const std::string& name, std::function<bool()> handler);
    // Runs the handler registered under the name, as choosing the item does; false when there
    // is none or it did not handle the command.
    bool MenuCommand(const std::string& name);

    void AddControl(const std::string& name, Ref<fw::Control> control);
    Ref<fw::Control> ControlByName(const std::string& name) const;
    template <class T>
    Ref<T> ControlAs(const std::string& name) const {
        return ControlByName(name).template Cast<T>();
    }
    int32_t ControlCount() const { return static_cast<int32_t>(controls_.size()); }
    Ref<fw::Control> Control(int32_t index) const;

    // Closes the window as its close button would (CancelClose may refuse).
    void Close();
    // Shows the window modally; returns when it closes.
    void ShowModal();
    bool OpenReturned() const { return openReturned_; }
    bool IsClosed() const { return closed_; }
    // The close path shared by the close button, Close and Quit; true when it closed.
    bool TryClose(bool appQuitting);

    struct Impl;
    Impl& Native() { return *impl_; }

private:
    friend struct Impl;
    void RunSetUp();
    void ApplyGeometry();
    void ApplyFlags();

    std::unique_ptr<Impl> impl_;
    std::vector<Ref<fw::Control>> controls_;
    Ref<fw::MenuBar> menuBar_;
    std::vector<std::pair<std::string, std::function<bool()>>> menuHandlers_;
    std::string title_;
    int32_t width_ = 300, height_ = 200;
    int32_t minWidth_ = 64, minHeight_ = 64, maxWidth_ = 32000, maxHeight_ = 32000;
    int32_t placement_ = 0;
    bool resizeable_ = true, minimizeButton_ = true, maximizeButton_ = true, closeButton_ = true;
    bool visible_ = true;
    bool openReturned_ = false;
    bool closed_ = false;
};

}  // namespace fw
