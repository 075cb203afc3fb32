#include "util/AtomicFile.h"

#include <util/platform.h>

#include <cerrno>
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The C library's number for the Windows error of the last failed call.
int lastWindowsError()
{
	switch (GetLastError()) {
	case ERROR_DISK_FULL:
	case ERROR_HANDLE_DISK_FULL:
		return ENOSPC;
	case ERROR_ACCESS_DENIED:
	case ERROR_WRITE_PROTECT:
		return EACCES;
	case ERROR_SHARING_VIOLATION:
	case ERROR_LOCK_VIOLATION:
		return EBUSY;
	default:
		return EIO;
	}
}
#endif

// The whole text in the file and on the disk; the file removed again when any step failed.
bool writeWholeFile(const std::string &path, const std::string &bytes, int &error)
{
	FILE *file = os_fopen(path.c_str(), "wb");
	if (!file) {
		error = errno;
		return false;
	}
	bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && fflush(file) == 0;
#ifdef _WIN32
	written = written && _commit(_fileno(file)) == 0;
#else
	written = written && fsync(fileno(file)) == 0;
#endif
	error = written ? 0 : errno;
	if (fclose(file) != 0 && written) {
		written = false;
		error = errno;
	}
	if (!written)
		os_unlink(path.c_str());
	return written;
}

// A hard link where the file system has them, so the file itself never leaves its name.
void keepBackup(const std::string &path)
{
	if (!os_file_exists(path.c_str()))
		return;
	const std::string bak = path + ".bak";
	os_unlink(bak.c_str());
#ifdef _WIN32
	os_copyfile(path.c_str(), bak.c_str());
#else
	if (link(path.c_str(), bak.c_str()) != 0)
		os_copyfile(path.c_str(), bak.c_str());
#endif
}

} // namespace

bool writeFileAtomically(const std::string &path, const std::string &bytes, KeepBackup backup, int *error)
{
	const std::string tmp = path + ".tmp";
	int why = 0;
	bool saved = writeWholeFile(tmp, bytes, why);
	if (saved) {
		if (backup == KeepBackup::Yes)
			keepBackup(path);
		saved = os_rename(tmp.c_str(), path.c_str()) == 0;
		if (!saved) {
#ifdef _WIN32
			why = lastWindowsError();
#else
			why = errno;
#endif
			os_unlink(tmp.c_str());
		}
	}
	if (error)
		*error = saved ? 0 : why;
	return saved;
}
