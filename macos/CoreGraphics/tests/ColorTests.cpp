#include "macos/CoreGraphics/Color.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// Source over on premultiplied bytes as worked out in doubles and rounded.
int sourceOverInDoubles(int source, int sourceAlpha, int destination) {
    return static_cast<int>(std::clamp(std::lround(source + destination * (1 - sourceAlpha / 255.0)), 0L, 255L));
}

}  // namespace

TEST(ColorTest, SourceOverOnBytesRoundsAsTheExactFormulaDoes) {
    struct Case {
        int source, alpha, destination, expected;
    };
    const Case cases[] = {
        {0, 0, 0, 0},       {0, 0, 255, 255},     {0, 0, 128, 128},     {255, 255, 0, 255}, {255, 255, 255, 255},
        {0, 255, 200, 0},   {100, 128, 200, 200}, {64, 128, 1, 64},     {1, 1, 254, 254},   {127, 127, 255, 255},
        {0, 128, 255, 127}, {0, 127, 255, 128},   {200, 100, 255, 255},  // brighter than its alpha: the sum stops at
                                                                         // 255
    };
    for (const auto& c : cases) {
        const auto got = cg::sourceOver(static_cast<std::uint8_t>(c.source), static_cast<std::uint8_t>(c.alpha),
                                        static_cast<std::uint8_t>(c.destination));
        EXPECT_EQ(got, c.expected) << c.source << " " << c.alpha << " over " << c.destination;
    }
    // Every alpha over every destination, for sources from none to past the alpha.
    int differing = 0;
    for (int alpha = 0; alpha < 256; ++alpha)
        for (int destination = 0; destination < 256; ++destination)
            for (int source : {0, alpha / 2, alpha, std::min(255, alpha + 40), 255})
                differing += cg::sourceOver(static_cast<std::uint8_t>(source), static_cast<std::uint8_t>(alpha),
                                            static_cast<std::uint8_t>(destination)) !=
                             sourceOverInDoubles(source, alpha, destination);
    EXPECT_EQ(differing, 0);
}
