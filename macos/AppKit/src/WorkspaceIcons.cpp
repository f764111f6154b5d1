#include "macos/AppKit/Workspace.hpp"
#include "macos/sim/World.hpp"

#include <cstdint>
#include <vector>

namespace ns {

std::optional<URL> Workspace::urlForApplication(const std::string& bundleIdentifier) const {
    if (bundleIdentifier.empty()) return std::nullopt;
    for (const auto& process : sim::World::current().processes().listed()) {
        if (process->bundleIdentifier() == bundleIdentifier)
            return URL::fileURLWithPath("/Applications/" + bundleIdentifier + ".app");
    }
    return std::nullopt;
}

Image Workspace::iconForFile(const std::string& path) const {
    // A rounded square in a colour of the path's own, with a lighter band across it: enough for a
    // person to tell applications apart.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : path) hash = (hash ^ c) * 16777619u;
    const std::uint8_t r = 60 + hash % 160, g = 60 + (hash >> 8) % 160, b = 60 + (hash >> 16) % 160;
    constexpr std::size_t side = 64;
    constexpr double radius = 14;
    std::vector<std::uint8_t> pixels(side * side * 4, 0);
    for (std::size_t y = 0; y < side; ++y) {
        for (std::size_t x = 0; x < side; ++x) {
            const double cx = x < radius ? radius - x : (x >= side - radius ? x - (side - radius - 1) : 0);
            const double cy = y < radius ? radius - y : (y >= side - radius ? y - (side - radius - 1) : 0);
            if (cx * cx + cy * cy > radius * radius) continue;
            const bool band = y >= side / 3 && y < 2 * side / 3;
            std::uint8_t* p = &pixels[(y * side + x) * 4];
            p[0] = band ? static_cast<std::uint8_t>((r + 255) / 2) : r;
            p[1] = band ? static_cast<std::uint8_t>((g + 255) / 2) : g;
            p[2] = band ? static_cast<std::uint8_t>((b + 255) / 2) : b;
            p[3] = 255;
        }
    }
    auto image = std::make_shared<const cg::Image>(side, side, 8, cg::ColorSpace::deviceRGB(),
                                                   cg::ImageAlphaInfo::premultipliedLast, std::move(pixels));
    return Image(std::move(image), cg::Size{32, 32});
}

}  // namespace ns
