#pragma once

#include <obs-frontend-api.h>

class LumarkDock;

// Load, post-load and unload sequences; the exported entry points only forward here.
bool moduleLoad();
void modulePostLoad();
void moduleUnload();

// Runs once, at the frontend's exit, at scripting shutdown or at unload, whichever comes first.
void moduleShutdown();
// True from the first step of shutdown on; read on the hotkey thread too.
bool isShuttingDown();

void onFrontendEvent(enum obs_frontend_event event, void *data);
void placeDockOnce();
void openSettingsDialog(void *data);

LumarkDock *dockWidget();
