#include "storage/note_file.h"

#include "module/text.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>

namespace quillmar {

namespace {

constexpr char FormatName[] = "OBS-Quillmar";
constexpr int MaxBaseNameUnits = 100;
constexpr int MaxBaseNameBytes = 180;

// Bytes a JSON string needs for one byte of UTF-8: only ASCII is ever escaped, so multi-byte
// sequences pass through untouched.
inline int escapedLength(unsigned char c)
{
	if (c >= 0x20)
		return c == '"' || c == '\\' ? 2 : 1;
	return c == '\n' || c == '\r' || c == '\t' || c == '\b' || c == '\f' ? 2 : 6;
}

// Notes are megabytes of HTML full of quotes: measure once, then write without reallocating.
void appendJsonString(QByteArray &out, const QString &value)
{
	static const char hex[] = "0123456789abcdef";
	const QByteArray utf8 = value.toUtf8();
	const auto *begin = reinterpret_cast<const unsigned char *>(utf8.constData());
	const auto *end = begin + utf8.size();
	qsizetype length = 2;
	for (const unsigned char *p = begin; p != end; ++p)
		length += escapedLength(*p);
	const qsizetype offset = out.size();
	out.resize(offset + length);
	char *o = out.data() + offset;
	*o++ = '"';
	for (const unsigned char *p = begin; p != end; ++p) {
		const unsigned char c = *p;
		if (c >= 0x20 && c != '"' && c != '\\') {
			*o++ = char(c);
			continue;
		}
		*o++ = '\\';
		switch (c) {
		case '"':
		case '\\':
			*o++ = char(c);
			break;
		case '\n':
			*o++ = 'n';
			break;
		case '\r':
			*o++ = 'r';
			break;
		case '\t':
			*o++ = 't';
			break;
		case '\b':
			*o++ = 'b';
			break;
		case '\f':
			*o++ = 'f';
			break;
		default:
			*o++ = 'u';
			*o++ = '0';
			*o++ = '0';
			*o++ = hex[c >> 4];
			*o++ = hex[c & 15];
		}
	}
	*o = '"';
}

// A strict JSON reader for the top level of a note file. It decodes only the strings it is asked
// for and validates everything else, which reads a note several times faster than building a
// QJsonDocument of it.
class NoteJsonReader {
public:
	enum class Kind { Missing, String, Number, Other };
	struct Field {
		Kind kind = Kind::Missing;
		QString text;
		double number = 0;
	};

	explicit NoteJsonReader(const QByteArray &bytes)
		: m_p(reinterpret_cast<const unsigned char *>(bytes.constData())), m_end(m_p + bytes.size())
	{
	}

	// Fills the fields named in names (in the order given) from the top-level object.
	bool read(const char *const *names, Field *fields, int count)
	{
		skipSpace();
		if (!take('{'))
			return false;
		skipSpace();
		if (take('}'))
			return atEnd();
		for (;;) {
			QByteArray key;
			if (!readKey(key))
				return false;
			Field *field = nullptr;
			for (int i = 0; i < count; ++i)
				if (key == names[i])
					field = &fields[i];
			if (!readValue(field, 0))
				return false;
			skipSpace();
			if (take('}'))
				return atEnd();
			if (!take(','))
				return false;
			skipSpace();
		}
	}

private:
	static constexpr int MaxDepth = 512;

	bool atEnd()
	{
		skipSpace();
		return m_p == m_end;
	}

	void skipSpace()
	{
		while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
			++m_p;
	}

	bool take(char c)
	{
		if (m_p == m_end || *m_p != static_cast<unsigned char>(c))
			return false;
		++m_p;
		return true;
	}

	bool takeWord(const char *word)
	{
		for (; *word; ++word)
			if (!take(*word))
				return false;
		return true;
	}

