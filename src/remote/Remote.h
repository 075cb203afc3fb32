#pragma once

#include "engine/EngineEvents.h"

#include <QString>

#include <utility>

class Engine;

// Remote control: the obs-websocket vendor "kelvaro-lumark" and the add-mark procedure on OBS's global
// procedure handler. Every function here runs on the UI thread except where noted.

// Marks the remote side open (module load): requests, events and procedure calls go to engine from now
// on. The engine must outlive every call made while the side is open.
void openRemote(Engine &engine);
// Adds "kelvaro_lumark_add_mark" to the global procedure handler (once per process).
void registerAddMarkProc();
// Finds obs-websocket through the global procedure handler and registers the vendor with its requests.
void registerVendor();
// First step of shutdown: no request, event or procedure call reaches the Engine after this.
void closeRemote();
// Any thread.
bool isRemoteOpen();

// The event's type and its payload as JSON, as clients get them.
std::pair<QString, QString> eventMessage(const EngineEvent &event);
// Slot for Engine::notify: writes the event and hands it to emitVendorEvent.
void sendEngineEvent(const EngineEvent &event);
// Hands an event to the event thread, which sends it to obs-websocket.
void emitVendorEvent(const QString &type, const QString &json);

// Tests only: closes the remote side and forgets obs-websocket's handler and the vendor, so that the
// next registerVendor looks them up again.
void resetRemoteForTesting();
