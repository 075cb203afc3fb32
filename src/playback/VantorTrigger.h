#pragma once

// Fires a named trigger of the companion camera plug-in on all its sources and filters.
void fireVantorTrigger(const char *name);
