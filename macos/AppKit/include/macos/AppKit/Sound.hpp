#pragma once

namespace ns {

class Sound {
public:
    // Plays the system alert sound once. Main executor only.
    static void beep();
};

}  // namespace ns
