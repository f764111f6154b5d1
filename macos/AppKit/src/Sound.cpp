#include "macos/AppKit/Sound.hpp"

#include "macos/sim/World.hpp"
#include "stashbay/runtime/Executor.hpp"

namespace ns {

void Sound::beep() {
    runtime::assertMainExecutor("NSSound.beep");
    sim::World::current().alertSounds().play();
}

}  // namespace ns
