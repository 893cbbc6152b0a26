#pragma once
#include "platform/Sleeper.h"

namespace fw {

// Waits while the windows keep painting; user input is held back until the wait is over.
class PaintingSleeper final : public Sleeper {
public:
    void sleepMs(int ms) override;
};

} // namespace fw
