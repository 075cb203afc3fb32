#include "util/PrivateFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PrivateFiles {

namespace {
std::string errnoText(const char *what)
{
	return std::string(what) + ": " + std::strerror(errno);
}
} // namespace

#ifdef _WIN32

// The user's temporary folder is the user's own on Windows; the folder inside needs no further check.
QString ensureFolder(const QString &base, const QString &name, std::string &why)
{
	const QString path = base + QLatin1Char('/') + name;
	if (_wmkdir(reinterpret_cast<const wchar_t *>(path.utf16())) != 0 && errno != EEXIST) {
		why = errnoText("cannot make the folder");
		return QString();
	}
	const QFileInfo info(path);
	if (!info.isDir() || info.isSymLink()) {
		why = "not a folder";
		return QString();
	}
	return path;
}

int createFile(const QString &path, std::string &why)
{
	const int fd = _wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
			      _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
	if (fd < 0)
		why = errnoText("cannot make the file");
	return fd;
}

bool writeAll(int fd, const void *data, size_t size)
{
	const char *at = static_cast<const char *>(data);
	while (size > 0) {
		const int n = _write(fd, at, static_cast<unsigned>(size > 1u << 30 ? 1u << 30 : size));
		if (n <= 0)
			return false;
		at += n;
		size -= static_cast<size_t>(n);
	}
	return true;
}

void closeFile(int fd)
{
	if (fd >= 0)
		_close(fd);
}

bool ownRegularFile(const QString &path)
{
	const QFileInfo info(path);
	return info.isFile() && !info.isSymLink();
}

bool processGone(long long pid)
{
	if (pid == QCoreApplication::applicationPid())
		return false;
	HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
	if (!process)
		return GetLastError() == ERROR_INVALID_PARAMETER;
	const bool exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
	CloseHandle(process);
	return exited;
}

#else

QString ensureFolder(const QString &base, const QString &name, std::string &why)
{
	const QString path = base + QLatin1Char('/') + name;
	const QByteArray local = QFile::encodeName(path);
	if (mkdir(local.constData(), 0700) != 0 && errno != EEXIST) {
		why = errnoText("cannot make the folder");
		return QString();
	}
	// Checked on the opened folder itself, so nothing can swap it between the check and the use.
	const int dir = open(local.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (dir < 0) {
		why = errnoText("cannot open the folder (a link?)");
		return QString();
	}
	struct stat st = {};
	bool trusted = fstat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
	if (!trusted)
		why = "the folder belongs to another account";
	else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
		trusted = false;
		why = "other accounts can write into the folder";
	} else if ((st.st_mode & 0777) != 0700 && fchmod(dir, 0700) != 0) {
		trusted = false;
		why = errnoText("cannot close the folder to other accounts");
	}
	close(dir);
	return trusted ? path : QString();
}

int createFile(const QString &path, std::string &why)
{
	const int fd =
	    open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0)
		why = errnoText("cannot make the file");
	return fd;
}

bool writeAll(int fd, const void *data, size_t size)
{
	const char *at = static_cast<const char *>(data);
	while (size > 0) {
		const ssize_t n = write(fd, at, size);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		at += n;
		size -= static_cast<size_t>(n);
	}
	return true;
}

void closeFile(int fd)
{
	if (fd >= 0)
		close(fd);
}

bool ownRegularFile(const QString &path)
{
	struct stat st = {};
	return lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

bool processGone(long long pid)
{
	if (pid == QCoreApplication::applicationPid())
		return false;
#ifdef __linux__
	return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
#else
	// Another account's process answers EPERM: it runs.
	return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

#endif

} // namespace PrivateFiles
