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
		m_dock = std::make_unique<Dock>(test::settingsPath());
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

	void themeFollowsPalette()
	{
		makeDock();
		auto *saveError = child<QLabel>("saveError");
		auto *slider = child<QSlider>("scrollSlider");
		m_dock->setPalette(Dark);
		const QString darkSheet = saveError->styleSheet();
		QCOMPARE(inkColour(buttonAction("readMode")->icon()), DarkInk);
		QCOMPARE(inkColour(child<QAction>("formatBold")->icon()), DarkInk);
		QCOMPARE(inkColour(child<QToolButton>("findNext")->icon()), DarkInk);

		m_dock->setPalette(Light);
		QVERIFY(saveError->styleSheet() != darkSheet);
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
			QSettings settings(test::settingsPath(), QSettings::IniFormat);
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

		// Slider and spin box always agree.
		child<QSlider>("scrollSlider")->setValue(25);
		QCOMPARE(child<QDoubleSpinBox>("scrollSpeed")->value(), 2.5);
		child<QDoubleSpinBox>("scrollSpeed")->setValue(4.2);
		QCOMPARE(child<QSlider>("scrollSlider")->value(), 42);

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
				QApplication::processEvents();
				QVERIFY(m_dock->grab().save(
					QStringLiteral("%1/dock-%2-%3.png").arg(outDir, QLatin1String(name)).arg(width)));
			}
		}
		// Still dark, and wide enough: every tool stays on its bar instead of the overflow menu.
		m_dock->resize(1200, 360);
		for (const char *name : {"scenePrefix", "scrollPercent"})
			QTRY_COMPARE(child<QLabel>(name)->palette().color(QPalette::Active, QPalette::WindowText),
				     QColor(0xe6, 0xe7, 0xea, 170));
		auto *bar = child<QToolBar>("paragraphToolbar");
		auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
		QTRY_VERIFY(!more->isVisible());
		QVERIFY(bar->widgetForAction(child<QAction>("insertTime"))->isVisible());
		QCOMPARE(inkColour(more->icon()), DarkInk);
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}
};

QUILLMAR_OBS_TEST_MAIN(DockLayoutTest)
#include "tst_layout.moc"
