#include "SettingsWindow.h"

#include <QCloseEvent>

SettingsWindow::SettingsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("settingsWindow"));
}

void SettingsWindow::closeEvent(QCloseEvent *event) {
    event->ignore();
    hide();
}
