#include "session/SessionWriter.h"

#include "session/SessionStore.h"

#include <algorithm>

SessionWriter::SessionWriter(std::function<void()> readyCall) : ready(std::move(readyCall)), thread([this] { run(); })
{
}

SessionWriter::~SessionWriter()
{
	{
		std::lock_guard<std::mutex> lock(mutex);
		stopping = true;
	}
	changed.notify_all();
	thread.join();
}

uint64_t SessionWriter::submit(const std::string &id, std::string path, std::string json)
{
	uint64_t ticket;
	{
		std::lock_guard<std::mutex> lock(mutex);
		// Only the newest text of a session matters; the rest of the queue keeps its order.
		queue.erase(std::remove_if(queue.begin(), queue.end(), [&id](const Job &job) { return job.id == id; }),
			    queue.end());
		ticket = ++lastTicket;
		queue.push_back({id, std::move(path), std::move(json), ticket});
	}
	changed.notify_all();
	return ticket;
}

bool SessionWriter::drop(const std::string &id)
{
	std::unique_lock<std::mutex> lock(mutex);
	const size_t before = queue.size();
	queue.erase(std::remove_if(queue.begin(), queue.end(), [&id](const Job &job) { return job.id == id; }),
		    queue.end());
	const bool dropped = queue.size() != before;
	changed.wait(lock, [this, &id] { return !writing || writingId != id; });
	return dropped;
}

void SessionWriter::wait()
{
	std::unique_lock<std::mutex> lock(mutex);
	changed.wait(lock, [this] { return queue.empty() && !writing; });
}

std::vector<SessionWriteOutcome> SessionWriter::takeOutcomes()
{
	std::lock_guard<std::mutex> lock(mutex);
	std::vector<SessionWriteOutcome> taken;
	taken.swap(outcomes);
	return taken;
}

void SessionWriter::run()
{
	std::unique_lock<std::mutex> lock(mutex);
	for (;;) {
		changed.wait(lock, [this] { return stopping || !queue.empty(); });
		if (queue.empty())
			return;
		Job job = std::move(queue.front());
		queue.pop_front();
		writing = true;
		writingId = job.id;
		lock.unlock();

		SessionWriteOutcome outcome{std::move(job.id), job.ticket, false, 0};
		outcome.saved = writeSessionText(job.path, job.json, &outcome.error);
		std::string().swap(job.json); // freed before the owner hears of it and hands pages back

		lock.lock();
		const bool first = outcomes.empty();
		outcomes.push_back(std::move(outcome));
		if (first && ready) {
			// Not under the lock: the call posts to another thread, which may be taking outcomes.
			lock.unlock();
			ready();
			lock.lock();
		}
		// Only now, so that a wait returns with the outcome there and its owner told.
		writing = false;
		writingId.clear();
		changed.notify_all();
	}
}
