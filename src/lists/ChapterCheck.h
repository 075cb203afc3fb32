#pragma once

#include "session/Session.h"

#include <cstdint>
#include <vector>

// The video platform's chapter rules, in the order findings are reported.
enum class ChapterIssueCode : int32_t { TooFew = 0, FirstNotZero = 1, TooShort = 2, EmptyLabel = 3 };

struct ChapterIssue {
	ChapterIssueCode problem = ChapterIssueCode::TooFew;
	int64_t index = 0; // row of chapterList; 0 for findings about the whole list
	int64_t sec = 0;   // seconds, or the number of chapters for TooFew
};

// Findings for the session's chapter list: TooFew, FirstNotZero, then per row EmptyLabel before
// TooShort. Empty when the list is valid. The last chapter is measured only once the session ended.
std::vector<ChapterIssue> checkChapters(const Session &session);

// Ids of chapter entries to clear so that no chapter lasts under ten seconds; a later chapter wins
// over the one just before it, and the first chapter always stays.
std::vector<int64_t> shortChaptersToDrop(const Session &session);
