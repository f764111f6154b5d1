#include "App/tests/AppStateFixture.hpp"
#include "Views/Onboarding/OnboardingView.hpp"
#include "Views/StashbayPanel/Palette.hpp"
#include "Views/StashbayPanel/tests/PanelTestSupport.hpp"

#include <QImage>

using namespace stashbay;
using Step = OnboardingModel::OnboardingStep;

namespace {

class OnboardingViewTest : public AppStateTest {
protected:
    void SetUp() override {
        AppStateTest::SetUp();
        stashbay::testing::ensureQtApplication();
        world->permissions().accessibility = false;
        world->permissions().screenRecording = false;
        make();
        view = std::make_unique<OnboardingView>(OnboardingModel::create(state));
        view->resize(320, 320);
        view->show();
    }
    QImage render() {
        loop.advance(std::chrono::milliseconds(300));
        QImage image(320, 320, QImage::Format_ARGB32_Premultiplied);
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
        EXPECT_LE(places.primaryButton.bottom(), 320);
        EXPECT_GE(places.primaryButton.left(), 10);
        EXPECT_EQ(image.pixelColor(places.primaryButton.center().toPoint() + QPoint(0, 10)), palette::accent());
        const bool permissionStep = index == 1 || index == 2;
        EXPECT_EQ(places.secondaryButton.has_value(), permissionStep);
        EXPECT_EQ(places.statusRows.size(), index == 2 ? 1u : index == 3 ? 2u : 0u);
        if (places.secondaryButton) {
            EXPECT_LE(places.secondaryButton->bottom(), 320);
            view->clickAt(places.secondaryButton->center());
        } else if (index == 0) {
            view->clickAt(places.primaryButton.center());
        }
    }
    // Leaving the screen slows the polling down.
    view->hide();
    EXPECT_NE(capture.texts("permissions").back().find("interval=30.0"), std::string::npos);
}
