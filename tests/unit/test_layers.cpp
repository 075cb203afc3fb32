#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <map>

namespace {

// The layers of CMakeLists.txt, bottom first: layers split by '|', the folders of one by ' '. A folder
// includes only itself and lower ranks: two folders of one rank stay apart, in both directions.
std::map<QString, int> layerRanks()
{
	std::map<QString, int> ranks;
	const QStringList layers = QStringLiteral(LUMARK_LAYERS).split(QLatin1Char('|'));
	for (int i = 0; i < layers.size(); ++i)
		for (const QString &folder : layers[i].split(QLatin1Char(' '), Qt::SkipEmptyParts))
			ranks[folder] = i;
	return ranks;
}

TEST(Layers, NoIncludePointsUpwardOrSideways)
{
	const QString src = QStringLiteral(LUMARK_SOURCE_DIR "/src");
	const std::map<QString, int> kRank = layerRanks();
	const QRegularExpression include(QStringLiteral(R"(^\s*#\s*include\s*"([a-z]+)/)"));
	int files = 0;
	QDirIterator it(src, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
	while (it.hasNext()) {
		const QString path = it.next();
		const QString folder = path.mid(src.size() + 1).section('/', 0, 0);
		ASSERT_TRUE(kRank.count(folder)) << "folder without a layer: " << folder.toStdString();
		QFile file(path);
		ASSERT_TRUE(file.open(QIODevice::ReadOnly));
		++files;
		int line = 0;
		while (!file.atEnd()) {
			++line;
			const auto match = include.match(QString::fromUtf8(file.readLine()));
			if (!match.hasMatch())
				continue;
			const QString target = match.captured(1);
			ASSERT_TRUE(kRank.count(target)) << path.toStdString() << ":" << line;
			EXPECT_TRUE(target == folder || kRank.at(target) < kRank.at(folder))
			    << path.toStdString() << ":" << line << " includes " << target.toStdString();
		}
	}
	EXPECT_GT(files, 50);
}

} // namespace
