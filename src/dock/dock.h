#pragma once

#include "dock/scroll_motion.h"
#include "dock/search_match.h"
#include "storage/note_store.h"

#include <obs-frontend-api.h>
#include <obs.h>
#include <obs.hpp>

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QDoubleSpinBox;
class QFrame;
class QLabel;
class QLineEdit;
class QSettings;
class QSlider;
class QSpinBox;
class QToolBar;
class QToolButton;
class QDialog;
class QFormLayout;

namespace quillmar {

class DockDialogs;
class Editor;
class PrompterWindow;
class ReadingBand;
class Remote;

// The one panel the module adds to the host's main window: it shows the note of the scene the
// host shows and saves every change.
class Dock : public QWidget {
	Q_OBJECT

public:
	Dock(const QString &settingsPath, QWidget *parent = nullptr);
	~Dock() override;

	QSettings *settings() const { return m_settings; }
	NoteStore &noteStore() { return m_store; }
	Editor *editor() const { return m_editor; }
	bool isClosing() const { return m_closing; }
	bool isDirty() const { return m_dirty; }
	bool hasLoadError() const { return m_loadError; }
	bool isLocked() const { return m_locked; }
	bool isRemoteEditing() const { return m_remoteEditing; }
	bool isRestoring() const { return m_restoring; }
	bool isCollectionReady() const { return m_collectionReady; }
	QString currentSceneUuid() const { return m_currentUuid; }
	QString statusMessage() const;

	// Host integration.
	void onFrontendEvent(enum obs_frontend_event event);
	void onSceneRenamed(obs_source_t *scene);
	void runHotkeyAction(int action);
	// What the time, mark and next-mark tools, keys and hotkeys end in; each does nothing unless
	// the note may be edited (the next mark only needs a note).
	void insertTime();
	void insertMark();
	void goToNextMark();
	// A paragraph number or "n%"; false, changing nothing, when it is out of range.
	bool goTo(const QString &text);
	void postLoad();

	// Scene tracking and saving.
	void syncToFrontendScene();
	void showSceneNote(obs_source_t *scene);
	// Restarted by every edit; saves when it runs out. Open so that tests can end the delay.
	QTimer &autosaveTimer() { return m_autosaveTimer; }
	bool saveNote(bool saveCollection, bool report);
	// After the host saved the collection: a link written during that save missed its data, so
	// the collection is saved once more when control returns to the event loop.
	void scheduleCollectionSave();
	void setLocked(bool on);
	void setRemoteEditing(bool on);
	bool applyRemoteNote(obs_source_t *scene, const QString &html);
	// A backup restore brackets its work with these; host events meanwhile are followed at the end.
	void beginRestore();
	void endRestore();

	void rememberReadingPosition();
	void storeReadingPositions();

	// Runs once: later calls do nothing.
	void shutdown();

	// Status line: the message hides behind the "]" after the scene name.
	void setStatus(const QString &message);
	void showSaveError(const QString &detail);
	void hideSaveError();
	void updateCharacterCount();
	// Also refreshes the character count and what updateScrollStatus shows.
	void updateDocumentStatus();
	// The scroll percentage, the time left and the position remote readers follow.
	void updateScrollStatus();
	// The time the teleprompter needs to the end at the current speed; hidden when the note fits.
	void updateTimeLeft();

	// Layout and theme; both wait until the dock is first shown.
	void applyTheme();
	void applySizeRules();
	void updateToolEnabling();
	bool bottomControlsStacked() const;
	// Shown while the remote service listens; it sits in a margin the editor keeps free.
	void showRemoteQrButton(bool shown);
	void setScrollSpeed(double speed);
	double scrollSpeed() const { return m_scrollSpeedValue; }

	// Teleprompter.
	bool isScrolling() const { return m_scrollTimer.isActive(); }
	bool isCountingDown() const { return m_countdownTimer.isActive(); }
	bool isScrollingOrCountingDown() const;
	// Time as the teleprompter measures it; tests hand it a clock of their own.
	void setScrollClock(MonotonicClock clock) { m_motion.setClock(std::move(clock)); }

	// The remote service (dock_remote.cpp): what its actions need of the dock.
	Remote *remote() const { return m_remote; }

	// Auto-clear settings as read at construction (an out-of-range day count reads as 0).
	int autoClearDays() const { return m_autoClearDays; }
	bool autoClearAll() const { return m_autoClearAll; }
	QSet<QString> autoClearScenes() const { return m_autoClearScenes; }
	// The time auto-clear measures a note's age against (UTC); tests move it.
	void setAutoClearClock(std::function<QDateTime()> clock);

	// Import and export (dock_import.cpp). replaceNote is one undo step; a failed save undoes it.
	bool replaceNote(const QString &html, const char *titleKey, const char *promptKey, bool report);
	void importDocument();
	void exportDocument();
	void convertToBasicFormat();

	// Backup and restore (dock_backup.cpp).
	void runWithProgress(const QString &label, const std::function<void()> &job);
	void backup(bool all);
	void restoreBackup();

