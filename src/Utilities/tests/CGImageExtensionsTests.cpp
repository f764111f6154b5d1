#include "Utilities/CGImageExtensions.hpp"
#include "macos/CoreGraphics/BitmapContext.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

using stashbay::scaled;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::uint32_t opaqueRed = 0xFF0000FF;

struct Fit {
    const char* what;
    std::size_t width;
    std::size_t height;
    cg::Size target;
    std::optional<std::pair<std::size_t, std::size_t>> result;
};

void PrintTo(const Fit& f, std::ostream* os) { *os << f.what; }

class ScalingToFit : public ::testing::TestWithParam<Fit> {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_P(ScalingToFit, KeepsTheAspectRatioAndTruncatesToWholePixels) {
    const auto& c = GetParam();
    auto image = scaled(cg::Image::filled(c.width, c.height, opaqueRed), c.target);
    if (!c.result) {
        EXPECT_EQ(image, nullptr);
        return;
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), c.result->first);
    EXPECT_EQ(image->height(), c.result->second);
}

INSTANTIATE_TEST_SUITE_P(
    CGImage, ScalingToFit,
    ::testing::Values(
        Fit{"ShrinksToTheNarrowerFit", 64, 32, {16, 16}, std::pair<std::size_t, std::size_t>{16, 8}},
        Fit{"GrowsToFitALargerTarget", 10, 10, {40, 20}, std::pair<std::size_t, std::size_t>{20, 20}},
        Fit{"TruncatesTowardZero", 3, 7, {10, 10}, std::pair<std::size_t, std::size_t>{4, 10}},
        Fit{"OneInfiniteSideFitsTheOther", 10, 10, {inf, 20}, std::pair<std::size_t, std::size_t>{20, 20}},
        Fit{"ASideBelowOnePixelGivesNone", 100, 1, {10, 10}, std::nullopt},
        Fit{"AZeroTargetGivesNone", 10, 10, {0, 0}, std::nullopt},
        Fit{"ANegativeTargetGivesNone", 10, 10, {-5, 20}, std::nullopt},
        Fit{"AnInfiniteTargetGivesNone", 10, 10, {inf, inf}, std::nullopt},
        Fit{"ANotANumberTargetGivesNone", 10, 10, {std::nan(""), 20}, std::nullopt},
        Fit{"ATargetBeyondAnyIntegerGivesNone", 10, 10, {1e300, 1e300}, std::nullopt},
        Fit{"ATargetTooLargeToAllocateGivesNone", 10, 10, {1e9, 1e9}, std::nullopt},
        Fit{"AnImageWithoutWidthGivesNone", 0, 10, {10, 10}, std::nullopt},
        Fit{"AnImageWithoutHeightGivesNone", 10, 0, {10, 10}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.what); });

namespace {

class ScaledImage : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_F(ScaledImage, IsDrawnPremultipliedInTheImagesOwnColourSpace) {
    auto space = std::make_shared<const cg::ColorSpace>("kCGColorSpaceSRGB");
    auto image = scaled(cg::Image::filled(64, 32, opaqueRed, space), {16, 16});

    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->colorSpace(), space);
    EXPECT_EQ(image->alphaInfo(), cg::ImageAlphaInfo::premultipliedLast);
    EXPECT_EQ(image->bitsPerComponent(), 8u);
    // A solid image stays solid: the whole rectangle was drawn.
    const auto& pixels = image->pixels();
    ASSERT_EQ(pixels.size(), 16u * 8u * 4u);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i], 0xFF) << i;
        ASSERT_EQ(pixels[i + 1], 0x00) << i;
        ASSERT_EQ(pixels[i + 2], 0x00) << i;
        ASSERT_EQ(pixels[i + 3], 0xFF) << i;
    }
}

TEST_F(ScaledImage, UsesDeviceRGBForAnImageWithoutAColourSpace) {
    auto image = scaled(cg::Image::filled(10, 10, opaqueRed, nullptr), {5, 5});
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->colorSpace(), cg::ColorSpace::deviceRGB());
}

TEST_F(ScaledImage, IsNoneWhenThePlatformCannotMakeIt) {
    auto source = cg::Image::filled(10, 10, opaqueRed);
    EXPECT_EQ(scaled(nullptr, {5, 5}), nullptr);
    // Sixteen bits per component is a layout the bitmap context refuses.
    auto deep = std::make_shared<const cg::Image>(10, 10, 16, cg::ColorSpace::deviceRGB(),
                                                  cg::ImageAlphaInfo::premultipliedLast, std::vector<std::uint8_t>{});
    EXPECT_EQ(scaled(deep, {5, 5}), nullptr);

    world.faults().bitmapContextCreationFails = true;
    EXPECT_EQ(scaled(source, {5, 5}), nullptr);
    world.faults().bitmapContextCreationFails = false;
    world.faults().bitmapContextImageFails = true;
    EXPECT_EQ(scaled(source, {5, 5}), nullptr);
    world.faults().bitmapContextImageFails = false;
    EXPECT_NE(scaled(source, {5, 5}), nullptr);
}

TEST(NSImageWrapper, IsOnePointPerPixelAndSharesTheBitmap) {
    auto image = cg::Image::filled(44, 22, opaqueRed);
    auto wrapped = stashbay::nsImage(image);
    EXPECT_EQ(wrapped.cgImage(), image);
    EXPECT_EQ(wrapped.size(), (cg::Size{44, 22}));

    auto empty = stashbay::nsImage(nullptr);
    EXPECT_EQ(empty.cgImage(), nullptr);
    EXPECT_EQ(empty.size(), (cg::Size{}));
}
