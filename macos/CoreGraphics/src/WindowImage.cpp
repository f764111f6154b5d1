#include "macos/CoreGraphics/WindowImage.hpp"

#include "WindowSelection.hpp"
#include "macos/CoreGraphics/Color.hpp"
#include "macos/sim/StatusItemDrawing.hpp"
#include "macos/sim/World.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The image behind a C image reference. Only this file makes and frees them.
struct CGImageHandle {
    cg::ImageRef image;
};

namespace cg {

namespace {

double backingScale(const sim::World& world) {
    auto primary = world.screens().primary();
    double scale = primary ? primary->spec().backingScaleFactor : 1.0;
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

// Whole pixels that cover `points` at `scale`; none when the count is not a usable size.
std::optional<std::size_t> pixelsFor(double points, double scale) {
    double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1 || pixels > static_cast<double>(maximumWindowImageSide))
        return std::nullopt;
    return static_cast<std::size_t>(pixels);
}

// All screens together, in window-server space.
Rect desktopBounds(const sim::World& world) {
    const auto& screens = world.screens().screens();
    if (screens.empty()) return Rect::null();
    double primaryHeight = screens.front()->spec().frame.height();
    Rect out = Rect::null();
    for (const auto& s : screens) {
        Rect f = s->spec().frame.standardized();
        out = out.unionWith(Rect(f.minX(), primaryHeight - f.maxY(), f.width(), f.height()));
    }
    return out;
}

// A premultiplied RGBA canvas over a rectangle of window-server space.
class Canvas {
public:
    Canvas(const Rect& area, double scale, std::size_t width, std::size_t height, const Color& background)
        : area_(area), scale_(scale), width_(width), height_(height), pixels_(width * height * 4) {
        fill(0, 0, width_, height_, background);
    }

    void draw(const Rect& bounds, const Color& color) {
        Rect r = bounds.standardized();
        auto column = [&](double x) { return clampTo((x - area_.minX()) * scale_, width_); };
        auto row = [&](double y) { return clampTo((y - area_.minY()) * scale_, height_); };
        fill(column(r.minX()), row(r.minY()), column(r.maxX()), row(r.maxY()), color);
    }

    // A window as it looks: a status window shows its item's drawing, any other its colour.
    void draw(const sim::World& world, const sim::Window& window) {
        Rect r = window.bounds.standardized();
        if (!window.statusItem) return draw(r, Color::fromRGBA(window.color));
        if (auto placed = statusWindowContent(world, window)) blend(*placed->image, placed->left, placed->top);
    }

    // The status window's image when it covers this clear canvas exactly, as a capture of that
    // window alone does: drawn over nothing it is the same bytes, so it is shared, not blended.
    ImageRef wholly(const sim::World& world, const sim::Window& window) const {
        if (!window.statusItem) return nullptr;
        auto placed = statusWindowContent(world, window);
        if (!placed || placed->left != 0 || placed->top != 0 || placed->image->width() != width_ ||
            placed->image->height() != height_)
            return nullptr;
        return placed->image;
    }

    ImageRef image() && {
        return std::make_shared<const Image>(width_, height_, 8, ColorSpace::deviceRGB(),
                                             ImageAlphaInfo::premultipliedLast, std::move(pixels_));
    }

private:
    struct Placed {
        ImageRef image;
        double left;
        double top;
    };
    // A status window's image at this canvas's scale and the pixel of its top-left corner.
    std::optional<Placed> statusWindowContent(const sim::World& world, const sim::Window& window) const {
        Rect r = window.bounds.standardized();
        auto w = pixelsFor(r.width(), scale_);
        auto h = pixelsFor(r.height(), scale_);
        if (!w || !h) return std::nullopt;
        auto content = sim::windowContentImage(world, window, *w, *h);
        if (!content) return std::nullopt;
        return Placed{std::move(content), std::round((r.minX() - area_.minX()) * scale_),
                      std::round((r.minY() - area_.minY()) * scale_)};
    }

    static std::size_t clampTo(double v, std::size_t limit) {
        if (!(v > 0)) return 0;
        return static_cast<std::size_t>(std::min(std::round(v), static_cast<double>(limit)));
    }

    // Source over, on premultiplied bytes. Every byte of a component becomes the same byte
    // wherever it is, so each component's 256 results are worked out once.
    void fill(std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1, const Color& color) {
        const double a = std::clamp(color.alpha, 0.0, 1.0);
        if (a == 0) return;
        const double src[4] = {color.red * a * 255, color.green * a * 255, color.blue * a * 255, a * 255};
        std::uint8_t result[4][256];
        for (int c = 0; c < 4; ++c)
            for (int v = 0; v < 256; ++v)
                result[c][v] = static_cast<std::uint8_t>(std::clamp(std::lround(src[c] + v * (1 - a)), 0L, 255L));
        for (std::size_t y = y0; y < y1; ++y) {
            auto* p = &pixels_[(y * width_ + x0) * 4];
            for (std::size_t x = x0; x < x1; ++x, p += 4)
                for (int c = 0; c < 4; ++c) p[c] = result[c][p[c]];
        }
    }

