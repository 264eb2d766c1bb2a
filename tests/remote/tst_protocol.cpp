// The service's requests and answers, scenario by scenario (tests/data/remote/protocol.json),
// over a dock with two scenes on a clock the steps move.
#include "editor/editor.h"
#include "module/text.h"
#include "remote_fixture.h"
#include "test_util.h"

#include <functional>

using namespace quillmar;
using namespace quillmar::test;

namespace {

// The first expected field the actual object does not have; a number stands for an array's length.
QString mismatch(const QJsonObject &actual, const QJsonObject &expected)
{
	for (auto it = expected.begin(); it != expected.end(); ++it) {
		const QJsonValue got = actual.value(it.key());
		if ((got.isArray() && it->isDouble() ? QJsonValue(got.toArray().size()) : got) != *it)
			return it.key() + QLatin1String(" is ") + QJsonDocument(QJsonObject{{it.key(), got}}).toJson(QJsonDocument::Compact);
	}
	return QString();
}

} // namespace

class TestRemoteProtocol : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void scenarios_data() { jsonTable("remote/protocol.json"); }
	void scenarios()
	{
		QFETCH(QJsonObject, row);
		RemoteRig rig;
		const QByteArray firstEpoch = rig.remote->state().epoch().toUtf8();
		QHash<QString, QString> sessions;
		for (const QJsonValue &value : row[QStringLiteral("steps")].toArray()) {
			// Names for what only the run knows.
			const QByteArray where = QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
			const QJsonObject step = QJsonDocument::fromJson(QByteArray(where).replace("$scene0", rig.scene(0).toUtf8()).replace("$scene1", rig.scene(1).toUtf8())
									 .replace("$firstEpoch", firstEpoch).replace("$epoch", rig.remote->state().epoch().toUtf8())
									 .replace("$device", text("RemoteDevice").toUtf8())).object();
			const auto has = [&](const char *key) { return step.contains(QLatin1String(key)); };
			const auto at = [&](const char *key) { return step.value(QLatin1String(key)); };
			rig.now += at("advance").toInteger();
			for (int i = 0; i < at("times").toInt(1) && has("open"); ++i)
				sessions[at("open").toString()] = rig.open(at("name").toString(QStringLiteral("Phone")));
			const std::pair<const char *, std::function<void(const QJsonValue &)>> actions[] = {
				{"type", [&](const QJsonValue &v) { rig.dock->editor()->setFocus(), QTest::keyClicks(rig.dock->editor(), v.toString()); }},
				{"note", [&](const QJsonValue &v) { rig.dock->applyRemoteNote(rig.scenes.front()->source(), v.toString()); }},
				{"lock", [&](const QJsonValue &v) { rig.dock->setLocked(v.toBool()); }},
				{"frontend", [&](const QJsonValue &v) { rig.dock->onFrontendEvent(v == QLatin1String("changing") ? OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING
												       : OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED); }},
				{"stop", [&](const QJsonValue &) { rig.remote->stop(); }},
				{"sweep", [&](const QJsonValue &) { rig.remote->sweep(); }},
				{"scrollChanged", [&](const QJsonValue &) { rig.remote->scrollChanged(); }},
				{"noteChanged", [&](const QJsonValue &v) { rig.remote->noteChanged(rig.scene(v.toInt())); }}};
			for (const auto &[key, action] : actions)
				if (has(key))
					action(at(key));
			if (has("emit")) {
				rig.remote->emitEvent();
				const auto events = FakeWebsocket::instance().takeEvents();
				QJsonArray types;
				for (const auto &event : events)
					types.append(event.type);
				QVERIFY2(types == at("emit").toArray(), where.constData());
				if (has("body"))
					QVERIFY2(mismatch(events.back().body, at("body").toObject()).isEmpty(), where.constData());
			}
			if (has("check")) {
				QJsonObject seen = rig.remote->stateObject();
				seen.insert(QStringLiteral("stored"), rig.stored());
				seen.insert(QStringLiteral("shown"), rig.dock->editor()->toPlainText());
				seen.insert(QStringLiteral("remoteEditing"), rig.dock->isRemoteEditing());
				seen.insert(QStringLiteral("readOnly"), rig.dock->editor()->isReadOnly());
				seen.insert(QStringLiteral("revision"), rig.remote->state().revision(rig.scene()));
				QVERIFY2(mismatch(seen, at("check").toObject()).isEmpty(), qPrintable(where + ' ' + mismatch(seen, at("check").toObject())));
			}
			if (!has("do") && !has("raw") && !has("rawBytes"))
				continue;
			QJsonObject reply;
			if (has("do")) {
				QJsonObject fields;
				if (has("scene"))
					fields = rig.edit("", QString(), rig.scene(at("scene").toInt()));
				if (has("text"))
					fields.insert(QStringLiteral("document"), plainDocument(at("text").toString()));
				QJsonObject request = rig.make(qPrintable(at("do").toString()), sessions.value(at("as").toString()), fields);
				const QJsonObject extra = at("fields").toObject();
				for (auto it = extra.begin(); it != extra.end(); ++it)
					request.insert(it.key(), *it);
				reply = rig.send(request);
			} else {
				const QByteArray raw = has("raw") ? at("raw").toString().toUtf8() : '"' + QByteArray(at("rawBytes").toInt(), 'a') + '"';
				reply = FakeWebsocket::instance().callRaw(raw);
			}
			const QString expected = at("expect").toString();
			QVERIFY2(code(reply) == expected, qPrintable(where + " got " + code(reply)));
			QVERIFY2(expected == QLatin1String("ok") ? mismatch(reply, at("reply").toObject()).isEmpty() : reply.size() == 2, where.constData());
		}
	}

	// A note that fits the limits but whose block document would no longer fit a reply is
	// refused before it is stored, so it stays loadable.
	void saveKeepsNotesLoadable()
	{
		RemoteRig rig;
		const QString a = rig.open();
		QCOMPARE(rig.acquire(a), QStringLiteral("ok"));
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
		const QString before = rig.stored(true);
		QCOMPARE(rig.ask(request), QStringLiteral("size"));
		QCOMPARE(rig.stored(true), before);
		QCOMPARE(rig.remote->state().revision(rig.scene()), 0);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestRemoteProtocol)
#include "tst_protocol.moc"
