#pragma once

#include "Views/Onboarding/OnboardingModel.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "macos/Observation/Observation.hpp"

#include <QRectF>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace stashbay {

// Paints the onboarding: the four dots, then the current step's status rows, symbol, title,
// text, prominent button and, on the permission steps, the waiting indicator and "I've already
// granted this". Coming on screen and leaving it are the model's appear and disappear.
class OnboardingView : public QWidget {
public:
    struct Layout {
        std::array<QRectF, 4> dots;
        std::vector<QRectF> statusRows;
        QRectF symbol;
        QRectF title;
        QRectF body;
        QRectF primaryButton;
        std::optional<QRectF> waitingIndicator;
        std::optional<QRectF> secondaryButton;
        // The step's natural height, at least the minimum.
        double height = 0;
    };

    explicit OnboardingView(std::shared_ptr<OnboardingModel> model, QWidget* parent = nullptr);
    ~OnboardingView() override;

    OnboardingModel& model() { return *model_; }
    Layout layout() const;
    void clickAt(const QPointF& point);
    // The panel's width; the height follows the current step.
    QSize sizeHint() const override;
    // Frames come while the step and the dots move and while a waiting indicator spins, and only
    // then.
    bool isRequestingFrames() const { return frames_.isRequesting(); }
    bool isAnimating(runtime::Instant now) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::shared_ptr<OnboardingModel> model_;
    bool onScreen_ = false;
    std::vector<observation::ObservationToken> tokens_;
    FrameRequester frames_;
};

}  // namespace stashbay
