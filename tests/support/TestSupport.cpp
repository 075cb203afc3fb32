#include "TestSupport.h"

#include "util/ModuleCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

TempConfigDir::TempConfigDir()
{
	setModuleConfigDirForTesting(dir.path().toStdString());
}

TempConfigDir::~TempConfigDir()
{
	setModuleConfigDirForTesting(std::string());
}

std::string TempConfigDir::file(const char *name) const
{
	return (dir.path() + "/" + QString::fromUtf8(name)).toStdString();
}

QByteArray readFileBytes(const QString &path)
{
	QFile f(path);
	if (!f.open(QIODevice::ReadOnly))
		return {};
	return f.readAll();
}

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
	QFile f(path);
	if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
		return false;
	return f.write(bytes) == bytes.size();
}

bool waitUntil(const std::function<bool()> &cond, int limitMs)
{
	QElapsedTimer timer;
	timer.start();
	while (!cond()) {
		if (timer.elapsed() > limitMs)
			return false;
		QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
		QThread::msleep(1);
	}
	return true;
}
