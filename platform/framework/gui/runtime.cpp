#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "application.h"
#include "core/doevents.h"
#include "core/tcpsocket.h"
#include "core/uniquefd.h"
#include "keyboard.h"
#include "native.h"
#include "testing.h"

namespace fw {

namespace {

struct State {
    Ref<Application> app;
    std::vector<Ref<Window>> openWindows;
    std::vector<Ref<Window>> closedWindows;
    bool quitRequested = false;
    int quitCode = 0;
    bool loopRunning = false;
    std::set<int> keysDown;
    std::function<void(const std::string&)> msgBoxHook;
    std::function<void(const std::string&)> showURLHook;
    std::function<void(const std::string&, const std::string&)> unhandledHook;
};

State& S() {
    static State state;
    return state;
}

// Windows and their widgets go before the QApplication and Qt's own global objects that they
// need; so does the application object, which holds the menu bar.
void ReleaseWindows() {
    S().openWindows.clear();
    S().closedWindows.clear();
    S().app = nullptr;
}

// exit() destroys the calling thread's thread_local objects before any static one, however
// late that was made, and Qt makes its global objects at their first use, while the event
// loop runs. So when a library ends the program from the main thread (Qt does when the
// display goes away), the windows go here, while Qt still stands. One that a handler on the
// abandoned stack still holds is never destroyed.
struct EndAtExit {
    bool armed = false;
    ~EndAtExit() {
        if (armed) ReleaseWindows();
    }
};
thread_local EndAtExit endAtExit;

// Macintosh virtual key codes of the keys a program may poll.
int MacKeyCode(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Left:
            return 123;
        case Qt::Key_Right:
            return 124;
        case Qt::Key_Down:
            return 125;
        case Qt::Key_Up:
            return 126;
        case Qt::Key_Return:
            return 36;
        case Qt::Key_Enter:
            return 76;
        case Qt::Key_Tab:
            return 48;
        case Qt::Key_Space:
            return 49;
        case Qt::Key_Backspace:
            return 51;
        case Qt::Key_Escape:
            return 53;
        case Qt::Key_Delete:
            return 117;
        case Qt::Key_Home:
            return 115;
        case Qt::Key_End:
            return 119;
        case Qt::Key_PageUp:
            return 116;
        case Qt::Key_PageDown:
            return 121;
        case Qt::Key_Shift:
            return 56;
        case Qt::Key_Control:
            return 59;
        case Qt::Key_Alt:
            return 58;
        case Qt::Key_Meta:
            return 55;
        default:
            break;
    }
    static const int kLetters[26] = {0,  11, 8,  2,  14, 3, 5,  4,  34, 38, 40, 37, 46,
                                     45, 31, 35, 12, 15, 1, 17, 32, 9,  13, 7,  16, 6};
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return kLetters[qtKey - Qt::Key_A];
    static const int kDigits[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return kDigits[qtKey - Qt::Key_0];
    return -1;
}

// Tracks which physical keys are down, before any widget sees the key event.
class KeyStateFilter : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease: {
                auto* key = static_cast<QKeyEvent*>(event);
                if (key->isAutoRepeat()) break;
                int code = MacKeyCode(key->key());
                if (code < 0) break;
                if (event->type() == QEvent::KeyPress)
                    S().keysDown.insert(code);
                else
                    S().keysDown.erase(code);
                break;
            }
            case QEvent::ApplicationDeactivate:
                // Releases while another application has the focus never reach us.
                S().keysDown.clear();
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }
};

QString InstanceSocketPath() {
    QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    if (dir.isEmpty()) return QStringLiteral("/tmp/quillet-%1.instance").arg(getuid());
    return QString::fromLocal8Bit(dir) + QStringLiteral("/quillet.instance");
}

void RaiseActivateEvent() {
    if (S().quitRequested || !S().app) return;
    Guard([] { S().app->Event_Activate(); });
}

std::string DisplayText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

namespace {

// A termination signal becomes a Quit on the main thread: the handler only writes to a pipe.
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    char c = 1;
    ssize_t n = write(signalPipe[1], &c, 1);
    (void)n;
}

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnBrokenPipe(int) {}

}  // namespace

namespace {

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The first instance listens on a Unix socket in the user's runtime directory; a second one
// started later connects, says "activate" and ends.
class InstanceServer {
public:
    // True when a running instance took the message.
    static bool AskRunning(const std::string& path) {
        sockaddr_un address;
        if (!SocketAddress(path, address)) return false;
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd || connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
        static const char message[] = "activate\n";
        return send(fd.Get(), message, sizeof message - 1, MSG_NOSIGNAL) ==
               static_cast<ssize_t>(sizeof message - 1);
    }

