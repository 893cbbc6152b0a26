#pragma once
#include "cli/CliCommand.h"

#include <QList>

namespace fw {

// The commands of the ferrowind program, in the order --help lists them.
const QList<CliCommand>& commandTable();

} // namespace fw