	bool readValue(Field *field, int depth)
	{
		if (m_p == m_end || depth > MaxDepth)
			return false;
		const unsigned char c = *m_p;
		if (c == '"') {
			++m_p;
			QByteArray utf8;
			if (!field)
				return readValidString(utf8);
			if (!readString(utf8))
				return false;
			QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
			field->text = decoder.decode(utf8);
			field->kind = Kind::String;
			return !decoder.hasError();
		}
		if (c == 't' || c == 'f' || c == 'n') {
			if (field)
				field->kind = Kind::Other;
			return takeWord(c == 't' ? "true" : c == 'f' ? "false" : "null");
		}
		if (c == '[' || c == '{') {
			if (field)
				field->kind = Kind::Other;
			const bool object = c == '{';
			++m_p;
			skipSpace();
			if (take(object ? '}' : ']'))
				return true;
			for (;;) {
				QByteArray key;
				if (object && !readKey(key))
					return false;
				if (!readValue(nullptr, depth + 1))
					return false;
				skipSpace();
				if (take(object ? '}' : ']'))
					return true;
				if (!take(','))
					return false;
				skipSpace();
			}
		}
		// Anything else is read as a number, as Qt's reader does: ".5" is one.
		double number = 0;
		if (!readNumber(&number))
			return false;
		if (field) {
			field->kind = Kind::Number;
			field->number = number;
		}
		return true;
	}

	static int hexValue(unsigned char c)
	{
		if (c >= '0' && c <= '9')
			return c - '0';
		if (c >= 'a' && c <= 'f')
			return c - 'a' + 10;
		if (c >= 'A' && c <= 'F')
			return c - 'A' + 10;
		return -1;
	}

	bool readHex4(char32_t *value)
	{
		if (m_end - m_p < 4)
			return false;
		char32_t v = 0;
		for (int i = 0; i < 4; ++i) {
			const int h = hexValue(m_p[i]);
			if (h < 0)
				return false;
			v = v << 4 | char32_t(h);
		}
		m_p += 4;
		*value = v;
		return true;
	}

	static void appendUtf8(QByteArray &out, char32_t c)
	{
		if (c < 0x80) {
			out.append(char(c));
		} else if (c < 0x800) {
			out.append(char(0xC0 | c >> 6)).append(char(0x80 | (c & 0x3F)));
		} else if (c < 0x10000) {
			out.append(char(0xE0 | c >> 12)).append(char(0x80 | (c >> 6 & 0x3F))).append(char(0x80 | (c & 0x3F)));
		} else {
			out.append(char(0xF0 | c >> 18))
				.append(char(0x80 | (c >> 12 & 0x3F)))
				.append(char(0x80 | (c >> 6 & 0x3F)))
				.append(char(0x80 | (c & 0x3F)));
		}
	}

	// A member's name and its colon, and the space after them.
	bool readKey(QByteArray &key)
	{
		if (!take('"') || !readValidString(key))
			return false;
		skipSpace();
		if (!take(':'))
			return false;
		skipSpace();
		return true;
	}

	// Every string is checked as UTF-8 after unescaping, as Qt's JSON reader does.
	bool readValidString(QByteArray &out)
	{
		return readString(out) && QByteArrayView(out).isValidUtf8();
	}

	// After the opening quote; out receives the unescaped UTF-8.
	bool readString(QByteArray &out)
	{
		const unsigned char *run = m_p;
		// Escapes only shrink a string, so its raw length is enough room.
		const unsigned char *close = m_p;
		while (close != m_end && *close != '"') {
			if (*close == '\\' && m_end - close < 2)
				return false;
			close += *close == '\\' ? 2 : 1;
		}
		if (close == m_end)
			return false;
		out.reserve(close - m_p);
		for (;;) {
			// Raw control characters are let through, as Qt's own JSON reader does.
			while (m_p != m_end && *m_p != '"' && *m_p != '\\')
				++m_p;
			if (m_p == m_end)
				return false;
			out.append(reinterpret_cast<const char *>(run), m_p - run);
			if (*m_p++ == '"')
				return true;
			if (m_p == m_end)
				return false;
			const unsigned char e = *m_p++;
			char32_t c = 0;
			switch (e) {
			case '"':
			case '\\':
			case '/':
				c = e;
				break;
			case 'b':
				c = '\b';
				break;
			case 'f':
				c = '\f';
				break;
			case 'n':
				c = '\n';
				break;
			case 'r':
				c = '\r';
				break;
			case 't':
				c = '\t';
				break;
			case 'u':
				if (!readHex4(&c))
					return false;
				if (c >= 0xD800 && c < 0xDC00 && m_end - m_p >= 6 && m_p[0] == '\\' && m_p[1] == 'u') {
					const unsigned char *mark = m_p;
					m_p += 2;
					char32_t low = 0;
					if (readHex4(&low) && low >= 0xDC00 && low < 0xE000)
						c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
					else
						m_p = mark;
				}
				// A lone surrogate has no UTF-8 form.
				if (c >= 0xD800 && c < 0xE000)
					c = 0xFFFD;
				break;
			default:
				// Qt's JSON reader takes an unknown escape as the character itself.
				c = e;
			}
			appendUtf8(out, c);
			run = m_p;
		}
	}

