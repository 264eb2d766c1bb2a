#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "icons/mono_icon.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>

using namespace quillmar;

namespace {

QString settingsPath()
{
	return test::moduleConfigDir() + QStringLiteral("/settings.ini");
}

void describe(QWidget *widget, int depth, QStringList &out);

void describeLayout(QLayout *layout, int depth, QStringList &out)
{
	for (int i = 0; i < layout->count(); ++i) {
		QLayoutItem *item = layout->itemAt(i);
		if (item->widget())
			describe(item->widget(), depth, out);
		else if (item->layout())
			describeLayout(item->layout(), depth, out);
	}
}

// One line per widget in layout order, indented by containment; tool bars list their actions
// ("|" for a separator, the widget's name for an embedded widget).
void describe(QWidget *widget, int depth, QStringList &out)
{
	const QString indent(depth * 2, QLatin1Char(' '));
	out << indent + widget->objectName();
	if (auto *bar = qobject_cast<QToolBar *>(widget)) {
		for (QAction *action : bar->actions()) {
			QString name = action->isSeparator() ? QStringLiteral("|") : action->objectName();
			if (name.isEmpty() && bar->widgetForAction(action))
				name = bar->widgetForAction(action)->objectName();
			out << indent + QStringLiteral("  ") + name;
		}
		return;
	}
	if (widget->layout())
		describeLayout(widget->layout(), depth + 1, out);
}

const char ExpectedTree[] = R"(QuillmarContent
  topControls
    scenePrefix
    sceneLabel
    saveStatus
    formatToolbar
      importDocument
      exportDocument
      |
      chooseFont
      fontSize
      |
      formatBold
      formatItalic
      formatUnderline
      formatStrike
      |
      textColor
      highlight
      clearFormat
      formatPainter
      |
      insertMark
      nextMark
    searchText
      searchStatus
      findPrevious
      findNext
      clearSearch
  saveError
  noteEditor
  bottomControls
    readingControls
      readMode
      scrollPlay
      scrollTop
      readingGuide
      startCountdown
      paragraphToolbar
        |
        alignLeft
        alignCenter
        alignRight
        alignJustify
        |
        listStyle
        decreaseIndent
        increaseIndent
        |
        insertTime
      speedStartSeparator
      scrollSlider
      scrollSpeed
      speedEndSeparator
    readingMetrics
      documentStatus
      characterSeparator
      characterCount
      percentSeparator
      scrollPercent)";

QPalette themePalette(const QColor &window, const QColor &text)
{
	QPalette palette(window);
	palette.setColor(QPalette::Window, window);
	palette.setColor(QPalette::WindowText, text);
	palette.setColor(QPalette::Base, window);
	palette.setColor(QPalette::Text, text);
	palette.setColor(QPalette::ButtonText, text);
	return palette;
}

// The most common opaque colour of an icon, that is, its stroke colour.
QRgb inkColour(const QIcon &icon, QIcon::State state = QIcon::Off)
{
	const QImage image = icon.pixmap(QSize(48, 48), QIcon::Normal, state).toImage().convertToFormat(
		QImage::Format_ARGB32);
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (qAlpha(image.pixel(x, y)) == 255)
				return image.pixel(x, y) & 0xffffff;
	return 0xff000000;
}

class StyleChangeCounter : public QObject {
public:
	int count = 0;
	bool eventFilter(QObject *, QEvent *event) override
	{
		if (event->type() == QEvent::StyleChange)
			++count;
		return false;
	}
};

} // namespace

class DockLayoutTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Dock> m_dock;

	template <typename T> T *child(const char *name) const
	{
		T *found = m_dock->findChild<T *>(QLatin1String(name));
		if (!found)
			qWarning("no child %s", name);
		return found;
	}

	void makeDock()
	{
		m_dock = std::make_unique<Dock>(settingsPath());
		m_dock->resize(1200, 500);
	}

	bool stacked() const
	{
		QWidget *bottom = m_dock->findChild<QWidget *>(QStringLiteral("bottomControls"));
		return static_cast<QBoxLayout *>(bottom->layout())->direction() == QBoxLayout::TopToBottom;
	}

