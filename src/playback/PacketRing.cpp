#include "playback/PacketRing.h"

#include <algorithm>
#include <utility>

namespace {
// Longer than any sound frame of OBS's encoders.
constexpr int64_t kSoundLeadUsec = 100000;

bool keptTrack(const encoder_packet &p)
{
	return p.track_idx == 0 && (p.type == OBS_ENCODER_VIDEO || p.type == OBS_ENCODER_AUDIO);
}
} // namespace

PacketSnapshot::PacketSnapshot(PacketSnapshot &&other) noexcept
    : packets(std::move(other.packets)), firstUsec(other.firstUsec), lastUsec(other.lastUsec),
      newestSysUsec(other.newestSysUsec), nextSeq(other.nextSeq), run(other.run)
{
	other.packets.clear();
}

PacketSnapshot &PacketSnapshot::operator=(PacketSnapshot &&other) noexcept
{
	if (this != &other) {
		release();
		packets = std::move(other.packets);
		other.packets.clear();
		firstUsec = other.firstUsec;
		lastUsec = other.lastUsec;
		newestSysUsec = other.newestSysUsec;
		nextSeq = other.nextSeq;
		run = other.run;
	}
	return *this;
}

PacketSnapshot::~PacketSnapshot()
{
	release();
}

void PacketSnapshot::release()
{
	for (encoder_packet &p : packets)
		obs_encoder_packet_release(&p);
	packets.clear();
}

PacketRing::~PacketRing()
{
	clear();
}

void PacketRing::setKeepUsec(int64_t usec)
{
	std::lock_guard<std::mutex> guard(lock);
	keepUsec = usec > 0 ? usec : 0;
	trimLocked();
}

void PacketRing::clear()
{
	std::lock_guard<std::mutex> guard(lock);
	for (encoder_packet &p : packets)
		obs_encoder_packet_release(&p);
	firstSeq += packets.size();
	packets.clear();
	keyframes.clear();
	newestUsec = newestSysUsec = 0;
	bytes = 0;
	++runNumber;
}

void PacketRing::push(encoder_packet *packet)
{
	if (!packet || !packet->data || !keptTrack(*packet))
		return;
	const bool video = packet->type == OBS_ENCODER_VIDEO;
	std::lock_guard<std::mutex> guard(lock);
	// Nothing before the first keyframe can be played.
	if (keyframes.empty() && !(video && packet->keyframe))
		return;
	encoder_packet held;
	obs_encoder_packet_ref(&held, packet);
	packets.push_back(held);
	bytes += held.size;
	if (!video)
		return;
	if (held.keyframe)
		keyframes.push_back(held.dts_usec);
	if (held.dts_usec >= newestUsec || keyframes.size() == 1) {
		newestUsec = held.dts_usec;
		newestSysUsec = held.sys_dts_usec;
	}
	trimLocked();
}

void PacketRing::trimLocked()
{
	const int64_t cut = newestUsec - keepUsec;
	if (keyframes.size() < 2 || keyframes[1] > cut)
		return;
	while (keyframes.size() >= 2 && keyframes[1] <= cut)
		keyframes.pop_front();
	const int64_t first = keyframes.front();
	while (!packets.empty()) {
		encoder_packet &p = packets.front();
		if (p.type == OBS_ENCODER_VIDEO ? (p.keyframe && p.dts_usec == first)
						: p.dts_usec >= first - kSoundLeadUsec)
			break;
		bytes -= p.size;
		obs_encoder_packet_release(&p);
		packets.pop_front();
		++firstSeq;
	}
}

PacketSnapshot PacketRing::snapshot(int64_t usec) const
{
	PacketSnapshot snap;
	std::lock_guard<std::mutex> guard(lock);
	if (keyframes.empty())
		return snap;
	const int64_t target = newestUsec - usec;
	int64_t start = keyframes.front();
	for (int64_t k : keyframes) {
		if (k > target)
			break;
		start = k;
	}
	// The sound frames just before the keyframe go along: the one under its picture starts the file.
	const int64_t soundFrom = start - kSoundLeadUsec;
	size_t first = 0;
	while (first < packets.size() && !(packets[first].type == OBS_ENCODER_VIDEO && packets[first].keyframe &&
					   packets[first].dts_usec == start))
		++first;
	if (first == packets.size())
		return snap;
	size_t from = first;
	while (from > 0 && packets[from - 1].dts_usec >= soundFrom)
		--from;
	snap.packets.reserve(packets.size() - from);
	for (size_t i = from; i < packets.size(); ++i) {
		const encoder_packet &p = packets[i];
		const bool video = p.type == OBS_ENCODER_VIDEO;
		if (video ? i < first : p.dts_usec < soundFrom)
			continue;
		encoder_packet ref;
		obs_encoder_packet_ref(&ref, const_cast<encoder_packet *>(&p));
		snap.packets.push_back(ref);
	}
	snap.firstUsec = start;
	snap.lastUsec = newestUsec;
	snap.newestSysUsec = newestSysUsec;
	snap.nextSeq = firstSeq + packets.size();
	snap.run = runNumber;
	return snap;
}

bool PacketRing::since(uint64_t run, uint64_t seq, PacketSnapshot &out) const
{
	out = PacketSnapshot();
	std::lock_guard<std::mutex> guard(lock);
	if (run != runNumber)
		return false;
	const uint64_t end = firstSeq + packets.size();
	for (uint64_t i = std::max(seq, firstSeq); i < end; ++i) {
		encoder_packet ref;
		obs_encoder_packet_ref(&ref, const_cast<encoder_packet *>(&packets[i - firstSeq]));
		out.packets.push_back(ref);
	}
	out.nextSeq = end;
	out.run = run;
	out.newestSysUsec = newestSysUsec;
	return true;
}

int64_t PacketRing::heldUsec() const
{
	std::lock_guard<std::mutex> guard(lock);
	return keyframes.empty() ? 0 : newestUsec - keyframes.front();
}

size_t PacketRing::heldBytes() const
{
	std::lock_guard<std::mutex> guard(lock);
	return bytes;
}

int64_t PacketRing::newestSys() const
{
	std::lock_guard<std::mutex> guard(lock);
	return keyframes.empty() ? 0 : newestSysUsec;
}

size_t PacketRing::size() const
{
	std::lock_guard<std::mutex> guard(lock);
	return packets.size();
}
