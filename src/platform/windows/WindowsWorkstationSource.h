#pragma once
#include "platform/WorkstationSource.h"

namespace fw {

// The workstation service itself: NetWkstaGetInfo level 102 and NetWkstaUserGetInfo level 1 (netapi32).
class WindowsWorkstationSource final : public WorkstationSource {
public:
    bool isSupportedPlatform() const override;
    std::optional<ComputerFacts> queryComputer() const override;
    std::optional<UserFacts> queryUser() const override;
};

} // namespace fw
