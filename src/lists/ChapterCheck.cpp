#include "lists/ChapterCheck.h"

#include "lists/Lists.h"
#include "lists/TextFormat.h"

namespace {
// YouTube turns a description's times into chapters only when there are at least three, the first at
// 0:00, and each lasts ten seconds or more.
const int64_t kMinChapterSec = 10;
const size_t kMinChapters = 3;

int64_t archiveEndSec(const Session &session)
{
	return archiveOffset(session, session.length_ms) / 1000;
}
} // namespace

std::vector<ChapterIssue> checkChapters(const Session &session)
{
	std::vector<ChapterIssue> issues;
	const std::vector<Chapter> rows = chapterList(session);
	const size_t n = rows.size();
	if (n < kMinChapters)
		issues.push_back({ChapterIssueCode::TooFew, 0, int64_t(n)});
	if (n >= 1 && rows[0].offset_ms / 1000 != 0)
		issues.push_back({ChapterIssueCode::FirstNotZero, 0, rows[0].offset_ms / 1000});
	for (size_t i = 0; i < n; ++i) {
		if (isBlank(rows[i].title))
			issues.push_back({ChapterIssueCode::EmptyLabel, int64_t(i), 0});
		int64_t end;
		if (i + 1 < n)
			end = rows[i + 1].offset_ms / 1000;
		else if (session.isEnded())
			end = archiveEndSec(session);
		else
			continue;
		const int64_t length = end - rows[i].offset_ms / 1000;
		if (length >= 0 && length < kMinChapterSec)
			issues.push_back({ChapterIssueCode::TooShort, int64_t(i), length});
	}
	return issues;
}

std::vector<int64_t> shortChaptersToDrop(const Session &session)
{
	struct Kept {
		int64_t id;
		int64_t sec;
	};
	std::vector<Kept> stack;
	std::vector<int64_t> drop;
	for (const Chapter &row : chapterList(session)) {
		const int64_t startSec = row.offset_ms / 1000;
		while (stack.size() >= 2 && startSec - stack.back().sec < kMinChapterSec) {
			drop.push_back(stack.back().id);
			stack.pop_back();
		}
		if (!stack.empty() && startSec - stack.back().sec < kMinChapterSec)
			drop.push_back(row.id);
		else
			stack.push_back({row.id, startSec});
	}
	if (session.isEnded()) {
		const int64_t endSec = archiveEndSec(session);
		while (stack.size() >= 2 && endSec - stack.back().sec < kMinChapterSec) {
			drop.push_back(stack.back().id);
			stack.pop_back();
		}
	}
	return drop;
}
