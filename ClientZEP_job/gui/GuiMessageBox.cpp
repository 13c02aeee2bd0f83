#include "GuiMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

namespace {

void showModal(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ClientZEP_job"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

void GuiMessageBoxService::show(const QString& text) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        std::fprintf(stderr, "[message box] %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    if (QThread::currentThread() == app->thread())
        showModal(text);
    else
        QMetaObject::invokeMethod(
            app, [text] { showModal(text); }, Qt::BlockingQueuedConnection);
}
