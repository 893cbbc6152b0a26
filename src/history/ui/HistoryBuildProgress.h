#pragma once
#include "history/HistoryBuilder.h"

class QWidget;

namespace fw {

// Waits for a history build running off the user-interface thread while the windows keep painting. A build
// that ends within `showAfterMs` passes unseen (user input is held back meanwhile); a longer one shows how many
// runs have been read of those counted, with a Cancel that abandons the build.
class HistoryBuildProgress {
public:
    // False when the build was cancelled (or the program was told to end meanwhile): `out` is then not to be
    // reported or shown.
    static bool run(HistoryBuilder& builder, HistoryResult& out, QWidget* parent, const QString& title, int showAfterMs);
};

} // namespace fw
