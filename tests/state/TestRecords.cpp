#include "Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <functional>

namespace {

// Decodes with the record type's own decoder and hands back its encoding.
using Codec = std::function<std::optional<QJsonObject>(const QJsonValue &)>;
template <typename Record> Codec codec() {
    return [](const QJsonValue &json) -> std::optional<QJsonObject> {
        const auto record = Record::fromJson(json);
        return record ? std::optional(record->toJson()) : std::nullopt;
    };
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void decodeAndEncode_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        const auto row = [](const char *name, const char *type, const char *json, bool ok) {
            QTest::newRow(name) << QString(type) << QByteArray(json) << ok;
        };
        row("user", "user", R"({"login":"o","id":1,"avatar_url":"a.png","type":"User"})", true);
        row("user, null avatar", "user", R"({"login":"o","id":1,"avatar_url":null})", true);
        row("user, avatar not text", "user", R"({"login":"o","id":1,"avatar_url":3})", false);
        row("user, id as text", "user", R"({"login":"o","id":"1"})", false);
        row("user in an array", "user", R"([{"login":"o","id":1}])", false);
        row("org", "org", R"({"id":42,"login":"acme","url":"x"})", true);
        row("org without login", "org", R"({"id":42})", false);
        row("membership", "membership", R"({"role":"admin","state":"active"})", true);
        row("membership, role not text", "membership", R"({"role":1})", false);
        row("member, required only", "member",
            R"({"gitHubUsername":"ann","role":"cto","isOnline":false})", true);
        row("member, all", "member",
            R"({"gitHubUsername":"ann","role":"staff","isOnline":true,"scopes":["repo"],)"
            R"("lastSeen":"2026-03-01T09:15:42.000Z","machineName":"mbp"})",
            true);
        row("member, role in capitals", "member",
            R"({"gitHubUsername":"ann","role":"CTO","isOnline":false})", false);
        row("member, scope not text", "member",
            R"({"gitHubUsername":"ann","role":"cto","isOnline":false,"scopes":[1]})", false);
        row("member, bad timestamp", "member",
            R"({"gitHubUsername":"ann","role":"cto","isOnline":false,"lastSeen":"yesterday"})",
            false);
        row("member without isOnline", "member", R"({"gitHubUsername":"ann","role":"cto"})", false);
    }

    void decodeAndEncode() {
        QFETCH(QString, type);
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        const QHash<QString, Codec> codecs{{"user", codec<GitHubUser>()},
                                           {"org", codec<GitHubOrgResponse>()},
                                           {"membership", codec<GitHubMembership>()},
                                           {"member", codec<TeamMember>()}};
        const QJsonDocument document = QJsonDocument::fromJson(json);
        const auto encoded = codecs[type](document.isArray() ? QJsonValue(document.array())
                                                             : QJsonValue(document.object()));
        QCOMPARE(encoded.has_value(), ok);
        if (!ok)
            return;
        // The encoding reads back to itself, keeps what it read, and leaves
        // absent optionals out rather than writing null.
        QCOMPARE(codecs[type](*encoded), encoded);
        for (const QJsonValue &value : *encoded)
            QVERIFY(!value.isNull());
        for (const QString &key : encoded->keys())
            QCOMPARE(encoded->value(key), document.object().value(key));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "TestRecords.moc"
