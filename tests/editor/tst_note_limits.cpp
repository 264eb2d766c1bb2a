#include "editor/note_limits.h"
#include "test_util.h"

#include <QRandomGenerator>
#include <QTextBlock>

using namespace quillmar;
using namespace quillmar::test;

// A note, the range replaced, the text put there, and whether the note then fits.
using InsertRow = std::tuple<QString, int, int, QString, bool>;
Q_DECLARE_METATYPE(InsertRow)

class NoteLimitsTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Whole documents right at each limit and one past it.
	void wholeNotes_data()
	{
		QTest::addColumn<QString>("text");
		QTest::addColumn<bool>("fits");
		QTest::newRow("characters at the limit") << noteOfLength(kNoteCharLimit) << true;
		QTest::newRow("one character over") << noteOfLength(kNoteCharLimit + 1) << false;
		const QString paragraph = QStringLiteral("x\n");
		QTest::newRow("paragraphs at the limit") << paragraph.repeated(kNoteParagraphLimit - 1) + u'x' << true;
		QTest::newRow("one paragraph over") << paragraph.repeated(kNoteParagraphLimit) + u'x' << false;
		QTest::newRow("paragraph at the limit") << paragraphs({5, kParagraphCharLimit, 5}) << true;
		QTest::newRow("paragraph one over") << paragraphs({5, kParagraphCharLimit + 1, 5}) << false;
		QTest::newRow("last paragraph one over") << paragraphs({5, 5, kParagraphCharLimit + 1}) << false;
		// Line separators keep a paragraph together, so they count towards its length.
		QTest::newRow("line separators do not split") << QString(kParagraphCharLimit / 2, u'a') + QChar(QChar::LineSeparator) + QString(kParagraphCharLimit / 2, u'b') << false;
	}
	void wholeNotes()
	{
		QFETCH(QString, text);
		QFETCH(bool, fits);
		QTextDocument document;
		document.setPlainText(text);
		QCOMPARE(fitsNoteLimits(document), fits);
	}

	// What the random edits below do not reach: odd ranges and frame boundaries (joins and
	// CR LF pairs they do).
	void insertions_data()
	{
		QTest::addColumn<InsertRow>("row");
		QTest::newRow("reversed range") << InsertRow{paragraphs({6000, 4001}), 6001, 6000, "", false};
		QTest::newRow("range past the end") << InsertRow{paragraphs({5}), 3, 99, "x", true};
		QTest::newRow("inserted paragraph one over, then a break") << InsertRow{paragraphs({5}), 0, 0, QString(kParagraphCharLimit + 1, u'x') + u'\n', false};
		const QString almost = QString(kNoteParagraphLimit - 3, u'\n');
		QTest::newRow("two frame boundaries") << InsertRow{almost, 0, 0, "a\ufdd0b\ufdd1", true};
		QTest::newRow("three frame boundaries") << InsertRow{almost, 0, 0, "a\ufdd0b\ufdd0c\ufdd1", false};
	}
	void insertions()
	{
		QFETCH(InsertRow, row);
		const auto &[note, start, end, text, fits] = row;
		QTextDocument document;
		document.setPlainText(note);
		QCOMPARE(insertionFitsNoteLimits(document, start, end, text), fits);
	}

	// Random edits on a note close to all three limits: the check must answer exactly what
	// doing the edit and testing the whole note would.
	void insertionsAgreeWithTheEditedNote()
	{
		// 19990 paragraphs, one of them 9995 long, 199990 characters in all.
		QList<int> lengths(kNoteParagraphLimit - 10, 0);
		lengths[100] = kParagraphCharLimit - 5;
		int chars = kParagraphCharLimit - 5 + int(lengths.size()) - 1;
		for (qsizetype i = 200; chars < kNoteCharLimit - 10; i = (i + 7) % lengths.size()) {
			if (i == 100)
				continue;
			const int add = std::min(9, kNoteCharLimit - 10 - chars);
			lengths[i] += add;
			chars += add;
		}
		QTextDocument document;
		document.setPlainText(paragraphs(lengths));
		const QString alphabet = QStringLiteral("ab\n\r\u2028\u2029");
		QRandomGenerator random(20240601);
		const int longStart = document.findBlockByNumber(100).position();
		int outcomes[2] = {0, 0};
		for (int round = 0; round < 1500; ++round) {
			// Most edits land near the long paragraph, where the limits bite.
			const int size = noteChars(&document);
			const int start = round % 3 ? qBound(0, longStart + random.bounded(-30, kParagraphCharLimit + 30), size) : random.bounded(size + 1);
			const int end = std::min(size, start + (random.bounded(4) ? random.bounded(3) : random.bounded(12000)));
			QString text;
			for (int n = random.bounded(16); n > 0; --n)
				text += alphabet[random.bounded(alphabet.size())];

			const bool predicted = insertionFitsNoteLimits(document, start, end, text);
			QTextCursor cursor(&document);
			cursor.setPosition(start);
			cursor.setPosition(end, QTextCursor::KeepAnchor);
			cursor.insertText(text);
			const bool actual = fitsNoteLimits(document);
			document.undo();
			QVERIFY2(predicted == actual, qPrintable(QStringLiteral("round %1, range %2..%3").arg(round).arg(start).arg(end)));
			++outcomes[actual];
		}
		// Both outcomes must have been exercised for the comparison to mean anything.
		QVERIFY(outcomes[0] > 100 && outcomes[1] > 100);
	}

	// What the status row shows, without a dock, and the line ends a paste or a phone may bring.
	void counts()
	{
		QTextDocument document;
		document.setPlainText(QStringLiteral("abc\ndef\nghi"));
		// Two whole paragraphs are 6 characters, not 7; the order of the ends does not matter.
		QCOMPARE((QList<int>{visibleCharacterCount(document, 0, 7), visibleCharacterCount(document, 7, 0), visibleCharacterCount(document, 2, 9)}), (QList<int>{6, 6, 5}));
		// Past the limit: text that bypassed the checks.
		QCOMPARE((QList<int>{remainingCharacters(kNoteCharLimit - 10), remainingCharacters(kNoteCharLimit + 5)}), (QList<int>{10, 0}));
		QCOMPARE((QList<int>{scrollPercent(0, 0, 0), scrollPercent(50, 0, 100), scrollPercent(2, 0, 3), scrollPercent(10, 10, 20)}), (QList<int>{0, 50, 67, 0}));
		QCOMPARE(normalizeLineEnds(QStringLiteral("a\r\nb\rc\nd\r\r\n\u2028\u2029")), QStringLiteral("a\nb\nc\nd\n\n\u2028\u2029"));
	}

};

QTEST_MAIN(NoteLimitsTest)
#include "tst_note_limits.moc"
