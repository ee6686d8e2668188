#pragma once

// Qt side of the framework's GUI part. Only the framework's own sources and tests that drive
// real widgets include this header.

#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

#include "core/ref.h"
#include "menu.h"
#include "window.h"

namespace fw {

struct NativeWidget {
    explicit NativeWidget(QWidget* w) : widget(w) {}
    ~NativeWidget() { delete widget.data(); }
    QPointer<QWidget> widget;
};

class NativeMainWindow : public QMainWindow {
public:
    explicit NativeMainWindow(fw::Window* owner);
    void Detach() { owner_ = nullptr; }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    fw::Window* owner_;
    int wheelRemainderX_ = 0;
    int wheelRemainderY_ = 0;
};

// One window's copy of a shared menu bar. It rebuilds itself when the bar changes and sends
// the chosen items to its window.
class NativeMenuBar : public QMenuBar {
public:
    NativeMenuBar(fw::Window* owner, const Ref<fw::MenuBar>& model);
    ~NativeMenuBar() override;
    void Detach() { owner_ = nullptr; }
    void Rebuild();
    fw::Window* Owner() const { return owner_; }

private:
    void AddItems(QWidget* menu, const fw::MenuItem& parent);
    void Chosen(const std::weak_ptr<fw::MenuItem>& item);

    fw::Window* owner_;
    std::weak_ptr<fw::MenuBar> model_;
    std::vector<QPointer<QObject>> built_;
};

struct MenuBar::Impl {
    std::vector<QPointer<NativeMenuBar>> views;
};

struct Window::Impl {
    QPointer<NativeMainWindow> main;
    QPointer<QWidget> content;
    QPointer<QEventLoop> modalLoop;
    QPointer<NativeMenuBar> menuBar;
    bool placed = false;
};

namespace internal {

void RegisterOpenWindow(Ref<fw::Window> w);
// Drops the framework's reference once the current event has been handled, so that a window
// never goes away inside one of its own handlers.
void ReleaseClosedWindow(fw::Window* w);
bool EventLoopRunning();

}  // namespace internal

// The widget behind a window or a control, for tests that send real events to it.
QMainWindow* NativeWindowOf(fw::Window& w);
QWidget* ContentOf(fw::Window& w);
QWidget* WidgetOf(fw::RectControl& c);
// The window's menu bar as Qt shows it; nil when the window has none.
QMenuBar* NativeMenuBarOf(fw::Window& w);

}  // namespace fw
