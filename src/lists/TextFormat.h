#pragma once

#include "session/Session.h"
#include "util/Paths.h"

#include <array>
#include <cstdint>
#include <string>

// The localised words and templates of the lists. The built-in texts say what each field holds;
// exportTextsFromLocale() replaces every one with the locale's text.
struct ExportTexts {
	std::string word;
	std::array<std::string, 7> kind_names; // by EntryKind
	std::string csv_header;
	std::string csv_yes;
	std::string csv_no;
	std::string notes_title;
	std::string notes_archive;
	std::string notes_shift;
	std::string notes_range;
	std::string notes_file;
	std::string notes_no_file;
	std::string notes_before_cut;
	std::string notes_empty;
};

// Locale keys of the list file names and the quotes header; those of ExportTexts are in its table.
namespace ListText {
extern const char *const FileTimestamps;
extern const char *const FileList;
extern const char *const FileNotes;
extern const char *const FileQuotes;
extern const char *const QuotesHeader;
extern const char *const FileHighlights;
} // namespace ListText

// Every field looked up by its key through moduleText (the key itself when the locale lacks it).
ExportTexts exportTextsFromLocale();

// offset - shift_ms, held inside the 64-bit range (values from edited files may be anything).
int64_t archiveOffset(const Session &session, int64_t offsetMs);

// "MM:SS" below an hour, "H:MM:SS" from there; negative values read as 0, fractions cut off.
std::string formatOffset(int64_t ms);
// "H-MM-SS", for file names.
std::string formatOffsetForFile(int64_t ms);
// The same texts appended to out, for builders of long lists.
void appendOffset(std::string &out, int64_t ms);
void appendArchiveTime(std::string &out, const Session &session, int64_t offsetMs, const ExportTexts &texts);
void appendTemplate(std::string &out, const std::string &tmpl, const std::string &first,
		    const std::string &second = {});
void appendCsvField(std::string &out, const std::string &text);

// formatOffset of offset - shift_ms, or notes_before_cut when that is negative.
std::string archiveTimeText(const Session &session, int64_t offsetMs, const ExportTexts &texts);

// "S", "M:SS" or "H:MM:SS" with an optional sign; blanks anywhere and full-width digits, colon and
// minus are accepted. False (out untouched) for anything else.
bool parseTimeText(const std::string &text, int64_t &outMs);

// Replaces every "%1" and "%2"; any other '%' stays.
std::string fillTemplate(const std::string &tmpl, const std::string &first, const std::string &second = {});

std::string pressLabel(const ExportTexts &texts, int32_t number);
// Empty for a kind outside the known ones.
std::string kindName(const ExportTexts &texts, EntryKind kind);
// "song" and "topic" (ASCII case ignored); everything else is External.
EntryKind kindFromText(const std::string &text);
// Empty or only spaces, tabs, CR and LF.
bool isBlank(const std::string &text);
// A press whose label the user wrote: not blank and not a default label in the current word or in
// either shipped word.
bool hasOwnLabel(const Entry &entry, const ExportTexts &texts);

// One CSV field, quoted when it holds a comma, quote, CR or LF.
std::string csvField(const std::string &text);
// Safe as a Windows file name: control characters become spaces, forbidden characters their
// full-width forms, at most 150 bytes and never cut inside a character.
std::string sanitizeFileName(const std::string &text);
// "<prefix> <default name> <H-MM-SS>[ <label>]", sanitised; no extension.
std::string clipBaseName(const Session &session, const Entry &entry, const ExportTexts &texts);

// The video id of a YouTube address, or empty.
std::string videoIdOf(const std::string &url);
// A link that opens the archive at the given second; empty for a blank address.
std::string archiveLink(const std::string &url, int64_t seconds);
// archiveLink for many seconds of one address; the address is looked at once.
class ArchiveLinker {
public:
	explicit ArchiveLinker(const std::string &url);
	bool isBlank() const { return blank; }
	void append(std::string &out, int64_t seconds) const;

private:
	bool blank = true;
	std::string head; // everything before the seconds
	std::string tail; // the fragment, when the address itself is used
};

// offset - lookBack (look-back held to 0..60 s), never below 0.
int64_t backdatedOffset(int64_t offsetMs, int64_t lookBackMs);
