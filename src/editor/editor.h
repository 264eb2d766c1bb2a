#pragma once

#include "editor/note_limits.h"

#include <QTextEdit>

#include <functional>

class QMimeData;

namespace quillmar {

// Type sizes the zoom and the font-size box allow, and the line height every paragraph gets.
inline constexpr int kMinPointSize = 6;
inline constexpr int kMaxPointSize = 144;
inline constexpr qreal kDefaultLineHeight = 140;

// The note's editing surface: refuses every edit that would break the note limits, numbers
// paragraphs in a gutter on its left and zooms with Ctrl and the wheel.
class Editor : public QTextEdit {
	Q_OBJECT

public:
	using LimitHandler = std::function<void()>;

	explicit Editor(QWidget *parent = nullptr);
	~Editor() override;

	// Called once for every edit refused by the note limits.
	void setLimitHandler(LimitHandler handler);

	// Whether replacing the selection of cursor (a cursor on this editor's document) with text
	// keeps the note limits; an empty text deletes the selection. Calls the limit handler on no.
	bool checkInsertion(const QTextCursor &cursor, const QString &text);

	// Loads a note; an empty note gets the default line height without an undo step.
	void setNoteHtml(const QString &html);

	// Changes the size of every character by points, within 6 to 144 points, as one undo step.
	void zoomBy(int points);

	bool searchMatch() const { return m_searchMatch; }
	void setSearchMatch(bool match);

	// Reserves the right margin of the view for the remote QR button.
	void setQrMargin(bool shown);

	// Edits with the limit check, for the dock's menus; each answers whether it changed the note.
	bool checkedCut();
	bool checkedDelete();
	bool checkedInsertPlainText(const QString &text);

protected:
	bool event(QEvent *e) override;
	bool eventFilter(QObject *watched, QEvent *e) override;
	void wheelEvent(QWheelEvent *e) override;
	void keyPressEvent(QKeyEvent *e) override;
	void resizeEvent(QResizeEvent *e) override;
	void dropEvent(QDropEvent *e) override;
	void changeEvent(QEvent *e) override;
	void inputMethodEvent(QInputMethodEvent *e) override;
	void insertFromMimeData(const QMimeData *source) override;

private:
	void refuse();
	void applyDefaultLineHeight();
	void updateGutterWidth();
	void paintGutter(const QRect &area);

	LimitHandler m_limitHandler;
	QWidget *m_gutter = nullptr;
	qint32 m_wheelRemainder = 0;
	bool m_restyling = false;
	bool m_searchMatch = false;
};

} // namespace quillmar
