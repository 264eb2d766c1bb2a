#pragma once

#include "documents/zip.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace quillmar {

// A .docx package read as its ZIP container: parts are found by name, compared without regard
// to letter case as package part names are, and only the parts asked for are inflated.
class WordPackage {
public:
	WordPackage();

	// Refuses anything but a regular file of at most 100 MiB ("WordSizeError") and files that are
	// not a readable ZIP container ("WordOpenError"). Never blocks on a pipe or device.
	bool open(const QString &path, QString &error);

	// The bytes of a part named as in the package ("/word/document.xml"); empty when the part is
	// missing, larger than 24 MiB or damaged.
	QByteArray part(const QString &name);

private:
	QFile m_file;
	ZipReader m_zip;
};

} // namespace quillmar
