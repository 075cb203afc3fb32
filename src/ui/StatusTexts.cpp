#include "ui/StatusTexts.h"

#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "playback/Recap.h"
#include "session/Session.h"
#include "ui/LumarkDock.h"
#include "ui/UiText.h"
#include "util/Utf8.h"

#include <QDateTime>

#include <algorithm>

namespace {

bool isFree(const Session *session)
{
	return session && session->source == SessionSource::Free;
}

} // namespace

QString freeSessionButtonText(const Session *running)
{
	return uiText(isFree(running) ? UiKey::EndFreeSession : UiKey::StartFreeSession);
}

QString sessionStatusText(const Session *running, int64_t offsetMs)
{
	if (!running)
		return uiText(UiKey::StatusIdle);
	const char *key = running->source == SessionSource::Stream      ? UiKey::StatusStreaming
			  : running->source == SessionSource::Recording ? UiKey::StatusRecording
									: UiKey::StatusFree;
	return uiText(key).arg(fromUtf8(formatOffset(offsetMs)));
}

QString bufferStatusText(bool ready, const BufferStatus &buffer)
{
	if (!ready)
		return QString();
	if (!buffer.enabled)
		return uiText(UiKey::BufferDisabled);
	const QString length = (buffer.seconds < 60 || buffer.seconds % 60 != 0)
				   ? uiText(UiKey::BufferSeconds).arg(buffer.seconds)
				   : uiText(UiKey::BufferMinutes).arg(buffer.seconds / 60);
	QString memory;
	if (buffer.estimate_mb > 0)
		memory = uiText(buffer.capped_by_size ? UiKey::BufferMemoryCapped : UiKey::BufferMemory)
			     .arg(buffer.estimate_mb);
	return uiText(buffer.active ? UiKey::BufferOn : UiKey::BufferOff).arg(length, memory);
}

QString recapStatusText(const RecapStatus &recap, const Session *session)
{
	if (!recap.running)
		return recap.empty ? uiText(UiKey::RecapEmpty) : QString();
	const QString name =
	    session
		? QDateTime::fromMSecsSinceEpoch(session->start_wall_ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
		: LumarkDock::sessionDisplayName(recap.sessionId, false);
	const char *kind = !session                                      ? UiKey::SessionFree
			   : session->source == SessionSource::Stream    ? UiKey::SessionStream
			   : session->source == SessionSource::Recording ? UiKey::SessionRecord
									 : UiKey::SessionFree;
	return uiText(UiKey::RecapPlaying)
	    .arg(name, uiText(kind), QString::number(recap.index), QString::number(recap.count));
}

QString bufferSizeText(const BufferStatus &buffer)
{
	if (!buffer.enabled)
		return uiText(UiKey::BufferDisabled);
	if (buffer.estimate_mb < 1)
		return uiText(UiKey::SetBufferNowUnknown).arg(buffer.seconds);
	return uiText(UiKey::SetBufferNow)
	    .arg(QString::number(buffer.seconds),
		 QString::number(buffer.video_kbps + std::max<int64_t>(buffer.audio_kbps, 0)),
		 QString::number(buffer.estimate_mb));
}
