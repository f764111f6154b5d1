#include "System/CGWindowCapture.hpp"

#include "macos/CoreGraphics/WindowImage.hpp"

#include <dlfcn.h>

#include <mutex>

namespace {

// Looked up once: a missing function stays missing, so a failed lookup is never paid again.
CGWindowListCreateImageFunction getCreateImageFunc() {
    static CGWindowListCreateImageFunction fn = nullptr;
    static std::once_flag onceToken;
    std::call_once(onceToken, [] {
        fn = reinterpret_cast<CGWindowListCreateImageFunction>(dlsym(RTLD_DEFAULT, "CGWindowListCreateImage"));
    });
    return fn;
}

}  // namespace

cg::ImageRef SBCaptureWindowImage(std::uint32_t windowID) {
    auto create = getCreateImageFunc();
    if (!create) return nullptr;
    return cg::adoptImage(create(cg::toWindowRect(cg::Rect::null()), cg::windowListOptionIncludingWindow, windowID,
                                 cg::windowImageBoundsIgnoreFraming | cg::windowImageBestResolution));
}

cg::ImageRef SBCaptureMenuBarStrip(cg::Rect rect) {
    auto create = getCreateImageFunc();
    if (!create) return nullptr;
    return cg::adoptImage(create(cg::toWindowRect(rect), cg::windowListOptionOnScreenOnly, cg::nullWindowID,
                                 cg::windowImageBestResolution));
}
