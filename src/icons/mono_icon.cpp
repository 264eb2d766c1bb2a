#include "icons/mono_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPixmap>

#include <initializer_list>

namespace quillmar {

namespace {

constexpr qreal Grid = 24.0;
constexpr qreal PenWidth = 2.0;
constexpr qreal BoldPenWidth = 3.2;
constexpr int DisabledAlpha = 110;

void polyline(QPainterPath &path, std::initializer_list<QPointF> points, bool closed = false)
{
	auto it = points.begin();
	path.moveTo(*it);
	for (++it; it != points.end(); ++it)
		path.lineTo(*it);
	if (closed)
		path.closeSubpath();
}

void line(QPainterPath &path, qreal x1, qreal y1, qreal x2, qreal y2)
{
	polyline(path, {{x1, y1}, {x2, y2}});
}

void tray(QPainterPath &path)
{
	polyline(path, {{5, 16}, {5, 20}, {19, 20}, {19, 16}});
}

void capitalA(QPainterPath &path, qreal left, qreal top, qreal right, qreal bottom, qreal barY,
	      qreal barLeft, qreal barRight)
{
	polyline(path, {{left, bottom}, {(left + right) / 2, top}, {right, bottom}});
	line(path, barLeft, barY, barRight, barY);
}

// Two full lines and two lines from shortLeft to shortRight, alternating from the top.
void alignment(QPainterPath &path, qreal shortLeft, qreal shortRight)
{
	line(path, 3, 5, 21, 5);
	line(path, shortLeft, 10, shortRight, 10);
	line(path, 3, 15, 21, 15);
	line(path, shortLeft, 20, shortRight, 20);
}

void indentLines(QPainterPath &path)
{
	line(path, 3, 5, 21, 5);
	line(path, 12, 10, 21, 10);
	line(path, 12, 15, 21, 15);
	line(path, 3, 20, 21, 20);
	line(path, 3, 12, 8, 12);
}

void padlock(QPainterPath &path, bool closed)
{
	path.addRoundedRect(QRectF(5, 10, 14, 11), 1.5, 1.5, Qt::AbsoluteSize);
	path.moveTo(8, 10);
	path.lineTo(8, 7);
	if (closed) {
		path.cubicTo(8, 1, 16, 1, 16, 7);
		path.lineTo(16, 10);
	} else {
		path.cubicTo(8, 0, 19, 0, 19, 6);
		path.lineTo(19, 7);
	}
	line(path, 12, 14, 12, 17);
}

QPainterPath iconPath(int kind, bool on)
{
	QPainterPath p;
	switch (kind) {
	case IconImport:
		tray(p);
		line(p, 12, 4, 12, 14);
		polyline(p, {{8, 10}, {12, 14}, {16, 10}});
		break;
	case IconExport:
		tray(p);
		line(p, 12, 14, 12, 4);
		polyline(p, {{8, 8}, {12, 4}, {16, 8}});
		break;
	case IconFont:
		capitalA(p, 2, 5, 12, 19, 14, 4, 10);
		p.addEllipse(QRectF(14, 11, 7, 8));
		line(p, 21, 11, 21, 19);
		break;
	case IconBold:
		line(p, 7, 4, 7, 20);
		p.moveTo(7, 20);
		p.lineTo(13, 20);
		p.cubicTo(21, 20, 21, 12, 13, 12);
		p.lineTo(7, 12);
		p.moveTo(7, 4);
		p.lineTo(12, 4);
		p.cubicTo(20, 4, 20, 12, 12, 12);
		break;
	case IconItalic:
		line(p, 10, 4, 18, 4);
		line(p, 6, 20, 14, 20);
		line(p, 15, 4, 9, 20);
		break;
	case IconUnderline:
		p.moveTo(6, 4);
		p.lineTo(6, 12);
		p.cubicTo(6, 20, 18, 20, 18, 12);
		p.lineTo(18, 4);
		line(p, 5, 22, 19, 22);
		break;
	case IconTextColor:
		capitalA(p, 5, 3, 19, 17, 12, 8, 16);
		line(p, 4, 22, 20, 22);
		break;
	case IconHighlight:
		polyline(p, {{6, 13}, {15, 4}, {20, 9}, {11, 18}}, true);
		polyline(p, {{6, 13}, {4, 19}, {11, 18}});
		line(p, 4, 22, 20, 22);
		break;
	case IconClearFormat:
		polyline(p, {{8, 20}, {3, 15}, {13, 5}, {21, 13}, {14, 20}}, true);
		line(p, 8, 10, 16, 18);
		line(p, 8, 20, 21, 20);
		break;
	case IconAlignLeft:
		alignment(p, 3, 15);
		break;
	case IconAlignCenter:
		alignment(p, 6, 18);
		break;
	case IconAlignRight:
		alignment(p, 9, 21);
		break;
	case IconAlignJustify:
		alignment(p, 3, 21);
		break;
	case IconDecreaseIndent:
		indentLines(p);
		polyline(p, {{6, 9}, {3, 12}, {6, 15}});
		break;
	case IconIncreaseIndent:
		indentLines(p);
		polyline(p, {{5, 9}, {8, 12}, {5, 15}});
		break;
	case IconInsertTime:
		p.addEllipse(QPointF(12, 12), 8, 8);
		polyline(p, {{12, 7}, {12, 12}, {16, 14}});
		break;
	case IconListStyle:
		for (qreal y : {6.0, 12.0, 18.0}) {
			p.addEllipse(QPointF(4, y), 0.6, 0.6);
			line(p, 9, y, 20, y);
		}
		break;
	case IconScrollPlay:
		polyline(p, {{8, 5}, {19, 12}, {8, 19}}, true);
		break;
	case IconScrollPause:
		p.addRoundedRect(QRectF(6, 5, 4, 14), 0.5, 0.5, Qt::AbsoluteSize);
		p.addRoundedRect(QRectF(14, 5, 4, 14), 0.5, 0.5, Qt::AbsoluteSize);
		break;
	case IconScrollTop:
		line(p, 5, 3, 19, 3);
		line(p, 12, 21, 12, 7);
		polyline(p, {{6, 13}, {12, 7}, {18, 13}});
		break;
	case IconReadMode:
		padlock(p, on);
		break;
	case IconReadingGuide:
		line(p, 7, 5, 20, 5);
		line(p, 7, 19, 20, 19);
		polyline(p, {{2, 9}, {5, 12}, {2, 15}});
		line(p, 9, 12, 21, 12);
		break;
	case IconMoreTools:
		polyline(p, {{5, 6}, {11, 12}, {5, 18}});
		polyline(p, {{13, 6}, {19, 12}, {13, 18}});
		break;
	case IconFindPrevious:
		polyline(p, {{6, 15}, {12, 9}, {18, 15}});
		break;
	case IconFindNext:
		polyline(p, {{6, 9}, {12, 15}, {18, 9}});
		break;
	case IconClearSearch:
		line(p, 6, 6, 18, 18);
		line(p, 18, 6, 6, 18);
		break;
	case IconRemoteQr:
		p.addRect(QRectF(3, 3, 6, 6));
		p.addRect(QRectF(15, 3, 6, 6));
		p.addRect(QRectF(3, 15, 6, 6));
		polyline(p, {{15, 14}, {15, 18}, {12, 18}});
		polyline(p, {{18, 12}, {21, 12}, {21, 16}});
		polyline(p, {{18, 21}, {21, 21}, {21, 19}});
		break;
	case IconInsertMark:
		polyline(p, {{12, 4}, {20, 12}, {12, 20}, {4, 12}}, true);
		break;
	case IconNextMark:
		polyline(p, {{8, 5}, {14, 12}, {8, 19}, {2, 12}}, true);
		polyline(p, {{17, 7}, {22, 12}, {17, 17}});
		break;
	case IconStrikethrough:
		p.moveTo(18, 6);
		p.cubicTo(7, 0, 2, 11, 12, 12);
		p.cubicTo(22, 13, 17, 24, 6, 18);
		line(p, 4, 12, 20, 12);
		break;
	case IconFormatPainter:
		p.addRoundedRect(QRectF(4, 3, 16, 7), 1, 1, Qt::AbsoluteSize);
		polyline(p, {{18, 10}, {18, 14}, {12, 14}, {12, 21}});
		break;
	default:
		break;
	}
	return p;
}

class MonoIcon : public QIconEngine {
public:
	MonoIcon(int kind, const QPalette &palette) : m_kind(kind), m_palette(palette) {}
	~MonoIcon() override = default;

