#include "remote/Remote.h"

#include <atomic>

namespace {
std::atomic<bool> g_remoteOpen{false};
}

void openRemote()
{
	g_remoteOpen = true;
}

void registerAddMarkProc() {}

void registerVendor() {}

void closeRemote()
{
	g_remoteOpen = false;
}

bool isRemoteOpen()
{
	return g_remoteOpen;
}
