// Auto-clear of old notes.
#include "dock/dock.h"

#include "dock/dock_dialogs.h"
#include "module/text.h"
#include "remote/remote.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>

namespace quillmar {

namespace {

constexpr int AutoClearMaxDays = 36500;
constexpr int AutoClearFirstDelay = 5000;
constexpr int AutoClearStepDelay = 25;
constexpr int AutoClearRetryDelay = 60000;
constexpr int AutoClearPassDelay = 86400000;

QString uuidOf(obs_source_t *source)
{
	return QString::fromUtf8(obs_source_get_uuid(source));
}

// Whether the host airs or previews the scene.
bool isOnAir(obs_source_t *scene)
{
	const OBSSourceAutoRelease program(obs_frontend_get_current_scene());
	if (program == scene)
		return true;
	if (!obs_frontend_preview_program_mode_active())
		return false;
	const OBSSourceAutoRelease preview(obs_frontend_get_current_preview_scene());
	return preview == scene;
}

} // namespace

void Dock::readAutoClearSettings()
{
	const int days = m_settings->value(QStringLiteral("autoClear/days"), 0).toInt();
	m_autoClearDays = days < 0 || days > AutoClearMaxDays ? 0 : days;
	m_autoClearAll = m_settings->value(QStringLiteral("autoClear/all"), false).toBool();
	const QStringList scenes = m_settings->value(QStringLiteral("autoClear/scenes")).toStringList();
	m_autoClearScenes = QSet<QString>(scenes.begin(), scenes.end());
}

void Dock::setAutoClearClock(std::function<QDateTime()> clock)
{
	m_autoClearClock = std::move(clock);
}

void Dock::rearmAutoClear()
{
	m_autoClearQueue.clear();
	m_autoClearTimer->stop();
	if (m_collectionReady && m_autoClearDays > 0 && (m_autoClearAll || !m_autoClearScenes.isEmpty()))
		m_autoClearTimer->start(AutoClearFirstDelay);
}

void Dock::stopAutoClear()
{
	m_autoClearQueue.clear();
	m_autoClearTimer->stop();
}

// One scene per expiry, so that a collection of a thousand scenes never holds the dock up.
void Dock::autoClearStep()
{
	if (m_closing || !m_collectionReady || m_autoClearDays == 0)
		return;
	if (m_restoring || QApplication::activeModalWidget()) {
		m_autoClearTimer->start(AutoClearRetryDelay);
		return;
	}
	if (m_autoClearQueue.empty()) {
		struct obs_frontend_source_list scenes = {};
		obs_frontend_get_scenes(&scenes);
		for (size_t i = 0; i < scenes.sources.num; ++i)
			m_autoClearQueue.emplace_back(obs_source_get_weak_source(scenes.sources.array[i]));
		obs_frontend_source_list_free(&scenes);
		if (m_autoClearQueue.empty()) {
			m_autoClearTimer->start(AutoClearPassDelay);
			return;
		}
	}

	const OBSSourceAutoRelease scene(obs_weak_source_get_source(m_autoClearQueue.front()));
	m_autoClearQueue.pop_front();
	const QString uuid = scene ? uuidOf(scene) : QString();
	const bool skip = !scene || obs_source_removed(scene) ||
			  (!m_autoClearAll && !m_autoClearScenes.contains(uuid)) || uuid == m_currentUuid ||
			  (m_remote && m_remote->sceneInUse(uuid)) || isOnAir(scene);
	if (!skip) {
		const QDateTime cutoff = m_autoClearClock().addDays(-m_autoClearDays);
		QString error;
		if (m_store.clearNoteIfNotNewer(scene, cutoff, error)) {
			notifyRemoteNoteChanged(uuid);
			requestCollectionSave();
		} else if (!error.isEmpty()) {
			showSaveError(error);
			setStatus(text("AutoClearFailed").arg(QString::fromUtf8(obs_source_get_name(scene))));
		}
	}
	m_autoClearTimer->start(m_autoClearQueue.empty() ? AutoClearPassDelay : AutoClearStepDelay);
}

std::function<bool()> Dock::buildAutoClearSection(QDialog *dialog, QFormLayout *form)
{
	auto *days = new QSpinBox(dialog);
	days->setObjectName(QStringLiteral("autoClearDays"));
	days->setRange(0, AutoClearMaxDays);
	days->setSpecialValueText(text("AutoClearOff"));
	days->setSuffix(text("AutoClearDaySuffix"));
	days->setValue(m_autoClearDays);
	form->addRow(text("AutoClear"), days);

	auto *scope = new QComboBox(dialog);
	scope->setObjectName(QStringLiteral("autoClearScope"));
	scope->addItem(text("AutoClearSelected"), false);
	scope->addItem(text("AutoClearAll"), true);
	scope->setCurrentIndex(m_autoClearAll ? 1 : 0);
	auto *choose = new QPushButton(dialog);
	choose->setObjectName(QStringLiteral("autoClearChoose"));
	auto *row = new QHBoxLayout;
	row->addWidget(scope, 1);
	row->addWidget(choose);
	form->addRow(text("AutoClearScope"), row);

	// The dialog edits a copy; the dock adopts it only when it was stored.
	auto working = std::make_shared<QSet<QString>>(m_autoClearScenes);
	const auto refresh = [days, scope, choose, working] {
		scope->setEnabled(days->value() >= 1);
		choose->setEnabled(scope->isEnabled() && !scope->currentData().toBool());
		choose->setText(text("AutoClearChoose").arg(working->size()));
	};
	refresh();
	connect(days, &QSpinBox::valueChanged, dialog, refresh);
	connect(scope, &QComboBox::currentIndexChanged, dialog, refresh);
	connect(choose, &QPushButton::clicked, dialog, [this, dialog, working, refresh] {
		QDialog chooser(dialog);
		chooser.setObjectName(QStringLiteral("autoClearScenesDialog"));
		chooser.setWindowTitle(text("AutoClearSelected"));
		auto *layout = new QVBoxLayout(&chooser);
		auto *list = new QListWidget(&chooser);
		list->setObjectName(QStringLiteral("autoClearScenes"));
		list->setMinimumSize(320, 180);
		list->setSelectionMode(QAbstractItemView::NoSelection);
		struct obs_frontend_source_list scenes = {};
		obs_frontend_get_scenes(&scenes);
		for (size_t i = 0; i < scenes.sources.num; ++i) {
			obs_source_t *scene = scenes.sources.array[i];
			auto *item = new QListWidgetItem(QString::fromUtf8(obs_source_get_name(scene)), list);
			item->setData(Qt::UserRole, uuidOf(scene));
			item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
			item->setCheckState(working->contains(uuidOf(scene)) ? Qt::Checked : Qt::Unchecked);
		}
		obs_frontend_source_list_free(&scenes);
		layout->addWidget(list);
		auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &chooser);
		layout->addWidget(buttons);
		connect(buttons, &QDialogButtonBox::accepted, &chooser, &QDialog::accept);
		connect(buttons, &QDialogButtonBox::rejected, &chooser, &QDialog::reject);
		if (m_dialogs->execDialog(&chooser) != QDialog::Accepted)
			return;
		// Scenes not listed (deleted ones) keep their place in the set.
		for (int i = 0; i < list->count(); ++i) {
			const QString uuid = list->item(i)->data(Qt::UserRole).toString();
			if (list->item(i)->checkState() == Qt::Checked)
				working->insert(uuid);
			else
				working->remove(uuid);
		}
		refresh();
	});

