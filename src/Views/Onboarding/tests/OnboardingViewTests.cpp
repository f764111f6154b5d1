#include "Views/Onboarding/OnboardingView.hpp"
#include "Views/Settings/tests/PageFixture.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/tests/PanelTestSupport.hpp"

#include "stashbay/runtime/Sleep.hpp"

#include <QImage>

using namespace stashbay;
using Step = OnboardingModel::OnboardingStep;

namespace {

class OnboardingViewTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        stashbay::testing::ensureQtApplication();
        world->permissions().accessibility = false;
        world->permissions().screenRecording = false;
        make();
        view = std::make_unique<OnboardingView>(OnboardingModel::create(state));
        view->resize(320, 320);
        view->show();
    }
    // The step at the size the panel gives it: 320 points wide, as tall as the step.
    QImage render() {
        loop.advance(std::chrono::milliseconds(300));
        view->resize(view->sizeHint());
        QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view->render(&image);
        return image;
    }
    std::unique_ptr<OnboardingView> view;
};

}  // namespace

TEST_F(OnboardingViewTest, EachStepRendersWithItsDotsAndButtonsInsideThePanel) {
    std::filesystem::create_directories(STASHBAY_RENDER_DIR);
    const char* names[] = {"welcome", "accessibility", "screen-recording", "complete"};
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(names[index]);
        ASSERT_EQ(static_cast<int>(view->model().step()), index);
        const auto image = render();
        EXPECT_TRUE(image.save(QString::fromUtf8(STASHBAY_RENDER_DIR) + "/onboarding-" + names[index] + ".png"));
        const auto places = view->layout();
        // The current dot is indigo, enlarged; the dot after it faint.
        const auto current = places.dots[static_cast<std::size_t>(index)].center().toPoint();
        EXPECT_EQ(image.pixelColor(current), palette::accent());
        if (index < 3) {
            EXPECT_NE(image.pixelColor(places.dots[static_cast<std::size_t>(index) + 1].center().toPoint()),
                      palette::accent());
        }
        EXPECT_LE(places.primaryButton.bottom(), image.height());
        EXPECT_GE(places.primaryButton.left(), 10);
        EXPECT_EQ(image.pixelColor(places.primaryButton.center().toPoint() + QPoint(0, 10)), palette::accent());
        const bool permissionStep = index == 1 || index == 2;
        EXPECT_EQ(places.secondaryButton.has_value(), permissionStep);
        EXPECT_EQ(places.statusRows.size(), index == 2 ? 1u : index == 3 ? 2u : 0u);
        if (places.secondaryButton) {
            EXPECT_LE(places.secondaryButton->bottom() + 24, image.height());
            view->clickAt(places.secondaryButton->center());
        } else if (index == 0) {
            view->clickAt(places.primaryButton.center());
        }
    }
    // Leaving the screen slows the polling down.
    view->hide();
    std::string lastStart;
    for (const auto& text : capture.texts("permissions"))
        if (text.rfind("Starting permission polling", 0) == 0) lastStart = text;
    EXPECT_NE(lastStart.find("interval=30.0"), std::string::npos) << lastStart;
}

TEST_F(OnboardingViewTest, TheStepSlideRunsToItsEndAndTheWaitingIndicatorTurnsWhileItsStepShows) {
    // The welcome step, settled: nothing moves, no frames.
    loop.advance(std::chrono::seconds(1));
    EXPECT_FALSE(view->isRequestingFrames());
    view->clickAt(view->layout().primaryButton.center());
    ASSERT_EQ(view->model().step(), Step::accessibility);
    EXPECT_TRUE(view->isRequestingFrames());
    // The slide is painted part of the way, then at its end; the indicator keeps frames coming.
    auto waitingIndicator = [&] {
        const QImage image = render();
        return image.copy(view->layout().waitingIndicator->toAlignedRect());
    };
    loop.advance(std::chrono::milliseconds(100));
    EXPECT_TRUE(view->isAnimating(runtime::now()));
    const QImage turnedOnce = waitingIndicator();
    loop.advance(std::chrono::milliseconds(250));
    const QImage turnedTwice = waitingIndicator();
    EXPECT_NE(turnedOnce, turnedTwice) << "the spinner turns";
    EXPECT_TRUE(view->isRequestingFrames());
    // The complete step has no indicator: frames stop once its slide ends.
    view->clickAt(view->layout().secondaryButton->center());
    view->clickAt(view->layout().secondaryButton->center());
    ASSERT_EQ(view->model().step(), Step::complete);
    loop.advance(std::chrono::milliseconds(200));
    EXPECT_TRUE(view->isRequestingFrames());
    loop.advance(std::chrono::milliseconds(150));
    EXPECT_FALSE(view->isRequestingFrames());
    // Off screen, a permission step's indicator asks for nothing.
    view->hide();
    EXPECT_FALSE(view->isRequestingFrames());
}
