#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QScreen;
class QSettings;
class QTextDocument;

namespace quillmar {

class NoteDocument;

// What the prompter window keeps in "settings.ini", section "prompter".
struct PrompterSettings {
	static constexpr int MinTypeSize = 16;
	static constexpr int MaxTypeSize = 160;
	static constexpr int DefaultTypeSize = 48;

	bool mirrorHorizontal = false;
	bool mirrorVertical = false;
	int typeSize = DefaultTypeSize; // points of the note's ordinary text
	bool fullScreen = false;
	QString screen; // QScreen::name() of the full-screen screen

	// Values out of range or of the wrong type read as the defaults.
	static PrompterSettings read(const QSettings &settings);
	void write(QSettings &settings) const;
};

// Where the top of the text goes in a view of viewHeight: the same fraction of its way as the
// dock shows of its own range, so both reach the end together however differently they wrap.
double prompterTextTop(double fraction, double contentHeight, int viewHeight, double lineHeight);

// A second view of the dock's note for a monitor under a teleprompter's glass: large white type
// on black, mirrored as the glass needs, with the reading band, following the dock's scroll
// position. It is a top-level window of its own; closing it leaves the dock as it was.
class PrompterWindow : public QWidget {
	Q_OBJECT

public:
	explicit PrompterWindow(QSettings *settings);
	~PrompterWindow() override;

	// The note to show; followed as it changes (after a short pause in typing).
	void setSource(const QTextDocument *document);
	// Copies the source at once rather than after the pause.
	void refreshDocument();
	void setFraction(double fraction);
	double fraction() const { return m_fraction; }
	void setReadingBand(bool shown);

	const PrompterSettings &prompterSettings() const { return m_prefs; }
	void setMirror(bool horizontal, bool vertical);
	void setTypeSize(int points);
	// Full screen on the named screen, as the host's projectors do; windowed when it is gone.
	void showFullScreenOn(QScreen *screen);
	void leaveFullScreen();
	// Shows the window as the settings last left it.
	void present();

	QString shownText() const;
	// The text's scroll offset in view pixels, and the frame as it is painted.
	double scrollOffset() const;
	QImage renderFrame();

protected:
	void paintEvent(QPaintEvent *event) override;
	void resizeEvent(QResizeEvent *event) override;
	void keyPressEvent(QKeyEvent *event) override;
	void contextMenuEvent(QContextMenuEvent *event) override;

private:
	void store();
	void relayout();
	double scale() const;

	QSettings *m_settings;
	PrompterSettings m_prefs;
	QPointer<const QTextDocument> m_source;
	NoteDocument *m_document;
	QTimer m_refreshTimer;
	double m_fraction = 0.0;
	bool m_readingBand = true;
	int m_layoutWidth = -1;
};

} // namespace quillmar
