#include "playback/ClipProbe.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <filesystem>
#endif

namespace {

constexpr uint64_t kByteBudget = 4194304;
constexpr uint64_t kHeaderBudget = 65536;

// Bounded big-endian reads over a file or a buffer. Every read and every header is counted, so a
// file that claims huge sizes or endless boxes costs at most the budget.
class Reader {
public:
	virtual ~Reader() = default;
	uint64_t size() const { return size_; }

	bool readBE(uint64_t pos, unsigned n, uint64_t &out)
	{
		if (n < 1 || n > 8 || pos > size_ || n > size_ - pos)
			return false;
		if (n > kByteBudget - bytesRead_)
			return false;
		bytesRead_ += n;
		unsigned char buf[8];
		if (!fetch(pos, buf, n))
			return false;
		uint64_t v = 0;
		for (unsigned i = 0; i < n; ++i)
			v = (v << 8) | buf[i];
		out = v;
		return true;
	}

	bool countHeader()
	{
		if (headers_ >= kHeaderBudget)
			return false;
		++headers_;
		return true;
	}

protected:
	virtual bool fetch(uint64_t pos, unsigned char *buf, unsigned n) = 0;
	uint64_t size_ = 0;

private:
	uint64_t bytesRead_ = 0;
	uint64_t headers_ = 0;
};

class MemoryReader : public Reader {
public:
	MemoryReader(const unsigned char *data, size_t size) : data_(data) { size_ = size; }

protected:
	bool fetch(uint64_t pos, unsigned char *buf, unsigned n) override
	{
		std::memcpy(buf, data_ + pos, n);
		return true;
	}

private:
	const unsigned char *data_;
};

class FileReader : public Reader {
public:
	explicit FileReader(std::FILE *f) : f_(f)
	{
		if (seek(0, SEEK_END)) {
			long long end = tell();
			size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
		}
	}

protected:
	bool fetch(uint64_t pos, unsigned char *buf, unsigned n) override
	{
		if (pos > static_cast<uint64_t>(INT64_MAX) || !seek(static_cast<long long>(pos), SEEK_SET))
			return false;
		return std::fread(buf, 1, n, f_) == n;
	}

private:
	bool seek(long long off, int whence)
	{
#ifdef _WIN32
		return _fseeki64(f_, off, whence) == 0;
#else
		return fseeko(f_, static_cast<off_t>(off), whence) == 0;
#endif
	}
	long long tell()
	{
#ifdef _WIN32
		return _ftelli64(f_);
#else
		return static_cast<long long>(ftello(f_));
#endif
	}
	std::FILE *f_;
};

ProbeResult rounded(double value)
{
	if (!std::isfinite(value) || value < 0.5 || value >= 9223372036854775808.0)
		return {};
	return {static_cast<long long>(std::floor(value + 0.5)), true};
}

// ISO base media ------------------------------------------------------------------------------------

struct Box {
	uint32_t type = 0;
	uint64_t content = 0;
	uint64_t end = 0;
};

constexpr uint32_t fourcc(const char (&s)[5])
{
	return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
	       uint32_t(uint8_t(s[3]));
}

bool readBox(Reader &r, uint64_t p, uint64_t e, Box &box)
{
	if (p > e || e - p < 8 || !r.countHeader())
		return false;
	uint64_t size32 = 0, type = 0;
	if (!r.readBE(p, 4, size32) || !r.readBE(p + 4, 4, type))
		return false;
	uint64_t size = 0, header = 8;
	if (size32 == 1) {
		if (e - p < 16 || !r.readBE(p + 8, 8, size))
			return false;
		header = 16;
	} else if (size32 == 0) {
		size = e - p;
	} else {
		size = size32;
	}
	if (size < header || size > e - p)
		return false;
	box.type = static_cast<uint32_t>(type);
	box.content = p + header;
	box.end = p + size;
	return true;
}

// Finds the first child of the given type between p and e; false on a bad header or when absent.
bool findBox(Reader &r, uint64_t p, uint64_t e, uint32_t type, Box &found)
{
	while (p < e) {
		Box box;
		if (!readBox(r, p, e, box))
			return false;
		if (box.type == type) {
			found = box;
			return true;
		}
		p = box.end;
	}
	return false;
}

ProbeResult probeIso(Reader &r)
{
	Box moov, mvhd;
	if (!findBox(r, 0, r.size(), fourcc("moov"), moov))
		return {};
	if (!findBox(r, moov.content, moov.end, fourcc("mvhd"), mvhd))
		return {};
	uint64_t version = 0;
	if (!r.readBE(mvhd.content, 1, version) || version >= 2)
		return {};
	const uint64_t length = mvhd.end - mvhd.content;
	uint64_t scale = 0, duration = 0;
	if (version == 0) {
		if (length < 20 || !r.readBE(mvhd.content + 12, 4, scale) || !r.readBE(mvhd.content + 16, 4, duration))
			return {};
		if (duration == 0xFFFFFFFFull)
			return {};
	} else {
		if (length < 32 || !r.readBE(mvhd.content + 20, 4, scale) || !r.readBE(mvhd.content + 24, 8, duration))
			return {};
		if (duration == ~0ull)
			return {};
	}
	if (scale == 0 || duration == 0)
		return {};
	return rounded(static_cast<double>(duration) * 1000.0 / static_cast<double>(scale));
}

// Matroska ------------------------------------------------------------------------------------------

constexpr uint64_t kEbmlId = 0x1A45DFA3, kSegmentId = 0x18538067, kInfoId = 0x1549A966;
constexpr uint64_t kTimecodeScaleId = 0x2AD7B1, kDurationId = 0x4489;

struct Element {
	uint64_t id = 0;
	uint64_t data = 0;
	uint64_t end = 0;
};

// Reads a variable-length integer; ids keep their marker bit, sizes lose it.
bool readVint(Reader &r, uint64_t p, unsigned maxLength, bool keepMarker, uint64_t &value, unsigned &length)
{
	uint64_t first = 0;
	if (!r.readBE(p, 1, first) || first == 0)
		return false;
	unsigned n = 1;
	while (!(first & (0x80u >> (n - 1))))
		++n;
	if (n > maxLength)
		return false;
	uint64_t v = keepMarker ? first : (first & (0xFFu >> n));
	if (n > 1) {
		uint64_t rest = 0;
		if (!r.readBE(p + 1, n - 1, rest))
			return false;
		v = (v << (8 * (n - 1))) | rest;
	}
	value = v;
	length = n;
	return true;
}

bool readElement(Reader &r, uint64_t p, uint64_t e, Element &el)
{
	if (p >= e || !r.countHeader())
		return false;
	uint64_t id = 0, size = 0;
	unsigned idLen = 0, sizeLen = 0;
	if (!readVint(r, p, 4, true, id, idLen))
		return false;
	if (!readVint(r, p + idLen, 8, false, size, sizeLen))
		return false;
	const uint64_t allOnes = (sizeLen == 8) ? ((1ull << 56) - 1) : ((1ull << (7 * sizeLen)) - 1);
	if (size == allOnes)
		return false;
	const uint64_t data = p + idLen + sizeLen;
	if (data > e || size > e - data)
		return false;
	el.id = id;
	el.data = data;
	el.end = data + size;
	return true;
}

bool findElement(Reader &r, uint64_t p, uint64_t e, uint64_t id, Element &found)
{
	while (p < e) {
		Element el;
		if (!readElement(r, p, e, el))
			return false;
		if (el.id == id) {
			found = el;
			return true;
		}
		p = el.end;
	}
	return false;
}

ProbeResult probeMatroska(Reader &r)
{
	Element ebml, segment, info;
	if (!readElement(r, 0, r.size(), ebml) || ebml.id != kEbmlId)
		return {};
	if (!findElement(r, ebml.end, r.size(), kSegmentId, segment))
		return {};
	if (!findElement(r, segment.data, segment.end, kInfoId, info))
		return {};

	uint64_t scale = 1000000;
	bool haveDuration = false;
	double duration = 0;
	for (uint64_t p = info.data; p < info.end;) {
		Element el;
		if (!readElement(r, p, info.end, el))
			return {};
		const uint64_t len = el.end - el.data;
		if (el.id == kTimecodeScaleId) {
			if (len < 1 || len > 8 || !r.readBE(el.data, static_cast<unsigned>(len), scale) || scale == 0)
				return {};
		} else if (el.id == kDurationId) {
			uint64_t bits = 0;
			if (len == 4) {
				if (!r.readBE(el.data, 4, bits))
					return {};
				float f;
				const uint32_t b32 = static_cast<uint32_t>(bits);
				std::memcpy(&f, &b32, 4);
				duration = f;
			} else if (len == 8) {
				if (!r.readBE(el.data, 8, bits))
					return {};
				std::memcpy(&duration, &bits, 8);
			} else {
				return {};
			}
			haveDuration = true;
		}
		p = el.end;
	}
	if (!haveDuration)
		return {};
	return rounded(duration * static_cast<double>(scale) / 1000000.0);
}

ProbeResult probeWith(Reader &r, const std::string &extension)
{
	if (r.size() == 0)
		return {};
	if (extension == ".mkv")
		return probeMatroska(r);
	if (extension == ".mp4" || extension == ".mov")
		return probeIso(r);
	return {};
}

bool supported(const std::string &extension)
{
	return extension == ".mkv" || extension == ".mp4" || extension == ".mov";
}

} // namespace

