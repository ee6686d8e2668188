#include <QPainter>

#include "core/text.h"
#include "picture_impl.h"

namespace fw {

Picture::Picture(int32_t width, int32_t height) : impl_(std::make_unique<Impl>()) {
    impl_->image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    impl_->image.fill(Qt::transparent);
}

Picture::~Picture() = default;

int32_t Picture::Width() const {
    return impl_->image.width();
}
int32_t Picture::Height() const {
    return impl_->image.height();
}

Ref<Picture> Picture::Mask() {
    if (!mask_) {
        mask_ = New<Picture>(Width(), Height());
        // A fresh mask hides nothing.
        mask_->Native().image.fill(Qt::black);
    }
    return mask_;
}

Ref<Graphics> Picture::Graphics() {
    return New<fw::Graphics>(*this);
}

void Graphics::DrawPicture(const Ref<Picture>& source, int32_t x, int32_t y, int32_t width,
                           int32_t height, int32_t sourceX, int32_t sourceY, int32_t sourceWidth,
                           int32_t sourceHeight) {
    const QImage& src = source->Native().image;
    if (sourceWidth < 0) sourceWidth = src.width();
    if (sourceHeight < 0) sourceHeight = src.height();
    if (width < 0) width = sourceWidth;
    if (height < 0) height = sourceHeight;
    QPainter painter(&target_.Native().image);
    painter.drawImage(QRect(x, y, width, height), src,
                      QRect(sourceX, sourceY, sourceWidth, sourceHeight));
}

QImage DisplayImage(const Picture& picture) {
    QImage out = picture.Native().image.convertToFormat(QImage::Format_ARGB32);
    if (picture.Transparent != 1) return out;
    Ref<Picture> mask = const_cast<Picture&>(picture).Mask();
    QImage m = mask->Native().image.convertToFormat(QImage::Format_ARGB32);
    for (int yy = 0; yy < out.height() && yy < m.height(); ++yy) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(yy));
        const auto* maskLine = reinterpret_cast<const QRgb*>(m.constScanLine(yy));
        for (int xx = 0; xx < out.width() && xx < m.width(); ++xx)
            if ((maskLine[xx] & 0xFFFFFFu) == 0xFFFFFFu) line[xx] = qRgba(0, 0, 0, 0);
    }
    return out;
}

Ref<Picture> GetPicture(int32_t resourceID) {
    QImage image(QStringLiteral(":/pictures/%1.png").arg(resourceID));
    if (image.isNull()) return nullptr;
    Ref<Picture> picture = New<Picture>(image.width(), image.height());
    picture->Native().image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return picture;
}

}  // namespace fw
