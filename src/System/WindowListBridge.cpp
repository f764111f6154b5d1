#include "System/WindowListBridge.hpp"

#include "System/CGWindowCapture.hpp"
#include "Utilities/LoggerExtensions.hpp"
#include "macos/AppKit/RunningApplication.hpp"
#include "macos/CoreGraphics/Color.hpp"
#include "macos/Foundation/Error.hpp"
#include "macos/ScreenCaptureKit/ContentFilter.hpp"
#include "macos/ScreenCaptureKit/ScreenshotManager.hpp"
#include "macos/ScreenCaptureKit/ShareableContent.hpp"
#include "stashbay/runtime/Continuation.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

namespace stashbay {

namespace {

using ContentRef = std::shared_ptr<const sc::ShareableContent>;

std::optional<double> number(const cf::Dictionary& d, std::string_view key) {
    auto it = d.find(key);
    return it == d.end() ? std::nullopt : it->second.asDouble();
}

std::optional<WindowListBridge::CGWindowEntry> entryFrom(const cf::Dictionary& d) {
    auto read = [&d](std::string_view key) -> const cf::Value* {
        auto it = d.find(key);
        return it == d.end() ? nullptr : &it->second;
    };
    const auto* windowNumber = read(cg::windowNumberKey);
    auto windowID = windowNumber ? windowNumber->asUInt32() : std::nullopt;
    if (!windowID) return std::nullopt;
    const auto* pid = read(cg::windowOwnerPIDKey);
    auto ownerPID = pid ? pid->asInt32() : std::nullopt;
    if (!ownerPID) return std::nullopt;
    const auto* layerValue = read(cg::windowLayerKey);
    auto layer = layerValue ? layerValue->asInt64() : std::nullopt;
    if (!layer) return std::nullopt;
    const auto* boundsValue = read(cg::windowBoundsKey);
    const auto* bounds = boundsValue ? boundsValue->asDictionary() : nullptr;
    if (!bounds) return std::nullopt;
    for (const auto& [key, value] : *bounds)
        if (!value.isNumber()) return std::nullopt;
    auto x = number(*bounds, cg::boundsXKey);
    auto y = number(*bounds, cg::boundsYKey);
    auto width = number(*bounds, cg::boundsWidthKey);
    auto height = number(*bounds, cg::boundsHeightKey);
    if (!x || !y || !width || !height) return std::nullopt;

    WindowListBridge::CGWindowEntry entry;
    entry.windowID = *windowID;
    entry.ownerPID = *ownerPID;
    if (const auto* name = read(cg::windowOwnerNameKey); name && name->asString()) entry.ownerName = *name->asString();
    if (const auto* name = read(cg::windowNameKey); name && name->asString()) entry.windowName = *name->asString();
    entry.bounds = cg::Rect(*x, *y, *width, *height);
    entry.layer = *layer;
    const auto* onScreen = read(cg::windowIsOnscreenKey);
    entry.isOnScreen = (onScreen ? onScreen->asBool() : std::nullopt).value_or(true);
    return entry;
}

void logCaptureFailure(std::uint32_t windowID, const std::string& description) {
    log::scanning().debug("Failed to capture image for window %u: %{public}s", windowID, description);
}

// The pixel size the screenshot asks for: twice the points, truncated; none when that is not
// a number an integer can hold.
std::optional<std::size_t> doubledPixels(double points) {
    double pixels = std::trunc(points * 2);
    if (!std::isfinite(pixels) || pixels < 0 || pixels > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::size_t>(pixels);
}

void requestContent(runtime::Continuation<ContentRef> c) {
    sc::ShareableContent::getExcludingDesktopWindows(false, true,
                                                     [c](ContentRef content, std::optional<ns::Error> error) {
                                                         if (error)
                                                             c.resumeThrowing(std::make_exception_ptr(*error));
                                                         else
                                                             c.resume(std::move(content));
                                                     });
}

struct ScreenshotRequest {
    const sc::ContentFilter* filter;
    const sc::StreamConfiguration* configuration;
};

void requestScreenshot(ScreenshotRequest request, runtime::Continuation<cg::ImageRef> c) {
    sc::ScreenshotManager::captureImage(*request.filter, *request.configuration,
                                        [c](cg::ImageRef image, std::optional<ns::Error> error) {
                                            if (error)
                                                c.resumeThrowing(std::make_exception_ptr(*error));
                                            else
                                                c.resume(std::move(image));
                                        });
}

}  // namespace

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::entriesFromWindowInfo(
    const std::optional<cf::Value>& windowInfo) {
    const cf::Array* list = windowInfo ? windowInfo->asArray() : nullptr;
    bool dictionaries =
        list && std::all_of(list->begin(), list->end(), [](const cf::Value& v) { return v.asDictionary() != nullptr; });
    if (!dictionaries) {
        log::scanning().error("CGWindowListCopyWindowInfo returned nil.");
        return {};
    }
    std::vector<CGWindowEntry> entries;
    entries.reserve(list->size());
    for (const auto& value : *list) {
        if (auto entry = entryFrom(*value.asDictionary())) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::queryWindowList(cg::WindowListOption options) {
    return entriesFromWindowInfo(cg::windowListCopyWindowInfo(options, cg::nullWindowID));
}

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::menuBarWindows() {
    auto entries = queryWindowList(cg::windowListOptionAll | cg::windowListExcludeDesktopElements);
    std::erase_if(entries, [](const CGWindowEntry& e) {
        double height = e.bounds.height();
        bool keep = e.layer == menuBarExtrasLayer && height > 0 && height <= menuBarMaxHeight && e.ownerPID != 0 &&
                    (!e.isOnScreen || e.bounds.origin.y < menuBarMaxHeight);
        return !keep;
    });
    // A position that is not a number sorts last, so that the order stays a strict weak one.
    auto key = [](const CGWindowEntry& e) {
        return std::isnan(e.bounds.origin.x) ? -std::numeric_limits<double>::infinity() : e.bounds.origin.x;
    };
    // Sorts positions, then moves each entry once.
    std::vector<std::pair<double, std::size_t>> order;
    order.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) order.emplace_back(key(entries[i]), i);
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<CGWindowEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& [x, i] : order) sorted.push_back(std::move(entries[i]));
    entries = std::move(sorted);
    log::scanning().debug("Found %ld menu bar windows at layer %ld.", static_cast<long>(entries.size()),
                          static_cast<long>(menuBarExtrasLayer));
    return entries;
}

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::allOnScreenWindows() {
    return queryWindowList(cg::windowListOptionOnScreenOnly | cg::windowListExcludeDesktopElements);
}

cg::ImageRef WindowListBridge::captureWindowCG(std::uint32_t windowID) { return SBCaptureWindowImage(windowID); }

runtime::Task<cg::ImageRef> WindowListBridge::captureWindowImage(std::uint32_t windowID, cg::Rect bounds) {
    co_await runtime::hopTo(runtime::globalExecutor());
    if (auto image = captureWindowCG(windowID)) co_return image;

    // A size no screenshot can have is a failed capture, not a request the framework must refuse.
    auto width = doubledPixels(bounds.width());
    auto height = doubledPixels(bounds.height());
    if (!width || !height) {
        logCaptureFailure(windowID, "The window's bounds are not a size that can be captured.");
        co_return nullptr;
    }

    std::optional<std::string> failure;
    ContentRef content;
    try {
        content = co_await runtime::withContinuation<ContentRef>(&requestContent);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure) {
        logCaptureFailure(windowID, *failure);
        co_return nullptr;
    }

    const sc::Window* window = nullptr;
    if (content) {
        auto it = std::find_if(content->windows().begin(), content->windows().end(),
                               [windowID](const sc::Window& w) { return w.windowID == windowID; });
        if (it != content->windows().end()) window = &*it;
    }
    if (!window) {
        log::scanning().debug("Window %u not found in shareable content.", windowID);
        co_return nullptr;
    }

    sc::ContentFilter filter(*window);
    sc::StreamConfiguration configuration;
    configuration.width = *width;
    configuration.height = *height;
    configuration.showsCursor = false;
    configuration.backgroundColor = cg::Color::clear();

    ScreenshotRequest request{&filter, &configuration};
    cg::ImageRef image;
    try {
        image = co_await runtime::withContinuation<cg::ImageRef>(
            [request](runtime::Continuation<cg::ImageRef> c) { requestScreenshot(request, std::move(c)); });
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (failure) {
        logCaptureFailure(windowID, *failure);
        co_return nullptr;
    }
    co_return image;
}

bool WindowListBridge::isScreenRecordingGranted() {
    if (cg::preflightScreenCaptureAccess()) {
        log::permissions().debug("Screen Recording check: granted (CGPreflightScreenCaptureAccess).");
        return true;
    }
    const auto own = ns::currentProcessIdentifier();
    auto others = allOnScreenWindows();
    std::erase_if(others, [own](const CGWindowEntry& e) { return e.ownerPID == own; });
    if (others.empty()) {
        log::permissions().debug("Screen Recording check: not granted (no other windows visible).");
        return false;
    }
    bool granted = std::any_of(others.begin(), others.end(), [](const CGWindowEntry& e) { return e.windowName; });
    log::permissions().debug("Screen Recording check: %s (name heuristic, %ld windows).",
                             granted ? "granted" : "not granted", static_cast<long>(others.size()));
    return granted;
}

void WindowListBridge::requestScreenRecording() {
    (void)cg::requestScreenCaptureAccess();
    log::permissions().info("Requested Screen Recording access via CGRequestScreenCaptureAccess().");
}

}  // namespace stashbay
