#pragma once

// A package part as QXmlStreamReader reads it, in bounded time and memory whatever the part
// holds. The reader keeps every open element and builds each text, comment or tag whole before
// handing it over, so a part of a few MiB could nest a million elements or hold one text node
// of 20 MiB. This device feeds the part through a light scan: elements nested deeper than any
// real document nests them, or one tag, comment or reference longer than any real one, end the
// part with a fault; character data is cut into pieces by empty processing instructions, which
// leave the text as it was, so that whoever reads a text can stop as soon as it is too long.

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace quillmar {

constexpr int kWordMaxNesting = 512;
constexpr qsizetype kWordMaxMarkup = 1 << 20;
constexpr qsizetype kWordTextPiece = 1 << 14;

class WordXmlInput : public QIODevice {
public:
	explicit WordXmlInput(const QByteArray &xml);

	// Empty while the part is sound; else a readable detail of what ended it.
	QString fault() const { return m_fault; }

	bool isSequential() const override { return true; }
	bool atEnd() const override;
	qint64 bytesAvailable() const override;

protected:
	qint64 readData(char *data, qint64 maxSize) override;
	qint64 writeData(const char *, qint64) override { return -1; }

private:
	enum class State { Content, Reference, Open, Bang, StartTag, EndTag, Quote, Comment, Instruction, CData, Declaration };

	// Moves one byte of the part to out; false when the part must end here.
	bool step(char c);
	bool enter(State state);

	const QByteArray m_xml;
	qsizetype m_read = 0;
	QByteArray m_pending;
	State m_state = State::Content;
	char m_quote = 0;
	char m_last = 0;
	char m_beforeLast = 0;
	QByteArray m_bang;
	int m_depth = 0;
	qsizetype m_markup = 0;
	qsizetype m_piece = 0;
	QString m_fault;
};

} // namespace quillmar