    // Source over, premultiplied bytes of `image` placed with its top-left at pixel (left, top),
    // which are whole numbers.
    void blend(const Image& image, double left, double top) {
        if (!std::isfinite(left) || !std::isfinite(top)) return;
        // The image's columns and rows that land on the canvas.
        auto span = [](double offset, std::size_t length, std::size_t limit) {
            const double first = std::clamp(-offset, 0.0, static_cast<double>(length));
            const double end = std::clamp(static_cast<double>(limit) - offset, first, static_cast<double>(length));
            return std::pair{static_cast<std::size_t>(first), static_cast<std::size_t>(end)};
        };
        const auto [x0, x1] = span(left, image.width(), width_);
        const auto [y0, y1] = span(top, image.height(), height_);
        for (std::size_t y = y0; y < y1; ++y) {
            const auto* s = &image.pixels()[(y * image.width() + x0) * 4];
            auto* d = &pixels_[(static_cast<std::size_t>(top + static_cast<double>(y)) * width_ +
                                static_cast<std::size_t>(left + static_cast<double>(x0))) *
                               4];
            for (std::size_t x = x0; x < x1; ++x, s += 4, d += 4)
                for (int c = 0; c < 4; ++c) d[c] = sourceOver(s[c], s[3], d[c]);
        }
    }

    Rect area_;
    double scale_;
    std::size_t width_;
    std::size_t height_;
    std::vector<std::uint8_t> pixels_;
};

bool capturable(const sim::World& world, const sim::Window& w, bool access) {
    return !w.captureFails && (access || w.owner == world.processes().selfPid());
}

}  // namespace

ImageRef windowContentImage(WindowID window) {
    const auto& world = sim::World::current();
    const auto* w = world.windowServer().find(window);
    if (!w) return nullptr;
    double scale = backingScale(world);
    Rect bounds = w->bounds.standardized();
    auto width = pixelsFor(bounds.width(), scale);
    auto height = pixelsFor(bounds.height(), scale);
    if (!width || !height) return nullptr;
    return sim::windowContentImage(world, *w, *width, *height);
}

ImageRef windowListCreateImage(const Rect& screenBounds, WindowListOption listOption, WindowID windowID,
                               WindowImageOption imageOption) {
    auto& world = sim::World::current();
    ++world.captureService().windowImageRequests;
    if (world.faults().windowImageFails) return nullptr;

    auto windows = detail::selectWindows(world.windowServer(), listOption, windowID);
    const bool access = detail::holdsScreenRecordingAccess();
    const bool single = (listOption & ~windowListExcludeDesktopElements) == windowListOptionIncludingWindow;
    if (single) {
        if (windows.size() != 1 || !capturable(world, *windows.front(), access)) return nullptr;
    } else {
        std::erase_if(windows, [&](const sim::Window* w) { return !capturable(world, *w, access); });
    }

    Rect area = screenBounds;
    if (area.isNull()) {
        for (const auto* w : windows) area = area.unionWith(w->bounds.standardized());
    } else if (area.isInfinite()) {
        area = desktopBounds(world);
    }
    if (area.isNull() || area.isEmpty()) return nullptr;
    area = area.standardized();
    if (!std::isfinite(area.minX()) || !std::isfinite(area.minY())) return nullptr;

    const double scale = (imageOption & windowImageNominalResolution) ? 1.0 : backingScale(world);
    auto width = pixelsFor(area.width(), scale);
    auto height = pixelsFor(area.height(), scale);
    if (!width || !height) return nullptr;

    const bool opaque = imageOption & windowImageShouldBeOpaque;
    const bool shadowsOnly = imageOption & windowImageOnlyShadows;
    Canvas canvas(area, scale, *width, *height, opaque ? Color::white() : Color::clear());
    if (windows.size() == 1 && !opaque && !shadowsOnly) {
        if (auto image = canvas.wholly(world, *windows.front())) return image;
    }
    if (!shadowsOnly) {
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) canvas.draw(world, **it);
    }
    return std::move(canvas).image();
}

CGImageRef createWindowListImage(CGWindowRect screenBounds, CGWindowListOption listOption, CGWindowID windowID,
                                 CGWindowImageOption imageOption) {
    if (!sim::World::currentOrNull()) return nullptr;
    auto image = windowListCreateImage(fromWindowRect(screenBounds), listOption, windowID, imageOption);
    if (!image) return nullptr;
    // The C side owns the handle until it gives it back through releaseImage.
    return std::make_unique<CGImageHandle>(CGImageHandle{std::move(image)}).release();
}

void releaseImage(CGImageRef image) { std::unique_ptr<CGImageHandle> owned(image); }

ImageRef adoptImage(CGImageRef image) {
    std::unique_ptr<CGImageHandle> owned(image);
    return owned ? owned->image : nullptr;
}

namespace {
std::atomic<bool> libraryAllowed{true};
std::mutex libraryMutex;
bool libraryLoaded = false;

extern "C" CGImageRef exportedCreate(CGWindowRect screenBounds, CGWindowListOption listOption, CGWindowID windowID,
                                     CGWindowImageOption imageOption) {
    return createWindowListImage(screenBounds, listOption, windowID, imageOption);
}
extern "C" void exportedRelease(CGImageRef image) { releaseImage(image); }
}  // namespace

bool loadWindowImageLibrary() {
    std::lock_guard lock(libraryMutex);
    if (libraryLoaded) return true;
    if (!libraryAllowed) return false;
    // Global, so that a lookup in the process's default scope finds its symbols; never unloaded.
    void* library = dlopen(STASHBAY_WINDOW_IMAGE_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        // Only a broken build gets here: the library is built with the stand-in.
        const char* why = dlerror();
        std::fprintf(stderr, "cannot load the window-image library: %s\n", why ? why : "unknown error");
        return false;
    }
    auto install = reinterpret_cast<SBWindowImageInstallFunction>(dlsym(library, "SBWindowImageInstall"));
    if (!install) return false;
    install(&exportedCreate, &exportedRelease);
    libraryLoaded = true;
    return true;
}

void setWindowImageLibraryAllowed(bool allowed) { libraryAllowed = allowed; }

}  // namespace cg
