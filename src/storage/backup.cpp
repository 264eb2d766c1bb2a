#include "storage/backup.h"

namespace quillmar {

namespace {
constexpr qint64 MaxBackupTotal = 536870912;
}

ZipLimits backupZipLimits()
{
	ZipLimits limits;
	limits.maxTotalSize = MaxBackupTotal;
	limits.acceptName = [](const QString &name) {
		return isSafeZipName(name) && name.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
	};
	return limits;
}

} // namespace quillmar
