#include "dock/dock_dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMenu>

namespace quillmar {

QString DockDialogs::openFileName(QWidget *parent, const QString &caption, const QString &filter)
{
	return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString DockDialogs::saveFileName(QWidget *parent, const QString &caption, const QString &suggested,
				  const QString &filter, QString *chosenFilter)
{
	return QFileDialog::getSaveFileName(parent, caption, suggested, filter, chosenFilter);
}

QMessageBox::StandardButton DockDialogs::question(QWidget *parent, const QString &title, const QString &text)
{
	return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
}

void DockDialogs::warning(QWidget *parent, const QString &title, const QString &text)
{
	QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

void DockDialogs::information(QWidget *parent, const QString &title, const QString &text)
{
	QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void DockDialogs::execMenu(QMenu *menu, const QPoint &globalPosition)
{
	menu->exec(globalPosition);
}

int DockDialogs::execDialog(QDialog *dialog)
{
	return dialog->exec();
}

} // namespace quillmar
