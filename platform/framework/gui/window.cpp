#include <xcb/xcb.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPalette>
#include <QScreen>
#include <QWheelEvent>

#include <cstring>

#include "application.h"
#include "core/text.h"
#include "native.h"

namespace fw {

namespace {

std::string KeyText(const QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Left:
            return Chr(28);
        case Qt::Key_Right:
            return Chr(29);
        case Qt::Key_Up:
            return Chr(30);
        case Qt::Key_Down:
            return Chr(31);
        default:
            return e->text().toStdString();
    }
}

// The program draws its texts in black and blue, on the light windows it was made for: they
// keep them under a dark desktop theme too.
QPalette LightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(239, 239, 239));
    p.setColor(QPalette::WindowText, Qt::black);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(247, 247, 247));
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::Button, QColor(239, 239, 239));
    p.setColor(QPalette::ButtonText, Qt::black);
    p.setColor(QPalette::Highlight, QColor(48, 140, 198));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    p.setColor(QPalette::ToolTipText, Qt::black);
    return p;
}

// Qt gives an X11 window with an empty title the application's name, which the window manager
// then shows: an empty title is written again, empty.
void ClearX11Title(QWidget& window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11 ||
        !window.windowTitle().isEmpty() || !window.testAttribute(Qt::WA_WState_Created))
        return;
    xcb_connection_t* c = x11->connection();
    if (!c) return;
    const auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return a;
    };
    const auto id = static_cast<xcb_window_t>(window.winId());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                        0, "");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
    xcb_flush(c);
}

}  // namespace

NativeMainWindow::NativeMainWindow(fw::Window* owner) : owner_(owner) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    // The window itself takes the keys, since its controls take no focus.
    setFocusPolicy(Qt::StrongFocus);
    setPalette(LightPalette());
}

bool NativeMainWindow::event(QEvent* e) {
    const bool handled = QMainWindow::event(e);
    // After Qt has written the title: when the window is made on the display, or retitled.
    if (e->type() == QEvent::Show || e->type() == QEvent::WindowTitleChange) ClearX11Title(*this);
    return handled;
}

void NativeMainWindow::closeEvent(QCloseEvent* e) {
    // The framework decides, and hides the window itself when the close goes through.
    e->ignore();
    if (owner_) owner_->TryClose(QuitRequested());
}

void NativeMainWindow::keyPressEvent(QKeyEvent* e) {
    if (!owner_) return QMainWindow::keyPressEvent(e);
    Ref<fw::Window> keep = owner_->shared_from_this();
    bool handled = Guard([&] { return owner_->Event_KeyDown(KeyText(e)); });
    if (!handled) QMainWindow::keyPressEvent(e);
}

void NativeMainWindow::wheelEvent(QWheelEvent* e) {
    if (!owner_) return QMainWindow::wheelEvent(e);
    // Wheels with finer steps than a notch add up until they make a whole one.
    wheelRemainderY_ += -e->angleDelta().y();
    wheelRemainderX_ += -e->angleDelta().x();
    int dy = wheelRemainderY_ / 120;
    int dx = wheelRemainderX_ / 120;
    wheelRemainderY_ -= dy * 120;
    wheelRemainderX_ -= dx * 120;
    if (dx == 0 && dy == 0 && e->angleDelta() != QPoint(0, 0)) {
        e->accept();
        return;
    }
    QPoint at = e->position().toPoint();
    if (owner_->Native().content) at = owner_->Native().content->mapFrom(this, at);
    Ref<fw::Window> keep = owner_->shared_from_this();
    bool handled = Guard([&] { return owner_->Event_MouseWheel(at.x(), at.y(), dx, dy); });
    if (handled)
        e->accept();
    else
        e->ignore();
}

Window::Window() : impl_(std::make_unique<Impl>()) {
    impl_->main = new NativeMainWindow(this);
    impl_->content = new QWidget(impl_->main);
    impl_->main->setCentralWidget(impl_->content);
    ApplyFlags();
    ApplyGeometry();
}

Window::~Window() {
    for (auto& c : controls_)
        if (c) c->window_.reset();
    controls_.clear();
    if (impl_->menuBar) impl_->menuBar->Detach();
    if (impl_->main) {
        impl_->main->Detach();
        delete impl_->main.data();
    }
}

void Window::RunSetUp() {
    internal::RegisterOpenWindow(shared_from_this());
    Guard([&] { Layout(); });
    Guard([&] { CreateControls(); });
    Guard([&] { AddMenuHandlers(); });
    std::vector<Ref<fw::Control>> controls = controls_;
    for (auto& c : controls) Guard([&] { c->Event_Open(); });
    Guard([&] { Event_Open(); });
    openReturned_ = true;
    for (auto& c : controls_) c->OwnerOpened();
    if (visible_ && !closed_) SetVisible(true);
}

void Window::ApplyFlags() {
    Qt::WindowFlags flags =
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (closeButton_) flags |= Qt::WindowCloseButtonHint;
    if (minimizeButton_) flags |= Qt::WindowMinimizeButtonHint;
    if (maximizeButton_ && resizeable_) flags |= Qt::WindowMaximizeButtonHint;
    bool shown = impl_->main->isVisible();
    impl_->main->setWindowFlags(flags);
    if (shown) impl_->main->show();
}

