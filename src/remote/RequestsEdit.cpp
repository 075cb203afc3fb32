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

void requestPress(obs_data_t *request, obs_data_t *reply, void *)
{
	const PressMode mode = pressModeFromText(stringField(request, "mode"));
	const QString label = stringField(request, "label");
	long long entryId = 0;
	if (tooLong(label))
		writeFailure(reply, errors::TooLong);
	else
		runOnUiThread(reply, [&]() { entryId = engine().press(mode, label); });
	writeOk(reply, entryId != 0);
	obs_data_set_int(reply, "entry_id", entryId);
}

void requestAddMark(obs_data_t *request, obs_data_t *reply, void *)
{
	const QString label = stringField(request, "label");
	const EntryKind kind = kindFromText(stringField(request, "kind").toStdString());
	const long long agoMs = intField(request, "ago_ms");
	if (tooLong(label)) {
		writeFailure(reply, errors::TooLong);
		obs_data_set_int(reply, "entry_id", 0);
		return;
	}
	long long entryId = 0;
	const bool ran = runOnUiThread(reply, [&]() { entryId = engine().addMark(kind, label, 0, agoMs); });
	writeOk(reply, entryId != 0);
	obs_data_set_int(reply, "entry_id", entryId);
	// Not run at all: the "shutting down" written by runOnUiThread is the reason.
	if (entryId == 0 && ran)
		obs_data_set_string(reply, "error", errors::NoMark);
}

void requestSetLabel(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const long long entryId = intField(request, "entry_id");
	const QString label = stringField(request, "label");
	if (tooLong(label)) {
		writeFailure(reply, errors::TooLong);
		return;
	}
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		engine().setLabel(entryId, label);
		writeOk(reply, true);
	});
}

void requestSetChapter(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const long long entryId = intField(request, "entry_id");
	const bool chapter = boolField(request, "chapter");
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		engine().setChapter(entryId, chapter);
		writeOk(reply, true);
	});
}

void requestRemoveEntry(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const long long entryId = intField(request, "entry_id");
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		engine().removeEntry(entryId);
		writeOk(reply, true);
	});
}

void requestSetShift(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const long long ms = intField(request, "ms");
	const long long entryId = intField(request, "entry_id");
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		if (entryId != 0)
			engine().setShiftToEntry(entryId);
		else
			engine().setShift(ms);
		writeOk(reply, true);
	});
}

void requestSetArchiveUrl(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	const QString url = stringField(request, "url");
	if (tooLong(url)) {
		writeFailure(reply, errors::TooLong);
		return;
	}
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		engine().setArchiveUrl(url);
		writeOk(reply, true);
	});
}

void requestDropShortChapters(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		obs_data_set_int(reply, "count", engine().dropShortChapters());
		writeOk(reply, true);
	});
}

void requestExport(obs_data_t *request, obs_data_t *reply, void *)
{
	const SessionField session = sessionField(request);
	runOnUiThread(reply, [&]() {
		if (!selectSession(reply, session))
			return;
		const QStringList files = engine().exportLists();
		OBSDataArrayAutoRelease array = obs_data_array_create();
		for (const QString &path : files) {
			OBSDataAutoRelease item = obs_data_create();
			obs_data_set_string(item, "path", path.toUtf8().constData());
			obs_data_array_push_back(array, item);
		}
		obs_data_set_array(reply, "files", array);
		writeOk(reply, files.size() == 3);
	});
}

void requestExportQuotes(obs_data_t *, obs_data_t *reply, void *)
{
	runOnUiThread(reply, [&]() {
		const QString path = engine().exportQuotes();
		obs_data_set_string(reply, "path", path.toUtf8().constData());
		if (path.isEmpty())
			writeFailure(reply, errors::NoQuotes);
		else
			writeOk(reply, true);
	});
}

} // namespace remote
