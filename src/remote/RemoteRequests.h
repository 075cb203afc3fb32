#pragma once

// Request handlers; called on obs-websocket's threads.

#include "remote/RemoteCore.h"

namespace remote {

// RequestsEdit.cpp
Result requestPress(obs_data_t *request);
Result requestAddMark(obs_data_t *request);
Result requestSetLabel(obs_data_t *request);
Result requestSetChapter(obs_data_t *request);
Result requestRemoveEntry(obs_data_t *request);
Result requestSetShift(obs_data_t *request);
Result requestSetArchiveUrl(obs_data_t *request);
Result requestDropShortChapters(obs_data_t *request);
Result requestExport(obs_data_t *request);
Result requestExportQuotes(obs_data_t *request);
Result requestExportHighlights(obs_data_t *request);

// RequestsSession.cpp
Result requestStartFreeSession(obs_data_t *request);
Result requestEndFreeSession(obs_data_t *request);
Result requestGetSession(obs_data_t *request);
Result requestListSessions(obs_data_t *request);
Result requestViewSession(obs_data_t *request);
Result requestRemoveSession(obs_data_t *request);

// RequestsPlayback.cpp
Result requestReplayEntry(obs_data_t *request);
Result requestStopReplay(obs_data_t *request);
Result requestSetupReplayScene(obs_data_t *request);
Result requestSetupRecapScene(obs_data_t *request);
Result requestGetRecapStatus(obs_data_t *request);

// RequestsConfig.cpp
Result requestGetStatus(obs_data_t *request);
Result requestSetConfig(obs_data_t *request);

} // namespace remote
