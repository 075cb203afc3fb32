#pragma once

// obs-websocket vendor and the add-mark procedure.
void openRemote();
void registerAddMarkProc();
void registerVendor();
void closeRemote();
bool isRemoteOpen();
