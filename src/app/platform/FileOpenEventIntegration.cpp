#include "FileOpenEventIntegration.h"

#include <QCoreApplication>
#include <QFileOpenEvent>

std::unique_ptr<PlatformIntegration> createPlatformIntegration(const QString &) {
    return std::make_unique<FileOpenEventIntegration>();
}

void FileOpenEventIntegration::startReceiving() {
    QCoreApplication::instance()->installEventFilter(this);
}

bool FileOpenEventIntegration::eventFilter(QObject *watched, QEvent *event) {
    if (watched == QCoreApplication::instance()) {
        if (event->type() == QEvent::FileOpen) {
            const QUrl url = static_cast<QFileOpenEvent *>(event)->url();
            if (url.isValid())
                emit urlReceived(url);
            return true;
        }
        if (event->type() == QEvent::ApplicationActivate)
            emit activationRequested();
    }
    return PlatformIntegration::eventFilter(watched, event);
}