    bool Listen(const std::string& path, std::string& why) {
        sockaddr_un address;
        if (!SocketAddress(path, address)) {
            why = "the path is too long";
            return false;
        }
        listener_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        // Nobody answered on the socket: it is left over from a process that ended.
        unlink(path.c_str());
        // Only this user may ask the instance to come forward.
        const mode_t old = umask(0077);
        const bool bound = listener_ && bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address),
                                             sizeof address) == 0;
        umask(old);
        if (!bound || listen(listener_.Get(), 4) != 0) {
            why = std::strerror(errno);
            listener_.Reset();
            return false;
        }
        path_ = path;
        notifier_ = std::make_unique<QSocketNotifier>(listener_.Get(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Accept(); });
        return true;
    }

    ~InstanceServer() {
        peers_.clear();
        notifier_.reset();
        if (listener_) unlink(path_.c_str());
    }

private:
    struct Peer {
        UniqueFd fd;
        std::unique_ptr<QSocketNotifier> notifier;
        std::string text;
    };

    void Accept() {
        for (;;) {
            UniqueFd fd(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!fd) return;
            const int key = fd.Get();
            auto& peer = peers_[key];
            peer.fd = std::move(fd);
            peer.notifier = std::make_unique<QSocketNotifier>(key, QSocketNotifier::Read);
            QObject::connect(peer.notifier.get(), &QSocketNotifier::activated,
                             [this, key] { Read(key); });
        }
    }

    void Read(int key) {
        auto it = peers_.find(key);
        if (it == peers_.end()) return;
        char buf[64];
        ssize_t n;
        while ((n = recv(key, buf, sizeof buf, 0)) > 0 && it->second.text.size() < 256)
            it->second.text.append(buf, static_cast<std::size_t>(n));
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // The peer has said all it will: the connection ends here.
        const bool activate = it->second.text.find("activate") != std::string::npos;
        it->second.notifier->setEnabled(false);
        it->second.notifier.release()->deleteLater();
        peers_.erase(it);
        if (activate) RaiseActivateEvent();
    }

    UniqueFd listener_;
    std::string path_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, Peer> peers_;
};

}  // namespace

struct Runtime::Impl {
    std::unique_ptr<QSocketNotifier> signalNotifier;
    std::unique_ptr<QApplication> app;
    // Runs only while sockets exist, so that their events arrive without the loop waking
    // up for nothing when there are none.
    QTimer socketPoll;
    KeyStateFilter keyFilter;
    std::unique_ptr<InstanceServer> instanceServer;
    std::unique_ptr<QSystemTrayIcon> tray;
    bool handedOver = false;
};

Runtime::Runtime(int& argc, char** argv) : Runtime(argc, argv, Options{}) {}

Runtime::Runtime(int& argc, char** argv, Options options) : impl_(std::make_unique<Impl>()) {
    // A write to a connection whose other end has gone (the X server's, when the session ends)
    // then fails with EPIPE, which Qt takes for the display going away, instead of killing the
    // program. A handler rather than SIG_IGN, so that programs started from here get the
    // default again.
    struct sigaction pipeAction {};
    pipeAction.sa_handler = OnBrokenPipe;
    sigemptyset(&pipeAction.sa_mask);
    sigaction(SIGPIPE, &pipeAction, nullptr);
    QApplication::setApplicationName(QStringLiteral("quillet"));
    QApplication::setApplicationDisplayName(QStringLiteral(FW_APPLICATION_NAME));
    QApplication::setApplicationVersion(QStringLiteral(FW_APPLICATION_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quillet"));
    impl_->app = std::make_unique<QApplication>(argc, argv);
    // Closing the last visible window does not end the application; only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->app->installEventFilter(&impl_->keyFilter);
    SetDoEventsHandler([](int32_t milliseconds) { DoEvents(milliseconds); });
    impl_->socketPoll.setInterval(15);
    QObject::connect(&impl_->socketPoll, &QTimer::timeout, [this] {
        PollAllSockets();
        if (!AnySockets()) impl_->socketPoll.stop();
    });
    SetFirstSocketHandler([this] {
        QMetaObject::invokeMethod(
            &impl_->socketPoll, [this] { impl_->socketPoll.start(); }, Qt::QueuedConnection);
    });
    // A session that ends, or a Ctrl+C, quits as the menu's Quit does, so that the sound
    // server's clients and the windows close properly.
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        impl_->signalNotifier =
            std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(impl_->signalNotifier.get(), &QSocketNotifier::activated, [] {
            char buf[16];
            while (read(signalPipe[0], buf, sizeof buf) > 0) {
            }
            Quit(0);
        });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : kTerminationSignals) sigaction(sig, &action, nullptr);
    }
    endAtExit.armed = true;
    QIcon icon(QStringLiteral(":/app/icon.png"));
    if (!icon.isNull()) QApplication::setWindowIcon(icon);

    if (options.singleInstance) {
        const std::string path = InstanceSocketPath().toStdString();
        if (InstanceServer::AskRunning(path)) {
            impl_->handedOver = true;
            return;
        }
        impl_->instanceServer = std::make_unique<InstanceServer>();
        std::string why;
        if (!impl_->instanceServer->Listen(path, why)) {
            std::fprintf(stderr, "quillet: cannot listen on %s: %s\n", path.c_str(), why.c_str());
            impl_->instanceServer.reset();
        }
        if (QSystemTrayIcon::isSystemTrayAvailable() && !icon.isNull()) {
            impl_->tray = std::make_unique<QSystemTrayIcon>(icon);
            QObject::connect(impl_->tray.get(), &QSystemTrayIcon::activated,
                             [](QSystemTrayIcon::ActivationReason) { RaiseActivateEvent(); });
            impl_->tray->show();
        }
    }
}

