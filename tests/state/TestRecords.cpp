#include "AppStateTypes.h"
#include "Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {
QJsonValue parse(const char *json) {
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json));
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void integerField_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("zero") << QByteArray(R"({"n":0})") << true << qint64(0);
        QTest::newRow("negative") << QByteArray(R"({"n":-7})") << true << qint64(-7);
        QTest::newRow("beyond double precision")
            << QByteArray(R"({"n":9007199254740993})") << true << qint64(9007199254740993LL);
        QTest::newRow("max") << QByteArray(R"({"n":9223372036854775807})") << true
                             << std::numeric_limits<qint64>::max();
        QTest::newRow("fraction") << QByteArray(R"({"n":1.5})") << false << qint64(0);
        QTest::newRow("too large") << QByteArray(R"({"n":1e300})") << false << qint64(0);
        QTest::newRow("string") << QByteArray(R"({"n":"12"})") << false << qint64(0);
        QTest::newRow("bool") << QByteArray(R"({"n":true})") << false << qint64(0);
        QTest::newRow("null") << QByteArray(R"({"n":null})") << false << qint64(0);
        QTest::newRow("missing") << QByteArray(R"({})") << false << qint64(0);
    }

    void integerField() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QFETCH(qint64, expected);
        const auto value = JsonField::integer(QJsonDocument::fromJson(json).object(), "n");
        QCOMPARE(value.has_value(), ok);
        if (ok)
            QCOMPARE(*value, expected);
    }

    void gitHubUser_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("avatar"); // "-" for none
        QTest::newRow("full")
            << QByteArray(R"({"login":"octo","id":1,"avatar_url":"avatars/x.png","type":"User"})")
            << true << "avatars/x.png";
        QTest::newRow("no avatar key") << QByteArray(R"({"login":"octo","id":1})") << true << "-";
        QTest::newRow("null avatar")
            << QByteArray(R"({"login":"octo","id":1,"avatar_url":null})") << true << "-";
        QTest::newRow("avatar of wrong type")
            << QByteArray(R"({"login":"octo","id":1,"avatar_url":3})") << false << "-";
        QTest::newRow("id as string") << QByteArray(R"({"login":"octo","id":"1"})") << false << "-";
        QTest::newRow("missing login") << QByteArray(R"({"id":1})") << false << "-";
        QTest::newRow("null login") << QByteArray(R"({"login":null,"id":1})") << false << "-";
        QTest::newRow("array") << QByteArray(R"([{"login":"octo","id":1}])") << false << "-";
    }

    void gitHubUser() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QFETCH(QString, avatar);
        const auto user = GitHubUser::fromJson(parse(json.constData()));
        QCOMPARE(user.has_value(), ok);
        if (!ok)
            return;
        QCOMPARE(user->login, QStringLiteral("octo"));
        QCOMPARE(user->id, 1);
        QCOMPARE(user->avatarUrl.value_or("-"), avatar);
        // Encoding writes avatar_url only when present and reads back equal.
        const QJsonObject encoded = user->toJson();
        QCOMPARE(encoded.contains("avatar_url"), user->avatarUrl.has_value());
        const auto again = GitHubUser::fromJson(encoded);
        QVERIFY(again);
        QCOMPARE(again->avatarUrl, user->avatarUrl);
    }

    void orgResponseAndMembership() {
        const auto org =
            GitHubOrgResponse::fromJson(parse(R"({"id":42,"login":"acme","url":"x"})"));
        QVERIFY(org);
        QCOMPARE(org->id, 42);
        QCOMPARE(org->login, QStringLiteral("acme"));
        QVERIFY(!GitHubOrgResponse::fromJson(parse(R"({"id":"42","login":"acme"})")));
        QVERIFY(!GitHubOrgResponse::fromJson(parse(R"({"id":42})")));

        const auto membership = GitHubMembership::fromJson(
            parse(R"({"role":"admin","state":"active","organization":{"login":"acme"}})"));
        QVERIFY(membership);
        QCOMPARE(membership->role, QStringLiteral("admin"));
        QCOMPARE(membership->toJson().keys(), QStringList{"role"});
        QVERIFY(!GitHubMembership::fromJson(parse(R"({"role":1})")));
    }

    void machineRoleText() {
        for (MachineRole role :
             {MachineRole::ceo, MachineRole::cto, MachineRole::staff, MachineRole::freelancer})
            QCOMPARE(machineRoleFromText(toText(role)), role);
        QVERIFY(!machineRoleFromText("CEO"));
        QVERIFY(!machineRoleFromText(""));
        QVERIFY(!machineRoleFromText("admin"));
    }

    void teamMember_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::newRow("required only")
            << QByteArray(R"({"gitHubUsername":"ann","role":"cto","isOnline":false})") << true;
        QTest::newRow("all")
            << QByteArray(
                   R"({"gitHubUsername":"ann","role":"staff","isOnline":true,"scopes":["repo"],"lastSeen":"2026-03-01T09:15:42.000Z","machineName":"mbp"})")
            << true;
        QTest::newRow("role in capitals")
            << QByteArray(R"({"gitHubUsername":"ann","role":"CTO","isOnline":false})") << false;
        QTest::newRow("unknown role")
            << QByteArray(R"({"gitHubUsername":"ann","role":"owner","isOnline":false})") << false;
        QTest::newRow("scope not text")
            << QByteArray(R"({"gitHubUsername":"ann","role":"cto","isOnline":false,"scopes":[1]})")
            << false;
        QTest::newRow("bad timestamp")
            << QByteArray(
                   R"({"gitHubUsername":"ann","role":"cto","isOnline":false,"lastSeen":"yesterday"})")
            << false;
        QTest::newRow("isOnline missing")
            << QByteArray(R"({"gitHubUsername":"ann","role":"cto"})") << false;
    }

    void teamMember() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        const auto member = TeamMember::fromJson(parse(json.constData()));
        QCOMPARE(member.has_value(), ok);
        if (!ok)
            return;
        const auto again = TeamMember::fromJson(member->toJson());
        QVERIFY(again);
        QCOMPARE(again->gitHubUsername, member->gitHubUsername);
        QCOMPARE(again->role, member->role);
        QCOMPARE(again->scopes, member->scopes);
        QCOMPARE(again->lastSeen, member->lastSeen);
        QCOMPARE(again->isOnline, member->isOnline);
        QCOMPARE(again->machineName, member->machineName);
        // Absent optionals are left out, never written as null.
        const QJsonObject encoded = member->toJson();
        QCOMPARE(encoded.contains("scopes"), member->scopes.has_value());
        QCOMPARE(encoded.contains("lastSeen"), member->lastSeen.has_value());
        QCOMPARE(encoded.contains("machineName"), member->machineName.has_value());
    }

    void statusVocabulary() {
        QCOMPARE(statusLabel(MachineStatusState::protected_), QStringLiteral("Protected"));
        QCOMPARE(statusLabel(MachineStatusState::setupMode), QStringLiteral("Setup incomplete"));
        QCOMPARE(statusLabel(MachineStatusState::offline),
                 QString::fromUtf8("Offline — using cache"));
        QCOMPARE(statusLabel(MachineStatusState::tamperAlert),
                 QString::fromUtf8("Alert — check dashboard"));
        QCOMPARE(toText(MachineStatusState::protected_), QStringLiteral("protected"));
        for (auto state : {MachineStatusState::protected_, MachineStatusState::setupMode,
                           MachineStatusState::offline, MachineStatusState::tamperAlert})
            QCOMPARE(machineStatusFromText(toText(state)), state);
        // Green, orange, gray, red: each hue must be the one its name says.
        QVERIFY(statusColor(MachineStatusState::protected_).green() > 150);
        QVERIFY(statusColor(MachineStatusState::protected_).red() < 100);
        QCOMPARE(statusColor(MachineStatusState::setupMode).red(), 255);
        QCOMPARE(statusColor(MachineStatusState::offline).hsvSaturation() < 20, true);
        QCOMPARE(statusColor(MachineStatusState::tamperAlert).red(), 255);
        QVERIFY(statusColor(MachineStatusState::tamperAlert).green() < 100);
    }

    void setupSteps() {
        const QList<SetupStep> steps = allSetupSteps();
        const QStringList names{"Welcome",     "GitHub",    "Repository",
                                "Protections", "Extension", "Complete"};
        const QStringList icons{
            "hand.wave",     "link", "externaldrive", "shield", "puzzlepiece.extension",
            "checkmark.seal"};
        const QStringList texts{"welcome",          "connectGitHub",
                                "setupRepo",        "applyingProtections",
                                "approveExtension", "complete"};
        QCOMPARE(steps.size(), 6);
        for (int i = 0; i < steps.size(); ++i) {
            QCOMPARE(ordinal(steps[i]), i);
            QCOMPARE(displayName(steps[i]), names[i]);
            QCOMPARE(iconName(steps[i]), icons[i]);
            QCOMPARE(toText(steps[i]), texts[i]);
        }
        QVERIFY(SetupStep::welcome < SetupStep::complete);
    }

    void setupRoleText() {
        QCOMPARE(toText(SetupRole::forMyself), QStringLiteral("forMyself"));
        QCOMPARE(setupRoleFromText("forSomeoneElse"), SetupRole::forSomeoneElse);
        QVERIFY(!setupRoleFromText("formyself"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "TestRecords.moc"
