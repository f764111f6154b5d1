#include "macos/ScreenCaptureKit/Error.hpp"

namespace sc {

ns::Error makeError(long code) {
    const char* description = "The capture could not be completed.";
    switch (code) {
        case StreamError::userDeclined:
            description = "The user declined Screen Recording access for this application.";
            break;
        case StreamError::failedToStart: description = "The screenshot could not be taken."; break;
        case StreamError::invalidParameter: description = "The capture's size is not supported."; break;
        case StreamError::noWindowList: description = "The window list could not be read."; break;
        case StreamError::noCaptureSource: description = "The window to capture no longer exists."; break;
        default: break;
    }
    return ns::Error(streamErrorDomain, code, description);
}

}  // namespace sc
