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
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

namespace stashbay {

namespace {

using ContentRef = std::shared_ptr<const sc::ShareableContent>;

// The index of `name` among `keys`, or N. A name is compared in full only with the keys of its
// length and last character, so that a dictionary is read in one walk with a few comparisons.
template <std::size_t N>
std::size_t keyIndex(std::string_view name, const std::array<std::string_view, N>& keys) {
    if (name.empty()) return N;
    for (std::size_t k = 0; k < N; ++k) {
        if (name.size() == keys[k].size() && name.back() == keys[k].back() && name == keys[k]) return k;
    }
    return N;
}

// The members named by `keys`, found in one walk over the dictionary instead of a search from
// its root for each key.
template <std::size_t N>
std::array<const cf::Value*, N> members(const cf::Dictionary& d, const std::array<std::string_view, N>& keys) {
    std::array<const cf::Value*, N> found{};
    for (const auto& [name, value] : d) {
        std::size_t k = keyIndex(name, keys);
        if (k < N) found[k] = &value;
    }
    return found;
}

// The members of a window's dictionary that an entry reads.
enum WindowKey : std::size_t {
    numberMember,
    ownerPIDMember,
    layerMember,
    boundsMember,
    ownerNameMember,
    nameMember,
    onScreenMember,
    windowKeyCount
};
constexpr std::array<std::string_view, windowKeyCount> windowKeys{
    cg::windowNumberKey,    cg::windowOwnerPIDKey, cg::windowLayerKey,     cg::windowBoundsKey,
    cg::windowOwnerNameKey, cg::windowNameKey,     cg::windowIsOnscreenKey};
enum BoundsKey : std::size_t { xMember, yMember, widthMember, heightMember, boundsKeyCount };
constexpr std::array<std::string_view, boundsKeyCount> boundsKeys{cg::boundsXKey, cg::boundsYKey, cg::boundsWidthKey,
                                                                  cg::boundsHeightKey};

// The bounds when every member is a number and the four edges are there.
std::optional<cg::Rect> boundsFrom(const cf::Value* value) {
    const auto* bounds = value ? value->asDictionary() : nullptr;
    if (!bounds) return std::nullopt;
    std::array<std::optional<double>, boundsKeyCount> edges;
    for (const auto& [name, member] : *bounds) {
        if (!member.isNumber()) return std::nullopt;
        std::size_t k = keyIndex(name, boundsKeys);
        if (k < boundsKeyCount) edges[k] = member.asDouble();
    }
    if (!edges[xMember] || !edges[yMember] || !edges[widthMember] || !edges[heightMember]) return std::nullopt;
    return cg::Rect(*edges[xMember], *edges[yMember], *edges[widthMember], *edges[heightMember]);
}

std::optional<std::string> textOf(const cf::Value* value) {
    const std::string* text = value ? value->asString() : nullptr;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// The entry of one window dictionary, unless it lacks a required member or `keep` turns it
// down; the names are copied only for entries that are kept.
template <class Keep>
std::optional<WindowListBridge::CGWindowEntry> entryFrom(const cf::Dictionary& d, WindowListBridge::WindowNames names,
                                                         Keep keep) {
    auto found = members(d, windowKeys);
    auto windowID = found[numberMember] ? found[numberMember]->asUInt32() : std::nullopt;
    if (!windowID) return std::nullopt;
    auto ownerPID = found[ownerPIDMember] ? found[ownerPIDMember]->asInt32() : std::nullopt;
    if (!ownerPID) return std::nullopt;
    auto layer = found[layerMember] ? found[layerMember]->asInt64() : std::nullopt;
    if (!layer) return std::nullopt;
    auto bounds = boundsFrom(found[boundsMember]);
    if (!bounds) return std::nullopt;

    WindowListBridge::CGWindowEntry entry;
    entry.windowID = *windowID;
    entry.ownerPID = *ownerPID;
    entry.bounds = *bounds;
    entry.layer = *layer;
    entry.isOnScreen = (found[onScreenMember] ? found[onScreenMember]->asBool() : std::nullopt).value_or(true);
    if (!keep(entry)) return std::nullopt;
    if (names == WindowListBridge::WindowNames::copied) {
        entry.ownerName = textOf(found[ownerNameMember]);
        entry.windowName = textOf(found[nameMember]);
    }
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

namespace {

// One query's answer converted: the kept entries in list order, or empty with the error record.
template <class Keep>
std::vector<WindowListBridge::CGWindowEntry> entriesFrom(const std::optional<cf::Value>& windowInfo,
                                                         WindowListBridge::WindowNames names, Keep keep) {
    const cf::Array* list = windowInfo ? windowInfo->asArray() : nullptr;
    bool dictionaries =
        list && std::all_of(list->begin(), list->end(), [](const cf::Value& v) { return v.asDictionary() != nullptr; });
    if (!dictionaries) {
        log::scanning().error("CGWindowListCopyWindowInfo returned nil.");
        return {};
    }
    std::vector<WindowListBridge::CGWindowEntry> entries;
    entries.reserve(list->size());
    for (const auto& value : *list) {
        if (auto entry = entryFrom(*value.asDictionary(), names, keep)) entries.push_back(std::move(*entry));
    }
    return entries;
}

bool everyWindow(const WindowListBridge::CGWindowEntry&) { return true; }

}  // namespace

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::entriesFromWindowInfo(
    const std::optional<cf::Value>& windowInfo) {
    return entriesFrom(windowInfo, WindowNames::copied, everyWindow);
}

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::queryWindowList(cg::WindowListOption options) {
    return entriesFromWindowInfo(cg::windowListCopyWindowInfo(options, cg::nullWindowID));
}

std::vector<WindowListBridge::CGWindowEntry> WindowListBridge::menuBarWindows(WindowNames names) {
    // Filtered while converting, so that no other window's names are copied.
    auto entries = entriesFrom(
        cg::windowListCopyWindowInfo(cg::windowListOptionAll | cg::windowListExcludeDesktopElements, cg::nullWindowID),
        names, [](const CGWindowEntry& e) {
            double height = e.bounds.height();
            return e.layer == menuBarExtrasLayer && height > 0 && height <= menuBarMaxHeight && e.ownerPID != 0 &&
                   (!e.isOnScreen || e.bounds.origin.y < menuBarMaxHeight);
        });
    // A position that is not a number sorts last, so that the order stays a strict weak one.
    auto key = [](const CGWindowEntry& e) {
        return std::isnan(e.bounds.origin.x) ? -std::numeric_limits<double>::infinity() : e.bounds.origin.x;
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&key](const CGWindowEntry& a, const CGWindowEntry& b) { return key(a) > key(b); });
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
        auto requesting = runtime::withContinuation<ContentRef>(&requestContent);
        content = co_await requesting;
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
        auto capturing = runtime::withContinuation<cg::ImageRef>(
            [request](runtime::Continuation<cg::ImageRef> c) { requestScreenshot(request, std::move(c)); });
        image = co_await capturing;
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
