#include "dock/dock.h"
#include "dock/dock_theme.h"

#include "dock/reading_band.h"
#include "editor/editor.h"
#include "icons/mono_icon.h"
#include "module/text.h"
#include "remote/remote.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

namespace quillmar {

namespace {

QLabel *plainLabel(const char *name, QWidget *parent)
{
	auto *label = new QLabel(parent);
	label->setObjectName(QLatin1String(name));
	label->setTextFormat(Qt::PlainText);
	return label;
}

QFrame *separator(const char *name, QWidget *parent)
{
	auto *frame = new QFrame(parent);
	frame->setObjectName(QLatin1String(name));
	frame->setFixedSize(1, 12);
	return frame;
}

QToolButton *controlButton(const char *name, QWidget *parent)
{
	auto *button = new QToolButton(parent);
	button->setObjectName(QLatin1String(name));
	button->setToolButtonStyle(Qt::ToolButtonIconOnly);
	button->setFixedSize(theme::ToolButtonWidth, theme::ToolButtonHeight);
	button->setIconSize(QSize(theme::ToolIconSize, theme::ToolIconSize));
	return button;
}

// A plain named widget whose margin-free box layout lines up its children left to right.
QBoxLayout *controlRow(QWidget *&row, const char *name, QWidget *parent, int spacing)
{
	row = new QWidget(parent);
	row->setObjectName(QLatin1String(name));
	auto *layout = new QBoxLayout(QBoxLayout::LeftToRight, row);
	layout->setContentsMargins(0, 0, 0, 0);
	layout->setSpacing(spacing);
	return layout;
}

// A separator with breathing room on both sides, centred on the row.
void addSeparator(QBoxLayout *layout, QFrame *frame)
{
	layout->addSpacing(4);
	layout->addWidget(frame, 0, Qt::AlignVCenter);
	layout->addSpacing(4);
}

} // namespace

void Dock::buildTopControls()
{
	QBoxLayout *layout = controlRow(m_topControls, "topControls", this, 4);

	m_scenePrefix = new QLabel(QStringLiteral("["), m_topControls);
	m_scenePrefix->setObjectName(QStringLiteral("scenePrefix"));
	m_scenePrefix->setFixedWidth(10);
	m_scenePrefix->setAlignment(Qt::AlignCenter);
	layout->addWidget(m_scenePrefix);

	m_sceneLabel = plainLabel("sceneLabel", m_topControls);
	m_sceneLabel->setText(text("NoScene"));
	m_sceneLabel->setToolTip(m_sceneLabel->text());
	m_sceneLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
	m_sceneLabel->setMinimumWidth(20);
	m_sceneLabel->setMaximumWidth(140);
	layout->addWidget(m_sceneLabel);

	// Only the bracket shows; the status message lives in its tooltip and accessible name.
	m_saveStatus = plainLabel("saveStatus", m_topControls);
	m_saveStatus->setText(QStringLiteral("]"));
	m_saveStatus->setFixedWidth(10);
	m_saveStatus->setAlignment(Qt::AlignCenter);

	m_saveError = plainLabel("saveError", this);
	m_saveError->setContentsMargins(6, 3, 6, 3);
	m_saveError->hide();
}

void Dock::buildEditor()
{
	m_editor = new Editor(this);
	m_editor->setLimitHandler([this] { showLimitMessage(); });
	m_editor->setObjectName(QStringLiteral("noteEditor"));
	m_editor->setAcceptRichText(true);
	m_editor->setContextMenuPolicy(Qt::CustomContextMenu);
	m_editor->installEventFilter(this);
	m_editor->viewport()->installEventFilter(this);
	m_readingBand = new ReadingBand(m_editor->viewport());

	m_remoteQrButton = new QToolButton(this);
	m_remoteQrButton->setObjectName(QStringLiteral("remoteQrButton"));
	m_remoteQrButton->setFixedSize(theme::ToolButtonHeight, theme::ToolButtonHeight);
	m_remoteQrButton->setIconSize(QSize(theme::ToolIconSize, theme::ToolIconSize));
	m_remoteQrButton->setAutoRaise(true);
	m_remoteQrButton->setFocusPolicy(Qt::NoFocus);
	m_remoteQrButton->setToolTip(text("RemoteQR"));
	m_remoteQrButton->setProperty(IconProperty, int(IconRemoteQr));
	m_remoteQrButton->hide();
	connect(m_remoteQrButton, &QToolButton::clicked, this, &Dock::openRemotePopup);

	// A manual drag must not make the teleprompter jump when it is let go.
	QScrollBar *bar = m_editor->verticalScrollBar();
	auto holdOff = [this] {
		if (m_scrollTimer.isActive())
			m_motion.holdOff();
	};
	connect(bar, &QScrollBar::sliderPressed, this, holdOff);
	connect(bar, &QScrollBar::sliderReleased, this, holdOff);
}

void Dock::buildBottomControls()
{
	QBoxLayout *bottom = controlRow(m_bottomControls, "bottomControls", this, 8);
	m_bottomControls->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	m_bottomControls->installEventFilter(this);

	QBoxLayout *reading = controlRow(m_readingControls, "readingControls", m_bottomControls, 2);

	m_readModeButton = controlButton("readMode", m_readingControls);
	m_readModeButton->setDefaultAction(m_readModeAction);
	reading->addWidget(m_readModeButton);

	m_scrollPlay = controlButton("scrollPlay", m_readingControls);
	m_scrollPlay->setText(text("Scroll"));
	m_scrollPlay->setToolTip(text("ScrollTip"));
	reading->addWidget(m_scrollPlay);

	m_scrollTop = controlButton("scrollTop", m_readingControls);
	m_scrollTop->setToolTip(text("TopTip"));
	reading->addWidget(m_scrollTop);

	m_readingGuideButton = controlButton("readingGuide", m_readingControls);
	m_readingGuideButton->setDefaultAction(m_readingGuideAction);
	reading->addWidget(m_readingGuideButton);

	m_startCountdown = new QCheckBox(QStringLiteral("3s"), m_readingControls);
	m_startCountdown->setObjectName(QStringLiteral("startCountdown"));
	m_startCountdown->setToolTip(text("Countdown"));
	m_startCountdown->setAccessibleName(text("Countdown"));
	m_startCountdown->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
	m_startCountdown->setChecked(m_settings->value(QStringLiteral("startCountdown"), false).toBool());
	reading->addWidget(m_startCountdown);

	reading->addWidget(m_paragraphToolbar);

	m_speedStartSeparator = separator("speedStartSeparator", m_readingControls);
	addSeparator(reading, m_speedStartSeparator);

	m_scrollSlider = new QSlider(Qt::Horizontal, m_readingControls);
	m_scrollSlider->setObjectName(QStringLiteral("scrollSlider"));
	m_scrollSlider->setRange(10, 50);
	m_scrollSlider->setValue(10);
	m_scrollSlider->setToolTip(text("SpeedTip"));
	m_scrollSlider->setAccessibleName(text("Speed"));
	m_scrollSlider->setMinimumWidth(8);
	reading->addWidget(m_scrollSlider, 1);

	m_scrollSpeed = new QDoubleSpinBox(m_readingControls);
	m_scrollSpeed->setObjectName(QStringLiteral("scrollSpeed"));
	m_scrollSpeed->setRange(1.0, 5.0);
	m_scrollSpeed->setDecimals(1);
	m_scrollSpeed->setSingleStep(0.1);
	m_scrollSpeed->setSuffix(QStringLiteral("\u00d7"));
	m_scrollSpeed->setToolTip(text("SpeedTip"));
	m_scrollSpeed->setButtonSymbols(QAbstractSpinBox::NoButtons);
	m_scrollSpeed->setAlignment(Qt::AlignCenter);
	reading->addWidget(m_scrollSpeed);

	m_speedEndSeparator = separator("speedEndSeparator", m_readingControls);
	addSeparator(reading, m_speedEndSeparator);
	bottom->addWidget(m_readingControls, 1);

	QBoxLayout *metrics = controlRow(m_readingMetrics, "readingMetrics", m_bottomControls, 6);

	m_documentStatus = plainLabel("documentStatus", m_readingMetrics);
	m_characterCount = plainLabel("characterCount", m_readingMetrics);
	m_scrollPercent = new QLabel(m_readingMetrics);
	m_scrollPercent->setObjectName(QStringLiteral("scrollPercent"));
	for (QLabel *label : {m_documentStatus, m_characterCount, m_scrollPercent})
		label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
	// Both ends of the metrics open the go-to field.
	for (QLabel *label : {m_documentStatus, m_scrollPercent}) {
		label->setCursor(Qt::PointingHandCursor);
		label->setToolTip(text("GoTo"));
		label->installEventFilter(this);
	}
	m_characterSeparator = separator("characterSeparator", m_readingMetrics);
	m_percentSeparator = separator("percentSeparator", m_readingMetrics);
	metrics->addWidget(m_documentStatus);
	metrics->addWidget(m_characterSeparator, 0, Qt::AlignVCenter);
	metrics->addWidget(m_characterCount);
	metrics->addWidget(m_percentSeparator, 0, Qt::AlignVCenter);
	metrics->addWidget(m_scrollPercent);
	m_timeLeftSeparator = separator("timeLeftSeparator", m_readingMetrics);
	m_timeLeft = plainLabel("timeLeft", m_readingMetrics);
	m_timeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
	m_timeLeftSeparator->hide();
	m_timeLeft->hide();
	metrics->addWidget(m_timeLeftSeparator, 0, Qt::AlignVCenter);
	metrics->addWidget(m_timeLeft);
	bottom->addWidget(m_readingMetrics, 0, Qt::AlignRight);
}

void Dock::buildDockActions()
{
	m_readModeAction = new QAction(text("Read"), this);
	m_readModeAction->setObjectName(QStringLiteral("readModeAction"));
	m_readModeAction->setToolTip(text("ReadTip"));
	m_readModeAction->setCheckable(true);
	m_readModeAction->setChecked(m_locked);
	m_readModeAction->setProperty(IconProperty, int(IconReadMode));

	m_readingGuideAction = new QAction(text("ReadingGuide"), this);
	m_readingGuideAction->setObjectName(QStringLiteral("readingGuideAction"));
	m_readingGuideAction->setToolTip(text("ReadingGuide"));
	m_readingGuideAction->setCheckable(true);
	m_readingGuideAction->setChecked(m_settings->value(QStringLiteral("readingGuide"), true).toBool());
	m_readingGuideAction->setProperty(IconProperty, int(IconReadingGuide));
}

void Dock::markControlRows()
{
	for (QWidget *row : {m_topControls, m_bottomControls})
		for (QWidget *widget : row->findChildren<QWidget *>())
			widget->setAttribute(Qt::WA_LayoutUsesWidgetRect);
}

void Dock::setUpTimers()
{
	m_autosaveTimer.setSingleShot(true);
	m_autosaveTimer.setInterval(500);
	m_scrollTimer.setTimerType(Qt::PreciseTimer);
	m_scrollTimer.setInterval(16);
	m_countdownTimer.setTimerType(Qt::PreciseTimer);
	m_countdownTimer.setInterval(100);
	m_searchTimer.setSingleShot(true);
	m_searchTimer.setInterval(160);
	m_autoClearTimer = new QTimer(this);
	m_autoClearTimer->setObjectName(QStringLiteral("autoClearTimer"));
	m_autoClearTimer->setSingleShot(true);
	m_autoClearTimer->setTimerType(Qt::CoarseTimer);

	connect(&m_autosaveTimer, &QTimer::timeout, this, [this] { saveNote(true, true); });
	connect(&m_scrollTimer, &QTimer::timeout, this, &Dock::scrollTick);
	connect(&m_countdownTimer, &QTimer::timeout, this, &Dock::countdownTick);
	connect(&m_searchTimer, &QTimer::timeout, this, &Dock::searchTimerExpired);
	connect(m_autoClearTimer, &QTimer::timeout, this, &Dock::autoClearStep);
}

void Dock::connectSignals()
{
	connect(m_editor, &QTextEdit::textChanged, this, &Dock::onTextEdited);
	connect(m_editor, &QWidget::customContextMenuRequested, this, &Dock::showContextMenu);
	connect(findChild<QAction *>(QStringLiteral("importDocument")), &QAction::triggered, this, &Dock::importDocument);
	connect(findChild<QAction *>(QStringLiteral("exportDocument")), &QAction::triggered, this, &Dock::exportDocument);
	connect(m_editor, &QTextEdit::selectionChanged, this, [this] {
		dropSelectionColors();
		updateCharacterCount();
	});
	connect(m_editor, &QTextEdit::currentCharFormatChanged, this, [this] { syncFormatControls(); });
	connect(m_editor, &QTextEdit::cursorPositionChanged, this, [this] {
		syncMarkTypingColor();
		syncFormatControls();
		updateSearchStatus();
	});
	connect(m_editor->document(), &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
		if (removed || added)
			noteContentsChanged();
	});
	connect(m_editor->document(), &QTextDocument::blockCountChanged, this, [this] { updateDocumentStatus(); });
	QScrollBar *bar = m_editor->verticalScrollBar();
	auto scrolled = [this] {
		updateScrollStatus();
		updateReadingBand();
	};
	connect(bar, &QScrollBar::valueChanged, this, scrolled);
	connect(bar, &QScrollBar::rangeChanged, this, scrolled);
	connect(bar, &QScrollBar::rangeChanged, this, &Dock::onScrollRangeChanged);
	// Moving the text by hand settles the position.
	connect(bar, &QScrollBar::actionTriggered, this, [this] { m_pendingPosition = -1; });

