#include "EmulatorHttp.h"

#include <QEventLoop>
#include <QNetworkRequest>
#include <QTimer>

QByteArray HttpResult::header(const QByteArray &name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QNetworkReply *EmulatorHttp::start(const QByteArray &method, const QUrl &target,
                                   const QByteArray &body, const Headers &headers) const {
    QNetworkRequest request(target);
    request.setTransferTimeout(20000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    return m_network.sendCustomRequest(request, method, body);
}

HttpResult EmulatorHttp::wait(QNetworkReply *reply) {
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    HttpResult result;
    if (!reply->isFinished()) {
        reply->abort();
        result.error = QNetworkReply::TimeoutError;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (result.error == QNetworkReply::NoError)
        result.error = reply->error();
    result.headers = reply->rawHeaderPairs();
    if (reply->isOpen())
        result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

QJsonObject protectionRules() {
    return QJsonDocument::fromJson(R"({"required_status_checks": null, "enforce_admins": true,
        "required_pull_request_reviews": {"required_approving_review_count": 1,
            "require_code_owner_reviews": true, "dismiss_stale_reviews": true},
        "restrictions": null, "required_linear_history": true, "allow_force_pushes": false,
        "allow_deletions": false})")
        .object();
}

QJsonObject blobEntry(const QString &path, const QString &content) {
    return {{"path", path}, {"mode", "100644"}, {"type", "blob"}, {"content", content}};
}

QString commitOnMain(const EmulatorHttp &http, const QString &repoPath, const QJsonArray &entries,
                     bool withBase) {
    const QString head =
        http.get(repoPath + "/git/ref/heads/main").object()["object"].toObject()["sha"].toString();
    QJsonObject treeBody{{"tree", entries}};
    if (withBase)
        treeBody["base_tree"] =
            http.get(repoPath + "/git/commits/" + head).object()["tree"].toObject()["sha"];
    const HttpResult tree = http.post(repoPath + "/git/trees", treeBody);
    const HttpResult commit = http.post(repoPath + "/git/commits", {{"message", "Write files"},
                                                                    {"tree", tree.object()["sha"]},
                                                                    {"parents", QJsonArray{head}}});
    const QString sha = commit.object()["sha"].toString();
    if (tree.status != 201 || commit.status != 201 ||
        http.patch(repoPath + "/git/refs/heads/main", {{"sha", sha}, {"force", false}}).status !=
            200)
        return {};
    return sha;
}