	// The prompter window (dock_prompter.cpp): a second view of the note for a monitor under a
	// teleprompter's glass; null while closed.
	void openPrompterWindow();
	PrompterWindow *prompterWindow() const;

	// Context menu and about dialog (dock_menu.cpp).
	void showContextMenu(const QPoint &position);
	void showAbout();

	// The modal file dialogs, message boxes, menu and dialog runs of the dock (dock_dialogs.h).
	DockDialogs &dialogs() const { return *m_dialogs; }
	void setDialogs(std::unique_ptr<DockDialogs> dialogs);

Q_SIGNALS:
	void sceneRenamed(const QString &uuid);
	void shutDown();

protected:
	bool eventFilter(QObject *watched, QEvent *event) override;
	void showEvent(QShowEvent *event) override;
	void hideEvent(QHideEvent *event) override;
	void changeEvent(QEvent *event) override;

private:
	// Construction, in this order.
	void buildTopControls();
	void buildEditor();
	void buildDockActions();
	void buildFormatToolbar();
	void buildParagraphToolbar();
	void buildSearchField();
	void buildBottomControls();
	void markControlRows();
	void setUpTimers();
	void connectSignals();
	void readAutoClearSettings();
	QAction *addTool(QToolBar *bar, const char *key, const char *name, int icon, bool checkable = false);

	// Layout and theme.
	void relayoutBottomControls();
	void updateSearchMargins();
	void placeRemoteQrButton();
	void applyEditorSheet();
	void dropSelectionColors();

	// Scene notes.
	void onTextEdited();
	bool saveDirtyNote(bool report);
	bool saveOrphanedNote(bool report);
	void requestCollectionSave();
	obs_source_t *currentScene() const;
	void setCurrentScene(obs_source_t *scene);
	int storedReadingPosition(const QString &uuid) const;
	void applyReadingPosition(int position);
	void onScrollRangeChanged();
	void applyReadOnly();
	void syncReadModeAction();

	// Status line.
	void showLimitMessage();
	void applySceneLabelStyle();

	// Teleprompter (dock_teleprompter.cpp).
	void stopScrolling();
	void requestScroll();
	void startScrolling();
	void toggleScrolling();
	void scrollToTop();
	void setPlayButton(const QString &label, const QString &tip, int icon, Qt::ToolButtonStyle style);
	// Read-mode gestures, teleprompter keys and what else stops scrolling; true when consumed.
	bool filterTeleprompterEvent(QObject *watched, QEvent *event);
	void scrollTick();
	void countdownTick();
	void updateReadingBand();
	void setSceneToolsEnabled(bool enabled);

	// Search and go-to (dock_search.cpp).
	void connectSearch();
	bool filterSearchEvent(QObject *watched, QEvent *event);
	void openSearch();
	void clearSearch();
	void findMatch(bool backward, bool afterTyping = false);
	void invalidateSearch(bool textChanged = false);
	void noteContentsChanged();
	void collectMatches();
	void updateSearchStatus();
	void searchTimerExpired();
	void showGoTo(bool percent);
	void acceptGoTo();
	void hideGoTo();
	void goToFocusChanged();
	void stopSearchTimer();

	// Formatting tools and marks (dock_format.cpp).
	void connectFormatTools();
	bool filterFormatEvent(QObject *watched, QEvent *event);
	void applyCharFormat(const QTextCharFormat &format);
	void clearFormatting();
	void setFormatPainter(bool on, bool continuous = false);
	void applyFormatPainter();
	void syncFormatControls();
	void setListStyle(int style);
	void changeIndent(int delta);
	bool deleteMarkBeforeCursor();
	void syncMarkTypingColor();
	QColor currentMarkColor() const;

	// Auto-clear (dock_autoclear.cpp).
	void autoClearStep();
	void rearmAutoClear();
	void stopAutoClear();
	// Adds the settings rows to the about dialog; the result applies them (false: keep it open).
	std::function<bool()> buildAutoClearSection(QDialog *dialog, QFormLayout *form);

	// The remote service (dock_remote.cpp).
	void openRemotePopup();
	void openRemoteSettings();
	void hideRemotePopup();
	void shutdownRemote();
	void notifyRemoteNoteChanged(const QString &uuid);
	void notifyRemoteStateChanged();
	void notifyRemoteCollectionChanging(bool changing);
	void notifyRemoteLockChanged();
	void notifyRemoteReadingPosition();
	void setUpRemote();
	void startRemote();

	QSettings *m_settings = nullptr;
	NoteStore m_store;

	// The scene whose note is in the editor.
	OBSWeakSourceAutoRelease m_currentScene;
	QString m_currentUuid;
	// Its last known name and the file its note was loaded from or last saved to, so that edits
	// survive the scene being deleted before they were saved.
	QString m_currentName;
	QString m_currentNotePath;
	bool m_dirty = false;
	bool m_loadError = false;
	bool m_locked = false;
	bool m_remoteEditing = false;
	bool m_restoring = false;
	bool m_pendingFollow = false;
	bool m_closing = false;
	bool m_collectionReady = false;
	bool m_shutdownDone = false;
	QHash<QString, int> m_readingPositions;
	// A reading position that the editor's layout could not take yet (-1: none).
	int m_pendingPosition = -1;
	// What the save before a switch has to tell, shown once the switch is done.
	QString m_switchNotice;
	// Colours of the last coloured selection, so that it still shows them while selected.
	QString m_selectionTextColor;
	QString m_selectionBackgroundColor;

