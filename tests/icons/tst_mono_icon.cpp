#include "icons/mono_icon.h"

#include <QtTest>

using namespace quillmar;

namespace {

QPalette makePalette(const QColor &text)
{
	QPalette palette;
	palette.setColor(QPalette::All, QPalette::WindowText, text);
	palette.setColor(QPalette::All, QPalette::Window, Qt::white);
	// Only the active group counts; a different disabled colour must not leak in.
	palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 0, 0));
	palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 255, 0));
	return palette;
}

const QColor kLight(0x20, 0x21, 0x26);

QImage image(const QIcon &icon, int size = 48, QIcon::Mode mode = QIcon::Normal, QIcon::State state = QIcon::On)
{
	return icon.pixmap(QSize(size, size), mode, state).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The bounding box of the pixels with any coverage, and the highest alpha.
std::pair<QRect, int> ink(const QImage &image)
{
	std::pair<QRect, int> out{QRect(), 0};
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (const int alpha = qAlpha(image.pixel(x, y)); alpha > 0)
				out = {out.first | QRect(x, y, 1, 1), std::max(out.second, alpha)};
	return out;
}

// The text colour, the mode the icon is drawn in, and the alpha its ink must have.
using ColourRow = std::tuple<QColor, QIcon::Mode, int>;

} // namespace

Q_DECLARE_METATYPE(ColourRow)

class MonoIconTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void init()
	{
		// Painter misuse (a null device, a singular transform) shows up as a Qt warning.
		QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
	}

	// Every kind paints, centred and uncut, at any size; a copy (which clones the engine) alike.
	void shapes()
	{
		for (int kind = 0; kind < IconKindCount; ++kind) {
			const QIcon icon = monoIcon(kind, makePalette(kLight));
			for (QIcon::State state : {QIcon::On, QIcon::Off}) {
				const QRect box = ink(image(icon, 48, QIcon::Normal, state)).first;
				QVERIFY2(box.left() >= 1 && box.top() >= 1 && box.right() <= 46 && box.bottom() <= 46, qPrintable(QString::number(kind)));
				QVERIFY(qAbs(box.left() - (47 - box.right())) <= 1);
				// The open padlock keeps the closed one's position, so its shackle sticks out at the top.
				if (kind != IconReadMode || state != QIcon::Off)
					QVERIFY(qAbs(box.top() - (47 - box.bottom())) <= 1);
				else // large enough that a shift by the shackle's height shows
					QCOMPARE(ink(image(icon, 240, QIcon::Normal, state)).first.bottom(), ink(image(icon, 240)).first.bottom());
			}
		}
		for (const QSize size : {QSize(1, 1), QSize(17, 31)})
			QCOMPARE(monoIcon(IconScrollPlay, makePalette(kLight)).pixmap(size).size(), size);
		const QIcon original = monoIcon(IconNextMark, makePalette(kLight));
		QIcon copy = original;
		QPixmap extra(4, 4);
		extra.fill(Qt::red);
		copy.addPixmap(extra);
		QCOMPARE(image(copy, 32), image(original, 32));
	}

	void colours_data()
	{
		QTest::addColumn<ColourRow>("row");
		QTest::addRow("dark, active") << ColourRow{QColor(0xe6, 0xe7, 0xea), QIcon::Active, 255};
		QTest::addRow("selected") << ColourRow{kLight, QIcon::Selected, 255};
		QTest::addRow("disabled") << ColourRow{QColor(0x30, 0x40, 0x50), QIcon::Disabled, 110};
		QTest::addRow("disabled, already faint") << ColourRow{QColor(0x30, 0x40, 0x50, 80), QIcon::Disabled, 80};
	}

	// Only the palette's active text colour paints, faded to at most alpha 110 when disabled;
	// the shape never changes, and the filled play icon is no darker where outline and fill meet.
	void colours()
	{
		QFETCH(ColourRow, row);
		const auto &[text, mode, alpha] = row;
		for (int kind : {IconBold, IconReadMode, IconScrollPlay, IconAlignJustify, IconRemoteQr}) {
			const QImage shown = image(monoIcon(kind, makePalette(text)), 48, mode),
				     reference = image(monoIcon(kind, makePalette(kLight)));
			QCOMPARE(ink(shown), std::make_pair(ink(reference).first, alpha));
			// Premultiplied painting rounds faint colours by a step or two.
			const auto near = [](int a, int b) { return qAbs(a - b) <= 3; };
			for (int y = 0; y < 48; ++y)
				for (int x = 0; x < 48; ++x) {
					const QRgb px = shown.pixel(x, y);
					QVERIFY(alpha != 255 || qAlpha(px) == qAlpha(reference.pixel(x, y)));
					if (qAlpha(px) == alpha)
						QVERIFY(near(qRed(px), text.red()) && near(qGreen(px), text.green()) && near(qBlue(px), text.blue()));
				}
		}
	}
};

QTEST_MAIN(MonoIconTest)
#include "tst_mono_icon.moc"
