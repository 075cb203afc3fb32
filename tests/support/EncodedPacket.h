#pragma once

// Encoded packets as libobs hands them to outputs: data with its reference count in front of it.

#include <obs.h>
#include <util/bmem.h>

#include <cstring>

// dts_usec and sys_dts_usec follow from dts in the timebase 1/den; data null gives zeros.
inline encoder_packet refcountedPacket(obs_encoder_type type, const uint8_t *data, size_t size, int64_t pts,
				       int64_t dts, int den, bool keyframe)
{
	auto *refs = static_cast<long *>(bmalloc(size + sizeof(long)));
	*refs = 1;
	encoder_packet p = {};
	p.data = reinterpret_cast<uint8_t *>(refs + 1);
	if (data)
		std::memcpy(p.data, data, size);
	else
		std::memset(p.data, 0, size);
	p.size = size;
	p.type = type;
	p.keyframe = keyframe;
	p.pts = pts;
	p.dts = dts;
	p.timebase_num = 1;
	p.timebase_den = den;
	p.dts_usec = p.sys_dts_usec = dts * 1000000 / den;
	return p;
}
