#include "icons/mono_icon.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>

using namespace quillmar;

namespace {

QPalette makePalette(const QColor &text, const QColor &window)
{
	QPalette palette;
	palette.setColor(QPalette::All, QPalette::WindowText, text);
	palette.setColor(QPalette::All, QPalette::Window, window);
	// Only the active group counts; a different disabled colour must not leak in.
	palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 0, 0));
	palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 255, 0));
	return palette;
}

QPalette lightPalette()
{
	return makePalette(QColor(0x20, 0x21, 0x26), QColor(0xf0, 0xf0, 0xf0));
}

QPalette darkPalette()
{
	return makePalette(QColor(0xe6, 0xe7, 0xea), QColor(0x27, 0x2a, 0x33));
}

QImage render(int kind, int size, const QPalette &palette = lightPalette(), QIcon::Mode mode = QIcon::Normal,
	      QIcon::State state = QIcon::On)
{
	return monoIcon(kind, palette).pixmap(QSize(size, size), mode, state).toImage().convertToFormat(
		QImage::Format_ARGB32);
}

// Bounding box of the pixels with any coverage.
QRect inkBounds(const QImage &image)
{
	QRect box;
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (qAlpha(image.pixel(x, y)) > 0)
				box |= QRect(x, y, 1, 1);
	return box;
}

int maxAlpha(const QImage &image)
{
	int alpha = 0;
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			alpha = qMax(alpha, qAlpha(image.pixel(x, y)));
	return alpha;
}

// Length of the first run of solid pixels along a row, starting at the first solid one.
int firstRun(const QImage &image, int y)
{
	int x = 0;
	while (x < image.width() && qAlpha(image.pixel(x, y)) <= 127)
		++x;
	int run = 0;
	while (x < image.width() && qAlpha(image.pixel(x, y)) > 127) {
		++x;
		++run;
	}
	return run;
}

const char *const KindNames[IconKindCount] = {
	"import",	   "export",	      "font",		"bold",		  "italic",	   "underline",
	"text colour",	   "highlight",	      "clear formatting", "align left",	  "align centre",  "align right",
	"justify",	   "decrease indent", "increase indent", "insert time",	  "list style",	   "start scrolling",
	"pause scrolling", "scroll to top",   "read mode",	"reading guide",  "more tools",	   "find previous",
	"find next",	   "close search",    "remote QR code", "insert mark",	  "next mark",	   "strikethrough",
	"format painter",
};

} // namespace

class MonoIconTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void init()
	{
		// Painter misuse (a null device, a singular transform) shows up as a Qt warning.
		QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
	}

	void everyKindIsCentredAndUnclipped_data()
	{
		QTest::addColumn<int>("kind");
		for (int kind = 0; kind < IconKindCount; ++kind)
			QTest::addRow("%d %s", kind, KindNames[kind]) << kind;
	}

	void everyKindIsCentredAndUnclipped()
	{
		QFETCH(int, kind);
		for (QIcon::State state : {QIcon::On, QIcon::Off}) {
			const QImage image = render(kind, 48, lightPalette(), QIcon::Normal, state);
			QCOMPARE(image.size(), QSize(48, 48));
			const QRect box = inkBounds(image);
			QVERIFY2(!box.isEmpty(), "the icon painted nothing");
			// The outline never touches the border: nothing is cut off.
			QVERIFY(box.left() >= 1 && box.top() >= 1 && box.right() <= 46 && box.bottom() <= 46);
			QVERIFY2(qAbs(box.left() - (47 - box.right())) <= 1,
				 qPrintable(QStringLiteral("horizontal margins %1 and %2").arg(box.left()).arg(47 - box.right())));
			// The open padlock keeps the closed one's position, so its shackle sticks out at the top.
			if (kind == IconReadMode && state == QIcon::Off)
				continue;
			QVERIFY2(qAbs(box.top() - (47 - box.bottom())) <= 1,
				 qPrintable(QStringLiteral("vertical margins %1 and %2").arg(box.top()).arg(47 - box.bottom())));
		}
	}

	void rectangleGeometry_data()
	{
		QTest::addColumn<QRect>("rect");
		QTest::addRow("tall") << QRect(0, 0, 16, 40);
		QTest::addRow("wide") << QRect(0, 0, 40, 16);
		QTest::addRow("offset square") << QRect(10, 6, 24, 24);
	}

	void rectangleGeometry()
	{
		QFETCH(QRect, rect);
		// The cross fills the grid from 6 to 18, so its ink is centred on the rectangle's centre.
		const int side = qMin(rect.width(), rect.height());
		QImage canvas(64, 64, QImage::Format_ARGB32);
		canvas.fill(Qt::transparent);
		{
			QPainter painter(&canvas);
			monoIcon(IconClearSearch, lightPalette()).paint(&painter, rect);
		}
		const QRect box = inkBounds(canvas);
		QVERIFY(rect.contains(box));
		const qreal scale = side / 24.0;
		// 12 grid units of cross plus one pen width.
		QVERIFY(qAbs(box.width() - 14 * scale) <= 2);
		QVERIFY(qAbs(box.height() - 14 * scale) <= 2);
		const QPointF centre = QRectF(box).center();
		const QPointF expected = QRectF(rect).center();
		QVERIFY2(qAbs(centre.x() - expected.x()) <= 1 && qAbs(centre.y() - expected.y()) <= 1,
			 qPrintable(QStringLiteral("ink centred at %1,%2").arg(centre.x()).arg(centre.y())));
	}

	void emptyAndUnknownDrawNothing()
	{
		QImage canvas(8, 8, QImage::Format_ARGB32);
		canvas.fill(Qt::transparent);
		{
			QPainter painter(&canvas);
			monoIcon(IconInsertMark, lightPalette()).paint(&painter, QRect(2, 2, 0, 0));
			monoIcon(IconInsertMark, lightPalette()).paint(&painter, QRect(2, 2, 5, 0));
		}
		QVERIFY(inkBounds(canvas).isEmpty());
		QVERIFY(monoIcon(IconInsertMark, lightPalette()).pixmap(QSize(0, 0)).isNull());

		for (int kind : {int(IconKindCount), -1, 1000}) {
			const QImage image = render(kind, 24);
			QCOMPARE(image.size(), QSize(24, 24));
			QCOMPARE(maxAlpha(image), 0);
		}
	}

	void pixmapHasRequestedSize()
	{
		for (const QSize size : {QSize(1, 1), QSize(17, 31), QSize(64, 20)}) {
			const QPixmap pm = monoIcon(IconScrollPlay, lightPalette()).pixmap(size);
			QCOMPARE(pm.size(), size);
			QCOMPARE(pm.devicePixelRatio(), 1.0);
		}
	}

	void colourFollowsPaletteAndMode()
	{
		const QPalette light = lightPalette();
		const QPalette dark = darkPalette();
		const QRgb lightText = light.color(QPalette::Active, QPalette::WindowText).rgb();
		const QRgb darkText = dark.color(QPalette::Active, QPalette::WindowText).rgb();
		for (int kind : {IconBold, IconReadMode, IconScrollPause, IconRemoteQr}) {
			const QImage a = render(kind, 48, light);
			const QImage b = render(kind, 48, dark);
			QCOMPARE(maxAlpha(a), 255);
			for (int y = 0; y < 48; ++y) {
				for (int x = 0; x < 48; ++x) {
					const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
					QCOMPARE(qAlpha(pa), qAlpha(pb));
					if (qAlpha(pa) == 255) {
						QCOMPARE(pa & 0xffffff, lightText & 0xffffff);
						QCOMPARE(pb & 0xffffff, darkText & 0xffffff);
					}
				}
			}
			// Active, selected and normal modes look alike.
			QCOMPARE(render(kind, 48, light, QIcon::Active), a);
			QCOMPARE(render(kind, 48, light, QIcon::Selected), a);
		}
	}

	void disabledCapsAlpha_data()
	{
		QTest::addColumn<int>("alpha");
		QTest::addColumn<int>("expected");
		QTest::addRow("opaque") << 255 << 110;
		QTest::addRow("at the cap") << 110 << 110;
		QTest::addRow("already faint") << 80 << 80;
	}

	void disabledCapsAlpha()
	{
		QFETCH(int, alpha);
		QFETCH(int, expected);
		QColor text(0x30, 0x40, 0x50);
		text.setAlpha(alpha);
		const QPalette palette = makePalette(text, Qt::white);
		// The filled play icon must not be darker where outline and fill meet.
		for (int kind : {IconAlignJustify, IconScrollPlay}) {
		const QImage disabled = render(kind, 48, palette, QIcon::Disabled);
		QCOMPARE(maxAlpha(disabled), expected);
		QCOMPARE(maxAlpha(render(kind, 48, palette, QIcon::Normal)), alpha);
		// Same shape, only fainter, and never the palette's disabled colour.
		QCOMPARE(inkBounds(disabled), inkBounds(render(kind, 48, palette)));
		// Premultiplied painting rounds faint colours by a step or two.
		auto near = [](int a, int b) { return qAbs(a - b) <= 3; };
		for (int y = 0; y < 48; ++y) {
			for (int x = 0; x < 48; ++x) {
				const QRgb px = disabled.pixel(x, y);
				if (qAlpha(px) == expected)
					QVERIFY(near(qRed(px), text.red()) && near(qGreen(px), text.green()) &&
						near(qBlue(px), text.blue()));
			}
		}
		}
	}

	void padlockStatesDifferOnlyInShackle()
	{
		const int size = 96;
		const qreal scale = size / 24.0;
		const QImage closed = render(IconReadMode, size, lightPalette(), QIcon::Normal, QIcon::On);
		const QImage open = render(IconReadMode, size, lightPalette(), QIcon::Normal, QIcon::Off);
		QVERIFY(closed != open);
		// Closed padlock: grid 2.5..21 high, so the drawing moves down by 0.25 units.
		const int bodyTop = qCeil((10 + 0.25 + 1.0) * scale);
		int differing = 0, differingInShackle = 0;
		for (int y = 0; y < size; ++y) {
			for (int x = 0; x < size; ++x) {
				if (closed.pixel(x, y) == open.pixel(x, y))
					continue;
				++differing;
				QVERIFY2(y < bodyTop, qPrintable(QStringLiteral("body differs at %1,%2").arg(x).arg(y)));
				++differingInShackle;
			}
		}
		QVERIFY(differing > 0);
		QCOMPARE(differingInShackle, differing);
		// The open shackle swings out to the right: ink beyond the closed one's right leg.
		const int rightLeg = qRound((16 + 1.0) * scale) + 2;
		bool openReachesRight = false, closedReachesRight = false;
		for (int y = 0; y < qRound(9 * scale); ++y) {
			openReachesRight |= qAlpha(open.pixel(rightLeg, y)) > 127;
			closedReachesRight |= qAlpha(closed.pixel(rightLeg, y)) > 127;
		}
		QVERIFY(openReachesRight);
		QVERIFY(!closedReachesRight);

		// Other kinds ignore the state.
		QCOMPARE(render(IconBold, 48, lightPalette(), QIcon::Normal, QIcon::Off),
			 render(IconBold, 48, lightPalette(), QIcon::Normal, QIcon::On));
	}

	void fillsAndPenWidths()
	{
		const int size = 48;
		// Play and pause are solid; the diamond and the clock are outlines.
		QCOMPARE(qAlpha(render(IconScrollPlay, size).pixel(20, 24)), 255);
		const QImage pause = render(IconScrollPause, size);
		QCOMPARE(qAlpha(pause.pixel(16, 24)), 255);
		QCOMPARE(qAlpha(pause.pixel(32, 24)), 255);
		QCOMPARE(qAlpha(pause.pixel(24, 24)), 0);
		QCOMPARE(qAlpha(render(IconInsertMark, size).pixel(24, 24)), 0);
		QCOMPARE(qAlpha(render(IconInsertTime, size).pixel(18, 30)), 0);

		// At 2 px per unit the bold stem is 6.4 px wide, an ordinary stroke 4 px.
		const int boldStem = firstRun(render(IconBold, size), 16);
		QVERIFY2(boldStem >= 6 && boldStem <= 7, qPrintable(QString::number(boldStem)));
		const int ordinaryStroke = firstRun(render(IconAlignLeft, size).transformed(QTransform().rotate(90)), 16);
		QVERIFY2(ordinaryStroke >= 3 && ordinaryStroke <= 5, qPrintable(QString::number(ordinaryStroke)));
	}

	void copiesPaintAlike()
	{
		QIcon original = monoIcon(IconNextMark, darkPalette());
		QIcon copy = original;
		// Adding a pixmap detaches the copy, which clones the engine.
		QPixmap extra(4, 4);
		extra.fill(Qt::red);
		copy.addPixmap(extra);
		QCOMPARE(copy.pixmap(QSize(32, 32)).toImage(), original.pixmap(QSize(32, 32)).toImage());
		QVERIFY(maxAlpha(copy.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32)) > 0);
	}

	// Besides the file checks, a sheet of every kind for a person to look at: state On in the
	// first two columns of each palette, Off in the third, disabled in the fourth.
	void contactSheet()
	{
		const QString outDir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT", QDir::tempPath());
		QVERIFY(QDir().mkpath(outDir + QStringLiteral("/icons")));
		const int row = 56, header = 24, labelWidth = 190, cell = 60;
		const QList<QPalette> palettes{lightPalette(), darkPalette()};
		const QStringList columns{QStringLiteral("24"), QStringLiteral("48"), QStringLiteral("off"),
					  QStringLiteral("disabled")};
		QImage sheet(labelWidth + 8 * cell, header + row * IconKindCount, QImage::Format_ARGB32);
		sheet.fill(Qt::white);
		QPainter painter(&sheet);
		for (int p = 0; p < 2; ++p)
			for (int c = 0; c < 4; ++c)
				painter.drawText(QRect(labelWidth + (p * 4 + c) * cell, 0, cell, header), Qt::AlignCenter,
						 columns[c]);
		for (int kind = 0; kind < IconKindCount; ++kind) {
			const int top = header + kind * row;
			painter.setPen(Qt::black);
			painter.drawText(QRect(8, top, labelWidth, row), Qt::AlignVCenter,
					 QStringLiteral("%1  %2").arg(kind).arg(QLatin1String(KindNames[kind])));
			for (int p = 0; p < 2; ++p) {
				const QPalette &palette = palettes[p];
				const int left = labelWidth + p * 4 * cell;
				painter.fillRect(QRect(left, top, 4 * cell, row), palette.color(QPalette::Window));
				const QIcon icon = monoIcon(kind, palette);
				const QSize big(48, 48);
				painter.drawPixmap(left + 18, top + 16, icon.pixmap(QSize(24, 24), QIcon::Normal, QIcon::On));
				painter.drawPixmap(left + cell + 6, top + 4, icon.pixmap(big, QIcon::Normal, QIcon::On));
				painter.drawPixmap(left + 2 * cell + 6, top + 4, icon.pixmap(big, QIcon::Normal, QIcon::Off));
				painter.drawPixmap(left + 3 * cell + 6, top + 4, icon.pixmap(big, QIcon::Disabled, QIcon::On));
			}
			painter.setPen(QColor(200, 200, 200));
			painter.drawLine(0, top, sheet.width(), top);
		}
		painter.end();
		const QString path = outDir + QStringLiteral("/icons/contact-sheet.png");
		QVERIFY(sheet.save(path));
		QCOMPARE(QImage(path).size(), sheet.size());
	}
};

QTEST_MAIN(MonoIconTest)
#include "tst_mono_icon.moc"
