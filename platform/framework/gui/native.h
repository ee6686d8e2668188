#pragma once

// Qt side of the framework's GUI part. Only the framework's own sources and tests that drive
// real widgets include this header.

#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>

#include "core/ref.h"
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
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    fw::Window* owner_;
    int wheelRemainderX_ = 0;
    int wheelRemainderY_ = 0;
};

struct Window::Impl {
    QPointer<NativeMainWindow> main;
    QPointer<QWidget> content;
    QPointer<QEventLoop> modalLoop;
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

}  // namespace fw