private Q_SLOTS:
	void initTestCase()
	{
		module::setPointer(test::testModule());
		module::setLocale("en-US");
	}

	void init()
	{
		fake::reset();
		QDir(test::moduleConfigDir()).removeRecursively();
		QDir().mkpath(test::moduleConfigDir());
	}

	void cleanup() { m_dock.reset(); }

	void widgetTreeHasEveryName()
	{
		makeDock();
		QStringList tree;
		describe(m_dock.get(), 0, tree);
		QCOMPARE(tree.join(QLatin1Char('\n')), QString::fromUtf8(ExpectedTree));

		// Outside the layouts.
		auto *band = child<QWidget>("readingBand");
		QCOMPARE(band->parentWidget(), child<Editor>("noteEditor")->viewport());
		QVERIFY(band->isHidden() && band->testAttribute(Qt::WA_TransparentForMouseEvents));
		QCOMPARE(band->focusPolicy(), Qt::NoFocus);
		auto *qr = child<QToolButton>("remoteQrButton");
		QCOMPARE(qr->parentWidget(), m_dock.get());
		QVERIFY(qr->isHidden());
		QCOMPARE(qr->size(), QSize(24, 24));
		QCOMPARE(qr->focusPolicy(), Qt::NoFocus);
		QCOMPARE(inkColour(qr->icon()), m_dock->palette().color(QPalette::WindowText).rgb() & 0xffffff);
		auto *timer = child<QTimer>("autoClearTimer");
		QVERIFY(timer->isSingleShot() && !timer->isActive());
		QCOMPARE(timer->timerType(), Qt::CoarseTimer);

		// Every row widget is laid out by its own rectangle.
		for (const char *row : {"topControls", "bottomControls"})
			for (QWidget *w : child<QWidget>(row)->findChildren<QWidget *>())
				QVERIFY2(w->testAttribute(Qt::WA_LayoutUsesWidgetRect), qPrintable(w->objectName()));
	}

	void controlsCarryTextsAndIcons()
	{
		makeDock();
		// Every tool with an icon can be repainted by the theme, and its texts are real locale texts.
		int tools = 0;
		for (const char *bar : {"formatToolbar", "paragraphToolbar"}) {
			for (QAction *action : child<QToolBar>(bar)->actions()) {
				if (action->isSeparator() || action->objectName().isEmpty())
					continue;
				++tools;
				const QVariant kind = action->property(IconProperty);
				QVERIFY2(kind.isValid() && kind.toInt() >= 0 && kind.toInt() < IconKindCount,
					 qPrintable(action->objectName()));
				QVERIFY(!action->icon().isNull());
				QVERIFY2(action->toolTip() == action->text() && !action->text().isEmpty(),
					 qPrintable(action->objectName()));
			}
		}
		QCOMPARE(tools, 13 + 7);
		QCOMPARE(child<QAction>("formatBold")->shortcut(), QKeySequence(QKeySequence::Bold));
		QCOMPARE(child<QAction>("formatBold")->shortcutContext(), Qt::WidgetWithChildrenShortcut);
		QVERIFY(m_dock->actions().contains(child<QAction>("formatUnderline")));
		QCOMPARE(child<QAction>("alignCenter")->property("paragraphAlignment").toInt(), 4);
		QCOMPARE(child<QToolButton>("listStyle")->menu()->actions().last()->data().toInt(), 0);

		auto *speed = child<QDoubleSpinBox>("scrollSpeed");
		auto *slider = child<QSlider>("scrollSlider");
		QCOMPARE(speed->value(), 1.0);
		QCOMPARE(slider->value(), 10);
		// Slider and spin box always agree.
		slider->setValue(25);
		QCOMPARE(speed->value(), 2.5);
		speed->setValue(4.2);
		QCOMPARE(slider->value(), 42);

		for (const char *name : {"ScrollTip", "TopTip", "Countdown", "SpeedTip", "GoTo",
					 "RemoteQR", "ReadTip", "ReadingGuide", "MoreTools", "InitialStatus",
					 "NoScene", "FindPlaceholder", "FindPrevious", "FindNext", "CloseSearch",
					 "FontSizeTip", "ListStyle", "ListDisc", "RemoveList", "AtTop"})
			QVERIFY2(text(name) != QLatin1String(name), name);
		QCOMPARE(child<QToolButton>("readMode")->defaultAction()->property(IconProperty).toInt(), 20);
	}

	void themeFollowsPalette()
	{
		makeDock();
		auto *saveError = child<QLabel>("saveError");
		auto *slider = child<QSlider>("scrollSlider");
		auto *readMode = child<QToolButton>("readMode");

		const QPalette dark = themePalette(QColor(0x27, 0x2a, 0x33), QColor(0xe6, 0xe7, 0xea));
		m_dock->setPalette(dark);
		QVERIFY(saveError->styleSheet().contains(QStringLiteral("background: #4b2525;")));
		QVERIFY(slider->styleSheet().contains(QStringLiteral("background: #d8dce3;")));
		QCOMPARE(inkColour(readMode->defaultAction()->icon()), 0xe6e7eaU);
		QCOMPARE(inkColour(child<QAction>("formatBold")->icon()), 0xe6e7eaU);
		QCOMPARE(inkColour(child<QToolButton>("findNext")->icon()), 0xe6e7eaU);
		// Quiet labels take the window text at reduced alpha.
		QCOMPARE(child<QLabel>("characterCount")->palette().color(QPalette::Disabled, QPalette::WindowText),
			 QColor(0xe6, 0xe7, 0xea, 170));
		QVERIFY(child<Editor>("noteEditor")->styleSheet().contains(QStringLiteral("color: #e6e7ea;")));

		// Lightness 128 is light.
		const QPalette grey = themePalette(QColor(128, 128, 128), QColor(0x10, 0x10, 0x10));
		m_dock->setPalette(grey);
		QVERIFY(saveError->styleSheet().contains(QStringLiteral("background: #fff0ec;")));
		QVERIFY(slider->styleSheet().contains(QStringLiteral("background: #606975;")));
		QCOMPARE(inkColour(readMode->defaultAction()->icon()), 0x101010U);

		// A palette change that leaves every sheet alone does not restyle anything.
		StyleChangeCounter counter;
		slider->installEventFilter(&counter);
		child<QToolButton>("scrollPlay")->installEventFilter(&counter);
		QPalette sameSheets = grey;
		sameSheets.setColor(QPalette::ToolTipBase, Qt::yellow);
		m_dock->setPalette(sameSheets);
		QCOMPARE(counter.count, 0);
		m_dock->setPalette(dark);
		QVERIFY(counter.count >= 2);
	}

	// The host changes themes by replacing the application's palette and style sheet; the
	// children are repolished after the dock has seen the change.
	void themeSurvivesHostRestyle()
	{
		makeDock();
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
		const QPalette original = QApplication::palette();
		const QPalette light = themePalette(QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29));
		const QPalette dark = themePalette(QColor(0x27, 0x2a, 0x33), QColor(0xe6, 0xe7, 0xea));
		QApplication::setPalette(light);
		qApp->setStyleSheet(QStringLiteral("QDockWidget { } /* light */"));
		QApplication::setPalette(dark);
		qApp->setStyleSheet(QStringLiteral("QDockWidget { } /* dark */"));
		auto *bar = child<QToolBar>("paragraphToolbar");
		auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
		for (const char *name : {"scenePrefix", "saveStatus", "documentStatus", "characterCount", "scrollPercent"})
			QTRY_COMPARE(child<QLabel>(name)->palette().color(QPalette::Active, QPalette::WindowText),
				     QColor(0xe6, 0xe7, 0xea, 170));
		// Every tool stays on its bar instead of moving into the overflow menu.
		QTRY_VERIFY(!more->isVisible());
		QVERIFY(bar->widgetForAction(child<QAction>("insertTime"))->isVisible());
		QCOMPARE(inkColour(more->icon()), 0xe6e7eaU);
		QCOMPARE(more->toolTip(), text("MoreTools"));
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}

	void bottomRowStacksWhenNarrow()
	{
		makeDock();
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
		auto *bottom = child<QWidget>("bottomControls");
		auto *reading = child<QWidget>("readingControls");
		auto *metrics = child<QWidget>("readingMetrics");

		QTRY_VERIFY(!stacked());
		QCOMPARE(bottom->height(), reading->height());
		QVERIFY(metrics->geometry().left() >= reading->geometry().right());

		// Side by side exactly while both rows fit next to each other; the host never makes the
		// dock narrower than its minimum, the test goes below it to reach the edge.
		m_dock->setMinimumSize(0, 0);
		const int margins = 8;
		const int edge = reading->minimumSizeHint().width() + metrics->sizeHint().width() + 8 + margins;
		m_dock->resize(edge, 500);
		QTRY_COMPARE(bottom->width(), edge - margins);
		QVERIFY(!stacked());
		m_dock->resize(edge - 1, 500);
		QTRY_VERIFY(stacked());
		QTRY_COMPARE(bottom->height(), reading->height() + 8 + metrics->sizeHint().height());
		QTRY_VERIFY(metrics->geometry().top() >= reading->geometry().bottom());
		QVERIFY(bottom->rect().contains(metrics->geometry()));
		QVERIFY(bottom->rect().contains(reading->geometry()));

		m_dock->resize(1400, 500);
		QTRY_VERIFY(!stacked());
		QTRY_COMPARE(bottom->height(), reading->height());
		QVERIFY(!reading->geometry().intersects(metrics->geometry()));
	}

	void settingsAndDefaults_data()
	{
		QTest::addColumn<QVariant>("days");
		QTest::addColumn<int>("expectedDays");
		QTest::addRow("unset") << QVariant() << 0;
		QTest::addRow("negative") << QVariant(-1) << 0;
		QTest::addRow("too many") << QVariant(40000) << 0;
		QTest::addRow("upper bound") << QVariant(36500) << 36500;
		QTest::addRow("thirty") << QVariant(30) << 30;
		QTest::addRow("garbage") << QVariant(QStringLiteral("soon")) << 0;
	}

	void settingsAndDefaults()
	{
		QFETCH(QVariant, days);
		QFETCH(int, expectedDays);
		{
			QSettings settings(settingsPath(), QSettings::IniFormat);
			if (days.isValid())
				settings.setValue(QStringLiteral("autoClear/days"), days);
			settings.setValue(QStringLiteral("autoClear/scenes"),
					  QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("a")});
		}
		makeDock();
		QCOMPARE(m_dock->autoClearDays(), expectedDays);
		QCOMPARE(m_dock->autoClearScenes(), (QSet<QString>{QStringLiteral("a"), QStringLiteral("b")}));
		QVERIFY(!m_dock->autoClearAll());
		// No stored flags: the guide is on and the countdown off.
		QVERIFY(child<QToolButton>("readingGuide")->defaultAction()->isChecked());
		QVERIFY(!child<QCheckBox>("startCountdown")->isChecked());
		QVERIFY(!child<QToolButton>("readMode")->defaultAction()->isChecked());

		// Toggles are stored at once and read back by the next dock.
		child<QToolButton>("readingGuide")->defaultAction()->toggle();
		child<QCheckBox>("startCountdown")->setChecked(true);
		m_dock.reset();
		makeDock();
		QVERIFY(!child<QToolButton>("readingGuide")->defaultAction()->isChecked());
		QVERIFY(child<QCheckBox>("startCountdown")->isChecked());
	}

	void toolsFollowEditorState()
	{
		makeDock();
		auto *format = child<QToolBar>("formatToolbar");
		auto *paragraph = child<QToolBar>("paragraphToolbar");
		auto *search = child<QLineEdit>("searchText");
		// No scene: nothing to format or search.
		QVERIFY(!format->isEnabled());
		QVERIFY(!paragraph->isEnabled());
		QVERIFY(!search->isEnabled());
		QVERIFY(!child<QAction>("findText")->isEnabled());

		test::Scene scene("Layout scene");
		m_dock->showSceneNote(scene.source());
		QVERIFY(format->isEnabled() && paragraph->isEnabled() && search->isEnabled());
		for (QAction *action : format->actions())
			QVERIFY2(action->isEnabled(), qPrintable(action->objectName()));

		// Read mode: only export and next mark stay usable.
		child<QToolButton>("readMode")->defaultAction()->trigger();
		QVERIFY(m_dock->isLocked());
		QVERIFY(format->isEnabled());
		QVERIFY(!paragraph->isEnabled());
		QStringList usable;
		for (QAction *action : format->actions())
			if (action->isEnabled() && !action->isSeparator())
				usable << action->objectName();
		QCOMPARE(usable, (QStringList{QStringLiteral("exportDocument"), QStringLiteral("nextMark")}));
		QVERIFY(search->isEnabled());

		child<QToolButton>("readMode")->defaultAction()->trigger();
		QVERIFY(paragraph->isEnabled());
		QVERIFY(child<QAction>("formatBold")->isEnabled());
	}

	// Renders the dock for a person to look at: light and dark, wide and narrow.
	void screenshots()
	{
		const QString outDir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT", QDir::tempPath()) +
				       QStringLiteral("/dock");
		QVERIFY(QDir().mkpath(outDir));
		makeDock();
		test::Scene scene("Morning show");
		m_dock->showSceneNote(scene.source());
		child<Editor>("noteEditor")->setPlainText(QStringLiteral("Welcome everyone!\nToday: three topics.\n"));
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
		const struct {
			const char *name;
			QPalette palette;
		} themes[] = {
			{"light", themePalette(QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29))},
			{"dark", themePalette(QColor(0x27, 0x2a, 0x33), QColor(0xe6, 0xe7, 0xea))},
		};
		const QPalette original = QApplication::palette();
		for (const auto &theme : themes) {
			// As the host does when its theme changes: a new palette and a new style sheet.
			QApplication::setPalette(theme.palette);
			qApp->setStyleSheet(QStringLiteral("QDockWidget { } /* %1 */").arg(QLatin1String(theme.name)));
			for (int width : {1200, 700}) {
				m_dock->resize(width, 360);
				QTest::qWait(100);
				const QString path = QStringLiteral("%1/dock-%2-%3.png").arg(outDir, QLatin1String(theme.name)).arg(width);
				QVERIFY(m_dock->grab().save(path));
			}
		}
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}
};

QUILLMAR_OBS_TEST_MAIN(DockLayoutTest)
#include "tst_layout.moc"