	connect(m_scrollPlay, &QToolButton::clicked, this, [this] {
		if (m_closing || m_restoring)
			return;
		if (m_scrollTimer.isActive() || m_countdownTimer.isActive())
			stopScrolling();
		else
			requestScroll();
	});
	connect(m_scrollTop, &QToolButton::clicked, this, [this] {
		if (m_closing || m_restoring)
			return;
		stopScrolling();
		m_editor->verticalScrollBar()->setValue(0);
		setStatus(text("AtTop"));
	});
	connect(qApp, &QApplication::focusChanged, this, [this] { goToFocusChanged(); });
	connect(m_readModeAction, &QAction::toggled, this, &Dock::setLocked);
	connect(m_readingGuideAction, &QAction::toggled, this, [this](bool on) {
		m_settings->setValue(QStringLiteral("readingGuide"), on);
		updateReadingBand();
	});
	connect(m_startCountdown, &QCheckBox::toggled, this, [this](bool on) {
		m_settings->setValue(QStringLiteral("startCountdown"), on);
		if (m_countdownTimer.isActive())
			stopScrolling();
	});
	connect(m_scrollSlider, &QSlider::valueChanged, this, [this](int value) { setScrollSpeed(value / 10.0); });
	connect(m_scrollSpeed, &QDoubleSpinBox::valueChanged, this, &Dock::setScrollSpeed);
	connectSearch();
	connectFormatTools();
}

