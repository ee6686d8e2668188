#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/exceptions.h"
#include "core/ref.h"

namespace fw {

class MenuBar;

// The application object. A program derives its own class, creates one instance and
// registers it; the framework raises its events on the main thread.
class Application {
public:
    virtual ~Application() = default;

    // Raised once, when the event loop starts.
    virtual void Event_Open() {}
    // Raised when the user asks for the application again: a second start, or a click on
    // its icon in the status area.
    virtual void Event_Activate() {}

    Ref<fw::MenuBar> MenuBar;

    // The running version, from the build.
    std::string ShortVersion() const;

    static void Register(Ref<Application> app);
    static Ref<Application> Instance();
};

// Starts and ends the framework. Exactly one exists in a process.
class Runtime {
public:
    struct Options {
        // A second start hands over to the running instance and ends.
        bool singleInstance = true;
    };
    Runtime(int& argc, char** argv);
    Runtime(int& argc, char** argv, Options options);
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // True when another instance runs for this user and has been asked to activate; this
    // process should then end with status 0.
    bool HandedOverToRunningInstance() const;
    // Runs the event loop until Quit; returns the exit code given to Quit.
    int RunEventLoop();
    // The exit code of the last Quit (0 when there was none).
    int ExitStatus() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Asks the application to quit: every open window is asked to close with appQuitting true,
// then the event loop ends with exitCode. Asked before the loop runs, the loop ends as soon
// as it starts.
void Quit(int exitCode = 0);
bool QuitRequested();
// Handles pending events; milliseconds < 0 means only what is pending now.
void DoEvents(int milliseconds = -1);
// A modal message; returns when the user dismisses it.
void MsgBox(const std::string& text);
// Opens the URL in the user's default browser.
void ShowURL(const std::string& url);

// Shows an exception that no handler caught: its class and message in a message box and on
// standard error, then ends the program with status 1.
void ReportUnhandledException(const RuntimeException& e);

// Runs a handler of the program, reporting any RuntimeException it lets escape.
template <class F>
auto Guard(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const RuntimeException& e) {
        ReportUnhandledException(e);
        if constexpr (!std::is_void_v<decltype(f())>) return {};
    }
}

}  // namespace fw