Runtime::~Runtime() {
    if (impl_->signalNotifier) {
        for (int sig : kTerminationSignals) signal(sig, SIG_DFL);
        impl_->signalNotifier.reset();
        close(signalPipe[0]);
        close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    SetFirstSocketHandler(nullptr);
    SetDoEventsHandler(nullptr);
    endAtExit.armed = false;
    ReleaseWindows();
    impl_->tray.reset();
    impl_->instanceServer.reset();
    impl_->app.reset();
}

bool Runtime::HandedOverToRunningInstance() const {
    return impl_->handedOver;
}

int Runtime::RunEventLoop() {
    if (S().quitRequested) return S().quitCode;
    QTimer::singleShot(0, [] {
        if (S().app) Guard([] { S().app->Event_Open(); });
    });
    S().loopRunning = true;
    int code = QApplication::exec();
    S().loopRunning = false;
    S().closedWindows.clear();
    return S().quitRequested ? S().quitCode : code;
}

int Runtime::ExitStatus() const {
    return S().quitRequested ? S().quitCode : 0;
}

std::string Application::ShortVersion() const {
    return FW_APPLICATION_VERSION;
}

void Application::Register(Ref<Application> app) {
    S().app = std::move(app);
}

Ref<Application> Application::Instance() {
    return S().app;
}

void Quit(int exitCode) {
    S().quitRequested = true;
    S().quitCode = exitCode;
    std::vector<Ref<Window>> windows = S().openWindows;
    for (auto& w : windows) {
        if (!w->IsClosed() && !w->TryClose(true)) {
            // A window refused to close: the application goes on.
            S().quitRequested = false;
            return;
        }
    }
    if (S().loopRunning) QCoreApplication::exit(exitCode);
}

bool QuitRequested() {
    return S().quitRequested;
}

void DoEvents(int milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, milliseconds < 0 ? 0 : milliseconds);
}

void MsgBox(const std::string& text) {
    if (S().msgBoxHook) {
        S().msgBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                    QString::fromStdString(DisplayText(text)), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ShowURL(const std::string& url) {
    if (S().showURLHook) {
        S().showURLHook(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void ReportUnhandledException(const RuntimeException& e) {
    if (S().unhandledHook) {
        S().unhandledHook(e.ClassName(), e.Message);
        return;
    }
    std::string text = std::string("An exception of class ") + e.ClassName() +
                       " was not handled. The application must shut down.\n" +
                       DisplayText(e.Message);
    std::fprintf(stderr, "quillet: %s\n", text.c_str());
    std::fflush(stderr);
    if (QApplication::instance()) MsgBox(text);
    // Nothing is kept on disk, so ending here loses nothing; unwinding further would run
    // handlers of a program in an unknown state.
    std::_Exit(1);
}

bool Keyboard::AsyncKeyDown(int32_t keyCode) {
    return S().keysDown.count(keyCode) != 0;
}

namespace internal {

void RegisterOpenWindow(Ref<Window> w) {
    S().openWindows.push_back(std::move(w));
}

void ReleaseClosedWindow(Window* w) {
    auto& open = S().openWindows;
    auto it =
        std::find_if(open.begin(), open.end(), [w](const Ref<Window>& r) { return r.Get() == w; });
    if (it == open.end()) return;
    S().closedWindows.push_back(*it);
    open.erase(it);
    QTimer::singleShot(0, [] { S().closedWindows.clear(); });
}

bool EventLoopRunning() {
    return S().loopRunning;
}

}  // namespace internal

std::vector<Ref<Window>> Window::OpenWindows() {
    return S().openWindows;
}

namespace testing {

void SetMsgBoxHook(std::function<void(const std::string&)> hook) {
    S().msgBoxHook = std::move(hook);
}
void SetShowURLHook(std::function<void(const std::string&)> hook) {
    S().showURLHook = std::move(hook);
}
void SetUnhandledExceptionHook(std::function<void(const std::string&, const std::string&)> hook) {
    S().unhandledHook = std::move(hook);
}
void ResetQuit() {
    S().quitRequested = false;
    S().quitCode = 0;
}

}  // namespace testing

}  // namespace fw
