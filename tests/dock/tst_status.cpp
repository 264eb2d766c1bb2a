#include "note_dock.h"
#include "test_util.h"

#include <QLocale>

using namespace quillmar;

// What the status row shows; the arithmetic behind it is tested in editor_note_limits.
class DockStatusTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
	void cleanup() { QLocale::setDefault(QLocale::c()); }

	void countsFollowSceneTypingAndSelection()
	{
		test::NoteDock note;
		fake::setProgramScene(nullptr);
		note.editor()->setPlainText(QStringLiteral("left over")); // no scene: nothing counts
		note.dock->updateDocumentStatus();
		QCOMPARE(note.label("characterCount"), text("CharacterCount").arg(0));
		QCOMPARE(note.label("documentStatus"), text("DocumentStatus").arg(0));

		note.show("A");
		QTest::keyClicks(note.editor(), QStringLiteral("ab"));
		QTest::keyClick(note.editor(), Qt::Key_Return);
		QTest::keyClicks(note.editor(), QStringLiteral("c"));
		QCOMPARE(note.label("characterCount"), text("CharacterCount").arg(4));
		QCOMPARE(note.label("documentStatus"), text("DocumentStatus").arg(2));
		note.editor()->selectAll();
		const QString selected = text("SelectedCharacters").arg(3);
		QCOMPARE(note.label("characterCount"), selected);
		const QString tip = text("CharacterRemaining").arg(QStringLiteral("4"), QStringLiteral("200,000"), QStringLiteral("199,996"));
		QCOMPARE(note.widget("characterCount")->accessibleName(), selected + QStringLiteral("; ") + tip);

		QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
		note.editor()->setPlainText(test::noteOfLength(12345));
		note.dock->updateDocumentStatus();
		QCOMPARE(note.label("characterCount"), text("CharacterCount").arg(QStringLiteral("12.345")));
	}

	void scrollPercentSaveErrorAndLimit()
	{
		test::NoteDock note(QStringLiteral("<p>line</p>").repeated(300), true);
		QTRY_VERIFY(note.bar()->maximum() > 100);
		note.bar()->setValue(note.bar()->maximum() / 2);
		QCOMPARE(note.label("scrollPercent"), QStringLiteral("50%"));

		auto *badge = note.widget("saveError");
		note.dock->showSaveError(QStringLiteral("/notes/a.json: disk full"));
		QVERIFY(!badge->isHidden());
		QCOMPARE(badge->accessibleName(), text("NoteSaveFailed") + QStringLiteral(" /notes/a.json: disk full"));
		note.dock->hideSaveError();
		QVERIFY(badge->isHidden());

		note.editor()->setPlainText(QString(kParagraphCharLimit, QLatin1Char('q')));
		note.dock->setStatus(QString());
		note.type(QStringLiteral("a"));
		QCOMPARE(note.editor()->document()->characterCount() - 1, kParagraphCharLimit);
		QCOMPARE(note.status(), text("TextLimit"));
	}
};

QUILLMAR_OBS_TEST_MAIN(DockStatusTest)
#include "tst_status.moc"
