#pragma once

#include <QImage>

#include "picture.h"

namespace fw {

struct Picture::Impl {
    QImage image;
};

// What the picture looks like on screen, its mask applied when it is transparent.
QImage DisplayImage(const Picture& picture);

}  // namespace fw
