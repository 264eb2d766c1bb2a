#include "documents/word_xml_input.h"

#include "module/text.h"

#include <cstring>

namespace quillmar {

namespace {

// Splits character data without changing it; the reader reports it as an instruction and moves on.
constexpr char kCut[] = "<?q?>";
constexpr char kCDataCut[] = "]]><?q?><![CDATA[";

bool continuationByte(char c)
{
	return (uchar(c) & 0xc0) == 0x80;
}

} // namespace

WordXmlInput::WordXmlInput(const QByteArray &xml) : m_xml(xml)
{
	open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool WordXmlInput::atEnd() const
{
	return m_pending.isEmpty() && (m_read >= m_xml.size() || !m_fault.isEmpty());
}

qint64 WordXmlInput::bytesAvailable() const
{
	return m_pending.size() + (m_fault.isEmpty() ? m_xml.size() - m_read : 0);
}

qint64 WordXmlInput::readData(char *data, qint64 maxSize)
{
	const char *source = m_xml.constData();
	while (m_pending.size() < maxSize && m_read < m_xml.size() && m_fault.isEmpty()) {
		if (m_state == State::Content) {
			// Plain text passes in one copy, up to the end of its piece.
			const qsizetype stop = qMin(m_xml.size(), m_read + qMax<qsizetype>(0, kWordTextPiece - m_piece));
			qsizetype end = m_read;
			while (end < stop && source[end] != '<' && source[end] != '&')
				++end;
			if (end > m_read) {
				m_pending.append(source + m_read, end - m_read);
				m_piece += end - m_read;
				m_beforeLast = end - m_read > 1 ? source[end - 2] : m_last;
				m_last = source[end - 1];
				m_read = end;
				continue;
			}
		}
		if (!step(source[m_read]))
			break;
		++m_read;
	}
	const qint64 n = qMin<qint64>(maxSize, m_pending.size());
	std::memcpy(data, m_pending.constData(), size_t(n));
	m_pending.remove(0, qsizetype(n));
	return n;
}

bool WordXmlInput::enter(State state)
{
	m_state = state;
	if (state == State::StartTag && ++m_depth > kWordMaxNesting) {
		m_fault = text("WordNestingRefused");
		return false;
	}
	if (state == State::EndTag)
		m_depth = qMax(0, m_depth - 1);
	return true;
}

bool WordXmlInput::step(char c)
{
	bool ok = true;
	bool markup = true;
	switch (m_state) {
	case State::Content:
		if (c == '<') {
			m_piece = 0;
			m_markup = 0;
			m_state = State::Open;
		} else if (c == '&') {
			m_markup = 0;
			m_state = State::Reference;
		} else {
			// Never inside a character's bytes, nor between the two of a line end.
			if (m_piece >= kWordTextPiece && !continuationByte(c) && m_last != '\r') {
				m_pending.append(kCut, sizeof(kCut) - 1);
				m_piece = 0;
			}
			++m_piece;
		}
		break;
	case State::CData:
		if (c == '>' && m_last == ']' && m_beforeLast == ']') {
			m_state = State::Content;
		} else if (m_piece >= kWordTextPiece && !continuationByte(c) && m_last != '\r' && m_last != ']') {
			m_pending.append(kCDataCut, sizeof(kCDataCut) - 1);
			m_piece = 0;
		}
		++m_piece;
		markup = false;
		break;
	case State::Reference:
		if (c == ';')
			m_state = State::Content;
		break;
	case State::Open:
		if (c == '/') {
			ok = enter(State::EndTag);
		} else if (c == '?') {
			m_state = State::Instruction;
		} else if (c == '!') {
			m_bang.clear();
			m_state = State::Bang;
		} else {
			ok = enter(State::StartTag);
		}
		break;
	case State::Bang: {
		m_bang.append(c);
		static const QByteArray comment("--"), cdata("[CDATA[");
		if (m_bang == comment) {
			m_state = State::Comment;
		} else if (m_bang == cdata) {
			m_piece = 0;
			m_state = State::CData;
		} else if (!comment.startsWith(m_bang) && !cdata.startsWith(m_bang)) {
			m_state = c == '>' ? State::Content : State::Declaration;
		}
		break;
	}
	case State::StartTag:
		if (c == '"' || c == '\'') {
			m_quote = c;
			m_state = State::Quote;
		} else if (c == '>') {
			if (m_last == '/')
				m_depth = qMax(0, m_depth - 1);
			m_state = State::Content;
		}
		break;
	case State::Quote:
		if (c == m_quote)
			m_state = State::StartTag;
		break;
	case State::Comment:
		if (c == '>' && m_last == '-' && m_beforeLast == '-')
			m_state = State::Content;
		break;
	case State::Instruction:
		if (c == '>' && m_last == '?')
			m_state = State::Content;
		break;
	case State::EndTag:
	case State::Declaration:
		if (c == '>')
			m_state = State::Content;
		break;
	}
	if (ok && markup && m_state != State::Content && ++m_markup > kWordMaxMarkup) {
		m_fault = text("WordMarkupRefused");
		ok = false;
	}
	if (!ok)
		return false;
	m_pending.append(c);
	m_beforeLast = m_last;
	m_last = c;
	return true;
}

} // namespace quillmar
