#pragma once

// The head of a Word upload field by field, so that a case can replace, add or (with a null
// value) remove one by name.

#include <QByteArray>
#include <QList>
#include <QPair>

namespace quillmar::test {

inline const QByteArray WordType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";

struct UploadFields {
	QList<QPair<QByteArray, QByteArray>> fields;
	QByteArray body;

	UploadFields &set(const QByteArray &name, const QByteArray &value)
	{
		for (auto &field : fields)
			if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
				field.second = value;
				return *this;
			}
		fields.append({name, value});
		return *this;
	}
	QByteArray head() const
	{
		QByteArray bytes = "POST /import.docx HTTP/1.1\r\n";
		for (const auto &field : fields)
			if (!field.second.isNull())
				bytes += field.first + ": " + field.second + "\r\n";
		return bytes + "\r\n";
	}
	QByteArray bytes() const { return head() + body; }
};

} // namespace quillmar::test
