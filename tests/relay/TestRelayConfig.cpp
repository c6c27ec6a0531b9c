#include "RelayConfig.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// The two required settings plus `extra`; an empty value removes a setting.
// Built by hand, so the test process's own environment plays no part.
QProcessEnvironment env(const QList<QPair<QString, QString>> &extra = {}) {
    QProcessEnvironment environment;
    environment.insert(RelayEnv::clientId, "Iv1.abc");
    environment.insert(RelayEnv::clientSecret, "top-secret");
    for (const auto &[name, value] : extra) {
        if (value.isEmpty())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    return environment;
}

} // namespace

class TestRelayConfig : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString fileWith(const QByteArray &content) const {
        QFile file(m_dir.filePath(QString::number(qHash(content))));
        return file.open(QIODevice::WriteOnly) && file.write(content) >= 0 ? file.fileName()
                                                                           : QString();
    }

private slots:
    void readsEverySetting() {
        QString error;
        QVERIFY2(relayConfigFromEnvironment(env(), &error), qPrintable(error));
        const auto config = relayConfigFromEnvironment(
            env({{RelayEnv::listenAddress, "::1"},
                 {RelayEnv::port, "9443"},
                 {RelayEnv::gitHubUrl, "http://127.0.0.1:4000"},
                 {RelayEnv::appScheme, "keelmark-dev"},
                 {RelayEnv::upstreamTimeoutMs, "2500"},
                 {RelayEnv::clientSecret, ""},
                 {RelayEnv::clientSecretFile, fileWith("from-a-file\n")}}),
            &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->clientId, QStringLiteral("Iv1.abc"));
        QCOMPARE(config->clientSecret, QStringLiteral("from-a-file"));
        QCOMPARE(config->listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(config->port, quint16(9443));
        QCOMPARE(config->gitHubWebUrl, QUrl("http://127.0.0.1:4000"));
        QCOMPARE(config->appScheme, QStringLiteral("keelmark-dev"));
        QCOMPARE(config->upstreamTimeout, std::chrono::milliseconds(2500));
    }

    void refusesToStart_data() {
        QTest::addColumn<QString>("name"); // the variable the message must name
        QTest::addColumn<QString>("value");
        QTest::newRow("no client id") << RelayEnv::clientId << "";
        QTest::newRow("blank client id") << RelayEnv::clientId << "  ";
        QTest::newRow("no secret") << RelayEnv::clientSecret << "";
        QTest::newRow("secret file missing") << RelayEnv::clientSecretFile << "/nonexistent/s";
        QTest::newRow("secret file empty") << RelayEnv::clientSecretFile << "EMPTY";
        QTest::newRow("both secret and file") << RelayEnv::clientSecretFile << "BOTH";
        QTest::newRow("port not a number") << RelayEnv::port << "80a";
        QTest::newRow("port out of range") << RelayEnv::port << "70000";
        QTest::newRow("address not an address") << RelayEnv::listenAddress << "relay.example";
        QTest::newRow("github url without host") << RelayEnv::gitHubUrl << "github.com";
        QTest::newRow("scheme with a colon") << RelayEnv::appScheme << "keelmark:";
        QTest::newRow("timeout zero") << RelayEnv::upstreamTimeoutMs << "0";
    }

    void refusesToStart() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QList<QPair<QString, QString>> settings{{name, value}};
        if (value == "EMPTY")
            settings[0].second = fileWith({});
        if (value == "BOTH") // which one would win?
            settings[0].second = fileWith("other");
        else if (name == RelayEnv::clientSecretFile)
            settings.append(qMakePair(QString(RelayEnv::clientSecret), QString()));
        QString error;
        QVERIFY(!relayConfigFromEnvironment(env(settings), &error));
        QVERIFY2(error.contains(name), qPrintable(error));
        // The message names the variable but never repeats the secret.
        QVERIFY2(!error.contains(QLatin1String("top-secret")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestRelayConfig)
#include "TestRelayConfig.moc"
