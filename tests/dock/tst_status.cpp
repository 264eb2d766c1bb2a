#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"

#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QTextCursor>

#include <memory>
#include <vector>

using namespace quillmar;

namespace {

QString settingsPath()
{
	return test::moduleConfigDir() + QStringLiteral("/settings.ini");
}

QString paragraphs(int count, int length)
{
	QStringList lines;
	for (int i = 0; i < count; ++i)
		lines << QString(length, QLatin1Char('x'));
	return lines.join(QLatin1Char('\n'));
}

} // namespace

class DockStatusTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Dock> m_dock;
	std::vector<std::unique_ptr<test::Scene>> m_scenes; // alive as long as the dock

	Editor *editor() const { return m_dock->findChild<Editor *>(QStringLiteral("noteEditor")); }
	QLabel *label(const char *name) const { return m_dock->findChild<QLabel *>(QLatin1String(name)); }
	QString shown(const char *name) const { return label(name)->text(); }

	obs_source_t *newScene(const char *name)
	{
		m_scenes.push_back(std::make_unique<test::Scene>(name));
		return m_scenes.back()->source();
	}
	void showScene(const char *name) { m_dock->showSceneNote(newScene(name)); }

	// Fills the shown note as if typed, bypassing the per-key limit check.
	void fill(const QString &plain)
	{
		editor()->setPlainText(plain);
		m_dock->updateDocumentStatus();
	}

	static QString remaining(const char *count, const char *left)
	{
		return text("CharacterRemaining").arg(QLatin1String(count), QStringLiteral("200,000"), QLatin1String(left));
	}

