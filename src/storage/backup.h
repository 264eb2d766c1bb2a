#pragma once

#include "documents/zip.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quillmar {

// What a multi-note backup archive may hold: note files ending in ".json" at safe paths, at most
// 10000 entries of 64 MiB each and 512 MiB together.
ZipLimits backupZipLimits();

} // namespace quillmar
