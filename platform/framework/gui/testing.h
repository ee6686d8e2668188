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
// Forgets a Quit so that a test can go on with a fresh loop.
void ResetQuit();

}  // namespace fw::testing