	return [this, dialog, days, scope, working] {
		const int newDays = days->value();
		const bool all = scope->currentData().toBool();
		if (newDays > 0 && !all && working->isEmpty()) {
			m_dialogs->information(dialog, text("AutoClear"), text("AutoClearEmpty"));
			return false;
		}
		if (newDays == m_autoClearDays && all == m_autoClearAll && *working == m_autoClearScenes)
			return true;
		m_settings->setValue(QStringLiteral("autoClear/days"), newDays);
		m_settings->setValue(QStringLiteral("autoClear/all"), all);
		m_settings->setValue(QStringLiteral("autoClear/scenes"), QStringList(working->begin(), working->end()));
		m_settings->sync();
		if (m_settings->status() != QSettings::NoError) {
			m_settings->setValue(QStringLiteral("autoClear/days"), m_autoClearDays);
			m_settings->setValue(QStringLiteral("autoClear/all"), m_autoClearAll);
			m_settings->setValue(QStringLiteral("autoClear/scenes"),
					     QStringList(m_autoClearScenes.begin(), m_autoClearScenes.end()));
			m_dialogs->warning(dialog, text("AutoClear"), text("AutoClearSaveFailed"));
			return false;
		}
		m_autoClearDays = newDays;
		m_autoClearAll = all;
		m_autoClearScenes = *working;
		rearmAutoClear();
		return true;
	};
}

} // namespace quillmar
