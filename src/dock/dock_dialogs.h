#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QMenu;
class QPoint;
class QWidget;

namespace quillmar {

// Every modal question the dock asks goes through here, so that a test can answer it the way a
// person would without poking at a window that blocks the event loop.
class DockDialogs {
public:
	virtual ~DockDialogs() = default;

	virtual QString openFileName(QWidget *parent, const QString &caption, const QString &filter);
	// chosenFilter receives the filter the person picked.
	virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
				     const QString &filter, QString *chosenFilter);
	virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text);
	virtual void warning(QWidget *parent, const QString &title, const QString &text);
	virtual void information(QWidget *parent, const QString &title, const QString &text);
	virtual void execMenu(QMenu *menu, const QPoint &globalPosition);
	virtual int execDialog(QDialog *dialog);
};

} // namespace quillmar
