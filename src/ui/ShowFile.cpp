#include "ui/ShowFile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#ifdef LUMARK_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
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
		// Short limit: a missing file manager must not freeze the OBS window.
		const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
		if (reply.type() == QDBusMessage::ReplyMessage)
			return true;
	}
#endif
	return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(absolute).absolutePath()));
#endif
}
