#pragma once

namespace ns {

// The pointer's image. Hides nest: the cursor shows again after as many unhides as hides; an
// unhide with nothing hidden does nothing. Main executor only.
class Cursor {
public:
    static void hide();
    static void unhide();
    // Not the platform's: what the user sees, for the app's own checks and tests.
    static bool isVisible();

private:
    Cursor() = default;
};

}  // namespace ns
