#include "EmulatorHttp.h"

#include <QEventLoop>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>

QByteArray HttpResult::header(const QByteArray &name) const {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QUrl EmulatorHttp::url(const QString &pathAndQuery) const {
    return QUrl(m_base.toString() + pathAndQuery);
}

static QByteArray compact(const QJsonObject &o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

HttpResult EmulatorHttp::post(const QString &path, const QJsonObject &body) const {
    return send("POST", path, compact(body), {{"Content-Type", "application/json"}});
}

HttpResult EmulatorHttp::patch(const QString &path, const QJsonObject &body) const {
    return send("PATCH", path, compact(body), {{"Content-Type", "application/json"}});
}

HttpResult EmulatorHttp::put(const QString &path, const QJsonObject &body) const {
    return send("PUT", path, compact(body), {{"Content-Type", "application/json"}});
}

HttpResult EmulatorHttp::send(const QByteArray &method, const QString &path, const QByteArray &body,
                              const QList<QPair<QByteArray, QByteArray>> &headers) const {
    return sendTo(method, url(path), body, headers);
}

HttpResult EmulatorHttp::sendTo(const QByteArray &method, const QUrl &target,
                                const QByteArray &body,
                                const QList<QPair<QByteArray, QByteArray>> &headers) const {
    QNetworkRequest request(target);
    request.setTransferTimeout(20000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    for (const auto &h : headers)
        request.setRawHeader(h.first, h.second);
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(30000);
    if (!reply->isFinished())
        loop.exec();
    HttpResult result;
    result.timedOut = !reply->isFinished();
    if (result.timedOut)
        reply->abort();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    for (const auto &h : reply->rawHeaderPairs())
        result.headers.append(h);
    if (reply->isOpen())
        result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

QString runGit(const QString &workDir, const QStringList &args, const QByteArray &input,
               const QStringList &env) {
    QProcess git;
    git.setWorkingDirectory(workDir);
    if (!env.isEmpty()) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const auto &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        git.setProcessEnvironment(e);
    }
    git.start(QStringLiteral("git"), args);
    if (!git.waitForStarted(10000))
        return {};
    git.write(input);
    git.closeWriteChannel();
    if (!git.waitForFinished(30000) || git.exitCode() != 0)
        return {};
    return QString::fromUtf8(git.readAllStandardOutput()).trimmed();
}
