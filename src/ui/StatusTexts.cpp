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
	return uiText(isFree(running) ? UiText::EndFreeSession : UiText::StartFreeSession);
}

QString sessionStatusText(const Session *running, int64_t offsetMs)
{
	if (!running)
		return uiText(UiText::StatusIdle);
	const char *key = running->source == SessionSource::Stream      ? UiText::StatusStreaming
			  : running->source == SessionSource::Recording ? UiText::StatusRecording
									: UiText::StatusFree;
	return uiText(key).arg(fromUtf8(formatOffset(offsetMs)));
}

QString bufferStatusText(bool ready, const BufferStatus &buffer)
{
	if (!ready)
		return QString();
	if (!buffer.enabled)
		return uiText(UiText::BufferDisabled);
	const QString length = (buffer.seconds < 60 || buffer.seconds % 60 != 0)
				   ? uiText(UiText::BufferSeconds).arg(buffer.seconds)
				   : uiText(UiText::BufferMinutes).arg(buffer.seconds / 60);
	QString memory;
	if (buffer.estimate_mb > 0)
		memory = uiText(buffer.capped_by_size ? UiText::BufferMemoryCapped : UiText::BufferMemory)
			     .arg(buffer.estimate_mb);
	return uiText(buffer.active ? UiText::BufferOn : UiText::BufferOff).arg(length, memory);
}

QString recapStatusText(const RecapStatus &recap, const Session *session)
{
	if (!recap.running)
		return recap.empty ? uiText(UiText::RecapEmpty) : QString();
	const QString name =
	    session
		? QDateTime::fromMSecsSinceEpoch(session->start_wall_ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"))
		: LumarkDock::sessionDisplayName(recap.sessionId, false);
	const char *kind = !session                                      ? UiText::SessionFree
			   : session->source == SessionSource::Stream    ? UiText::SessionStream
			   : session->source == SessionSource::Recording ? UiText::SessionRecord
									 : UiText::SessionFree;
	return uiText(UiText::RecapPlaying)
	    .arg(name, uiText(kind), QString::number(recap.index), QString::number(recap.count));
}

QString bufferSizeText(const BufferStatus &buffer)
{
	if (!buffer.enabled)
		return uiText(UiText::BufferDisabled);
	if (buffer.estimate_mb < 1)
		return uiText(UiText::SetBufferNowUnknown).arg(buffer.seconds);
	return uiText(UiText::SetBufferNow)
	    .arg(QString::number(buffer.seconds),
		 QString::number(buffer.video_kbps + std::max<int64_t>(buffer.audio_kbps, 0)),
		 QString::number(buffer.estimate_mb));
}
