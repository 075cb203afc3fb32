#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Records every libobs log line (from any thread) while alive and passes it on.
class LogCapture {
public:
	LogCapture()
	{
		base_get_log_handler(&previous, &previousParam);
		base_set_log_handler(&LogCapture::handler, this);
	}
	~LogCapture() { base_set_log_handler(previous, previousParam); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	// (level, text) in the order logged.
	std::vector<std::pair<int, std::string>> lines() const
	{
		std::lock_guard<std::mutex> lock(mutex);
		return captured;
	}
	// Lines that contain `part`.
	int count(const std::string &part) const
	{
		int n = 0;
		for (const auto &line : lines())
			n += line.second.find(part) != std::string::npos ? 1 : 0;
		return n;
	}
	// Lines that are exactly `line`, logged at `level`.
	int countLevel(int level, const std::string &line) const
	{
		int n = 0;
		for (const auto &l : lines())
			n += l.first == level && l.second == line ? 1 : 0;
		return n;
	}

private:
	static void handler(int level, const char *format, va_list args, void *param)
	{
		auto *self = static_cast<LogCapture *>(param);
		va_list copy;
		va_copy(copy, args);
		char buf[4096];
		vsnprintf(buf, sizeof(buf), format, copy);
		va_end(copy);
		{
			std::lock_guard<std::mutex> lock(self->mutex);
			self->captured.emplace_back(level, buf);
		}
		if (self->previous)
			self->previous(level, format, args, self->previousParam);
	}

	log_handler_t previous = nullptr;
	void *previousParam = nullptr;
	mutable std::mutex mutex;
	std::vector<std::pair<int, std::string>> captured;
};
