#include "dock/dock.h"
#include "editor/editor.h"
#include "test_util.h"
#include "module/text.h"
#include "obs_test_env.h"

#include <QLabel>
#include <QLocale>
#include <QScrollBar>

#include <memory>

using namespace quillmar;

// What the status row shows; the arithmetic behind it is tested in editor_note_limits.
class DockStatusTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Dock> m_dock;
	std::unique_ptr<test::Scene> m_scene; // alive as long as the dock

	Editor *editor() const { return m_dock->findChild<Editor *>(QStringLiteral("noteEditor")); }
	QLabel *label(const char *name) const { return m_dock->findChild<QLabel *>(QLatin1String(name)); }
	QString shown(const char *name) const { return label(name)->text(); }
	void fill(const QString &plain)
	{
		editor()->setPlainText(plain);
		m_dock->updateDocumentStatus();
	}

private Q_SLOTS:
	void init()
	{
		QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
		test::resetHost();
		QDir().mkpath(test::moduleConfigDir());
		m_dock = std::make_unique<Dock>(test::settingsPath());
		m_dock->resize(900, 400);
		m_scene = std::make_unique<test::Scene>("Status scene");
	}

	void cleanup()
	{
		m_dock.reset();
		m_scene.reset();
		QLocale::setDefault(QLocale::c());
	}

	void countsFollowSceneTypingAndSelection()
	{
		fill(QStringLiteral("left over")); // no scene: nothing counts
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(0));
		QCOMPARE(shown("documentStatus"), text("DocumentStatus").arg(0));

		m_dock->showSceneNote(m_scene->source());
		QTest::keyClicks(editor(), QStringLiteral("ab"));
		QTest::keyClick(editor(), Qt::Key_Return);
		QTest::keyClicks(editor(), QStringLiteral("c"));
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(4));
		QCOMPARE(shown("documentStatus"), text("DocumentStatus").arg(2));

		editor()->selectAll();
		const QString selected = text("SelectedCharacters").arg(3);
		QCOMPARE(shown("characterCount"), selected);
		const QString tip = text("CharacterRemaining").arg(QStringLiteral("4"), QStringLiteral("200,000"),
								   QStringLiteral("199,996"));
		QCOMPARE(label("characterCount")->accessibleName(), selected + QStringLiteral("; ") + tip);

		QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
		fill(test::noteOfLength(12345));
		QCOMPARE(shown("characterCount"), text("CharacterCount").arg(QStringLiteral("12.345")));
	}

	void scrollPercentAndSaveError()
	{
		m_dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_dock.get()));
		m_dock->showSceneNote(m_scene->source());
		fill(QStringLiteral("line\n").repeated(300));
		QScrollBar *bar = editor()->verticalScrollBar();
		QTRY_VERIFY(bar->maximum() > 100);
		bar->setValue(bar->maximum() / 2);
		QCOMPARE(shown("scrollPercent"), QStringLiteral("50%"));

		auto *badge = label("saveError");
		m_dock->showSaveError(QStringLiteral("/notes/a.json: disk full"));
		QVERIFY(!badge->isHidden());
		QCOMPARE(badge->accessibleName(), text("NoteSaveFailed") + QStringLiteral(" /notes/a.json: disk full"));
		m_dock->hideSaveError();
		QVERIFY(badge->isHidden());
	}

	void typingPastTheLimitIsReported()
	{
		m_dock->showSceneNote(m_scene->source());
		fill(QString(kParagraphCharLimit, QLatin1Char('q')));
		m_dock->setStatus(QString());
		editor()->moveCursor(QTextCursor::End);
		QTest::keyClick(editor(), Qt::Key_A);
		QCOMPARE(editor()->document()->characterCount() - 1, kParagraphCharLimit);
		QCOMPARE(m_dock->statusMessage(), text("TextLimit"));
	}
};

QUILLMAR_OBS_TEST_MAIN(DockStatusTest)
#include "tst_status.moc"
