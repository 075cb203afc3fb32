#pragma once

#include "lists/TextFormat.h"
#include "session/Session.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// One row of the chapter list, in archive time.
struct Chapter {
	int64_t id = 0;
	int64_t offset_ms = 0; // never negative
	std::string title;
};

// Chapter entries in archive time. Of the chapters before the archive's 0:00 only the last one
// stays, moved to 0:00, and only when no chapter lies within the archive's first second.
std::vector<Chapter> chapterList(const Session &session);
// "MM:SS title" lines joined by the separator, none after the last.
std::string chapterText(const Session &session, const std::string &separator);
// The CSV list without its byte order mark; every line ends in CR LF.
std::string buildCsvText(const Session &session, const ExportTexts &texts);
std::string buildNotesText(const Session &session, const ExportTexts &texts);
// The session's quote lines (CR LF each), empty when it has none.
std::string buildQuotesText(const Session &session, const ExportTexts &texts);
// The quotes file: a header and the quote lines of every session that has quotes, newest session
// first (equal start times: greater id first), each block followed by an empty line.
std::string buildQuotesFileText(std::vector<const Session *> sessions, const ExportTexts &texts);

// Where the lists go: the session's export_dir, the export_dir setting, the frontend's recording
// folder, the user's video folder; the first that is not empty.
QString exportFolder(const Session &session);

// File names of the three lists inside the export folder.
QString timestampsFileName(const Session &session);
QString csvFileName(const Session &session);
QString notesFileName(const Session &session);
QString quotesFileName();

// Writes the timestamps, CSV and notes files of the session; returns the paths written, in that
// order. A complete export records its folder in the session's export_dir.
QStringList writeLists(Session &session, const ExportTexts &texts);
// Writes the quotes file of these sessions (see buildQuotesFileText); its path, or empty.
QString writeQuotesFile(std::vector<const Session *> sessions, const ExportTexts &texts);
