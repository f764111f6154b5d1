#include "Interaction/ItemEventError.hpp"

namespace stashbay {

const char* describe(ItemEventError error) {
    switch (error) {
        case ItemEventError::eventCreationFailed: return "eventCreationFailed";
        case ItemEventError::tapCreationFailed: return "tapCreationFailed";
        case ItemEventError::deliveryTimeout: return "deliveryTimeout";
        case ItemEventError::frameDidNotChange: return "frameDidNotChange";
        case ItemEventError::itemNotFound: return "itemNotFound";
    }
    return "unknown";
}

}  // namespace stashbay
