#include "dock/prompter_window.h"

#include "dock/reading_band.h"
#include "documents/note_document.h"
#include "module/text.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QWindow>

#include <cmath>

namespace quillmar {

namespace {

const QString Group = QStringLiteral("prompter");
// Typing in the dock refreshes the copy once it pauses this long; a 200,000-character note takes
// a noticeable moment to copy, and a keystroke must not.
constexpr int RefreshDelayMs = 300;
// The line height every paragraph of a note gets, as a factor of the font's own.
constexpr double LineHeightFactor = 1.4;
constexpr int TypeStep = 4;

bool readBool(const QSettings &settings, const QString &key)
{
	const QVariant value = settings.value(Group + QLatin1Char('/') + key);
	return value.typeId() == QMetaType::Bool ? value.toBool()
						 : value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QScreen *screenNamed(const QString &name)
{
	for (QScreen *screen : QGuiApplication::screens())
		if (!name.isEmpty() && screen->name() == name)
			return screen;
	return nullptr;
}

} // namespace

PrompterSettings PrompterSettings::read(const QSettings &settings)
{
	PrompterSettings prefs;
	prefs.mirrorHorizontal = readBool(settings, QStringLiteral("mirrorHorizontal"));
	prefs.mirrorVertical = readBool(settings, QStringLiteral("mirrorVertical"));
	prefs.fullScreen = readBool(settings, QStringLiteral("fullScreen"));
	bool ok = false;
	const int size = settings.value(Group + QStringLiteral("/typeSize")).toInt(&ok);
	if (ok && size >= MinTypeSize && size <= MaxTypeSize)
		prefs.typeSize = size;
	// A screen name is only ever compared, never shown as markup or used as a path.
	prefs.screen = settings.value(Group + QStringLiteral("/screen")).toString().left(256);
	return prefs;
}

void PrompterSettings::write(QSettings &settings) const
{
	settings.beginGroup(Group);
	settings.setValue(QStringLiteral("mirrorHorizontal"), mirrorHorizontal);
	settings.setValue(QStringLiteral("mirrorVertical"), mirrorVertical);
	settings.setValue(QStringLiteral("typeSize"), typeSize);
	settings.setValue(QStringLiteral("fullScreen"), fullScreen);
	settings.setValue(QStringLiteral("screen"), screen);
	settings.endGroup();
	settings.sync();
}

double prompterTextTop(double fraction, double contentHeight, int viewHeight, double lineHeight)
{
	// The first line sits on the reading line at the start and the last one at the end, so the
	// talent reads every line on the band. lineHeight is the glyphs' height; a paragraph's line
	// box adds its extra spacing below them.
	if (!std::isfinite(fraction))
		fraction = 0;
	fraction = qBound(0.0, fraction, 1.0);
	const double travel = qMax(0.0, contentHeight - lineHeight * LineHeightFactor);
	return readingLineY(viewHeight) - lineHeight / 2 - fraction * travel;
}

PrompterWindow::PrompterWindow(QSettings *settings)
	: QWidget(nullptr, Qt::Window), m_settings(settings), m_document(new NoteDocument(this))
{
	setObjectName(QStringLiteral("prompterWindow"));
	setAttribute(Qt::WA_DeleteOnClose);
	setAttribute(Qt::WA_OpaquePaintEvent);
	setWindowTitle(text("PrompterTitle"));
	setMinimumSize(160, 120);
	m_document->setDocumentMargin(0);
	if (m_settings)
		m_prefs = PrompterSettings::read(*m_settings);
	m_refreshTimer.setSingleShot(true);
	m_refreshTimer.setInterval(RefreshDelayMs);
	connect(&m_refreshTimer, &QTimer::timeout, this, &PrompterWindow::refreshDocument);
}

PrompterWindow::~PrompterWindow() = default;

void PrompterWindow::setSource(const QTextDocument *document)
{
	if (m_source)
		disconnect(m_source, nullptr, this, nullptr);
	m_source = document;
	if (document)
		connect(document, &QTextDocument::contentsChanged, &m_refreshTimer, qOverload<>(&QTimer::start));
	refreshDocument();
}

void PrompterWindow::refreshDocument()
{
	m_refreshTimer.stop();
	if (m_source) {
		m_document->setDefaultFont(m_source->defaultFont());
		m_document->setDefaultStyleSheet(m_source->defaultStyleSheet());
		// Through HTML, so that images are loaded by this copy's own guarded loader.
		m_document->setHtml(m_source->toHtml());
	} else {
		m_document->clear();
	}
	m_layoutWidth = -1;
	update();
}

void PrompterWindow::setFraction(double fraction)
{
	if (!std::isfinite(fraction))
		fraction = 0;
	fraction = qBound(0.0, fraction, 1.0);
	if (fraction == m_fraction)
		return;
	m_fraction = fraction;
	update();
}

void PrompterWindow::setReadingBand(bool shown)
{
	if (shown == m_readingBand)
		return;
	m_readingBand = shown;
	update();
}

void PrompterWindow::setMirror(bool horizontal, bool vertical)
{
	m_prefs.mirrorHorizontal = horizontal;
	m_prefs.mirrorVertical = vertical;
	store();
	update();
}

void PrompterWindow::setTypeSize(int points)
{
	m_prefs.typeSize = qBound(PrompterSettings::MinTypeSize, points, PrompterSettings::MaxTypeSize);
	m_layoutWidth = -1;
	store();
	update();
}

void PrompterWindow::showFullScreenOn(QScreen *screen)
{
	if (!screen)
		return;
	m_prefs.fullScreen = true;
	m_prefs.screen = screen->name();
	store();
	if (isFullScreen())
		showNormal();
	winId();
	windowHandle()->setScreen(screen);
	setGeometry(screen->geometry());
	showFullScreen();
}

void PrompterWindow::leaveFullScreen()
{
	m_prefs.fullScreen = false;
	store();
	if (isFullScreen())
		showNormal();
}

void PrompterWindow::present()
{
	if (m_prefs.fullScreen) {
		if (QScreen *screen = screenNamed(m_prefs.screen)) {
			showFullScreenOn(screen);
			raise();
			return;
		}
	}
	if (!isVisible())
		resize(960, 540);
	show();
	raise();
	activateWindow();
}

void PrompterWindow::store()
{
	if (m_settings)
		m_prefs.write(*m_settings);
}

double PrompterWindow::scale() const
{
	const double base = m_document->defaultFont().pointSizeF();
	return m_prefs.typeSize / (base > 0 ? base : 12.0);
}

void PrompterWindow::relayout()
{
	// A twentieth of the width on each side keeps the text off the hood's edges.
	const int textWidth = qMax(1, width() - 2 * (width() / 20));
	if (textWidth == m_layoutWidth)
		return;
	m_layoutWidth = textWidth;
	m_document->setTextWidth(textWidth / scale());
}

QString PrompterWindow::shownText() const
{
	return m_document->toPlainText();
}

double PrompterWindow::scrollOffset() const
{
	const_cast<PrompterWindow *>(this)->relayout();
	const double s = scale();
	const double line = QFontMetricsF(m_document->defaultFont()).height() * s;
	return readingLineY(height()) - line / 2 -
	       prompterTextTop(m_fraction, m_document->size().height() * s, height(), line);
}

QImage PrompterWindow::renderFrame()
{
	relayout();
	const qreal ratio = devicePixelRatioF();
	QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
	image.setDevicePixelRatio(ratio);
	image.fill(Qt::black);
	QPainter painter(&image);
	painter.setRenderHint(QPainter::TextAntialiasing);
	// The whole frame, band included, is painted through the mirror: flipping a finished
	// full-screen image costs ten times more than drawing the few lines in view mirrored.
	const bool h = m_prefs.mirrorHorizontal;
	const bool v = m_prefs.mirrorVertical;
	painter.setTransform(QTransform(h ? -1 : 1, 0, 0, v ? -1 : 1, h ? width() : 0, v ? height() : 0));
	const double s = scale();
	const double line = QFontMetricsF(m_document->defaultFont()).height() * s;
	const double top = prompterTextTop(m_fraction, m_document->size().height() * s, height(), line);

	painter.save();
	painter.translate(width() / 20, top);
	painter.scale(s, s);
	QAbstractTextDocumentLayout::PaintContext context;
	// Only the lines in view are laid out into the frame.
	context.clip = QRectF(0, -top / s, m_document->textWidth(), height() / s);
	context.palette.setColor(QPalette::Text, Qt::white);
	m_document->documentLayout()->draw(&painter, context);
	painter.restore();

	if (m_readingBand)
		paintReadingBand(painter, readingBandGeometry(size(), int(std::lround(line))), true);
	return image;
}

void PrompterWindow::paintEvent(QPaintEvent *)
{
	QPainter painter(this);
	painter.drawImage(0, 0, renderFrame());
}

void PrompterWindow::resizeEvent(QResizeEvent *event)
{
	QWidget::resizeEvent(event);
	update();
}

void PrompterWindow::keyPressEvent(QKeyEvent *event)
{
	switch (event->key()) {
	case Qt::Key_Escape:
		leaveFullScreen();
		break;
	case Qt::Key_F11:
		if (isFullScreen())
			leaveFullScreen();
		else
			showFullScreenOn(screen());
		break;
	case Qt::Key_H:
		setMirror(!m_prefs.mirrorHorizontal, m_prefs.mirrorVertical);
		break;
	case Qt::Key_V:
		setMirror(m_prefs.mirrorHorizontal, !m_prefs.mirrorVertical);
		break;
	case Qt::Key_Plus:
	case Qt::Key_Equal:
		setTypeSize(m_prefs.typeSize + TypeStep);
		break;
	case Qt::Key_Minus:
		setTypeSize(m_prefs.typeSize - TypeStep);
		break;
	default:
		QWidget::keyPressEvent(event);
	}
}

void PrompterWindow::contextMenuEvent(QContextMenuEvent *event)
{
	QMenu menu(this);
	const auto check = [&](const char *key, const QString &shortcut, bool on, auto command) {
		QAction *action = menu.addAction(text(key) + QLatin1Char('\t') + shortcut);
		action->setCheckable(true);
		action->setChecked(on);
		connect(action, &QAction::triggered, this, command);
	};
	check("MirrorHorizontal", QStringLiteral("H"), m_prefs.mirrorHorizontal,
	      [this] { setMirror(!m_prefs.mirrorHorizontal, m_prefs.mirrorVertical); });
	check("MirrorVertical", QStringLiteral("V"), m_prefs.mirrorVertical,
	      [this] { setMirror(m_prefs.mirrorHorizontal, !m_prefs.mirrorVertical); });
	menu.addSeparator();
	connect(menu.addAction(text("LargerType") + QStringLiteral("\t+")), &QAction::triggered, this,
		[this] { setTypeSize(m_prefs.typeSize + TypeStep); });
	connect(menu.addAction(text("SmallerType") + QStringLiteral("\t-")), &QAction::triggered, this,
		[this] { setTypeSize(m_prefs.typeSize - TypeStep); });
	menu.addSeparator();
	for (QScreen *screen : QGuiApplication::screens()) {
		const QRect area = screen->geometry();
		const QString label = text("FullScreenOn").arg(screen->name()).arg(area.width()).arg(area.height());
		connect(menu.addAction(label), &QAction::triggered, this,
			[this, target = QPointer<QScreen>(screen)] { showFullScreenOn(target); });
	}
	if (isFullScreen())
		connect(menu.addAction(text("LeaveFullScreen") + QStringLiteral("\tEsc")), &QAction::triggered, this,
			&PrompterWindow::leaveFullScreen);
	menu.addSeparator();
	connect(menu.addAction(text("ClosePrompter")), &QAction::triggered, this, &QWidget::close);
	menu.exec(event->globalPos());
}

} // namespace quillmar
