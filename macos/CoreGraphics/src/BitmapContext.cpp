#include "macos/CoreGraphics/BitmapContext.hpp"

#include "macos/sim/World.hpp"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <limits>

namespace cg {

namespace {

// Beyond these the context is refused, as the platform refuses what it cannot allocate.
constexpr std::size_t maxDimension = std::size_t{1} << 16;
constexpr std::size_t maxBytes = std::size_t{1} << 28;
constexpr double maxCoordinate = double(1 << 24);

bool fault(bool sim::Faults::*which) {
    auto* world = sim::World::currentOrNull();
    return world && world->faults().*which;
}

// An image's pixels as a Qt image with its own copy of the data; a null image for a layout that
// cannot be read.
QImage toQImage(const Image& image) {
    if (image.bitsPerComponent() != 8 || image.width() == 0 || image.height() == 0) return {};
    if (image.width() > maxDimension || image.height() > maxDimension) return {};
    bool alphaFirst = false;
    bool opaque = false;
    QImage::Format format;
    switch (image.alphaInfo()) {
        case ImageAlphaInfo::premultipliedLast: format = QImage::Format_RGBA8888_Premultiplied; break;
        case ImageAlphaInfo::last: format = QImage::Format_RGBA8888; break;
        case ImageAlphaInfo::none:
        case ImageAlphaInfo::noneSkipLast:
            format = QImage::Format_RGBX8888;
            opaque = true;
            break;
        case ImageAlphaInfo::premultipliedFirst:
            format = QImage::Format_RGBA8888_Premultiplied;
            alphaFirst = true;
            break;
        case ImageAlphaInfo::first:
            format = QImage::Format_RGBA8888;
            alphaFirst = true;
            break;
        case ImageAlphaInfo::noneSkipFirst:
            format = QImage::Format_RGBX8888;
            alphaFirst = true;
            opaque = true;
            break;
        default: return {};
    }
    int w = static_cast<int>(image.width());
    int h = static_cast<int>(image.height());
    QImage out(w, h, format);
    if (out.isNull()) return {};
    const std::uint8_t* source = image.pixels().data();
    std::size_t rowBytes = image.bytesPerRow();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = source + static_cast<std::size_t>(y) * rowBytes;
        std::uint8_t* row = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = in + 4 * x;
            std::uint8_t* q = row + 4 * x;
            if (alphaFirst) {
                q[0] = p[1];
                q[1] = p[2];
                q[2] = p[3];
                q[3] = p[0];
            } else {
                std::memcpy(q, p, 4);
            }
            // Qt requires the skipped byte of an opaque layout to be full.
            if (opaque) q[3] = 0xFF;
        }
    }
    return out;
}

bool isWhole(double v) { return std::nearbyint(v) == v; }

}  // namespace

struct BitmapContext::Canvas {
    QImage image;
};

BitmapContext::BitmapContext(std::size_t width, std::size_t height, std::size_t bytesPerRow, ColorSpaceRef colorSpace,
                             ImageAlphaInfo alphaInfo, std::unique_ptr<Canvas> canvas)
    : width_(width),
      height_(height),
      bytesPerRow_(bytesPerRow),
      colorSpace_(std::move(colorSpace)),
      alphaInfo_(alphaInfo),
      canvas_(std::move(canvas)) {}

BitmapContext::~BitmapContext() = default;

std::shared_ptr<BitmapContext> BitmapContext::create(std::size_t width, std::size_t height,
                                                     std::size_t bitsPerComponent, std::size_t bytesPerRow,
                                                     ColorSpaceRef colorSpace, std::uint32_t bitmapInfo) {
    if (fault(&sim::Faults::bitmapContextCreationFails)) return nullptr;
    if (width == 0 || height == 0 || width > maxDimension || height > maxDimension) return nullptr;
    if (bitsPerComponent != 8 || !colorSpace || colorSpace->components() != 3) return nullptr;
    if (bitmapInfo & bitmapFloatComponents) return nullptr;
    auto byteOrder = bitmapInfo & bitmapByteOrderMask;
    if (byteOrder != 0 && byteOrder != bitmapByteOrder32Big) return nullptr;
    if (bitmapInfo & ~(bitmapAlphaInfoMask | bitmapByteOrderMask)) return nullptr;

    QImage::Format format;
    auto alpha = static_cast<ImageAlphaInfo>(bitmapInfo & bitmapAlphaInfoMask);
    switch (alpha) {
        case ImageAlphaInfo::premultipliedLast: format = QImage::Format_RGBA8888_Premultiplied; break;
        case ImageAlphaInfo::noneSkipLast: format = QImage::Format_RGBX8888; break;
        default: return nullptr;
    }

    std::size_t minimumRow = width * 4;
    if (bytesPerRow == 0) bytesPerRow = minimumRow;
    if (bytesPerRow < minimumRow || bytesPerRow > maxBytes / height) return nullptr;

    auto canvas = std::make_unique<Canvas>();
    canvas->image = QImage(static_cast<int>(width), static_cast<int>(height), format);
    if (canvas->image.isNull()) return nullptr;
    // A new context is cleared: transparent, or black where there is no alpha.
    canvas->image.fill(alpha == ImageAlphaInfo::premultipliedLast ? Qt::transparent : Qt::black);
    return std::shared_ptr<BitmapContext>(
        new BitmapContext(width, height, bytesPerRow, std::move(colorSpace), alpha, std::move(canvas)));
}

void BitmapContext::draw(const ImageRef& image, const Rect& rect) {
    if (!image) return;
    Rect r = rect.standardized();
    for (double v : {r.origin.x, r.origin.y, r.size.width, r.size.height}) {
        if (!std::isfinite(v) || std::fabs(v) > maxCoordinate) return;
    }
    if (r.size.width <= 0 || r.size.height <= 0) return;
    QImage source = toQImage(*image);
    if (source.isNull()) return;

    // User space has y up from the bottom edge; the canvas's rows run from the top.
    double x = r.origin.x;
    double top = static_cast<double>(height_) - r.maxY();
    double w = r.size.width;
    double h = r.size.height;
    bool smooth = quality_ != InterpolationQuality::none;
    auto mode = smooth ? Qt::SmoothTransformation : Qt::FastTransformation;

    QPainter painter(&canvas_->image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    bool pixelAligned = isWhole(x) && isWhole(top) && isWhole(w) && isWhole(h);
    if (pixelAligned && w * h * 4 <= static_cast<double>(maxBytes)) {
        // Qt's image scaling averages the source when shrinking, which the painter's
        // transformed drawing does not; use it whenever the target is a whole-pixel rectangle.
        int iw = static_cast<int>(w);
        int ih = static_cast<int>(h);
        QImage scaled = (iw == source.width() && ih == source.height())
                            ? source
                            : source.scaled(iw, ih, Qt::IgnoreAspectRatio, mode);
        painter.drawImage(QPoint(static_cast<int>(x), static_cast<int>(top)), scaled);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter.drawImage(QRectF(x, top, w, h), source);
    }
}

ImageRef BitmapContext::makeImage() const {
    if (fault(&sim::Faults::bitmapContextImageFails)) return nullptr;
    const QImage& canvas = canvas_->image;
    std::size_t rowBytes = width_ * 4;
    std::vector<std::uint8_t> pixels(rowBytes * height_);
    for (std::size_t y = 0; y < height_; ++y) {
        std::memcpy(pixels.data() + y * rowBytes, canvas.constScanLine(static_cast<int>(y)), rowBytes);
    }
    return std::make_shared<const Image>(width_, height_, 8, colorSpace_, alphaInfo_, std::move(pixels));
}

}  // namespace cg
