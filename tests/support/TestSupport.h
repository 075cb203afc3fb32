#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <string>

// A temporary folder used as the module's configuration folder for one test.
class TempConfigDir {
public:
	TempConfigDir();
	~TempConfigDir();
	QString path() const { return dir.path(); }
	std::string file(const char *name) const;

private:
	QTemporaryDir dir;
};

QByteArray readFileBytes(const QString &path);
bool writeFileBytes(const QString &path, const QByteArray &bytes);

// Runs the Qt event loop until cond() holds or the limit passes; for code that posts queued calls.
bool waitUntil(const std::function<bool()> &cond, int limitMs = 2000);