	void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
	{
		const int side = qMin(rect.width(), rect.height());
		if (!painter || side <= 0 || m_kind < 0 || m_kind >= IconKindCount)
			return;
		const QPainterPath path = iconPath(m_kind, state == QIcon::On);
		// The open padlock is centred like the closed one so that toggling moves only the shackle.
		const QPointF centre =
			(m_kind == IconReadMode ? iconPath(m_kind, true) : path).boundingRect().center();

		QColor colour = m_palette.color(QPalette::Active, QPalette::WindowText);
		if (mode == QIcon::Disabled)
			colour.setAlpha(qMin(colour.alpha(), DisabledAlpha));

		painter->save();
		painter->setRenderHint(QPainter::Antialiasing);
		const qreal scale = side / Grid;
		painter->translate(rect.x() + (rect.width() - side) * 0.5, rect.y() + (rect.height() - side) * 0.5);
		painter->scale(scale, scale);
		painter->translate(Grid / 2 - centre.x(), Grid / 2 - centre.y());
		const QPen pen(QBrush(colour), m_kind == IconBold ? BoldPenWidth : PenWidth, Qt::SolidLine,
			       Qt::RoundCap, Qt::RoundJoin);
		if (m_kind == IconScrollPlay || m_kind == IconScrollPause) {
			// Outline and fill as one area, so a translucent (disabled) colour does not
			// darken where the pen overlaps the fill.
			QPainterPathStroker stroker(pen);
			painter->fillPath(stroker.createStroke(path).united(path), colour);
		} else {
			painter->setPen(pen);
			painter->setBrush(Qt::NoBrush);
			painter->drawPath(path);
		}
		painter->restore();
	}

	QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
	{
		QPixmap pm(size);
		if (pm.isNull())
			return pm;
		pm.fill(Qt::transparent);
		QPainter painter(&pm);
		paint(&painter, QRect(QPoint(0, 0), size), mode, state);
		return pm;
	}

	QIconEngine *clone() const override { return new MonoIcon(m_kind, m_palette); }

private:
	qint32 m_kind;
	QPalette m_palette;
};

} // namespace

QIcon monoIcon(int kind, const QPalette &palette)
{
	return QIcon(new MonoIcon(kind, palette));
}

} // namespace quillmar
