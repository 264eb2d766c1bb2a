#pragma once

// Tables of cases kept as data: tests/data/<name>.json holds an array of objects, each with a
// "name"; every object becomes one named row of the column "row".

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace quillmar::test {

inline void jsonRows(const char *name)
{
	QTest::addColumn<QJsonObject>("row");
	QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/%1.json").arg(QLatin1String(name)));
	QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
	const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
	QVERIFY(!rows.isEmpty());
	for (const QJsonValue &row : rows)
		QTest::newRow(qPrintable(row[QLatin1String("name")].toString())) << row.toObject();
}

} // namespace quillmar::test
