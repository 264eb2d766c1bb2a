#pragma once

#include "editor/note_limits.h"

#include <QJsonObject>
#include <QString>

class QTextDocument;

namespace quillmar {

// The block document: the JSON form in which remote clients read and write notes.
// {"blocks": [block...], "editable": bool}; a block is {"align", "indent", "list", "listIndent",
// "listGroup", "listStart", "runs"}, a run is {"text", "weight", "italic", "underline", "strike",
// "size", "family", "color", "background"}. All functions are stateless and run on the UI thread.

// Beyond the note limits (editor/note_limits.h), a bound on the runs a block document carries.
constexpr int kMaxNoteRuns = 100000;

// The block document of a whole text document, or an empty object when the document exceeds the
// note limits or holds more than kMaxNoteRuns fragments. "resolved" fills in the family and size
// the text is actually shown with, drops what the model cannot carry (transparent or patterned
// colours, object characters) and keeps every value inside the range a client may send back.
QJsonObject documentToBlocks(const QTextDocument &document, bool resolved);

// documentToBlocks of the note HTML, unresolved.
QJsonObject htmlToBlocks(const QString &html);

// Applies a block document sent by a client to the stored note, changing as little of the stored
// rich text as possible. On success newHtml is the note to store (currentHtml itself when nothing
// changed). On failure newHtml is left alone, *limitExceeded tells a note over the limits from a
// malformed document, and *error gets a readable reason.
bool applyBlocks(const QString &currentHtml, const QJsonObject &incoming, QString &newHtml,
		 bool *limitExceeded = nullptr, QString *error = nullptr);

// Rebuilds the document from its resolved block document: only what the remote editor can show
// remains. On failure outHtml is left alone.
bool convertToBasic(const QTextDocument &document, QString &outHtml, QString *error = nullptr);

// The note's plain text, paragraphs separated by "\n", object characters removed.
QString htmlToPlainText(const QString &html);

// Whether the block document describes the note completely, so that a remote save cannot lose
// anything the client never saw.
bool isRemoteEditable(const QTextDocument &document);

} // namespace quillmar