	// The number grammar of Qt's JSON reader, which lets digits after "." or "e" be missing
	// as long as the whole token still reads as a number.
	bool readNumber(double *number)
	{
		const unsigned char *start = m_p;
		take('-');
		if (!take('0'))
			skipDigits();
		if (take('.'))
			skipDigits();
		if (take('e') || take('E')) {
			if (!take('+'))
				take('-');
			skipDigits();
		}
		bool ok = false;
		*number = QByteArray::fromRawData(reinterpret_cast<const char *>(start), m_p - start).toDouble(&ok);
		return ok;
	}

	bool skipDigits()
	{
		const unsigned char *start = m_p;
		while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
			++m_p;
		return m_p != start;
	}

	const unsigned char *m_p;
	const unsigned char *m_end;
};

bool fail(QString &error, const char *key)
{
	error = text(key);
	return false;
}

} // namespace

QByteArray encodeNoteFile(const QString &sceneId, const QString &sceneName, const QString &html)
{
	QByteArray out;
	// Escaping rarely grows HTML by more than a few percent.
	out.reserve(html.size() + html.size() / 8 + sceneName.size() * 3 + 160);
	out.append("{\"format\":\"");
	out.append(FormatName);
	out.append("\",\"html\":");
	appendJsonString(out, html);
	out.append(",\"sceneId\":");
	appendJsonString(out, sceneId);
	out.append(",\"sceneName\":");
	appendJsonString(out, sceneName);
	out.append(",\"version\":1}");
	return out;
}

bool parseNoteFile(const QByteArray &bytes, NoteFileRecord &record, QString &error)
{
	if (bytes.size() > MaxNoteFileBytes)
		return fail(error, "BackupTooLarge");
	using Kind = NoteJsonReader::Kind;
	static const char *const names[] = {"format", "version", "sceneId", "sceneName", "html"};
	NoteJsonReader::Field fields[5];
	auto &[format, version, sceneId, sceneName, html] = fields;
	if (!NoteJsonReader(bytes).read(names, fields, 5))
		return fail(error, "BackupInvalid");
	if (format.kind != Kind::String || format.text != QLatin1String(FormatName))
		return fail(error, "BackupInvalid");
	if (version.kind != Kind::Number || version.number != 1.0)
		return fail(error, "BackupInvalid");
	if (sceneId.kind != Kind::String || sceneName.kind != Kind::String || html.kind != Kind::String)
		return fail(error, "BackupInvalid");
	if (QUuid::fromString(sceneId.text).isNull())
		return fail(error, "BackupInvalid");
	record.sceneId = std::move(sceneId.text);
	record.sceneName = std::move(sceneName.text);
	record.html = std::move(html.text);
	return true;
}

QString sanitizeNoteFileName(const QString &name)
{
	QString base = name.normalized(QString::NormalizationForm_C);
	for (QChar &c : base) {
		const char16_t u = c.unicode();
		if (u < 0x20 || u == '<' || u == '>' || u == ':' || u == '"' || u == '/' || u == '\\' || u == '|' ||
		    u == '?' || u == '*')
			c = QLatin1Char('_');
	}
	base = base.trimmed();
	base.truncate(MaxBaseNameUnits);
	if (!base.isEmpty() && base.back().isHighSurrogate())
		base.chop(1);
	while (base.toUtf8().size() > MaxBaseNameBytes)
		base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
	while (base.endsWith(QLatin1Char('.')) || base.endsWith(QLatin1Char(' ')))
		base.chop(1);
	if (base.isEmpty())
		base = QStringLiteral("Scene");
	static const QRegularExpression reserved(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(?:\\.|$)"),
						 QRegularExpression::CaseInsensitiveOption);
	if (reserved.match(base).hasMatch())
		base.prepend(QLatin1Char('_'));
	return base;
}

} // namespace quillmar
