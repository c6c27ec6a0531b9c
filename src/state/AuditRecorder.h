#pragma once

#include "AuditTrail.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

// The application's one way into the audit trail: appends an event and tells
// whoever shows the trail that it grew. A failed append goes to debug.log in
// the same directory, so an event is never lost without a trace.
class AuditRecorder : public QObject {
    Q_OBJECT

public:
    explicit AuditRecorder(QString directory, QObject *parent = nullptr);

    AuditTrail &trail() { return m_trail; }
    const AuditTrail &trail() const { return m_trail; }

    // Returns once the line is on disk; callers record before they show.
    bool record(const QString &kind, const QString &message, const QJsonObject &details = {});

signals:
    void recorded();

private:
    AuditTrail m_trail;
};
