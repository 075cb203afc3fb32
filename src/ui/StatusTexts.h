#pragma once

// The status lines of the dock and the settings dialog, made from what the Engine reports.

#include <QString>

#include <cstdint>

struct BufferStatus;
struct RecapStatus;
struct Session;

// The free session button: ends the running free session, otherwise starts one.
QString freeSessionButtonText(const Session *running);
// What runs and for how long; idle without a session.
QString sessionStatusText(const Session *running, int64_t offsetMs);
// The replay buffer's length, memory and state; empty until OBS is ready.
QString bufferStatusText(bool ready, const BufferStatus &buffer);
// The recap's progress through its session (null when it is gone), or that it had nothing to play.
QString recapStatusText(const RecapStatus &recap, const Session *session);
// The settings dialog's line on the buffer's size.
QString bufferSizeText(const BufferStatus &buffer);