private Q_SLOTS:
	void initTestCase()
	{
		// Both sides of the comparisons below use these texts: they must be real.
		for (const char *key : {"CharacterCount", "SelectedCharacters", "CharacterRemaining", "DocumentStatus",
					"NoteSaveFailed", "TextLimit"})
			QVERIFY2(text(key) != QLatin1String(key), key);
	}

	void init()
	{
		QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
		test::resetHost();
		QDir().mkpath(test::moduleConfigDir());
		m_dock = std::make_unique<Dock>(settingsPath());
		m_dock->resize(900, 400);
	}

	void cleanup()
	{
		m_dock.reset();
		m_scenes.clear();
		QLocale::setDefault(QLocale::c());
	}

	void statusMessageAndSaveErrorBadge()
	{
		auto *status = label("saveStatus");
		QCOMPARE(m_dock->statusMessage(), text("SelectScene")); // without a scene the dock asks for one
		m_dock->setStatus(QStringLiteral("Something happened"));
		QCOMPARE(status->text(), QStringLiteral("]"));
		QCOMPARE(status->toolTip(), QStringLiteral("Something happened"));
		QCOMPARE(status->accessibleName(), QStringLiteral("Something happened"));

		auto *badge = label("saveError");
		QVERIFY(badge->isHidden());
		m_dock->showSaveError(QStringLiteral("/notes/a.json: disk full"));
		QVERIFY(!badge->isHidden());
		QCOMPARE(badge->text(), QStringLiteral("! ") + text("NoteSaveFailed"));
		QCOMPARE(badge->toolTip(), QStringLiteral("/notes/a.json: disk full"));
		QCOMPARE(badge->accessibleName(), text("NoteSaveFailed") + QStringLiteral(" /notes/a.json: disk full"));
		m_dock->hideSaveError();
		QVERIFY(badge->isHidden());
	}

	void countsWithoutSceneAndForEmptyNote()
	{
		// No scene: both counts are 0, whatever the editor holds.
		fill(QStringLiteral("left over"));
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(0));
		QCOMPARE(shown("documentStatus"), text("DocumentStatus").arg(0));

		showScene("Status scene");
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(0));
		QCOMPARE(shown("documentStatus"), text("DocumentStatus").arg(1));
		QCOMPARE(label("characterCount")->toolTip(), remaining("0", "200,000"));

		// Typing updates the counts through the editor's own signals.
		QTest::keyClicks(editor(), QStringLiteral("ab"));
		QTest::keyClick(editor(), Qt::Key_Return);
		QTest::keyClicks(editor(), QStringLiteral("c"));
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(4));
		QCOMPARE(shown("documentStatus"), text("DocumentStatus").arg(2));
	}

	void selectionCountsVisibleCharacters_data()
	{
		QTest::addColumn<int>("start");
		QTest::addColumn<int>("end");
		QTest::addColumn<int>("expected");
		// "abc\ndef\nghi": two whole paragraphs are 6 characters, not 7.
		QTest::addRow("two paragraphs") << 0 << 7 << 6;
		QTest::addRow("across three") << 2 << 9 << 5;
		QTest::addRow("backwards") << 7 << 0 << 6;
	}

	void selectionCountsVisibleCharacters()
	{
		QFETCH(int, start);
		QFETCH(int, end);
		QFETCH(int, expected);
		showScene("Selection scene");
		fill(QStringLiteral("abc\ndef\nghi"));
		QTextCursor cursor(editor()->document());
		cursor.setPosition(start);
		cursor.setPosition(end, QTextCursor::KeepAnchor);
		editor()->setTextCursor(cursor);
		const QString selected = text("SelectedCharacters").arg(expected);
		QCOMPARE(shown("characterCount"), selected);
		// The reader still learns the note's total from the tooltip.
		const QString tip = remaining("11", "199,989");
		QCOMPARE(label("characterCount")->toolTip(), tip);
		QCOMPARE(label("characterCount")->accessibleName(), selected + QStringLiteral("; ") + tip);

		editor()->moveCursor(QTextCursor::End);
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(11));
		QCOMPARE(label("characterCount")->accessibleName(), tip);
	}

	void remainingCharactersNearTheLimit()
	{
		showScene("Full scene");
		// 19 paragraphs of 9999 characters, their breaks and one of 9990: 10 short of the limit.
		fill(paragraphs(19, 9999) + QStringLiteral("\n") + QString(9990, QLatin1Char('y')));
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(QStringLiteral("199,990")));
		QCOMPARE(label("characterCount")->toolTip(), remaining("199,990", "10"));

		// Past the limit (text that never went through the editor's checks) remaining stays 0.
		fill(paragraphs(21, 9999));
		QCOMPARE(label("characterCount")->toolTip(), remaining("209,999", "0"));

		// The default locale decides the grouping.
		QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
		m_dock->updateCharacterCount();
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(QStringLiteral("209.999")));
	}

	void scrollPercentFollowsTheView()
	{
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
		showScene("Long scene");
		fill(QStringLiteral("short"));
		QScrollBar *bar = editor()->verticalScrollBar();
		QCOMPARE(bar->maximum(), 0);
		QCOMPARE(shown("scrollPercent"), QStringLiteral("0%"));

		fill(paragraphs(300, 20));
		QTRY_VERIFY(bar->maximum() > 100);
		bar->setValue(bar->maximum());
		QCOMPARE(shown("scrollPercent"), QStringLiteral("100%"));
		bar->setValue(bar->maximum() / 2);
		QCOMPARE(shown("scrollPercent"), QStringLiteral("50%"));
	}

	void limitMessageAtLoadAndTyping()
	{
		obs_source_t *scene = newScene("Overlong scene");
		// A stored note with one paragraph of 10001 characters is refused when shown.
		QString error;
		QVERIFY(m_dock->noteStore().saveNote(scene, QString(10001, QLatin1Char('z')), error));
		m_dock->showSceneNote(scene);
		QVERIFY(m_dock->hasLoadError());
		QCOMPARE(m_dock->statusMessage(), text("TextLimit"));
		QCOMPARE(editor()->document()->characterCount() - 1, 0);

		// Typing one character too many shows the limit message as the status.
		showScene("Nearly full scene");
		fill(QString(10000, QLatin1Char('q')));
		m_dock->setStatus(QString());
		editor()->moveCursor(QTextCursor::End);
		QTest::keyClick(editor(), Qt::Key_A);
		QCOMPARE(editor()->document()->characterCount() - 1, 10000);
		QCOMPARE(m_dock->statusMessage(), text("TextLimit"));
	}
};

QUILLMAR_OBS_TEST_MAIN(DockStatusTest)
#include "tst_status.moc"
