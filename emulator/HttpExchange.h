#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QUrlQuery>

namespace ghemu {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// What the emulator answers; written to the socket by HttpExchange.
struct HttpReply {
    int status = 200;
    HeaderList headers;
    QByteArray body;

    void setHeader(const QByteArray &name, const QByteArray &value);
    QByteArray header(const QByteArray &name) const;
};

// One request taken off a connection, kept until it is answered. The request
// object of the server cannot outlive the handler, so everything needed is
// copied here; the socket is watched because the client may hang up while a
// delayed reply waits.
struct HttpExchange {
    QByteArray method;
    QString path;
    QString rawPath; // as received, percent-encoding kept
    QUrlQuery query;
    HeaderList headers; // names lower-case
    QByteArray body;
    QPointer<QTcpSocket> socket;
    bool closeAfterReply = false;
    bool answered = false;

    QByteArray header(const QByteArray &name) const;

    // Writes the whole reply; false when the client has already gone.
    bool send(const HttpReply &reply);
    // Writes the head and the first part of the body, then aborts the
    // connection: the client sees a reply cut off mid-way.
    void sendTruncatedAndDrop(const HttpReply &reply);
};

QByteArray reasonPhrase(int status);
// RFC 7231's IMF-fixdate, as in the Date header.
QByteArray httpDate(const QDateTime &time);

} // namespace ghemu
