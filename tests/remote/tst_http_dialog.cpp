// The remote settings dialog, the QR codes it and the dock's pop-up show (read back with
// zbarimg), and names shown as the plain text they are.
#include "module/text.h"
#include "remote/qr_label.h"
#include "remote_fixture.h"

#include <qrcodegen/qrcodegen.hpp>

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <functional>

using namespace quillmar;
using namespace quillmar::test;

namespace {

const QString Link = QStringLiteral("http://192.168.100.200:65000/#AbCdEfGhIjKlMnOpQrStUv");

// What a phone's camera would read from the image; empty when nothing decodes.
QString decoded(const QImage &image)
{
	QTemporaryDir dir;
	const QString path = dir.filePath(QStringLiteral("qr.png"));
	if (!image.save(path))
		return QString();
	QProcess zbar;
	zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), path});
	if (!zbar.waitForFinished(20000))
		return QString();
	return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

} // namespace

class TestHttpDialog : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void qrImages_data()
	{
		// Sides in quiet-zoned symbol widths plus pixels, or fixed.
		QTest::addColumn<int>("widths");
		QTest::addColumn<int>("pixels");
		QTest::addColumn<bool>("readable");
		QTest::newRow("one pixel short of the quiet zone") << 1 << -1 << false;
		QTest::newRow("one pixel per module") << 1 << 0 << true;
		QTest::newRow("two pixels, uneven margin") << 2 << 1 << true;
		QTest::newRow("dialog size") << 0 << 240 << true;
	}
	void qrImages()
	{
		QFETCH(int, widths); QFETCH(int, pixels); QFETCH(bool, readable);
		const int modules = qrcodegen::QrCode::encodeText(Link.toUtf8().constData(), qrcodegen::QrCode::Ecc::LOW).getSize();
		const int side = widths * (modules + 8) + pixels;
		const QImage image = qrImage(Link, side);
		QCOMPARE(image.isNull(), !readable);
		if (!readable)
			return;
		QCOMPARE(image.size(), QSize(side, side));
		// The quiet zone is at least four modules wide on every side.
		const int scale = side / (modules + 8);
		for (int i = 0; i < side; ++i) {
			QCOMPARE(image.pixel(i, 4 * scale - 1), qRgb(255, 255, 255));
			QCOMPARE(image.pixel(side - 4 * scale, i), qRgb(255, 255, 255));
		}
		if (scale >= 2)
			QCOMPARE(decoded(image), Link);
	}

	// The label keeps its code square and readable, and shows nothing rather than a code too
	// small to read.
	void labelStaysSquare()
	{
		QrLabel label;
		label.setLink(Link);
		label.resize(360, 240);
		label.show();
		QCOMPARE(label.height(), 360);
		QCOMPARE(label.pixmap().width(), 360);
		QCOMPARE(decoded(label.pixmap().toImage()), Link);
		label.resize(30, 240);
		QVERIFY(label.pixmap().isNull());
		label.resize(360, 240);
		label.setLink(QString());
		QVERIFY(label.pixmap().isNull());
	}

	// A stored address gone from the machine shows as the first; an unchanged apply keeps
	// sessions; a reset waits for an apply that works, and a failed one saves nothing.
	void applyAndResetTheLink()
	{
		RemoteRig rig;
		rig.dock->settings()->setValue(QStringLiteral("remote/address"), QStringLiteral("10.254.254.254"));
		const QJsonObject old = rig.make("KeepAlive", rig.open());
		const QString epoch = rig.remote->state().epoch(), token = rig.remote->accessToken();
		const quint16 port = quint16(QUrl(rig.remote->url()).port());
		const std::unique_ptr<QDialog> dialog(rig.remote->makeSettings(nullptr));
		dialog->show();
		const auto child = [&](const char *name) { return dialog->findChild<QWidget *>(QLatin1String(name)); };
		auto *address = static_cast<QComboBox *>(child("remoteAddress"));
		auto *status = static_cast<QLabel *>(child("remoteStatus"));
		auto *apply = static_cast<QPushButton *>(child("remoteApply"));
		QCOMPARE(address->currentIndex(), 0);
		address->setCurrentIndex(address->findData(QStringLiteral("127.0.0.1")));
		static_cast<QSpinBox *>(child("remotePort"))->setValue(port);
		apply->click();
		QCOMPARE(status->text(), QString());
		QCOMPARE(rig.remote->state().epoch(), epoch);
		QCOMPARE(rig.ask(old), QStringLiteral("ok"));
		QCOMPARE(rig.dock->settings()->value(QStringLiteral("remote/address")).toString(), QStringLiteral("127.0.0.1"));

		static_cast<QPushButton *>(child("remoteReset"))->click();
		QCOMPARE(status->text(), text("RemotePending"));
		QTcpServer taken;
		QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
		static_cast<QSpinBox *>(child("remotePort"))->setValue(taken.serverPort());
		apply->click();
		QVERIFY(status->text().startsWith(text("RemoteListenFailed") + QLatin1Char(' ')) && status->text().size() > text("RemoteListenFailed").size() + 1);
		QVERIFY(!rig.remote->isListening());
		QCOMPARE(rig.dock->settings()->value(QStringLiteral("remote/port")).toInt(), int(port));
		QCOMPARE(rig.remote->accessToken(), token);
		QVERIFY(child("remoteQR")->isHidden() && !child("remoteCopy")->isEnabled());

		taken.close();
		apply->click();
		QVERIFY(rig.remote->isListening());
		QVERIFY(rig.remote->accessToken() != token);
		QCOMPARE(rig.ask(old), QStringLiteral("access"));
		QCOMPARE(rig.dock->settings()->value(QStringLiteral("remote/access")).toString(), rig.remote->accessToken());
		QCOMPARE(static_cast<QrLabel *>(child("remoteQR"))->link(), rig.remote->url());
	}

	void qrButtonTogglesThePopup()
	{
		RemoteRig rig;
		rig.dock->resize(500, 600);
		rig.dock->show();
		QVERIFY(QTest::qWaitForWindowExposed(rig.dock.get()));
		auto *button = rig.dock->findChild<QToolButton *>(QStringLiteral("remoteQrButton"));
		QVERIFY(button->isVisible());
		QGuiApplication::clipboard()->clear();
		button->click();
		auto *popup = rig.dock->findChild<QLabel *>(QStringLiteral("remoteQrOverlay"));
		QVERIFY(popup && popup->isVisible());
		QCOMPARE(QGuiApplication::clipboard()->text(), rig.remote->url());
		QCOMPARE(decoded(popup->pixmap().toImage()), rig.remote->url());
		// Each way to close it: the button again, Escape, a click in the note, the service's stop.
		auto *editor = qobject_cast<QAbstractScrollArea *>(rig.dock->findChild<QWidget *>(QStringLiteral("noteEditor")));
		const std::function<void()> closers[] = {[&] { button->click(); }, [&] { QTest::keyClick(editor, Qt::Key_Escape); },
							  [&] { QTest::mouseClick(editor->viewport(), Qt::LeftButton); }, [&] { rig.remote->stop(); }};
		for (const auto &close : closers) {
			if (!popup->isVisible())
				button->click();
			QVERIFY(popup->isVisible());
			close();
			QVERIFY(!popup->isVisible());
		}
		QVERIFY(button->isHidden());
	}

	void namesShowAsPlainText()
	{
		RemoteRig rig(0);
		const QString name = QStringLiteral("<b>Loud</b> & <i>x</i>");
		Scene scene(qPrintable(name));
		fake::setProgramScene(scene.source(), false);
		rig.dock->onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
		auto *label = rig.dock->findChild<QLabel *>(QStringLiteral("sceneLabel"));
		QCOMPARE(label->text(), name);
		QCOMPARE(label->textFormat(), Qt::PlainText);
		const QString tip = label->toolTip();
		QCOMPARE(Qt::mightBeRichText(tip) ? htmlToPlainText(tip) : tip, name);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestHttpDialog)
#include "tst_http_dialog.moc"