	QTimer m_autosaveTimer;
	QTimer m_scrollTimer;
	QTimer m_countdownTimer;
	QTimer m_searchTimer;
	QTimer *m_autoClearTimer = nullptr;
	// Tick, hold-off and countdown clocks, and the fractional scroll position.
	ScrollMotion m_motion;
	double m_scrollSpeedValue = 1.0;

	// Layout and theme: style sheets, icons' palette and size rules wait for the first show.
	// The host reparents the hidden dock at start-up (into its dock widget, then floating),
	// and each reparenting repolishes every widget that carries a style sheet.
	bool m_styled = false;
	bool m_themeRefreshQueued = false;

	int m_autoClearDays = 0;
	bool m_autoClearAll = false;
	QSet<QString> m_autoClearScenes;

	QWidget *m_topControls = nullptr;
	QLabel *m_scenePrefix = nullptr;
	QLabel *m_sceneLabel = nullptr;
	QLabel *m_saveStatus = nullptr;
	QToolBar *m_formatToolbar = nullptr;
	QSpinBox *m_fontSize = nullptr;
	QLineEdit *m_searchText = nullptr;
	QLabel *m_searchStatus = nullptr;
	QToolButton *m_findPrevious = nullptr;
	QToolButton *m_findNext = nullptr;
	QToolButton *m_clearSearch = nullptr;
	QAction *m_findAction = nullptr;
	QLabel *m_saveError = nullptr;
	Editor *m_editor = nullptr;
	ReadingBand *m_readingBand = nullptr;
	QToolButton *m_remoteQrButton = nullptr;

	QWidget *m_bottomControls = nullptr;
	QWidget *m_readingControls = nullptr;
	QToolButton *m_readModeButton = nullptr;
	QToolButton *m_scrollPlay = nullptr;
	QToolButton *m_scrollTop = nullptr;
	QToolButton *m_readingGuideButton = nullptr;
	QCheckBox *m_startCountdown = nullptr;
	QToolBar *m_paragraphToolbar = nullptr;
	QActionGroup *m_alignmentGroup = nullptr;
	QToolButton *m_listStyleButton = nullptr;
	QFrame *m_speedStartSeparator = nullptr;
	QSlider *m_scrollSlider = nullptr;
	QDoubleSpinBox *m_scrollSpeed = nullptr;
	QFrame *m_speedEndSeparator = nullptr;
	QWidget *m_readingMetrics = nullptr;
	QLabel *m_documentStatus = nullptr;
	QFrame *m_characterSeparator = nullptr;
	QLabel *m_characterCount = nullptr;
	QFrame *m_percentSeparator = nullptr;
	QLabel *m_scrollPercent = nullptr;
	QFrame *m_timeLeftSeparator = nullptr;
	QLabel *m_timeLeft = nullptr;
	// Words left are counted again only when the time shown changes.
	QString m_timeLeftShown;

	QAction *m_readModeAction = nullptr;
	QAction *m_readingGuideAction = nullptr;

	// Search and go-to: the hits are rebuilt lazily, on the search timer or before a jump.
	std::vector<TextMatch> m_matches;
	bool m_matchesStale = true;
	// The search text changed since the last jump, so the next one starts at the first hit.
	bool m_searchTextChanged = false;
	// The search text was put there by the next-mark command; the next edit of the note clears it.
	bool m_markSearch = false;
	QLineEdit *m_goToInput = nullptr;

	// Formatting tools and marks.
	QTextCharFormat m_capturedFormat; // what the format painter picked up; empty when disarmed
	bool m_painterContinuous = false;
	QAction *m_formatPainterAction = nullptr;
	QAction *m_boldAction = nullptr;
	QAction *m_italicAction = nullptr;
	QAction *m_underlineAction = nullptr;
	QAction *m_strikeAction = nullptr;

	// The remote service (dock_remote.cpp); a child of the dock.
	Remote *m_remote = nullptr;

	// Auto-clear (dock_autoclear.cpp): the scenes still to visit in this pass, and its clock.
	std::deque<OBSWeakSourceAutoRelease> m_autoClearQueue;
	std::function<QDateTime()> m_autoClearClock;

	// Dialogs (dock_dialogs.cpp).
	std::unique_ptr<DockDialogs> m_dialogs;

	// The prompter window (dock_prompter.cpp): a parentless window, so that it can go full screen
	// on any monitor; the dock closes it when it shuts down.
	QPointer<PrompterWindow> m_prompterWindow;
	void syncPrompterWindow();
	void closePrompterWindow();
};

} // namespace quillmar
