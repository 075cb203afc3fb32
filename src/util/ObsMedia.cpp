#include "util/ObsMedia.h"

#include "util/ObsSources.h"

#include <QDir>

const char *const kMediaSourceId = "ffmpeg_source";
const char *const kLocalFileKey = "local_file";
const char *const kPreviousLocalFileKey = "kelvaro_lumark_previous_local_file";

bool isMediaSource(obs_source_t *source)
{
	return hasSourceId(source, kMediaSourceId);
}

QString normalizedPathKey(const QString &path)
{
	if (path.isEmpty())
		return {};
	QString p = path;
	p.replace(QLatin1Char('\\'), QLatin1Char('/'));
	return QDir::cleanPath(p).toCaseFolded();
}

void assignLocalFile(obs_source_t *source, obs_data_t *data, const QString &path)
{
	QString current;
	OBSDataAutoRelease privateSettings;
	if (source) {
		OBSDataAutoRelease settings = obs_source_get_settings(source);
		current = QString::fromUtf8(obs_data_get_string(settings, kLocalFileKey));
		privateSettings = obs_source_get_private_settings(source);
		if (current.isEmpty())
			current = QString::fromUtf8(obs_data_get_string(privateSettings, kPreviousLocalFileKey));
	}

	QString spelled = path;
	if (!spelled.isEmpty() && !current.isEmpty() && normalizedPathKey(spelled) == normalizedPathKey(current)) {
#ifdef _WIN32
		spelled.replace(QLatin1Char('\\'), QLatin1Char('/'));
		if (spelled == current)
			spelled.replace(QLatin1Char('/'), QLatin1Char('\\'));
		if (spelled == current)
			spelled.prepend(QStringLiteral("./"));
#else
		// A backslash is an ordinary file-name character here; a "./" segment keeps the same file.
		if (spelled == current)
			spelled.insert(spelled.lastIndexOf(QLatin1Char('/')) + 1, QStringLiteral("./"));
#endif
	}

	if (privateSettings) {
		const QString remember = !path.isEmpty() ? path : current;
		if (!remember.isEmpty())
			obs_data_set_string(privateSettings, kPreviousLocalFileKey, remember.toUtf8().constData());
	}
	obs_data_set_string(data, kLocalFileKey, spelled.toUtf8().constData());
}

void setMediaPlayOnce(obs_data_t *data)
{
	obs_data_set_bool(data, "is_local_file", true);
	obs_data_set_bool(data, "looping", false);
	obs_data_set_bool(data, "restart_on_activate", false);
	obs_data_set_bool(data, "close_when_inactive", false);
	obs_data_set_bool(data, "clear_on_media_end", false);
}
