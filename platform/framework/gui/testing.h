#pragma once

#include <functional>
#include <string>

#include "core/exceptions.h"

// Hooks for tests: they replace what would otherwise block on a person or leave the
// process (a message box, the browser, the report of an unhandled exception).
namespace fw::testing {

void SetMsgBoxHook(std::function<void(const std::string&)> hook);
void SetShowURLHook(std::function<void(const std::string&)> hook);
// Called with the exception's class name and message instead of ending the process.
void SetUnhandledExceptionHook(std::function<void(const std::string&, const std::string&)> hook);
// Raises the application's Activate event as a second start would.
void RaiseActivate();
// Forgets a Quit so that a test can go on with a fresh loop.
void ResetQuit();
// Chooses the menu item with that name in the front window's menu bar, as a click on it
// would: true when the item is there, enabled, and its handler handled the command. The
// front window is the active one when it has a menu bar, otherwise the most recently built
// visible window with one.
bool ChooseMenuItem(const std::string& name);

}  // namespace fw::testing
