// The remote settings dialog and the QR pop-up over the editor.
#include "remote/qr_label.h"
#include "remote/remote.h"

#include "dock/dock.h"
#include "module/text.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkInterface>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QVBoxLayout>

namespace quillmar {

namespace {

void fillAddresses(QComboBox *box, const QString &stored)
{
	const auto interfaces = QNetworkInterface::allInterfaces();
	for (const QNetworkInterface &interface : interfaces) {
		if (!interface.flags().testFlag(QNetworkInterface::IsUp))
			continue;
		const auto entries = interface.addressEntries();
		for (const QNetworkAddressEntry &entry : entries) {
			const QHostAddress address = entry.ip();
			if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
				continue;
			box->addItem(address.toString() + QStringLiteral(" · ") + interface.humanReadableName(),
				     address.toString());
		}
	}
	box->addItem(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"));
	for (int i = 0; i < box->count(); ++i)
		if (box->itemData(i).toString() == stored) {
			box->setCurrentIndex(i);
			break;
		}
}

} // namespace

QDialog *Remote::makeSettings(QWidget *parent)
{
	auto *dialog = new QDialog(parent);
	dialog->setObjectName(QStringLiteral("remoteSettings"));
	dialog->setWindowTitle(text("RemoteAccess"));
	auto *layout = new QVBoxLayout(dialog);

	auto *enabled = new QCheckBox(text("RemoteEnable"), dialog);
	enabled->setObjectName(QStringLiteral("remoteEnabled"));
	enabled->setChecked(isListening());
	layout->addWidget(enabled);

	auto *form = new QFormLayout;
	form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
	auto *address = new QComboBox(dialog);
	address->setObjectName(QStringLiteral("remoteAddress"));
	fillAddresses(address, m_settings->value(QStringLiteral("remote/address")).toString());
	form->addRow(text("RemoteAddress"), address);
	auto *port = new QSpinBox(dialog);
	port->setObjectName(QStringLiteral("remotePort"));
	port->setRange(1024, 65535);
	port->setKeyboardTracking(false);
	port->setValue(m_settings->value(QStringLiteral("remote/port"), DefaultPort).toInt());
	form->addRow(text("RemotePort"), port);
	auto *qr = new QrLabel(dialog);
	qr->setObjectName(QStringLiteral("remoteQR"));
	qr->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	qr->setFixedHeight(240);
	qr->setAlignment(Qt::AlignCenter);
	form->addRow(qr);
	layout->addLayout(form);

	auto *status = new QLabel(dialog);
	status->setObjectName(QStringLiteral("remoteStatus"));
	status->setTextFormat(Qt::PlainText);
	status->setAlignment(Qt::AlignCenter);
	status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
	status->setFixedHeight(status->fontMetrics().lineSpacing());
	layout->addWidget(status);

	auto *buttons = new QHBoxLayout;
	auto *reset = new QPushButton(text("RemoteReset"), dialog);
	reset->setObjectName(QStringLiteral("remoteReset"));
	reset->setAutoDefault(false);
	auto *copy = new QPushButton(text("RemoteCopy"), dialog);
	copy->setObjectName(QStringLiteral("remoteCopy"));
	copy->setAutoDefault(false);
	auto *apply = new QPushButton(text("RemoteApply"), dialog);
	apply->setObjectName(QStringLiteral("remoteApply"));
	apply->setDefault(true);
	buttons->addWidget(reset);
	buttons->addWidget(copy);
	buttons->addWidget(apply);
	layout->addLayout(buttons);

	auto resetRequested = std::make_shared<bool>(false);
	auto showStatus = [status](const QString &message) {
		status->setText(message);
		status->setToolTip(message);
	};
	auto refresh = [this, dialog, layout, qr, copy] {
		const QString link = url();
		copy->setEnabled(!link.isEmpty());
		const bool wasShown = !qr->isHidden();
		qr->setHidden(link.isEmpty());
		if (qr->link() != link)
			qr->setLink(link);
		layout->activate();
		if (dialog->isVisible() && wasShown == !qr->isHidden())
			return;
		dialog->adjustSize();
	};
	auto pending = [showStatus] { showStatus(text("RemotePending")); };
	connect(enabled, &QCheckBox::toggled, dialog, pending);
	connect(address, &QComboBox::currentIndexChanged, dialog, pending);
	connect(port, &QSpinBox::valueChanged, dialog, pending);
	connect(reset, &QPushButton::clicked, dialog, [resetRequested, pending] {
		*resetRequested = true;
		pending();
	});
	connect(copy, &QPushButton::clicked, dialog, [this] { QGuiApplication::clipboard()->setText(url()); });
	connect(apply, &QPushButton::clicked, dialog,
		[this, enabled, address, port, resetRequested, showStatus, refresh] {
			const QString host = address->currentData().toString();
			const auto chosenPort = quint16(port->value());
			if (enabled->isChecked()) {
				QString failure;
				if (!isRegistered())
					failure = text("RemoteUnavailable");
				else if (!(isListening() && m_server->serverAddress().toString() == host &&
					   m_server->serverPort() == chosenPort) &&
					 !listen(host, chosenPort))
					failure = text("RemoteListenFailed") + QLatin1Char(' ') + listenError();
				if (!failure.isEmpty()) {
					showStatus(failure);
					refresh();
					return;
				}
			} else if (isListening()) {
				stop();
			}
			m_settings->setValue(QStringLiteral("remote/enabled"), enabled->isChecked());
			m_settings->setValue(QStringLiteral("remote/address"), host);
			m_settings->setValue(QStringLiteral("remote/port"), int(chosenPort));
			if (*resetRequested) {
				resetToken();
				*resetRequested = false;
			}
			showStatus(QString());
			refresh();
		});
	refresh();
	return dialog;
}

void Remote::openSettings(QWidget *parent)
{
	const std::unique_ptr<QDialog> dialog(makeSettings(parent));
	dialog->exec();
}

void Remote::toggleQrPopup(QWidget *host)
{
	if (m_qrPopup && m_qrPopup->isVisible()) {
		m_qrPopup->hide();
		return;
	}
	const QString link = url();
	if (link.isEmpty())
		return;
	const int side = qMin(qMin(host->width(), host->height()), 240);
	if (side <= 0)
		return;
	QWidget *dock = m_dock;
	if (!m_qrPopup) {
		auto *popup = new QLabel(dock);
		popup->setObjectName(QStringLiteral("remoteQrOverlay"));
		popup->setFocusPolicy(Qt::NoFocus);
		popup->setAttribute(Qt::WA_OpaquePaintEvent);
		popup->setStyleSheet(QStringLiteral("QLabel { background: white; border: 0px; padding: 0px; margin: 0px; }"));
		m_qrPopup = popup;
	}
	if (link != m_qrPopupLink || m_qrPopup->size() != QSize(side, side)) {
		const QImage image = qrImage(link, side);
		if (image.isNull())
			return;
		m_qrPopup->setFixedSize(side, side);
		m_qrPopup->setPixmap(QPixmap::fromImage(image));
		m_qrPopupLink = link;
	}
	m_qrPopup->move(host->mapTo(dock, QPoint(host->width() - side, 0)));
	m_qrPopup->raise();
	m_qrPopup->show();
}

bool Remote::hideQrPopup()
{
	if (!m_qrPopup || !m_qrPopup->isVisible())
		return false;
	m_qrPopup->hide();
	return true;
}

} // namespace quillmar
