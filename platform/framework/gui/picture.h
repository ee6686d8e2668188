#pragma once

#include <cstdint>
#include <memory>

#include "core/ref.h"

namespace fw {

class Graphics;

// A picture. With Transparent set to 1, pure white in its mask marks transparent pixels.
class Picture : public std::enable_shared_from_this<Picture> {
public:
    Picture(int32_t width, int32_t height);
    ~Picture();

    int32_t Width() const;
    int32_t Height() const;
    int32_t Transparent = 0;
    Ref<Picture> Mask();
    Ref<fw::Graphics> Graphics();

    struct Impl;
    Impl& Native() { return *impl_; }
    const Impl& Native() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
    Ref<Picture> mask_;
};

class Graphics {
public:
    explicit Graphics(Picture& target) : target_(target) {}
    // Draws a part of a picture. A width or height of -10000 (or any negative value) means
    // the source picture's own size.
    void DrawPicture(const Ref<Picture>& source, int32_t x, int32_t y, int32_t width = -10000,
                     int32_t height = -10000, int32_t sourceX = 0, int32_t sourceY = 0,
                     int32_t sourceWidth = -10000, int32_t sourceHeight = -10000);

private:
    Picture& target_;
};

// The picture with that resource number from the program's resources; nil when absent.
Ref<Picture> GetPicture(int32_t resourceID);

}  // namespace fw
