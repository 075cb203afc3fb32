// Marks and edits of the viewed session.

#include "remote/RemoteCore.h"
#include "remote/RemoteRequests.h"

#include "engine/Engine.h"
#include "lists/TextFormat.h"

#include <obs.hpp>

namespace remote {

namespace {
PressMode pressModeFromText(const QString &mode)
{
	// Exact and case-sensitive: clients that send "Mark" get the default press.
	if (mode == QLatin1String("mark"))
		return PressMode::MarkOnly;
	if (mode == QLatin1String("replay"))
		return PressMode::Replay;
	return PressMode::Default;
}

} // namespace

Result requestPress(obs_data_t *request)
{
	const PressMode mode = pressModeFromText(readString(request, keys::Mode));
	const std::optional<QString> label = readText(request, keys::Label);
	if (!label)
		return Result::failure(errors::TooLong).setInt(keys::EntryId, 0);
	long long entryId = 0;
	Result result = onUiThread([&]() {
		entryId = engine().press(mode, *label);
		return Result::okIf(entryId != 0);
	});
	return result.setInt(keys::EntryId, entryId);
}

Result requestAddMark(obs_data_t *request)
{
	const std::optional<QString> label = readText(request, keys::Label);
	const EntryKind kind = kindFromText(readString(request, keys::Kind).toStdString());
	const long long agoMs = readInt(request, keys::AgoMs);
	if (!label)
		return Result::failure(errors::TooLong).setInt(keys::EntryId, 0);
	long long entryId = 0;
	Result result = onUiThread([&]() {
		entryId = engine().addMark(kind, *label, 0, agoMs);
		return entryId != 0 ? Result::success() : Result::failure(errors::NoMark);
	});
	return result.setInt(keys::EntryId, entryId);
}

Result requestSetLabel(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const long long entryId = readInt(request, keys::EntryId);
	const std::optional<QString> label = readText(request, keys::Label);
	if (!label)
		return Result::failure(errors::TooLong);
	return onSession(session, [&]() {
		engine().edits().setLabel(entryId, *label);
		return Result::success();
	});
}

Result requestSetChapter(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const long long entryId = readInt(request, keys::EntryId);
	const bool chapter = readBool(request, keys::Chapter);
	return onSession(session, [&]() {
		engine().edits().setChapter(entryId, chapter);
		return Result::success();
	});
}

Result requestRemoveEntry(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const long long entryId = readInt(request, keys::EntryId);
	return onSession(session, [&]() {
		engine().edits().removeEntry(entryId);
		return Result::success();
	});
}

Result requestSetShift(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const long long ms = readInt(request, keys::Ms);
	const long long entryId = readInt(request, keys::EntryId);
	return onSession(session, [&]() {
		if (entryId != 0)
			engine().edits().setShiftToEntry(entryId);
		else
			engine().edits().setShift(ms);
		return Result::success();
	});
}

Result requestSetArchiveUrl(obs_data_t *request)
{
	const SessionField session = sessionField(request);
	const std::optional<QString> url = readText(request, keys::Url);
	if (!url)
		return Result::failure(errors::TooLong);
	return onSession(session, [&]() {
		engine().edits().setArchiveUrl(*url);
		return Result::success();
	});
}

Result requestDropShortChapters(obs_data_t *request)
{
	return onSession(sessionField(request),
			 [&]() { return Result::success().setInt(keys::Count, engine().edits().dropShortChapters()); });
}

Result requestExport(obs_data_t *request)
{
	return onSession(sessionField(request), [&]() {
		const QStringList files = engine().exports().exportLists();
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const QString &path : files) {
			OBSDataAutoRelease item = obs_data_create();
			obs_data_set_string(item, keys::Path, path.toUtf8().constData());
			obs_data_array_push_back(array, item);
		}
		// The timestamps, CSV and notes lists.
		Result result = Result::okIf(files.size() == 3);
		obs_data_set_array(result.data(), keys::Files, array);
		return result;
	});
}

Result requestExportQuotes(obs_data_t *)
{
	return onUiThread([&]() {
		const QString path = engine().exports().exportQuotes();
		Result result = path.isEmpty() ? Result::failure(errors::NoQuotes) : Result::success();
		return result.setText(keys::Path, path);
	});
}

Result requestExportHighlights(obs_data_t *request)
{
	return onSession(sessionField(request), [&]() {
		if (engine().exports().highlightsRunning())
			return Result::failure(errors::HighlightsBusy);
		return engine().exports().exportHighlights() ? Result::success()
							     : Result::failure(errors::NoHighlights);
	});
}

} // namespace remote
