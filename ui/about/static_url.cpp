#include "ui/about/static_url.h"

#include "platform/framework/core/exceptions.h"
#include "platform/framework/core/text.h"
#include "platform/framework/gui/application.h"

namespace quillet {

namespace {

const fw::Color kBlue = fw::RGB(0, 0, 255);
const fw::Color kMagenta = fw::RGB(255, 0, 255);
const fw::Color kRed = fw::RGB(255, 0, 0);

}  // namespace

// Each handler names itself in a RuntimeException passing through, so that the report of an
// unhandled one lists the handlers it went through, innermost first.

void StaticURL::Event_Open() {
    try {
        SetTextColor(kBlue);
        SetUnderline(true);
        if (Open) Open();
    } catch (fw::RuntimeException& e) {
        e.Message += "\rStaticURL.Open";
        throw;
    }
}

void StaticURL::Event_MouseEnter() {
    try {
        SetTextColor(kMagenta);
    } catch (fw::RuntimeException& e) {
        e.Message += "\rStaticURL.MouseEnter";
        throw;
    }
}

void StaticURL::Event_MouseExit() {
    try {
        SetTextColor(kBlue);
    } catch (fw::RuntimeException& e) {
        e.Message += "\rStaticURL.MouseExit";
        throw;
    }
}

bool StaticURL::Event_MouseDown(int32_t, int32_t) {
    try {
        SetTextColor(kRed);
        return true;
    } catch (fw::RuntimeException& e) {
        e.Message += "\rStaticURL.MouseDown";
        throw;
    }
}

void StaticURL::Event_MouseUp(int32_t x, int32_t y) {
    try {
        // Strict on every side: the left column and the top row do not count.
        if (x > 0 && y > 0 && x < Width() && y < Height()) {
            if (URL.empty())
                fw::ShowURL(Text());
            else
                fw::ShowURL(URL);
        }
        SetTextColor(kBlue);
    } catch (fw::RuntimeException& e) {
        e.Message += "\rStaticURL.MouseUp";
        throw;
    }
}

}  // namespace quillet
