#include "dock/dock.h"

#include "editor/editor.h"
#include "module/text.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QSettings>
#include <QVBoxLayout>

namespace quillmar {

namespace {

QString notesDirectoryFor(const QString &settingsPath)
{
	return QFileInfo(settingsPath).absolutePath() + QStringLiteral("/notes");
}

QLabel *plainLabel(const char *objectName, const QString &text, QWidget *parent)
{
	auto *label = new QLabel(text, parent);
	label->setObjectName(QString::fromLatin1(objectName));
	label->setTextFormat(Qt::PlainText);
	return label;
}

} // namespace

Dock::Dock(const QString &settingsPath, QWidget *parent)
	: QWidget(parent),
	  m_settings(new QSettings(settingsPath, QSettings::IniFormat, this)),
	  m_store(notesDirectoryFor(settingsPath))
{
	setObjectName(QStringLiteral("QuillmarContent"));
	m_locked = m_settings->value(QStringLiteral("locked"), false).toBool();
	setMinimumSize(700, 300);
	createWidgets();
	setStatus(text("InitialStatus"));
	applySceneLabelStyle();

	m_autosaveTimer.setSingleShot(true);
	m_autosaveTimer.setInterval(500);
	connect(&m_autosaveTimer, &QTimer::timeout, this, [this] { saveNote(true, true); });
	connect(m_editor, &QTextEdit::textChanged, this, &Dock::onTextEdited);
	connect(m_readModeAction, &QAction::toggled, this, &Dock::setLocked);
	connect(m_editor->verticalScrollBar(), &QScrollBar::rangeChanged, this, &Dock::onScrollRangeChanged);
	// Moving the text by hand settles the position.
	connect(m_editor->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { m_pendingPosition = -1; });

	showSceneNote(nullptr);
}

Dock::~Dock()
{
	shutdown();
	obs_weak_source_release(m_currentScene);
	m_currentScene = nullptr;
}

// The widgets of the scene notes; the full layout of the dock grows around these.
void Dock::createWidgets()
{
	auto *root = new QVBoxLayout(this);
	root->setContentsMargins(4, 4, 4, 4);
	root->setSpacing(3);

	auto *top = new QWidget(this);
	top->setObjectName(QStringLiteral("topControls"));
	auto *topLayout = new QHBoxLayout(top);
	topLayout->setContentsMargins(0, 0, 0, 0);
	topLayout->setSpacing(4);
	m_sceneLabel = plainLabel("sceneLabel", text("NoScene"), top);
	m_sceneLabel->setMinimumWidth(20);
	m_sceneLabel->setMaximumWidth(140);
	m_saveStatus = plainLabel("saveStatus", QStringLiteral("]"), top);
	m_saveStatus->setFixedWidth(10);
	m_saveStatus->setAlignment(Qt::AlignCenter);
	topLayout->addWidget(m_sceneLabel);
	topLayout->addWidget(m_saveStatus);
	topLayout->addStretch(1);
	root->addWidget(top);

	m_saveError = plainLabel("saveError", QString(), this);
	m_saveError->setContentsMargins(6, 3, 6, 3);
	m_saveError->hide();
	root->addWidget(m_saveError);

	m_editor = new Editor(this);
	m_editor->setLimitHandler([this] { showLimitMessage(); });
	m_editor->setObjectName(QStringLiteral("noteEditor"));
	m_editor->setAcceptRichText(true);
	root->addWidget(m_editor, 1);

	m_readModeAction = new QAction(text("Read"), this);
	m_readModeAction->setToolTip(text("ReadTip"));
	m_readModeAction->setCheckable(true);
	m_readModeAction->setChecked(m_locked);
}

void Dock::runHotkeyAction(int action)
{
	if (m_closing || m_restoring || action < 0 || action > 9)
		return;
}

void Dock::postLoad()
{
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
	m_autosaveTimer.stop();
	m_closing = true;
	Q_EMIT shutDown();
}

} // namespace quillmar
