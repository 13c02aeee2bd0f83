#include "GuiMessageBox.h"

#include <QApplication>
#include <QMessageBox>

void GuiMessageBoxService::show(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ClientZEP_job"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