void Window::ApplyGeometry() {
    QWidget* content = impl_->content;
    if (resizeable_) {
        content->setMinimumSize(minWidth_, minHeight_);
        content->setMaximumSize(maxWidth_, maxHeight_);
        content->resize(width_, height_);
        impl_->main->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    } else {
        content->setFixedSize(width_, height_);
        impl_->main->layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
    impl_->main->adjustSize();
}

void Window::SetWidth(int32_t v) {
    width_ = v;
    ApplyGeometry();
}

void Window::SetHeight(int32_t v) {
    height_ = v;
    ApplyGeometry();
}

void Window::SetMinSize(int32_t width, int32_t height) {
    minWidth_ = width;
    minHeight_ = height;
    ApplyGeometry();
}

void Window::SetMaxSize(int32_t width, int32_t height) {
    maxWidth_ = width;
    maxHeight_ = height;
    ApplyGeometry();
}

void Window::SetTitle(const std::string& title) {
    title_ = title;
    impl_->main->setWindowTitle(QString::fromStdString(title));
}

void Window::SetResizeable(bool v) {
    resizeable_ = v;
    ApplyFlags();
    ApplyGeometry();
}

void Window::SetMinimizeButton(bool v) {
    minimizeButton_ = v;
    ApplyFlags();
}

void Window::SetMaximizeButton(bool v) {
    maximizeButton_ = v;
    ApplyFlags();
}

void Window::SetCloseButton(bool v) {
    closeButton_ = v;
    ApplyFlags();
}

bool Window::Visible() const {
    return openReturned_ ? impl_->main->isVisible() : visible_;
}

void Window::SetVisible(bool v) {
    visible_ = v;
    // Until the window has opened, Visible only says whether it will be shown then.
    if (!openReturned_ || closed_) return;
    if (!v) {
        impl_->main->hide();
        return;
    }
    if (!impl_->placed) {
        impl_->placed = true;
        if (placement_ == 2 || placement_ == 3) {
            if (QScreen* screen = QApplication::primaryScreen()) {
                QRect area = screen->availableGeometry();
                QSize size = impl_->main->sizeHint();
                impl_->main->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
            }
        }
    }
    impl_->main->show();
    impl_->main->raise();
    impl_->main->activateWindow();
    impl_->main->setFocus(Qt::ActiveWindowFocusReason);
}

void Window::SetMenuBar(Ref<fw::MenuBar> bar) {
    if (bar == menuBar_) return;
    menuBar_ = std::move(bar);
    QWidget* old = impl_->main->menuWidget();
    // Qt needs a menu bar widget per window; each builds its own from the shared bar.
    impl_->menuBar = menuBar_ ? new NativeMenuBar(this, menuBar_) : nullptr;
    impl_->main->setMenuWidget(impl_->menuBar);
    if (old) {
        if (auto* view = dynamic_cast<NativeMenuBar*>(old)) view->Detach();
        old->hide();
        old->deleteLater();
    }
    ApplyGeometry();
}

void Window::AddMenuHandler(const std::string& name, std::function<bool()> handler) {
    for (auto& [n, h] : menuHandlers_) {
        if (TextEquals(n, name)) {
            h = std::move(handler);
            return;
        }
    }
    menuHandlers_.emplace_back(name, std::move(handler));
}

bool Window::MenuCommand(const std::string& name) {
    for (auto& [n, h] : menuHandlers_) {
        if (!TextEquals(n, name) || !h) continue;
        Ref<fw::Window> keep = shared_from_this();
        // A copy: the handler may register another under its own name.
        std::function<bool()> handler = h;
        return Guard([&] { return handler(); });
    }
    return false;
}

void Window::AddControl(const std::string& name, Ref<fw::Control> control) {
    control->name_ = name;
    control->window_ = weak_from_this();
    control->AttachTo(*this);
    controls_.push_back(std::move(control));
}

Ref<fw::Control> Window::ControlByName(const std::string& name) const {
    for (const auto& c : controls_)
        if (TextEquals(c->Name(), name)) return c;
    return nullptr;
}

Ref<fw::Control> Window::Control(int32_t index) const {
    if (index < 0 || index >= ControlCount())
        throw OutOfBoundsException("Control index out of bounds");
    return controls_[static_cast<size_t>(index)];
}

void Window::Close() {
    TryClose(QuitRequested());
}

bool Window::TryClose(bool appQuitting) {
    if (closed_) return true;
    Ref<fw::Window> keep = shared_from_this();
    bool cancel = Guard([&] { return Event_CancelClose(appQuitting); });
    if (cancel) return false;
    closed_ = true;
    for (auto& c : controls_) c->OwnerClosed();
    Guard([&] { Event_Close(); });
    impl_->main->hide();
    if (impl_->modalLoop) impl_->modalLoop->quit();
    internal::ReleaseClosedWindow(this);
    return true;
}

void Window::ShowModal() {
    if (closed_) return;
    Ref<fw::Window> keep = shared_from_this();
    if (impl_->main->windowModality() != Qt::ApplicationModal) {
        // Qt takes a new modality only when the window is shown again.
        impl_->main->hide();
        impl_->main->setWindowModality(Qt::ApplicationModal);
    }
    visible_ = true;
    SetVisible(true);
    QEventLoop loop;
    impl_->modalLoop = &loop;
    if (!closed_) loop.exec();
    impl_->modalLoop = nullptr;
}

QMainWindow* NativeWindowOf(fw::Window& w) {
    return w.Native().main;
}
QWidget* ContentOf(fw::Window& w) {
    return w.Native().content;
}
QWidget* WidgetOf(fw::RectControl& c) {
    return c.Native().widget;
}

}  // namespace fw
