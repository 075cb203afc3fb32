// Moving clip files: a plain rename in one folder that never copies and never replaces a file.

#include "engine/EngineSupport.h"

#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#endif

bool moveFileNoReplace(const QString &from, const QString &to)
{
	if (from.isEmpty() || to.isEmpty())
		return false;
#ifdef _WIN32
	// Without MOVEFILE_COPY_ALLOWED and MOVEFILE_REPLACE_EXISTING: a held file fails, nothing is copied.
	return MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()),
			   reinterpret_cast<const wchar_t *>(to.utf16()), 0) != 0;
#else
	const QByteArray src = QFile::encodeName(from);
	const QByteArray dst = QFile::encodeName(to);
#if defined(__linux__) && defined(SYS_renameat2)
	if (syscall(SYS_renameat2, AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), 1u /* RENAME_NOREPLACE */) ==
	    0)
		return true;
	if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
		return false;
#endif
	// A hard link cannot take an existing name either; file systems without links get a checked rename.
	if (::link(src.constData(), dst.constData()) == 0) {
		if (::unlink(src.constData()) == 0)
			return true;
		::unlink(dst.constData());
		return false;
	}
	if (errno == EEXIST || QFileInfo::exists(to))
		return false;
	return std::rename(src.constData(), dst.constData()) == 0;
#endif
}
