#pragma once
#include <QString>

namespace fw {

// `logs` beside the program when it can be written there (the folder exists and takes a file, or does not exist
// and the program folder takes one); empty otherwise.
QString writableLogsBeside(const QString& programFolder);

} // namespace fw
