#include "icons/mono_icon.h"

#include <QtTest>

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

QImage render(int kind, int size, const QPalette &palette = light(), QIcon::Mode mode = QIcon::Normal,
	      QIcon::State state = QIcon::On)
{
	return monoIcon(kind, palette).pixmap(QSize(size, size), mode, state).toImage().convertToFormat(QImage::Format_ARGB32);
}

template <typename Visit> void eachPixel(const QImage &image, Visit visit)
{
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			visit(x, y, image.pixel(x, y));
}

// Bounding box of the pixels with any coverage.
QRect inkBounds(const QImage &image)
{
	QRect box;
	eachPixel(image, [&](int x, int y, QRgb px) { box |= qAlpha(px) > 0 ? QRect(x, y, 1, 1) : QRect(); });
	return box;
}

int maxAlpha(const QImage &image)
{
	int alpha = 0;
	eachPixel(image, [&](int, int, QRgb px) { alpha = std::max(alpha, qAlpha(px)); });
	return alpha;
}

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
			QTest::addRow("kind %d", kind) << kind;
	}
	void everyKindIsCentredAndUnclipped()
	{
		QFETCH(int, kind);
		for (QIcon::State state : {QIcon::On, QIcon::Off}) {
			const QRect box = inkBounds(render(kind, 48, light(), QIcon::Normal, state));
			QVERIFY2(!box.isEmpty(), "the icon painted nothing");
			// The outline never touches the border: nothing is cut off.
			QVERIFY(box.left() >= 1 && box.top() >= 1 && box.right() <= 46 && box.bottom() <= 46);
			QVERIFY(qAbs(box.left() - (47 - box.right())) <= 1);
			// The open padlock keeps the closed one's position, so its shackle sticks out at the top.
			if (kind != IconReadMode || state != QIcon::Off)
				QVERIFY(qAbs(box.top() - (47 - box.bottom())) <= 1);
		}
	}

	void sizesUnknownKindsAndCopies()
	{
		for (const QSize size : {QSize(1, 1), QSize(17, 31)})
			QCOMPARE(monoIcon(IconScrollPlay, light()).pixmap(size).size(), size);
		for (int kind : {int(IconKindCount), -1})
			QCOMPARE(maxAlpha(render(kind, 24)), 0);
		// Adding a pixmap detaches a copy, which clones the engine: the clone paints alike.
		const QIcon original = monoIcon(IconNextMark, light());
		QIcon copy = original;
		QPixmap extra(4, 4);
		extra.fill(Qt::red);
		copy.addPixmap(extra);
		const QImage image = copy.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
		QCOMPARE(image, original.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32));
		QVERIFY(maxAlpha(image) > 0);
	}

	// Light and dark icons differ only in colour; active and selected look like normal.
	void colourFollowsPaletteAndMode()
	{
		const QRgb lightText = light().color(QPalette::Active, QPalette::WindowText).rgb() & 0xffffff;
		const QPalette dark = makePalette(QColor(0xe6, 0xe7, 0xea), QColor(0x27, 0x2a, 0x33));
		for (int kind : {IconBold, IconReadMode, IconScrollPause, IconRemoteQr}) {
			const QImage a = render(kind, 48, light());
			const QImage b = render(kind, 48, dark);
			QCOMPARE(maxAlpha(a), 255);
			eachPixel(a, [&](int x, int y, QRgb pa) {
				const QRgb pb = b.pixel(x, y);
				QCOMPARE(qAlpha(pa), qAlpha(pb));
				if (qAlpha(pa) == 255)
					QVERIFY((pa & 0xffffff) == lightText && (pb & 0xffffff) == 0xe6e7ea);
			});
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
		const QColor text(0x30, 0x40, 0x50, alpha);
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
			eachPixel(disabled, [&](int, int, QRgb px) {
				if (qAlpha(px) == expected)
					QVERIFY(near(qRed(px), text.red()) && near(qGreen(px), text.green()) && near(qBlue(px), text.blue()));
			});
		}
	}
};

QTEST_MAIN(MonoIconTest)
#include "tst_mono_icon.moc"
