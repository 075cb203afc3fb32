#pragma once

// Request handlers with obs-websocket's callback shape; called on obs-websocket's threads.

#include <obs.h>

namespace remote {

// RequestsEdit.cpp
void requestPress(obs_data_t *request, obs_data_t *reply, void *);
void requestAddMark(obs_data_t *request, obs_data_t *reply, void *);
void requestSetLabel(obs_data_t *request, obs_data_t *reply, void *);
void requestSetChapter(obs_data_t *request, obs_data_t *reply, void *);
void requestRemoveEntry(obs_data_t *request, obs_data_t *reply, void *);
void requestSetShift(obs_data_t *request, obs_data_t *reply, void *);
void requestSetArchiveUrl(obs_data_t *request, obs_data_t *reply, void *);
void requestDropShortChapters(obs_data_t *request, obs_data_t *reply, void *);
void requestExport(obs_data_t *request, obs_data_t *reply, void *);
void requestExportQuotes(obs_data_t *request, obs_data_t *reply, void *);

// RequestsSession.cpp
void requestStartFreeSession(obs_data_t *request, obs_data_t *reply, void *);
void requestEndFreeSession(obs_data_t *request, obs_data_t *reply, void *);
void requestGetSession(obs_data_t *request, obs_data_t *reply, void *);
void requestListSessions(obs_data_t *request, obs_data_t *reply, void *);
void requestViewSession(obs_data_t *request, obs_data_t *reply, void *);
void requestRemoveSession(obs_data_t *request, obs_data_t *reply, void *);

// RequestsPlayback.cpp
void requestReplayEntry(obs_data_t *request, obs_data_t *reply, void *);
void requestStopReplay(obs_data_t *request, obs_data_t *reply, void *);
void requestSetupReplayScene(obs_data_t *request, obs_data_t *reply, void *);
void requestSetupRecapScene(obs_data_t *request, obs_data_t *reply, void *);
void requestGetRecapStatus(obs_data_t *request, obs_data_t *reply, void *);

// RequestsConfig.cpp
void requestGetStatus(obs_data_t *request, obs_data_t *reply, void *);
void requestSetConfig(obs_data_t *request, obs_data_t *reply, void *);

} // namespace remote