std::string clipExtension(const std::string &path)
{
	size_t slash = path.find_last_of("/\\");
	std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
	size_t colon = name.find(':');
	if (colon != std::string::npos)
		name.resize(colon);
	if (name == "." || name == "..")
		return {};
	size_t dot = name.rfind('.');
	if (dot == std::string::npos || dot == 0)
		return {};
	std::string ext = name.substr(dot);
	for (char &c : ext)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return ext;
}

ProbeResult probeClipBytes(const unsigned char *data, size_t size, const std::string &extension)
{
	const std::string ext = clipExtension("clip" + extension);
	if (!data || !supported(ext))
		return {};
	MemoryReader r(data, size);
	return probeWith(r, ext);
}

namespace {
ProbeResult probeFile(std::FILE *f, const std::string &extension)
{
	if (!f)
		return {};
	FileReader r(f);
	ProbeResult result = probeWith(r, extension);
	std::fclose(f);
	return result;
}
} // namespace

ProbeResult probeClipDuration(const std::string &path)
{
	const std::string ext = clipExtension(path);
	if (!supported(ext))
		return {};
#ifdef _WIN32
	return probeFile(_wfopen(std::filesystem::u8path(path).c_str(), L"rb"), ext);
#else
	return probeFile(std::fopen(path.c_str(), "rb"), ext);
#endif
}

#ifdef _WIN32
ProbeResult probeClipDuration(const std::wstring &path)
{
	const std::string ext = clipExtension(std::filesystem::path(path).u8string());
	if (!supported(ext))
		return {};
	return probeFile(_wfopen(path.c_str(), L"rb"), ext);
}
#endif
