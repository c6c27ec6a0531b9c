#include "HttpSteps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrlQuery>

QJsonObject HttpSteps::Reply::json() const {
    return QJsonDocument::fromJson(body).object();
}

HttpSteps::Reply HttpSteps::send(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                                 const QByteArray &contentType, const QString &token) {
    QNetworkRequest request(url);
    request.setTransferTimeout(30000);
    // Every hop is looked at, so that the test sees the relay's own answer.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept", "application/vnd.github+json, text/html");
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply *reply = m_network.sendCustomRequest(request, verb, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(35000);
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        result.body = reply->readAll();
    const QByteArray location = reply->rawHeader("Location");
    if (!location.isEmpty())
        result.location = url.resolved(QUrl::fromEncoded(location));
    reply->deleteLater();
    return result;
}

QUrl HttpSteps::approveInBrowser(const QUrl &authorizationUrl, QString *error) {
    const Reply page = send("GET", authorizationUrl);
    if (page.status != 200) {
        *error = QStringLiteral("authorisation page answered %1").arg(page.status);
        return {};
    }
    // The page's form: a hidden request id and the Approve button.
    static const QRegularExpression requestField(
        QStringLiteral(R"re(name="request" value="([^"]+)")re"));
    const QRegularExpressionMatch match = requestField.match(QString::fromUtf8(page.body));
    if (!match.hasMatch()) {
        *error = QStringLiteral("no Approve form on the authorisation page: ") +
                 QString::fromUtf8(page.body.left(300));
        return {};
    }
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("request"), match.captured(1));
    form.addQueryItem(QStringLiteral("authorize"), QStringLiteral("1"));
    Reply hop =
        send("POST", authorizationUrl.resolved(QUrl(QStringLiteral("/login/oauth/authorize"))),
             form.toString(QUrl::FullyEncoded).toUtf8(), "application/x-www-form-urlencoded");
    for (int hops = 0; hops < 5; ++hops) {
        if (hop.status < 300 || hop.status > 399 || hop.location.isEmpty()) {
            *error = QStringLiteral("the redirect chain stopped at HTTP %1").arg(hop.status);
            return {};
        }
        if (hop.location.scheme() != QLatin1String("http") &&
            hop.location.scheme() != QLatin1String("https"))
            return hop.location; // the browser hands this to the desktop
        hop = send("GET", hop.location);
    }
    *error = QStringLiteral("too many redirects");
    return {};
}

HttpSteps::Reply HttpSteps::api(const QByteArray &verb, const QString &apiBase, const QString &path,
                                const QString &token, const QJsonObject &body) {
    const QByteArray payload =
        body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    return send(verb, QUrl(apiBase + path), payload,
                payload.isEmpty() ? QByteArray() : QByteArray("application/json"), token);
}

QString HttpSteps::commitFile(const QString &apiBase, const QString &token, const QString &repoPath,
                              const QString &path, const QByteArray &content) {
    const Reply ref = api("GET", apiBase, repoPath + "/git/ref/heads/main", token);
    const QString head = ref.json().value("object").toObject().value("sha").toString();
    const Reply commit = api("GET", apiBase, repoPath + "/git/commits/" + head, token);
    const QString baseTree = commit.json().value("tree").toObject().value("sha").toString();
    const QJsonObject entry{{"path", path},
                            {"mode", "100644"},
                            {"type", "blob"},
                            {"content", QString::fromUtf8(content)}};
    const Reply tree = api("POST", apiBase, repoPath + "/git/trees", token,
                           {{"base_tree", baseTree}, {"tree", QJsonArray{entry}}});
    const Reply created = api("POST", apiBase, repoPath + "/git/commits", token,
                              {{"message", "Change " + path},
                               {"tree", tree.json().value("sha").toString()},
                               {"parents", QJsonArray{head}}});
    const QString sha = created.json().value("sha").toString();
    const Reply moved =
        api("PATCH", apiBase, repoPath + "/git/refs/heads/main", token, {{"sha", sha}});
    return moved.status == 200 ? sha : QString();
}
