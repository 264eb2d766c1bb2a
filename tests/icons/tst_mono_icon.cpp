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

// Built once the application exists.
const QPalette &light()
{
	static const QPalette palette = makePalette(QColor(0x20, 0x21, 0x26), QColor(0xf0, 0xf0, 0xf0));
	return palette;
}

QImage image(const QIcon &icon, int size = 48, QIcon::Mode mode = QIcon::Normal, QIcon::State state = QIcon::On)
{
	return icon.pixmap(QSize(size, size), mode, state).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage render(int kind, const QPalette &palette = light(), QIcon::Mode mode = QIcon::Normal, QIcon::State state = QIcon::On)
{
	return image(monoIcon(kind, palette), 48, mode, state);
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
			const QRect box = inkBounds(render(kind, light(), QIcon::Normal, state));
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
			QCOMPARE(maxAlpha(render(kind)), 0);
		// Adding a pixmap detaches a copy, which clones the engine: the clone paints alike.
		const QIcon original = monoIcon(IconNextMark, light());
		QIcon copy = original;
		QPixmap extra(4, 4);
		extra.fill(Qt::red);
		copy.addPixmap(extra);
		QCOMPARE(image(copy, 32), image(original, 32));
		QVERIFY(maxAlpha(image(copy, 32)) > 0);
	}

	void colours_data()
	{
		QTest::addColumn<QColor>("text");
		QTest::addColumn<int>("mode");
		QTest::addColumn<int>("alpha");
		QTest::addRow("light") << QColor(0x20, 0x21, 0x26) << int(QIcon::Normal) << 255;
		QTest::addRow("dark") << QColor(0xe6, 0xe7, 0xea) << int(QIcon::Normal) << 255;
		QTest::addRow("active") << QColor(0x20, 0x21, 0x26) << int(QIcon::Active) << 255;
		QTest::addRow("selected") << QColor(0x20, 0x21, 0x26) << int(QIcon::Selected) << 255;
		QTest::addRow("disabled") << QColor(0x30, 0x40, 0x50) << int(QIcon::Disabled) << 110;
		QTest::addRow("disabled at the cap") << QColor(0x30, 0x40, 0x50, 110) << int(QIcon::Disabled) << 110;
		QTest::addRow("disabled, already faint") << QColor(0x30, 0x40, 0x50, 80) << int(QIcon::Disabled) << 80;
	}

	// Only the palette's active text colour paints, faded to at most alpha 110 when disabled;
	// the shape never changes, and the filled play icon is no darker where outline and fill meet.
	void colours()
	{
		QFETCH(QColor, text);
		QFETCH(int, mode);
		QFETCH(int, alpha);
		for (int kind : {IconBold, IconReadMode, IconScrollPlay, IconAlignJustify, IconRemoteQr}) {
			const QImage shown = render(kind, makePalette(text, Qt::white), QIcon::Mode(mode)), reference = render(kind);
			QCOMPARE(maxAlpha(shown), alpha);
			QCOMPARE(inkBounds(shown), inkBounds(reference));
			// Premultiplied painting rounds faint colours by a step or two.
			const auto near = [](int a, int b) { return qAbs(a - b) <= 3; };
			eachPixel(shown, [&](int x, int y, QRgb px) {
				QVERIFY(alpha != 255 || qAlpha(px) == qAlpha(reference.pixel(x, y)));
				if (qAlpha(px) == alpha)
					QVERIFY(near(qRed(px), text.red()) && near(qGreen(px), text.green()) && near(qBlue(px), text.blue()));
			});
		}
	}
};

QTEST_MAIN(MonoIconTest)
#include "tst_mono_icon.moc"
