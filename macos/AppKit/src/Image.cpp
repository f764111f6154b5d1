#include "macos/AppKit/Image.hpp"

#include <map>
#include <mutex>
#include <utility>

namespace ns {

namespace {
struct Catalogue {
    std::mutex mutex;
    std::map<std::string, std::function<Image()>> makers;
};
Catalogue& catalogue() {
    static Catalogue c;
    return c;
}
}  // namespace

Image::Image(cg::ImageRef cgImage, cg::Size size) : cgImage_(std::move(cgImage)), size_(size) {}

void Image::registerNamed(std::string name, std::function<Image()> make) {
    auto& c = catalogue();
    std::lock_guard lock(c.mutex);
    c.makers[std::move(name)] = std::move(make);
}

std::optional<Image> Image::named(const std::string& name) {
    std::function<Image()> make;
    {
        auto& c = catalogue();
        std::lock_guard lock(c.mutex);
        auto it = c.makers.find(name);
        if (it == c.makers.end()) return std::nullopt;
        make = it->second;
    }
    return make();
}

}  // namespace ns
