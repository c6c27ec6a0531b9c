#pragma once

#include "AppStateTypes.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

class AppState;
class AuditRecorder;
class GitHubService;

// Turns what happens to AppState and the GitHub sign-in into audit events:
// signing in and out, the organisation chosen, each real change of status,
// a refused token refresh and how each reconnect ended. It compares with what it last recorded, so
// the routine writes a check makes leave the trail alone. Connect it before
// anything that shows these changes: slots run in connection order, and an
// event is written before the user sees it.
class AuditObserver : public QObject {
    Q_OBJECT

public:
    AuditObserver(AppState *state, GitHubService *gitHub, AuditRecorder *audit,
                  QObject *parent = nullptr);

private:
    void onConnectedWritten();
    void onOrgWritten();
    void onStatusChanged();
    void onRefreshRefused(const QString &reason);
    void onReconnectFinished(bool succeeded, const QString &account, const QString &problem);
    QJsonObject repositoryDetails() const;
    void record(const QString &kind, const QString &message, QJsonObject details);

    QPointer<AppState> m_state;
    QPointer<AuditRecorder> m_audit;
    QString m_signedInAs;
    QString m_org;
    MachineStatusState m_status;
    bool m_refusalRecorded = false;
};
