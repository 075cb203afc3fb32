#pragma once

// Writes session files on one thread of its own, in the order they are handed over, so that the
// user-interface thread never waits for the disk. The caller builds the text; only the file work
// (".tmp", flush to the disk, ".bak", rename) happens here.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SessionWriteOutcome {
	std::string id;
	uint64_t ticket = 0;
	bool saved = false;
	int error = 0; // the C library's error number of a failed write
};

class SessionWriter {
public:
	// ready runs on the writer's thread when outcomes are there to take and none were before.
	explicit SessionWriter(std::function<void()> ready);
	// Finishes every queued write, then ends the thread.
	~SessionWriter();
	SessionWriter(const SessionWriter &) = delete;
	SessionWriter &operator=(const SessionWriter &) = delete;

	// Queues json for the file at path (writeSessionText). A write of the same id that has not
	// started yet gives way to this newer text and gets no outcome. Returns the outcome's ticket.
	uint64_t submit(const std::string &id, std::string path, std::string json);
	// Drops the queued writes of the id and waits for one of it in progress; true when any was dropped.
	bool drop(const std::string &id);
	// Returns once every write handed over before is done, its outcome there to take.
	void wait();
	// The outcomes since the last call, in the order the writes were done.
	std::vector<SessionWriteOutcome> takeOutcomes();

private:
	struct Job {
		std::string id;
		std::string path;
		std::string json;
		uint64_t ticket = 0;
	};
	void run();

	std::function<void()> ready;
	std::mutex mutex;
	std::condition_variable changed;
	std::deque<Job> queue;
	std::string writingId; // the id of the write in progress
	bool writing = false;
	bool stopping = false;
	uint64_t lastTicket = 0;
	std::vector<SessionWriteOutcome> outcomes;
	std::thread thread; // last, so that it starts once everything above exists
};
