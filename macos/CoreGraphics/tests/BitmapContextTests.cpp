#include "macos/CoreGraphics/BitmapContext.hpp"
#include "macos/sim/World.hpp"
#include "stashbay/runtime/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr std::uint32_t premultipliedLast = 1;

// An 8-bit RGBA image whose pixel (x, y), counted from the top-left, has the colour f(x, y).
template <class F>
cg::ImageRef makeImage(std::size_t width, std::size_t height, F f,
                       cg::ImageAlphaInfo alpha = cg::ImageAlphaInfo::premultipliedLast) {
    std::vector<std::uint8_t> pixels;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            std::array<std::uint8_t, 4> p = f(x, y);
            pixels.insert(pixels.end(), p.begin(), p.end());
        }
    }
    return std::make_shared<const cg::Image>(width, height, 8, cg::ColorSpace::deviceRGB(), alpha, std::move(pixels));
}

std::array<std::uint8_t, 4> pixel(const cg::Image& image, std::size_t x, std::size_t y) {
    const auto* p = image.pixels().data() + y * image.bytesPerRow() + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

constexpr std::array<std::uint8_t, 4> red{255, 0, 0, 255};
constexpr std::array<std::uint8_t, 4> blue{0, 0, 255, 255};
constexpr std::array<std::uint8_t, 4> clear{0, 0, 0, 0};

cg::BitmapContextRef context(std::size_t width, std::size_t height) {
    return cg::BitmapContext::create(width, height, 8, 0, cg::ColorSpace::deviceRGB(), premultipliedLast);
}

class BitmapContextTest : public ::testing::Test {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

struct Creation {
    const char* what;
    std::size_t width, height, bitsPerComponent, bytesPerRow;
    bool withColorSpace;
    std::uint32_t bitmapInfo;
    bool created;
};

void PrintTo(const Creation& c, std::ostream* os) { *os << c.what; }

class BitmapContextCreation : public ::testing::TestWithParam<Creation> {
protected:
    runtime::ManualLoop loop;
    sim::World world;
};

}  // namespace

TEST_P(BitmapContextCreation, RefusesWhatItCannotHold) {
    const auto& c = GetParam();
    auto made = cg::BitmapContext::create(c.width, c.height, c.bitsPerComponent, c.bytesPerRow,
                                          c.withColorSpace ? cg::ColorSpace::deviceRGB() : nullptr, c.bitmapInfo);
    EXPECT_EQ(made != nullptr, c.created);
}

INSTANTIATE_TEST_SUITE_P(CoreGraphics, BitmapContextCreation,
                         ::testing::Values(Creation{"premultipliedLast", 16, 8, 8, 0, true, 1, true},
                                           Creation{"noneSkipLast", 16, 8, 8, 0, true, 5, true},
                                           Creation{"bigEndianOrder", 16, 8, 8, 0, true, 1 | (4u << 12), true},
                                           Creation{"widerRows", 16, 8, 8, 128, true, 1, true},
                                           Creation{"zeroWidth", 0, 8, 8, 0, true, 1, false},
                                           Creation{"zeroHeight", 16, 0, 8, 0, true, 1, false},
                                           Creation{"huge", std::size_t{1} << 40, 8, 8, 0, true, 1, false},
                                           Creation{"tooManyBytes", 60000, 60000, 8, 0, true, 1, false},
                                           Creation{"sixteenBits", 16, 8, 16, 0, true, 1, false},
                                           Creation{"shortRows", 16, 8, 8, 63, true, 1, false},
                                           Creation{"noColorSpace", 16, 8, 8, 0, false, 1, false},
                                           Creation{"straightAlpha", 16, 8, 8, 0, true, 3, false},
                                           Creation{"littleEndianOrder", 16, 8, 8, 0, true, 1 | (2u << 12), false},
                                           Creation{"floatComponents", 16, 8, 8, 0, true, 1 | (1u << 8), false}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(BitmapContextTest, ReportsItsLayoutWithTheRowLengthItChose) {
    auto ctx = context(16, 8);
    ASSERT_TRUE(ctx);
    EXPECT_EQ(ctx->width(), 16u);
    EXPECT_EQ(ctx->height(), 8u);
    EXPECT_EQ(ctx->bitsPerComponent(), 8u);
    EXPECT_EQ(ctx->bytesPerRow(), 64u);
    EXPECT_EQ(ctx->alphaInfo(), cg::ImageAlphaInfo::premultipliedLast);
    EXPECT_EQ(ctx->colorSpace(), cg::ColorSpace::deviceRGB());
    auto image = ctx->makeImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 16u);
    EXPECT_EQ(image->height(), 8u);
    EXPECT_EQ(pixel(*image, 3, 3), clear);
}

TEST_F(BitmapContextTest, DrawsWithTheOriginAtTheBottomLeft) {
    // Top half red, bottom half blue.
    auto source = makeImage(4, 4, [](std::size_t, std::size_t y) { return y < 2 ? red : blue; });
    auto ctx = context(4, 8);
    ctx->draw(source, cg::Rect(0, 0, 4, 4));
    auto image = ctx->makeImage();
    // The lower half of the canvas holds the picture, upright; the upper half stays clear.
    EXPECT_EQ(pixel(*image, 1, 1), clear);
    EXPECT_EQ(pixel(*image, 1, 4), red);
    EXPECT_EQ(pixel(*image, 1, 7), blue);
}

TEST_F(BitmapContextTest, HighQualityShrinkingAveragesAndNoInterpolationPicks) {
    // Alternating black and white columns.
    auto stripes = makeImage(8, 2, [](std::size_t x, std::size_t) {
        std::uint8_t v = x % 2 ? 255 : 0;
        return std::array<std::uint8_t, 4>{v, v, v, 255};
    });
    auto smooth = context(2, 1);
    smooth->setInterpolationQuality(cg::InterpolationQuality::high);
    smooth->draw(stripes, cg::Rect(0, 0, 2, 1));
    auto grey = pixel(*smooth->makeImage(), 0, 0)[0];
    EXPECT_GT(grey, 100);
    EXPECT_LT(grey, 155);

    auto nearest = context(2, 1);
    nearest->setInterpolationQuality(cg::InterpolationQuality::none);
    nearest->draw(stripes, cg::Rect(0, 0, 2, 1));
    auto picked = pixel(*nearest->makeImage(), 0, 0)[0];
    EXPECT_TRUE(picked == 0 || picked == 255) << int(picked);
}

TEST_F(BitmapContextTest, ScalesASolidImageToTheTargetSize) {
    auto source = cg::Image::filled(64, 32, 0x20406080);
    auto ctx = context(16, 8);
    ctx->setInterpolationQuality(cg::InterpolationQuality::high);
    ctx->draw(source, cg::Rect(0, 0, 16, 8));
    auto image = ctx->makeImage();
    for (auto [x, y] : {std::pair{0, 0}, {15, 7}, {8, 4}}) {
        EXPECT_EQ(pixel(*image, x, y), (std::array<std::uint8_t, 4>{0x20, 0x40, 0x60, 0x80}));
    }
}

TEST_F(BitmapContextTest, ReadsImagesWithAlphaFirst) {
    auto argb = makeImage(
        2, 2,
        [](std::size_t, std::size_t) {
            return std::array<std::uint8_t, 4>{255, 0, 255, 0};
        },
        cg::ImageAlphaInfo::premultipliedFirst);
    auto ctx = context(2, 2);
    ctx->draw(argb, cg::Rect(0, 0, 2, 2));
    EXPECT_EQ(pixel(*ctx->makeImage(), 0, 0), (std::array<std::uint8_t, 4>{0, 255, 0, 255}));
}

TEST_F(BitmapContextTest, DrawsNothingForUnusableRectanglesOrImages) {
    auto source = cg::Image::filled(4, 4, 0xFF0000FF);
    constexpr double inf = std::numeric_limits<double>::infinity();
    auto ctx = context(4, 4);
    for (const auto& rect : {cg::Rect(0, 0, 0, 4), cg::Rect(0, 0, inf, 4), cg::Rect(std::nan(""), 0, 4, 4),
                             cg::Rect(0, 0, 1e30, 1e30), cg::Rect::null()}) {
        ctx->draw(source, rect);
    }
    ctx->draw(nullptr, cg::Rect(0, 0, 4, 4));
    auto sixteenBit =
        std::make_shared<const cg::Image>(4, 4, 16, cg::ColorSpace::deviceRGB(), cg::ImageAlphaInfo::premultipliedLast,
                                          std::vector<std::uint8_t>(128, 0xFF));
    ctx->draw(sixteenBit, cg::Rect(0, 0, 4, 4));
    EXPECT_EQ(pixel(*ctx->makeImage(), 2, 2), clear);
}

TEST_F(BitmapContextTest, NegativeSizesAreStandardised) {
    auto ctx = context(4, 4);
    ctx->draw(cg::Image::filled(2, 2, 0xFF0000FF), cg::Rect(4, 4, -4, -4));
    EXPECT_EQ(pixel(*ctx->makeImage(), 0, 0), red);
}

TEST_F(BitmapContextTest, FaultSwitchesMakeCreationAndImagesFail) {
    auto ctx = context(4, 4);
    world.faults().bitmapContextImageFails = true;
    EXPECT_FALSE(ctx->makeImage());
    world.faults().bitmapContextImageFails = false;
    EXPECT_TRUE(ctx->makeImage());
    world.faults().bitmapContextCreationFails = true;
    EXPECT_FALSE(context(4, 4));
}
