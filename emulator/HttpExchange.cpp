#include "HttpExchange.h"

#include <QDateTime>
#include <QLocale>

namespace ghemu {

void HttpReply::setHeader(const QByteArray &name, const QByteArray &value) {
    for (auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers.append({name, value});
}

QByteArray HttpReply::header(const QByteArray &name) const {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QByteArray HttpExchange::header(const QByteArray &name) const {
    const QByteArray lower = name.toLower();
    for (const auto &h : headers) {
        if (h.first == lower)
            return h.second;
    }
    return {};
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 422:
        return "Unprocessable Entity";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray httpDate(const QDateTime &time) {
    return QLocale::c()
        .toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

static QByteArray head(const HttpReply &reply, bool close) {
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto &h : reply.headers) {
        if (h.first.compare("content-length", Qt::CaseInsensitive) == 0 ||
            h.first.compare("connection", Qt::CaseInsensitive) == 0)
            continue;
        out += h.first + ": " + h.second + "\r\n";
    }
    // Clients such as OAuth libraries check token lifetimes against it.
    if (reply.header("date").isEmpty())
        out += "Date: " + httpDate(QDateTime::currentDateTimeUtc()) + "\r\n";
    // A 304 has no body, and its length is not that of an empty one.
    if (reply.status != 304)
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    return out;
}

bool HttpExchange::send(const HttpReply &reply) {
    answered = true;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    socket->write(head(reply, closeAfterReply) + reply.body);
    if (closeAfterReply)
        socket->disconnectFromHost();
    return true;
}

void HttpExchange::sendTruncatedAndDrop(const HttpReply &reply) {
    answered = true;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    // Promise the whole body, deliver a part, then cut the connection.
    socket->write(head(reply, false) + reply.body.left(reply.body.size() / 2));
    socket->flush();
    socket->abort();
}

} // namespace ghemu
