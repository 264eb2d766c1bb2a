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

void describe(QWidget *widget, QStringList &out);

void describeLayout(QLayout *layout, QStringList &out)
{
	for (int i = 0; i < layout->count(); ++i) {
		if (QWidget *w = layout->itemAt(i)->widget())
			describe(w, out);
		else if (QLayout *inner = layout->itemAt(i)->layout())
			describeLayout(inner, out);
	}
}

// Widgets in layout order as "name[children]"; tool bars list their actions ("|" for a separator,
// the widget's name for an embedded widget).
void describe(QWidget *widget, QStringList &out)
{
	QStringList children;
	if (auto *bar = qobject_cast<QToolBar *>(widget)) {
		for (QAction *action : bar->actions()) {
			QString name = action->isSeparator() ? QStringLiteral("|") : action->objectName();
			if (name.isEmpty() && bar->widgetForAction(action))
				name = bar->widgetForAction(action)->objectName();
			children << name;
		}
	} else if (widget->layout()) {
		describeLayout(widget->layout(), children);
	}
	out << (children.isEmpty() ? widget->objectName()
				   : widget->objectName() + QLatin1Char('[') + children.join(QLatin1Char(' ')) + QLatin1Char(']'));
}

const char ExpectedTree[] =
	"QuillmarContent[topControls[scenePrefix sceneLabel saveStatus "
	"formatToolbar[importDocument exportDocument | chooseFont fontSize | formatBold formatItalic "
	"formatUnderline formatStrike | textColor highlight clearFormat formatPainter | insertMark nextMark] "
	"searchText[searchStatus findPrevious findNext clearSearch]] "
	"saveError noteEditor "
	"bottomControls[readingControls[readMode scrollPlay scrollTop readingGuide startCountdown "
	"paragraphToolbar[| alignLeft alignCenter alignRight alignJustify | listStyle decreaseIndent increaseIndent "
	"| insertTime] speedStartSeparator scrollSlider scrollSpeed speedEndSeparator] "
	"readingMetrics[documentStatus characterSeparator characterCount percentSeparator scrollPercent]]]";

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

// The first opaque pixel of an icon, that is, its stroke colour.
QRgb inkColour(const QIcon &icon)
{
	const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (qAlpha(image.pixel(x, y)) == 255)
				return image.pixel(x, y) & 0xffffff;
	return 0xff000000;
}

const QPalette Light = themePalette(QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29));
const QPalette Dark = themePalette(QColor(0x27, 0x2a, 0x33), QColor(0xe6, 0xe7, 0xea));
constexpr QRgb DarkInk = 0xe6e7ea;

class StyleChangeCounter : public QObject {
public:
	int count = 0;
	bool eventFilter(QObject *, QEvent *event) override
	{
		count += event->type() == QEvent::StyleChange;
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
	QAction *buttonAction(const char *name) const { return child<QToolButton>(name)->defaultAction(); }

	void makeDock()
	{
		m_dock = std::make_unique<Dock>(settingsPath());
		m_dock->resize(1200, 500);
	}

	void showDock()
	{
		makeDock();
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
	}

	bool stacked() const
	{
		QWidget *bottom = child<QWidget>("bottomControls");
		return static_cast<QBoxLayout *>(bottom->layout())->direction() == QBoxLayout::TopToBottom;
	}

private Q_SLOTS:
	void init()
	{
		test::resetHost();
		QDir().mkpath(test::moduleConfigDir());
	}

	void cleanup() { m_dock.reset(); }

	void widgetTreeHasEveryName()
	{
		makeDock();
		QStringList tree;
		describe(m_dock.get(), tree);
		QCOMPARE(tree.join(QString()), QString::fromLatin1(ExpectedTree));

		// Outside the layouts.
		auto *band = child<QWidget>("readingBand");
		QCOMPARE(band->parentWidget(), child<Editor>("noteEditor")->viewport());
		QVERIFY(band->isHidden() && band->testAttribute(Qt::WA_TransparentForMouseEvents));
		auto *qr = child<QToolButton>("remoteQrButton");
		QCOMPARE(qr->parentWidget(), m_dock.get());
		QVERIFY(qr->isHidden());
		QCOMPARE(qr->size(), QSize(24, 24));
		QCOMPARE(inkColour(qr->icon()), m_dock->palette().color(QPalette::WindowText).rgb() & 0xffffff);
		auto *timer = child<QTimer>("autoClearTimer");
		QVERIFY(timer->isSingleShot() && !timer->isActive());

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
				const int kind = action->property(IconProperty).toInt();
				QVERIFY2(action->property(IconProperty).isValid() && kind >= 0 && kind < IconKindCount &&
						 !action->icon().isNull(),
					 qPrintable(action->objectName()));
				QVERIFY2(action->toolTip() == action->text() && !action->text().isEmpty(),
					 qPrintable(action->objectName()));
			}
		}
		QCOMPARE(tools, 13 + 7);
		QCOMPARE(buttonAction("readMode")->property(IconProperty).toInt(), 20);
		QCOMPARE(child<QAction>("formatBold")->shortcut(), QKeySequence(QKeySequence::Bold));
		QVERIFY(m_dock->actions().contains(child<QAction>("formatUnderline")));
		for (const char *name : {"ScrollTip", "TopTip", "Countdown", "SpeedTip", "GoTo", "RemoteQR", "ReadTip",
					 "ReadingGuide", "MoreTools", "InitialStatus", "NoScene", "FindPlaceholder",
					 "FindPrevious", "FindNext", "CloseSearch", "FontSizeTip", "ListStyle", "ListDisc",
					 "RemoveList", "AtTop"})
			QVERIFY2(text(name) != QLatin1String(name), name);

