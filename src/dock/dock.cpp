#include "dock/dock.h"

#include "dock/dock_dialogs.h"
#include "editor/editor.h"
#include "module/text.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QToolBar>

namespace quillmar {

namespace {

QString notesDirectoryFor(const QString &settingsPath)
{
	return QFileInfo(settingsPath).absolutePath() + QStringLiteral("/notes");
}

} // namespace

Dock::Dock(const QString &settingsPath, QWidget *parent)
	: QWidget(parent),
	  m_settings(new QSettings(settingsPath, QSettings::IniFormat, this)),
	  m_store(notesDirectoryFor(settingsPath)),
	  m_autoClearClock([] { return QDateTime::currentDateTimeUtc(); }),
	  m_dialogs(std::make_unique<DockDialogs>())
{
	setObjectName(QStringLiteral("QuillmarContent"));
	m_locked = m_settings->value(QStringLiteral("locked"), false).toBool();
	setMinimumSize(700, 300);
	auto *root = new QVBoxLayout(this);
	root->setContentsMargins(4, 4, 4, 4);
	root->setSpacing(3);
	buildTopControls();
	root->addWidget(m_topControls);
	root->addWidget(m_saveError);

	buildEditor();
	root->addWidget(m_editor, 1);
	buildDockActions();
	buildFormatToolbar();
	buildParagraphToolbar();
	buildSearchField();
	auto *top = static_cast<QBoxLayout *>(m_topControls->layout());
	top->addWidget(m_formatToolbar);
	top->addWidget(m_searchText, 1);

	buildBottomControls();
	top->insertWidget(2, m_saveStatus);
	root->addWidget(m_bottomControls);
	markControlRows();

	setStatus(text("InitialStatus"));
	setUpTimers();
	connectSignals();

	setScrollSpeed(1.0);
	showSceneNote(nullptr);
	readAutoClearSettings();
	setUpRemote();
}

Dock::~Dock()
{
	shutdown();
}

void Dock::setDialogs(std::unique_ptr<DockDialogs> dialogs)
{
	m_dialogs = dialogs ? std::move(dialogs) : std::make_unique<DockDialogs>();
}

void Dock::postLoad()
{
	startRemote();
}

void Dock::shutdown()
{
	if (m_shutdownDone)
		return;
	m_shutdownDone = true;
	hideGoTo();
	shutdownRemote();
	rememberReadingPosition();
	saveNote(false, true);
	stopScrolling();
	stopSearchTimer();
	stopAutoClear();
	storeReadingPositions();
	closePrompterWindow();
	m_autosaveTimer.stop();
	m_closing = true;
	Q_EMIT shutDown();
}

} // namespace quillmar
