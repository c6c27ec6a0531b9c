#pragma once

// What the dashboard tests share: an AppState in a private directory, and
// small readers for the labels the pages name.

#include "AppState.h"
#include "PersistenceService.h"
#include "UiContext.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QMetaMethod>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

struct DashboardState {
    QTemporaryDir dir;
    std::unique_ptr<PersistenceService> persistence;
    std::unique_ptr<AppState> appState;

    DashboardState() {
        persistence = std::make_unique<PersistenceService>(dir.path() + "/io.keelmark.app");
        appState = std::make_unique<AppState>(persistence.get());
    }

    UiContext context() const { return UiContext{appState.get(), nullptr, nullptr}; }

    QByteArray stateFile() const {
        QFile file(persistence->filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

// Counts every change signal of AppState, so a test can say "nothing moved".
class ChangeCounter : public QObject {
    Q_OBJECT

public:
    explicit ChangeCounter(AppState *state) {
        const QMetaObject *meta = state->metaObject();
        const QMetaMethod hit = metaObject()->method(metaObject()->indexOfSlot("hit()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                connect(state, meta->method(i), this, hit);
        }
    }
    int count = 0;

public slots:
    void hit() { ++count; }
};

inline QLabel *labelNamed(const QWidget *root, const QString &name) {
    auto *label = root->findChild<QLabel *>(name);
    if (!label)
        qWarning("no label named %s", qPrintable(name));
    return label;
}

inline QString textOf(const QWidget *root, const QString &name) {
    QLabel *label = labelNamed(root, name);
    return label ? label->text() : QStringLiteral("<no label %1>").arg(name);
}

// Visible as far as the page goes; pages under test need not be shown.
inline bool shownIn(const QWidget *widget, const QWidget *page) {
    return widget && widget->isVisibleTo(const_cast<QWidget *>(page));
}

inline QColor textColor(const QWidget *widget) {
    return widget->palette().color(QPalette::WindowText);
}
