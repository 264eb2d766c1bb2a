#include "editor/editor.h"
#include "module/text.h"
#include "remote_fixture.h"

#include <QJsonArray>

using namespace quillmar;
using namespace quillmar::test;

namespace {

const QString Ok = QStringLiteral("ok");

QStringList eventTypes()
{
	QStringList types;
	for (const auto &event : FakeWebsocket::instance().takeEvents())
		types << event.type;
	return types;
}

} // namespace

class TestRemoteProtocol : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void requestsAreRefusedBeforeAnyAction_data()
	{
		// Fields laid over a valid GetState, or a raw payload instead, and what befalls the service.
		QTest::addColumn<QJsonObject>("fields");
		QTest::addColumn<QByteArray>("raw");
		QTest::addColumn<QString>("event");
		QTest::addColumn<QString>("expected");
		const auto field = [](const char *name, const char *value) { return QJsonObject{{QLatin1String(name), QLatin1String(value)}}; };
		QTest::newRow("wrong token") << field("access", "AAAAAAAAAAAAAAAAAAAAAA") << QByteArray() << QString() << "access";
		QTest::newRow("unknown session") << field("session", "nobody") << QByteArray() << QString() << "session";
		QTest::newRow("unknown action") << field("action", "Format") << QByteArray() << QString() << "action";
		QTest::newRow("payload not an object") << QJsonObject() << QByteArray("[1]") << QString() << "format";
		QTest::newRow("payload over 6 MiB") << QJsonObject() << "\"" + QByteArray(Remote::MaxPayloadBytes, 'a') + "\"" << QString() << "size";
		QTest::newRow("collection loading: Open") << field("action", "Open") << QByteArray() << "loading" << "loading";
		QTest::newRow("collection loading: GetDocument") << field("action", "GetDocument") << QByteArray() << "loading" << "loading";
		QTest::newRow("server stopped") << QJsonObject() << QByteArray() << "stop" << "disabled";
	}
	void requestsAreRefusedBeforeAnyAction()
	{
		QFETCH(QJsonObject, fields);
		QFETCH(QByteArray, raw);
		QFETCH(QString, event);
		QFETCH(QString, expected);
		RemoteRig rig;
		QJsonObject request = rig.make("GetState", rig.open(), rig.sceneField());
		for (auto it = fields.begin(); it != fields.end(); ++it)
			request[it.key()] = it.value();
		if (event == QLatin1String("loading"))
			rig.dock->onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		else if (event == QLatin1String("stop"))
			rig.remote->stop();
		const QJsonObject reply = raw.isEmpty() ? rig.send(request) : FakeWebsocket::instance().callRaw(raw);
		QCOMPARE(code(reply), expected);
		QCOMPARE(reply.size(), 2);
	}

	void sessionsAndDeviceNames()
	{
		RemoteRig rig;
		QStringList sessions;
		for (int i = 0; i < RemoteState::MaxSessions; ++i)
			sessions << rig.open(i == 0 ? QStringLiteral("  ") : QStringLiteral("Phone %1").arg(i));
		QCOMPARE(rig.ask(rig.make("Open")), QStringLiteral("capacity"));
		// The first one is named after the locale's default device name.
		rig.send(rig.edit("AcquireEdit", sessions.first(), rig.scene()));
		QCOMPARE(rig.remote->stateObject().value(QStringLiteral("editor")).toString(), text("RemoteDevice"));
		rig.now += RemoteState::SessionIdleMs + 1;
		QCOMPARE(rig.ask(rig.make("GetState", sessions.last())), QStringLiteral("session"));
		QVERIFY(!rig.open().isEmpty());
	}

	// Read, take the lease, save, see the note stored and shown, and what others get meanwhile.
	void leaseAndSave()
	{
		RemoteRig rig;
		const QString a = rig.open(QStringLiteral("Phone"));
		const QString b = rig.open(QStringLiteral("Tablet"));
		const QJsonObject document = rig.send(rig.make("GetDocument", a, rig.sceneField()));
		QCOMPARE(code(document), Ok);
		QCOMPARE(document.value(QStringLiteral("revision")).toInt(), 0);

		const QJsonObject save = rig.save(a, QStringLiteral("hello"));
		QCOMPARE(rig.ask(save), QStringLiteral("lease"));
		QCOMPARE(rig.acquire(a), Ok);
		QVERIFY(rig.dock->isRemoteEditing());
		QVERIFY(rig.dock->editor()->isReadOnly());
		QCOMPARE(rig.acquire(b), QStringLiteral("busy"));
		QCOMPARE(rig.acquire(a, 1), QStringLiteral("busy"));
		QCOMPARE(rig.ask(rig.save(b, QStringLiteral("b"))), QStringLiteral("busy"));
		QCOMPARE(rig.ask(rig.edit("CheckImport", a, rig.scene(1))), QStringLiteral("busy"));

		const QJsonObject saved = rig.send(save);
		QCOMPARE(code(saved), Ok);
		QCOMPARE(saved.value(QStringLiteral("revision")).toInt(), 1);
		QCOMPARE(rig.stored(), QStringLiteral("hello"));
		QCOMPARE(rig.dock->editor()->toPlainText(), QStringLiteral("hello"));
		QCOMPARE(rig.ask(save), QStringLiteral("conflict")); // revision 0 is stale now

		// Unchanged: same revision, nothing stored, no event.
		rig.remote->emitEvent();
		QCOMPARE(eventTypes(), QStringList{QStringLiteral("Changed")});
		const QJsonObject again = rig.send(rig.save(a, QStringLiteral("hello")));
		QCOMPARE(again.value(QStringLiteral("revision")).toInt(), 1);
		rig.remote->emitEvent();
		QCOMPARE(eventTypes(), QStringList{QStringLiteral("Scroll")});

		const QJsonObject replaced = rig.send(rig.save(a, QStringLiteral("new"), 0, "ReplaceDocument"));
		QCOMPARE(code(replaced), Ok);
		QCOMPARE(replaced.value(QStringLiteral("simplified")), QJsonValue(false));
		QCOMPARE(rig.stored(), QStringLiteral("new"));

		QCOMPARE(rig.ask(rig.make("ReleaseEdit", a)), Ok);
		QVERIFY(!rig.dock->isRemoteEditing());
		QCOMPARE(rig.ask(rig.save(a, QStringLiteral("x"))), QStringLiteral("lease"));
	}

	// Only KeepAlive, saves and AcquireEdit renew the lease.
	void leaseLapsesBySilence()
	{
		RemoteRig rig;
		const QString a = rig.open();
		QCOMPARE(rig.acquire(a), Ok);
		rig.now += 10000;
		QVERIFY(rig.send(rig.make("KeepAlive", a)).value(QStringLiteral("editing")).toBool());
		rig.now += 14999;
		rig.send(rig.make("GetState", a));
		rig.remote->sweep();
		QVERIFY(rig.dock->isRemoteEditing());
		rig.now += 1;
		rig.remote->sweep();
		QVERIFY(!rig.dock->isRemoteEditing());
		QVERIFY(!rig.send(rig.make("KeepAlive", a)).value(QStringLiteral("editing")).toBool());
	}

	void localEditingLockAndCollection()
	{
		RemoteRig rig;
		const QString a = rig.open();
		rig.dock->editor()->setFocus();
		QTest::keyClicks(rig.dock->editor(), QStringLiteral("typed"));
		QCOMPARE(rig.acquire(a), QStringLiteral("busy"));
		const QJsonObject state = rig.remote->stateObject();
		QCOMPARE(state.value(QStringLiteral("editor")).toString(), QStringLiteral("OBS"));
		QCOMPARE(state.value(QStringLiteral("editorScene")).toString(), rig.scene());
		// Each keystroke counted a revision; the reader's unsaved text is what a client reads.
		QCOMPARE(rig.remote->state().revision(rig.scene()), 5);
		const QJsonObject exported = rig.send(rig.make("ExportText", a, rig.sceneField()));
		QCOMPARE(exported.value(QStringLiteral("text")).toString(), QStringLiteral("typed"));
		QCOMPARE(rig.ask(rig.make("Scroll", a, {{QStringLiteral("command"), QStringLiteral("seek")}, {QStringLiteral("scene"), rig.scene()}, {QStringLiteral("target"), QStringLiteral("1")}})), QStringLiteral("busy"));
		rig.now += RemoteState::LocalEditingMs;
		QCOMPARE(rig.acquire(a), Ok);
		QCOMPARE(rig.stored(), QStringLiteral("typed"));

		// The lock ends the lease at once.
		rig.dock->setLocked(true);
		QVERIFY(!rig.dock->isRemoteEditing());
		QCOMPARE(rig.ask(rig.save(a, QStringLiteral("x"))), QStringLiteral("locked"));
		rig.dock->setLocked(false);
		rig.now += RemoteState::LocalEditingMs;

		// A new collection: a new epoch, revisions from 0, old edits refused.
		const QJsonObject stale = rig.edit("AcquireEdit", a, rig.scene());
		rig.dock->onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		QCOMPARE(rig.remote->stateObject().value(QStringLiteral("scenes")).toArray().size(), 0);
		rig.dock->onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		QCOMPARE(rig.ask(stale), QStringLiteral("conflict"));
		QCOMPARE(rig.send(rig.make("GetDocument", a, rig.sceneField())).value(QStringLiteral("revision")).toInt(), 0);
	}

	// A note that fits the limits but whose block document would no longer fit a reply is
	// refused before it is stored, so it stays loadable.
	void saveKeepsNotesLoadable()
	{
		RemoteRig rig;
		const QString a = rig.open();
		QCOMPARE(rig.acquire(a), Ok);
		QJsonObject document = plainDocument(QStringLiteral("ab"));
		QJsonObject block = document[QStringLiteral("blocks")][0].toObject();
		QJsonObject run = block[QStringLiteral("runs")][0].toObject();
		run[QStringLiteral("family")] = QStringLiteral("Noto Sans Mono CJK Traditional Chinese Extra");
		QJsonArray runs, blocks;
		for (int r = 0; r < 3000; ++r) {
			run[QStringLiteral("weight")] = r % 2 ? 700 : 400;
			runs.append(run);
		}
		block[QStringLiteral("runs")] = runs;
		for (int b = 0; b < 10; ++b)
			blocks.append(block);
		document[QStringLiteral("blocks")] = blocks;
		const QJsonObject request = rig.edit("SaveDocument", a, rig.scene(), {{QStringLiteral("document"), document}});
		const qsizetype bytes = QJsonDocument(request).toJson(QJsonDocument::Compact).size();
		QVERIFY2(bytes > Remote::MaxDocumentBytes && bytes < Remote::MaxPayloadBytes, QByteArray::number(bytes));
		const QString before = rig.stored(0, true);
		QCOMPARE(rig.ask(request), QStringLiteral("size"));
		QCOMPARE(rig.stored(0, true), before);
		QCOMPARE(rig.remote->state().revision(rig.scene()), 0);
	}

	void scrollCommands_data()
	{
		QTest::addColumn<QJsonObject>("fields");
		QTest::addColumn<QString>("expected");
		const auto speed = [](const QJsonValue &v) { return QJsonObject{{QStringLiteral("command"), QStringLiteral("speed")}, {QStringLiteral("speed"), v}}; };
		const auto seek = [](const QString &t) { return QJsonObject{{QStringLiteral("command"), QStringLiteral("seek")}, {QStringLiteral("target"), t}}; };
		QTest::newRow("speed 5.0") << speed(5.0) << "ok";
		QTest::newRow("speed 5.01") << speed(5.01) << "range";
		QTest::newRow("speed 0.99") << speed(0.99) << "range";
		QTest::newRow("speed as text") << speed(QStringLiteral("5")) << "range";
		QTest::newRow("pause") << QJsonObject{{QStringLiteral("command"), QStringLiteral("pause")}} << "ok";
		QTest::newRow("unknown command") << QJsonObject{{QStringLiteral("command"), QStringLiteral("rewind")}} << "command";
		QTest::newRow("seek 101%") << seek(QStringLiteral("101%")) << "range";
		QTest::newRow("seek paragraph 3 with blanks") << seek(QStringLiteral("  3 ")) << "ok";
		QJsonObject elsewhere = seek(QStringLiteral("1"));
		elsewhere.insert(QStringLiteral("scene"), QStringLiteral("elsewhere"));
		QTest::newRow("seek another scene") << elsewhere << "scene";
	}
	void scrollCommands()
	{
		QFETCH(QJsonObject, fields);
		QFETCH(QString, expected);
		RemoteRig rig;
		rig.dock->applyRemoteNote(rig.scenes.front()->source(), QStringLiteral("<p>1</p><p>2</p><p>3</p>"));
		const QString a = rig.open();
		if (!fields.contains(QStringLiteral("scene")))
			fields.insert(QStringLiteral("scene"), rig.scene());
		const double speedBefore = rig.dock->scrollSpeed();
		const QJsonObject reply = rig.send(rig.make("Scroll", a, fields));
		QCOMPARE(code(reply), expected);
		if (fields.value(QStringLiteral("command")) == QLatin1String("speed"))
			QCOMPARE(rig.dock->scrollSpeed(), expected == Ok ? fields.value(QStringLiteral("speed")).toDouble() : speedBefore);
		if (expected == Ok)
			QCOMPARE(reply.value(QStringLiteral("epoch")).toString(), rig.remote->state().epoch());
	}

	void eventsCoalesce()
	{
		RemoteRig rig;
		rig.remote->scrollChanged();
		rig.remote->emitEvent();
		QVERIFY2(eventTypes().isEmpty(), "no session: no event");
		const QString a = rig.open();
		rig.remote->scrollChanged();
		rig.remote->scrollChanged();
		rig.remote->emitEvent();
		QCOMPARE(eventTypes(), QStringList{QStringLiteral("Scroll")});
		rig.remote->scrollChanged();
		rig.remote->noteChanged(rig.scene(1));
		rig.remote->noteChanged(rig.scene(1));
		rig.remote->scrollChanged();
		rig.remote->emitEvent();
		const auto events = FakeWebsocket::instance().takeEvents();
		QCOMPARE(events.size(), size_t(1));
		QCOMPARE(events.front().type, QStringLiteral("Changed"));
		QCOMPARE(events.front().body.value(QStringLiteral("changed")).toArray(), QJsonArray{rig.scene(1)});
		QCOMPARE(events.front().body.value(QStringLiteral("scenes")).toArray().size(), 2);
		// A note changed off-screen opens no local window.
		QVERIFY(!rig.remote->state().localEditing());
		QCOMPARE(rig.acquire(a, 1), Ok);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestRemoteProtocol)
#include "tst_protocol.moc"