void Dock::applySizeRules()
{
	if (!m_styled || !m_bottomControls)
		return;
	const QFontMetrics metrics(font());
	const int boxHeight = qMax(metrics.height() + 10, 28);
	m_fontSize->setFixedSize(qMax(metrics.horizontalAdvance(QStringLiteral("144")) + 16, 44), boxHeight);
	m_scrollSpeed->setFixedSize(qMax(metrics.horizontalAdvance(QStringLiteral("5.0\u00d7")) + 16, 52), boxHeight);

	m_searchText->setFixedHeight(boxHeight);
	updateSearchMargins();

	for (QToolBar *bar : {m_formatToolbar, m_paragraphToolbar})
		bar->setFixedWidth(bar->sizeHint().width());
	m_readingControls->setFixedHeight(qMax(m_paragraphToolbar->sizeHint().height(), boxHeight));
	m_scrollPercent->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("100%")));
	// Room for the usual lengths, so the row does not shift every second while scrolling.
	m_timeLeft->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00:00")));
	relayoutBottomControls();
}

void Dock::updateSearchMargins()
{
	// The inner layout holds only the status and the buttons that are shown.
	const int margin = m_searchText->layout()->sizeHint().width();
	const QMargins current = m_searchText->textMargins();
	if (current.right() != margin)
		m_searchText->setTextMargins(current.left(), current.top(), margin, current.bottom());
	m_searchText->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(QStringLiteral("MM")) + 8 + margin);
}

