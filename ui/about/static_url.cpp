#include "ui/about/static_url.h"

#include "platform/framework/core/exceptions.h"
#include "platform/framework/core/text.h"
#include "platform/framework/gui/application.h"
#include "ui/about/located.h"

namespace quillet {

namespace {

const fw::Color kBlue = fw::RGB(0, 0, 255);
const fw::Color kMagenta = fw::RGB(255, 0, 255);
const fw::Color kRed = fw::RGB(255, 0, 0);

}  // namespace

void StaticURL::Event_Open() {
    Located("StaticURL.Open", [&] {
        SetTextColor(kBlue);
        SetUnderline(true);
        if (Open) Open();
    });
}

void StaticURL::Event_MouseEnter() {
    Located("StaticURL.MouseEnter", [&] { SetTextColor(kMagenta); });
}

void StaticURL::Event_MouseExit() {
    Located("StaticURL.MouseExit", [&] { SetTextColor(kBlue); });
}

bool StaticURL::Event_MouseDown(int32_t, int32_t) {
    return Located("StaticURL.MouseDown", [&] {
        SetTextColor(kRed);
        return true;
    });
}

void StaticURL::Event_MouseUp(int32_t x, int32_t y) {
    Located("StaticURL.MouseUp", [&] {
        // Strict on every side: the left column and the top row do not count.
        if (x > 0 && y > 0 && x < Width() && y < Height()) {
            if (URL.empty())
                fw::ShowURL(Text());
            else
                fw::ShowURL(URL);
        }
        SetTextColor(kBlue);
    });
}

}  // namespace quillet
