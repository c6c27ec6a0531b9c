#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

// Plain HTTP from the test's side: what the user's browser does on the
// authorisation page, and what someone with admin rights does to the
// repository through the emulator's REST API. Never KeelMark's own client.
class HttpSteps {
public:
    struct Reply {
        int status = 0; // 0: no answer
        QByteArray body;
        QUrl location;
        QJsonObject json() const;
    };

    Reply send(const QByteArray &verb, const QUrl &url, const QByteArray &body = {},
               const QByteArray &contentType = {}, const QString &token = {});

    // Loads the authorisation page, presses its Approve button and follows
    // the redirects through the relay; the keelmark:// address the browser
    // ends at, or an empty URL with *error set.
    QUrl approveInBrowser(const QUrl &authorizationUrl, QString *error);

    // REST calls as the repository's owner.
    Reply api(const QByteArray &verb, const QString &apiBase, const QString &path,
              const QString &token, const QJsonObject &body = {});
    // A commit on main that replaces one file, through the git data API.
    QString commitFile(const QString &apiBase, const QString &token, const QString &repoPath,
                       const QString &path, const QByteArray &content);

private:
    QNetworkAccessManager m_network;
};