void Dock::relayoutBottomControls()
{
	if (!m_styled)
		return;
	auto *layout = static_cast<QBoxLayout *>(m_bottomControls->layout());
	const int sideBySide = m_readingControls->minimumSizeHint().width() + m_readingMetrics->sizeHint().width() +
			       layout->spacing();
	const bool stacked = m_bottomControls->width() < sideBySide;
	const QBoxLayout::Direction direction = stacked ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
	if (layout->direction() != direction)
		layout->setDirection(direction);
	// Without an explicit minimum the side-by-side layout would keep the dock from ever
	// becoming narrow enough to stack.
	const int narrowest = qMax(m_readingControls->minimumSizeHint().width(), m_readingMetrics->sizeHint().width());
	if (m_bottomControls->minimumWidth() != narrowest)
		m_bottomControls->setMinimumWidth(narrowest);
	const int rowHeight = m_readingControls->maximumHeight();
	const int height =
		stacked ? rowHeight + layout->spacing() + m_readingMetrics->sizeHint().height() : rowHeight;
	if (m_bottomControls->minimumHeight() != height || m_bottomControls->maximumHeight() != height)
		m_bottomControls->setFixedHeight(height);
}

bool Dock::bottomControlsStacked() const
{
	return static_cast<QBoxLayout *>(m_bottomControls->layout())->direction() == QBoxLayout::TopToBottom;
}

