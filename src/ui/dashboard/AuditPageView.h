#pragma once

#include "UiContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QWidget>

// One governance event on this machine.
struct AuditEvent {
    QDateTime timestamp;
    QString kind; // a short tag
    QString message;
};

// "Audit": the events it was given, in list order, or its empty state.
// Nothing records events yet, so the dashboard always hands it none.
class AuditPageView : public QWidget {
    Q_OBJECT

public:
    explicit AuditPageView(const UiContext &context, QList<AuditEvent> events = {},
                           QWidget *parent = nullptr);

    QList<AuditEvent> events() const { return m_events; }

private:
    QWidget *createEmptyState();
    QWidget *createEventRow(const AuditEvent &event);

    UiContext m_context;
    QList<AuditEvent> m_events;
};
