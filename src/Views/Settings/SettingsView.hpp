#pragma once

#include "Views/Settings/SettingsModel.hpp"
#include "Views/StashbayPanel/Animation.hpp"
#include "macos/Observation/Observation.hpp"

#include <QRectF>
#include <QWidget>

#include <memory>
#include <vector>

namespace stashbay {

// Paints the settings page: the back button, the General and Permissions sections in a
// scrolling area, and the version footer; clicks go to the model. Follows the preferences, the
// update checker and the permissions service while shown.
class SettingsView : public QWidget {
public:
    // Sizes, in points.
    static constexpr double pagePadding = 12;
    static constexpr double backHeight = 16;
    static constexpr double backBottomPadding = 12;
    static constexpr double headerHeight = 14;
    static constexpr double headerBottomPadding = 6;
    static constexpr double rowContentHeight = 20;
    static constexpr double rowVerticalPadding = 6;
    static constexpr double rowMinimumSpacer = 8;
    static constexpr double sectionBottomPadding = 14;
    static constexpr double footerTopPadding = 8;
    static constexpr double footerHeight = 14;
    static constexpr double pickerWidth = 160;
    static constexpr double switchWidth = 32;

    // Where the page's controls sit, in the widget's coordinates (rows already scrolled).
    enum class Target {
        back,
        launchAtLogin,
        intervalSegment,
        globalHotkey,
        updateButton,
        accessibilityRow,
        screenRecordingRow
    };
    struct Hit {
        Target target;
        QRectF rect;
        // The segment's index for intervalSegment.
        std::size_t index = 0;
    };
    struct Row {
        QString label;
        QRectF rect;
        QRectF labelRect;
        QRectF trailingRect;
    };
    struct Section {
        QString title;
        QRectF header;
        std::vector<Row> rows;
        QRectF rect;
    };
    struct Layout {
        QRectF back;
        QRectF viewport;
        std::vector<Section> sections;
        QRectF footer;
        double contentHeight = 0;
        std::vector<Hit> hits;
    };

    explicit SettingsView(std::unique_ptr<SettingsModel> model, QWidget* parent = nullptr);

    SettingsModel& model() { return *model_; }
    Layout layout() const;
    double scrollOffset() const { return scrollOffset_; }
    void scrollBy(double delta);
    // A click at a point: the control there acts.
    void clickAt(const QPointF& point);
    QSize sizeHint() const override { return QSize(320, 320); }
    // Frames come while the Updates row's spinner is on screen, and only then.
    bool isRequestingFrames() const { return frames_.isRequesting(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void paintRowTrailing(QPainter& painter, std::size_t section, std::size_t row, const QRectF& rect) const;

    std::unique_ptr<SettingsModel> model_;
    double scrollOffset_ = 0;
    std::vector<observation::ObservationToken> tokens_;
    FrameRequester frames_;
};

}  // namespace stashbay