void Dock::showRemoteQrButton(bool shown)
{
	m_editor->setQrMargin(shown);
	m_remoteQrButton->setVisible(shown);
	placeRemoteQrButton();
}

void Dock::placeRemoteQrButton()
{
	if (m_remoteQrButton->isHidden())
		return;
	QWidget *viewport = m_editor->viewport();
	m_remoteQrButton->move(viewport->mapTo(this, QPoint(viewport->width() + 2, 4)));
	m_remoteQrButton->raise();
}

} // namespace quillmar

namespace quillmar {

bool Dock::eventFilter(QObject *watched, QEvent *event)
{
	if (filterFormatEvent(watched, event) || filterSearchEvent(watched, event))
		return true;
	const QEvent::Type type = event->type();
	// The QR pop-up covers the text: anything that reaches for the text puts it away.
	if (m_editor && m_remote) {
		if (watched == m_editor->viewport() &&
		    (type == QEvent::Resize || type == QEvent::Wheel || type == QEvent::MouseButtonPress))
			m_remote->hideQrPopup();
		if (watched == m_editor && type == QEvent::KeyPress &&
		    static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && m_remote->hideQrPopup())
			return true;
	}
	if (watched == m_bottomControls && (type == QEvent::Resize || type == QEvent::LayoutRequest)) {
		if (type == QEvent::Resize)
			hideGoTo();
		relayoutBottomControls();
		return false;
	}
	if (m_editor && watched == m_editor->viewport() && type == QEvent::Resize) {
		updateReadingBand();
		placeRemoteQrButton();
		return false;
	}
	if (filterTeleprompterEvent(watched, event))
		return true;
	return QWidget::eventFilter(watched, event);
}

void Dock::changeEvent(QEvent *event)
{
	QWidget::changeEvent(event);
	if (!m_styled)
		return;
	switch (event->type()) {
	case QEvent::PaletteChange:
	case QEvent::ApplicationPaletteChange:
		applyTheme();
		break;
	case QEvent::FontChange:
	case QEvent::ApplicationFontChange:
		applySizeRules();
		break;
	case QEvent::StyleChange:
		applyTheme();
		applySizeRules();
		break;
	default:
		return;
	}
	// The host switches themes by replacing the application's palette and style sheet; the
	// children are repolished one by one after the dock has heard of it, and a repolish can
	// bring back a label's previous palette or change a tool bar's size. So once they all have
	// settled, the theme and the sizes are applied again.
	if (!m_themeRefreshQueued) {
		m_themeRefreshQueued = true;
		QTimer::singleShot(0, this, [this] {
			m_themeRefreshQueued = false;
			applyTheme();
			applySizeRules();
		});
	}
}

} // namespace quillmar