		// Slider and spin box always agree.
		auto *speed = child<QDoubleSpinBox>("scrollSpeed");
		auto *slider = child<QSlider>("scrollSlider");
		QCOMPARE(speed->value(), 1.0);
		QCOMPARE(slider->value(), 10);
		slider->setValue(25);
		QCOMPARE(speed->value(), 2.5);
		speed->setValue(4.2);
		QCOMPARE(slider->value(), 42);
	}

	void themeFollowsPalette()
	{
		makeDock();
		auto *saveError = child<QLabel>("saveError");
		auto *slider = child<QSlider>("scrollSlider");
		m_dock->setPalette(Dark);
		QVERIFY(saveError->styleSheet().contains(QStringLiteral("background: #4b2525;")));
		QVERIFY(slider->styleSheet().contains(QStringLiteral("background: #d8dce3;")));
		QCOMPARE(inkColour(buttonAction("readMode")->icon()), DarkInk);
		QCOMPARE(inkColour(child<QAction>("formatBold")->icon()), DarkInk);
		QCOMPARE(inkColour(child<QToolButton>("findNext")->icon()), DarkInk);
		// Quiet labels take the window text at reduced alpha.
		QCOMPARE(child<QLabel>("characterCount")->palette().color(QPalette::Disabled, QPalette::WindowText),
			 QColor(0xe6, 0xe7, 0xea, 170));
		QVERIFY(child<Editor>("noteEditor")->styleSheet().contains(QStringLiteral("color: #e6e7ea;")));

		m_dock->setPalette(Light);
		QVERIFY(saveError->styleSheet().contains(QStringLiteral("background: #fff0ec;")));
		QVERIFY(slider->styleSheet().contains(QStringLiteral("background: #606975;")));
		QCOMPARE(inkColour(buttonAction("readMode")->icon()), 0x232629U);

		// A palette change that leaves every sheet alone does not restyle anything.
		StyleChangeCounter counter;
		slider->installEventFilter(&counter);
		child<QToolButton>("scrollPlay")->installEventFilter(&counter);
		QPalette sameSheets = Light;
		sameSheets.setColor(QPalette::ToolTipBase, Qt::yellow);
		m_dock->setPalette(sameSheets);
		QCOMPARE(counter.count, 0);
		m_dock->setPalette(Dark);
		QVERIFY(counter.count >= 2);
	}

	void bottomRowStacksWhenNarrow()
	{
		showDock();
		auto *bottom = child<QWidget>("bottomControls");
		auto *reading = child<QWidget>("readingControls");
		auto *metrics = child<QWidget>("readingMetrics");
		QTRY_VERIFY(!stacked());
		QCOMPARE(bottom->height(), reading->height());

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
		QVERIFY(buttonAction("readingGuide")->isChecked());
		QVERIFY(!child<QCheckBox>("startCountdown")->isChecked());
		QVERIFY(!buttonAction("readMode")->isChecked());

		// Toggles are stored at once and read back by the next dock.
		buttonAction("readingGuide")->toggle();
		child<QCheckBox>("startCountdown")->setChecked(true);
		makeDock();
		QVERIFY(!buttonAction("readingGuide")->isChecked());
		QVERIFY(child<QCheckBox>("startCountdown")->isChecked());
	}

	void toolsFollowEditorState()
	{
		makeDock();
		auto *format = child<QToolBar>("formatToolbar");
		auto *paragraph = child<QToolBar>("paragraphToolbar");
		auto *search = child<QLineEdit>("searchText");
		auto usable = [format](bool enabledOnly = true) {
			QStringList names;
			for (QAction *action : format->actions())
				if ((action->isEnabled() || !enabledOnly) && !action->isSeparator())
					names << action->objectName();
			return names;
		};
		// No scene: nothing to format or search.
		QVERIFY(!format->isEnabled() && !paragraph->isEnabled() && !search->isEnabled());
		QVERIFY(!child<QAction>("findText")->isEnabled());

		test::Scene scene("Layout scene");
		m_dock->showSceneNote(scene.source());
		QVERIFY(format->isEnabled() && paragraph->isEnabled() && search->isEnabled());
		QCOMPARE(usable(), usable(false));

		// Read mode: only export and next mark stay usable.
		buttonAction("readMode")->trigger();
		QVERIFY(m_dock->isLocked());
		QVERIFY(format->isEnabled() && search->isEnabled() && !paragraph->isEnabled());
		QCOMPARE(usable(), (QStringList{QStringLiteral("exportDocument"), QStringLiteral("nextMark")}));
		buttonAction("readMode")->trigger();
		QVERIFY(paragraph->isEnabled());
		QCOMPARE(usable(), usable(false));
	}

	// Renders the dock for a person to look at (light and dark, wide and narrow) after the host
	// changed themes its way: a new application palette and style sheet, children repolished after
	// the dock has seen the change.
	void hostThemesAndScreenshots()
	{
		const QString outDir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT", QDir::tempPath()) +
				       QStringLiteral("/dock");
		QVERIFY(QDir().mkpath(outDir));
		showDock();
		test::Scene scene("Morning show");
		m_dock->showSceneNote(scene.source());
		child<Editor>("noteEditor")->setPlainText(QStringLiteral("Welcome everyone!\nToday: three topics.\n"));
		const QPalette original = QApplication::palette();
		const std::pair<const char *, QPalette> themes[] = {{"light", Light}, {"dark", Dark}};
		for (const auto &[name, palette] : themes) {
			QApplication::setPalette(palette);
			qApp->setStyleSheet(QStringLiteral("QDockWidget { } /* %1 */").arg(QLatin1String(name)));
			for (int width : {1200, 700}) {
				m_dock->resize(width, 360);
				QTest::qWait(100);
				QVERIFY(m_dock->grab().save(
					QStringLiteral("%1/dock-%2-%3.png").arg(outDir, QLatin1String(name)).arg(width)));
			}
		}
		// Still dark, and wide enough: every tool stays on its bar instead of the overflow menu.
		m_dock->resize(1200, 360);
		for (const char *name : {"scenePrefix", "saveStatus", "documentStatus", "characterCount", "scrollPercent"})
			QTRY_COMPARE(child<QLabel>(name)->palette().color(QPalette::Active, QPalette::WindowText),
				     QColor(0xe6, 0xe7, 0xea, 170));
		auto *bar = child<QToolBar>("paragraphToolbar");
		auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
		QTRY_VERIFY(!more->isVisible());
		QVERIFY(bar->widgetForAction(child<QAction>("insertTime"))->isVisible());
		QCOMPARE(inkColour(more->icon()), DarkInk);
		QCOMPARE(more->toolTip(), text("MoreTools"));
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}
};

QUILLMAR_OBS_TEST_MAIN(DockLayoutTest)
#include "tst_layout.moc"
