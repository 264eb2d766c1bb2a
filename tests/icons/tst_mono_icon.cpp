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

const QPalette &light()
{
	static const QPalette palette = makePalette(QColor(0x20, 0x21, 0x26), QColor(0xf0, 0xf0, 0xf0));
	return palette;
}

const QPalette &dark()
{
	static const QPalette palette = makePalette(QColor(0xe6, 0xe7, 0xea), QColor(0x27, 0x2a, 0x33));
	return palette;
}

QImage render(int kind, int size, const QPalette &palette = light(), QIcon::Mode mode = QIcon::Normal,
	      QIcon::State state = QIcon::On)
{
	return monoIcon(kind, palette).pixmap(QSize(size, size), mode, state).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Bounding box of the pixels with any coverage, and the strongest coverage.
QRect inkBounds(const QImage &image, int *maxAlpha = nullptr)
{
	QRect box;
	int alpha = 0;
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (const int a = qAlpha(image.pixel(x, y)); a > 0) {
				box |= QRect(x, y, 1, 1);
				alpha = std::max(alpha, a);
			}
	if (maxAlpha)
		*maxAlpha = alpha;
	return box;
}

int maxAlpha(const QImage &image)
{
	int alpha = 0;
	inkBounds(image, &alpha);
	return alpha;
}

// Length of the first run of solid pixels along a row, starting at the first solid one.
int firstRun(const QImage &image, int y)
{
	int x = 0;
	while (x < image.width() && qAlpha(image.pixel(x, y)) <= 127)
		++x;
	const int start = x;
	while (x < image.width() && qAlpha(image.pixel(x, y)) > 127)
		++x;
	return x - start;
}

const char *const KindNames[IconKindCount] = {
	"import", "export", "font", "bold", "italic", "underline", "text colour", "highlight", "clear formatting",
	"align left", "align centre", "align right", "justify", "decrease indent", "increase indent", "insert time",
	"list style", "start scrolling", "pause scrolling", "scroll to top", "read mode", "reading guide", "more tools",
	"find previous", "find next", "close search", "remote QR code", "insert mark", "next mark", "strikethrough",
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
			const QRect box = inkBounds(render(kind, 48, light(), QIcon::Normal, state));
			QVERIFY2(!box.isEmpty(), "the icon painted nothing");
			// The outline never touches the border: nothing is cut off.
			QVERIFY(box.left() >= 1 && box.top() >= 1 && box.right() <= 46 && box.bottom() <= 46);
			QVERIFY2(qAbs(box.left() - (47 - box.right())) <= 1, qPrintable(QStringLiteral("margins %1 and %2").arg(box.left()).arg(47 - box.right())));
			// The open padlock keeps the closed one's position, so its shackle sticks out at the top.
			if (kind != IconReadMode || state != QIcon::Off)
				QVERIFY2(qAbs(box.top() - (47 - box.bottom())) <= 1, qPrintable(QStringLiteral("margins %1 and %2").arg(box.top()).arg(47 - box.bottom())));
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
		QImage canvas(64, 64, QImage::Format_ARGB32);
		canvas.fill(Qt::transparent);
		{
			QPainter painter(&canvas);
			monoIcon(IconClearSearch, light()).paint(&painter, rect);
		}
		// The cross spans 12 grid units plus one pen width, centred on the rectangle.
		const QRect box = inkBounds(canvas);
		QVERIFY(rect.contains(box));
		const qreal side = qMin(rect.width(), rect.height()) * 14 / 24.0;
		QVERIFY(qAbs(box.width() - side) <= 2 && qAbs(box.height() - side) <= 2);
		const QPointF offset = QRectF(box).center() - QRectF(rect).center();
		QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1, qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
	}

	void sizesAndUnknownKinds()
	{
		QImage canvas(8, 8, QImage::Format_ARGB32);
		canvas.fill(Qt::transparent);
		{
			QPainter painter(&canvas);
			monoIcon(IconInsertMark, light()).paint(&painter, QRect(2, 2, 0, 0));
			monoIcon(IconInsertMark, light()).paint(&painter, QRect(2, 2, 5, 0));
		}
		QVERIFY(inkBounds(canvas).isEmpty());
		QVERIFY(monoIcon(IconInsertMark, light()).pixmap(QSize(0, 0)).isNull());
		for (const QSize size : {QSize(1, 1), QSize(17, 31), QSize(64, 20)}) {
			const QPixmap pixmap = monoIcon(IconScrollPlay, light()).pixmap(size);
			QCOMPARE(pixmap.size(), size);
			QCOMPARE(pixmap.devicePixelRatio(), 1.0);
		}
		for (int kind : {int(IconKindCount), -1, 1000}) {
			const QImage image = render(kind, 24);
			QCOMPARE(image.size(), QSize(24, 24));
			QCOMPARE(maxAlpha(image), 0);
		}
	}

	// Light and dark icons differ only in colour; active and selected look like normal.
	void colourFollowsPaletteAndMode()
	{
		const QRgb lightText = light().color(QPalette::Active, QPalette::WindowText).rgb() & 0xffffff;
		const QRgb darkText = dark().color(QPalette::Active, QPalette::WindowText).rgb() & 0xffffff;
		for (int kind : {IconBold, IconReadMode, IconScrollPause, IconRemoteQr}) {
			const QImage a = render(kind, 48, light());
			const QImage b = render(kind, 48, dark());
			QCOMPARE(maxAlpha(a), 255);
			for (int y = 0; y < 48; ++y)
				for (int x = 0; x < 48; ++x) {
					const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
					QCOMPARE(qAlpha(pa), qAlpha(pb));
					if (qAlpha(pa) == 255)
						QVERIFY((pa & 0xffffff) == lightText && (pb & 0xffffff) == darkText);
				}
			QCOMPARE(render(kind, 48, light(), QIcon::Active), a);
			QCOMPARE(render(kind, 48, light(), QIcon::Selected), a);
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
		QColor text(0x30, 0x40, 0x50, alpha);
		const QPalette palette = makePalette(text, Qt::white);
		// The filled play icon must not be darker where outline and fill meet.
		for (int kind : {IconAlignJustify, IconScrollPlay}) {
			const QImage disabled = render(kind, 48, palette, QIcon::Disabled);
			const QImage normal = render(kind, 48, palette);
			QCOMPARE(maxAlpha(disabled), expected);
			QCOMPARE(maxAlpha(normal), alpha);
			// Same shape, only fainter, and never the palette's disabled colour; premultiplied
			// painting rounds faint colours by a step or two.
			QCOMPARE(inkBounds(disabled), inkBounds(normal));
			const auto near = [](int a, int b) { return qAbs(a - b) <= 3; };
			for (int y = 0; y < 48; ++y)
				for (int x = 0; x < 48; ++x)
					if (const QRgb px = disabled.pixel(x, y); qAlpha(px) == expected)
						QVERIFY(near(qRed(px), text.red()) && near(qGreen(px), text.green()) && near(qBlue(px), text.blue()));
		}
	}

	void padlockStatesDifferOnlyInShackle()
	{
		const int size = 96;
		const qreal scale = size / 24.0;
		const QImage closed = render(IconReadMode, size, light(), QIcon::Normal, QIcon::On);
		const QImage open = render(IconReadMode, size, light(), QIcon::Normal, QIcon::Off);
		QVERIFY(closed != open);
		// Closed padlock: grid 2.5..21 high, so the drawing moves down by 0.25 units.
		const int bodyTop = qCeil((10 + 0.25 + 1.0) * scale);
		for (int y = bodyTop; y < size; ++y)
			for (int x = 0; x < size; ++x)
				QVERIFY2(closed.pixel(x, y) == open.pixel(x, y), qPrintable(QStringLiteral("body differs at %1,%2").arg(x).arg(y)));
		// The open shackle swings out to the right: ink beyond the closed one's right leg.
		const int rightLeg = qRound((16 + 1.0) * scale) + 2;
		bool openReachesRight = false, closedReachesRight = false;
		for (int y = 0; y < qRound(9 * scale); ++y) {
			openReachesRight |= qAlpha(open.pixel(rightLeg, y)) > 127;
			closedReachesRight |= qAlpha(closed.pixel(rightLeg, y)) > 127;
		}
		QVERIFY(openReachesRight && !closedReachesRight);
		// Other kinds ignore the state.
		QCOMPARE(render(IconBold, 48, light(), QIcon::Normal, QIcon::Off), render(IconBold, 48));
	}

	void fillsAndPenWidths()
	{
		// Play and pause are solid; the diamond and the clock are outlines.
		QCOMPARE(qAlpha(render(IconScrollPlay, 48).pixel(20, 24)), 255);
		const QImage pause = render(IconScrollPause, 48);
		QCOMPARE(qAlpha(pause.pixel(16, 24)), 255);
		QCOMPARE(qAlpha(pause.pixel(32, 24)), 255);
		QCOMPARE(qAlpha(pause.pixel(24, 24)), 0);
		QCOMPARE(qAlpha(render(IconInsertMark, 48).pixel(24, 24)), 0);
		QCOMPARE(qAlpha(render(IconInsertTime, 48).pixel(18, 30)), 0);

		// At 2 px per unit the bold stem is 6.4 px wide, an ordinary stroke 4 px.
		const int boldStem = firstRun(render(IconBold, 48), 16);
		QVERIFY2(boldStem >= 6 && boldStem <= 7, qPrintable(QString::number(boldStem)));
		const int ordinaryStroke = firstRun(render(IconAlignLeft, 48).transformed(QTransform().rotate(90)), 16);
		QVERIFY2(ordinaryStroke >= 3 && ordinaryStroke <= 5, qPrintable(QString::number(ordinaryStroke)));
	}

	void copiesPaintAlike()
	{
		const QIcon original = monoIcon(IconNextMark, dark());
		QIcon copy = original;
		// Adding a pixmap detaches the copy, which clones the engine.
		QPixmap extra(4, 4);
		extra.fill(Qt::red);
		copy.addPixmap(extra);
		const QImage image = copy.pixmap(QSize(32, 32)).toImage();
		QCOMPARE(image, original.pixmap(QSize(32, 32)).toImage());
		QVERIFY(maxAlpha(image.convertToFormat(QImage::Format_ARGB32)) > 0);
	}

	// A sheet of every kind for a person to look at: for each palette 24 px and 48 px On,
	// then Off, then disabled.
	void contactSheet()
	{
		const QString outDir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT", QDir::tempPath()) + QStringLiteral("/icons");
		QVERIFY(QDir().mkpath(outDir));
		const int row = 56, labelWidth = 190, cell = 60;
		QImage sheet(labelWidth + 8 * cell, row * IconKindCount, QImage::Format_ARGB32);
		sheet.fill(Qt::white);
		QPainter painter(&sheet);
		for (int kind = 0; kind < IconKindCount; ++kind) {
			const int top = kind * row;
			painter.setPen(Qt::black);
			painter.drawText(QRect(8, top, labelWidth, row), Qt::AlignVCenter, QStringLiteral("%1  %2").arg(kind).arg(QLatin1String(KindNames[kind])));
			for (int p = 0; p < 2; ++p) {
				const QPalette &palette = p ? dark() : light();
				const int left = labelWidth + p * 4 * cell;
				painter.fillRect(QRect(left, top, 4 * cell, row), palette.color(QPalette::Window));
				const QIcon icon = monoIcon(kind, palette);
				painter.drawPixmap(left + 18, top + 16, icon.pixmap(QSize(24, 24), QIcon::Normal, QIcon::On));
				const std::pair<QIcon::Mode, QIcon::State> variants[] = {
					{QIcon::Normal, QIcon::On}, {QIcon::Normal, QIcon::Off}, {QIcon::Disabled, QIcon::On}};
				for (int v = 0; v < 3; ++v)
					painter.drawPixmap(left + (v + 1) * cell + 6, top + 4, icon.pixmap(QSize(48, 48), variants[v].first, variants[v].second));
			}
			painter.setPen(QColor(200, 200, 200));
			painter.drawLine(0, top, sheet.width(), top);
		}
		painter.end();
		QVERIFY(sheet.save(outDir + QStringLiteral("/contact-sheet.png")));
	}
};

QTEST_MAIN(MonoIconTest)
#include "tst_mono_icon.moc"
