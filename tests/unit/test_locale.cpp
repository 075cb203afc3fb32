#include "util/ModuleCore.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

namespace {

QSet<QString> localeKeys(const QString &file)
{
	QSet<QString> keys;
	QFile f(file);
	if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
		return keys;
	const QRegularExpression line(QStringLiteral("^([A-Za-z0-9_.]+)\\s*="));
	while (!f.atEnd()) {
		const QString text = QString::fromUtf8(f.readLine());
		auto m = line.match(text);
		if (m.hasMatch())
			keys.insert(m.captured(1));
	}
	return keys;
}

// Every key the code looks up, by the group prefixes locale keys use.
QSet<QString> keysUsedInCode()
{
	static const char *groups = "Dock|Msg|Settings|Setup|Recap|Replay|Clip|Col|Check|Buffer|Status|Kind|Word|Csv|"
				    "Notes|File|Quotes|Label|Default|Hotkey|Menu|Time|Session";
	const QRegularExpression used(QStringLiteral("\"((?:%1)\\.[A-Z][A-Za-z0-9]*)\"").arg(QLatin1String(groups)));
	QSet<QString> keys;
	QDirIterator it(QStringLiteral(LUMARK_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files,
			QDirIterator::Subdirectories);
	while (it.hasNext()) {
		QFile f(it.next());
		if (!f.open(QIODevice::ReadOnly))
			continue;
		const QString text = QString::fromUtf8(f.readAll());
		auto matches = used.globalMatch(text);
		while (matches.hasNext())
			keys.insert(matches.next().captured(1));
	}
	return keys;
}

TEST(Locale, EveryKeyUsedInCodeIsInBothLocales)
{
	const QSet<QString> used = keysUsedInCode();
	ASSERT_FALSE(used.isEmpty());
	for (const char *locale : {"en-US", "ja-JP"}) {
		const QSet<QString> have =
		    localeKeys(QStringLiteral(LUMARK_SOURCE_DIR "/data/locale/%1.ini").arg(locale));
		ASSERT_FALSE(have.isEmpty()) << locale;
		for (const QString &key : used)
			EXPECT_TRUE(have.contains(key)) << locale << " lacks " << key.toStdString();
	}
}

TEST(Locale, BothLocalesHaveTheSameKeys)
{
	const QSet<QString> en = localeKeys(QStringLiteral(LUMARK_SOURCE_DIR "/data/locale/en-US.ini"));
	const QSet<QString> ja = localeKeys(QStringLiteral(LUMARK_SOURCE_DIR "/data/locale/ja-JP.ini"));
	for (const QString &key : en)
		EXPECT_TRUE(ja.contains(key)) << "ja-JP lacks " << key.toStdString();
	for (const QString &key : ja)
		EXPECT_TRUE(en.contains(key)) << "en-US lacks " << key.toStdString();
}

TEST(Locale, MissingKeyFallsBackToTheKeyItself)
{
	EXPECT_STREQ(moduleText("Dock.NoSuchKeyAnywhere"), "Dock.NoSuchKeyAnywhere");
	EXPECT_STRNE(moduleText("Dock.Title"), "Dock.Title");
}

} // namespace
