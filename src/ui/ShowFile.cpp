#include "ui/ShowFile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#ifdef LUMARK_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {
// A file manager that has not answered by then is taken as missing, and the folder opens instead.
constexpr int kFileManagerAnswerMs = 5000;
} // namespace
#endif

bool showFileInFileManager(const QString &path)
{
	if (path.isEmpty())
		return false;
#if defined(_WIN32)
	return QProcess::startDetached(QStringLiteral("explorer.exe"),
				       {QStringLiteral("/select,"), QDir::toNativeSeparators(path)}, QString());
#else
	const QString absolute = QFileInfo(path).absoluteFilePath();
#ifdef LUMARK_HAVE_DBUS
	QDBusConnection bus = QDBusConnection::sessionBus();
	if (bus.isConnected()) {
		QDBusMessage call = QDBusMessage::createMethodCall(
		    QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
		    QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
		call << QStringList{QUrl::fromLocalFile(absolute).toString()} << QString();
		// Never wait on the UI thread: a slow or missing file manager answers later, or with an
		// error, and then the folder opens instead.
		auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kFileManagerAnswerMs));
		const QString folder = QFileInfo(absolute).absolutePath();
		QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
				 [folder](QDBusPendingCallWatcher *done) {
					 if (done->isError())
						 QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
					 done->deleteLater();
				 });
		return true;
	}
#endif
	return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(absolute).absolutePath()));
#endif
}
