#include "macos/AppKit/Cursor.hpp"

#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace ns {

void Cursor::hide() {
    runtime::assertMainExecutor("NSCursor.hide");
    sim::World::current().events().hideCursor();
}

void Cursor::unhide() {
    runtime::assertMainExecutor("NSCursor.unhide");
    sim::World::current().events().unhideCursor();
}

bool Cursor::isVisible() { return sim::World::current().events().cursorVisible(); }

}  // namespace ns
