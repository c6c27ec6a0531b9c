#include "RelayConfig.h"

#include <QTemporaryDir>
#include <QTest>

// The executable reads its settings from the environment; these build a
// QProcessEnvironment by hand, so the test process's own environment plays
// no part.
class TestRelayConfig : public QObject {
    Q_OBJECT

private:
    static QProcessEnvironment env(const QList<QPair<QString, QString>> &values) {
        QProcessEnvironment environment;
        for (const auto &[name, value] : values)
            environment.insert(name, value);
        return environment;
    }

private slots:
    void defaultsWithTheTwoRequiredSettings() {
        QString error;
        const auto config = relayConfigFromEnvironment(
            env({{RelayEnv::clientId, "Iv1.abc"}, {RelayEnv::clientSecret, "s3cret"}}), &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->clientId, QStringLiteral("Iv1.abc"));
        QCOMPARE(config->clientSecret, QStringLiteral("s3cret"));
        QCOMPARE(config->listenAddress, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(config->port, quint16(8080));
        QCOMPARE(config->gitHubWebUrl, QUrl("https://github.com"));
        QCOMPARE(config->appScheme, QStringLiteral("keelmark"));
        QCOMPARE(config->upstreamTimeout, std::chrono::milliseconds(10000));
    }

    void everySettingIsRead() {
        QString error;
        const auto config =
            relayConfigFromEnvironment(env({{RelayEnv::clientId, "Iv1.abc"},
                                            {RelayEnv::clientSecret, "s3cret"},
                                            {RelayEnv::listenAddress, "::1"},
                                            {RelayEnv::port, "9443"},
                                            {RelayEnv::gitHubUrl, "http://127.0.0.1:4000"},
                                            {RelayEnv::appScheme, "keelmark-dev"},
                                            {RelayEnv::upstreamTimeoutMs, "2500"}}),
                                       &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(config->port, quint16(9443));
        QCOMPARE(config->gitHubWebUrl, QUrl("http://127.0.0.1:4000"));
        QCOMPARE(config->appScheme, QStringLiteral("keelmark-dev"));
        QCOMPARE(config->upstreamTimeout, std::chrono::milliseconds(2500));
    }

    void secretFromFileDropsTheTrailingNewline() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath("secret"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("from-a-file\n");
        file.close();

        QString error;
        const auto config = relayConfigFromEnvironment(
            env({{RelayEnv::clientId, "Iv1.abc"}, {RelayEnv::clientSecretFile, file.fileName()}}),
            &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->clientSecret, QStringLiteral("from-a-file"));
    }

    void refusesToStart_data() {
        QTest::addColumn<QProcessEnvironment>("environment");
        QTest::addColumn<QString>("named"); // the variable the message must name

        QTest::newRow("no client id")
            << env({{RelayEnv::clientSecret, "top-secret"}}) << QString(RelayEnv::clientId);
        QTest::newRow("blank client id")
            << env({{RelayEnv::clientId, "  "}, {RelayEnv::clientSecret, "top-secret"}})
            << QString(RelayEnv::clientId);
        QTest::newRow("no secret")
            << env({{RelayEnv::clientId, "Iv1.abc"}}) << QString(RelayEnv::clientSecret);
        QTest::newRow("secret file missing")
            << env({{RelayEnv::clientId, "Iv1.abc"},
                    {RelayEnv::clientSecretFile, "/nonexistent/keelmark/secret"}})
            << QString(RelayEnv::clientSecretFile);
        QTest::newRow("both secret and file")
            << env({{RelayEnv::clientId, "Iv1.abc"},
                    {RelayEnv::clientSecret, "top-secret"},
                    {RelayEnv::clientSecretFile, "/etc/hostname"}})
            << QString(RelayEnv::clientSecretFile);
        QTest::newRow("port not a number") << env({{RelayEnv::clientId, "a"},
                                                   {RelayEnv::clientSecret, "top-secret"},
                                                   {RelayEnv::port, "80a"}})
                                           << QString(RelayEnv::port);
        QTest::newRow("port out of range") << env({{RelayEnv::clientId, "a"},
                                                   {RelayEnv::clientSecret, "top-secret"},
                                                   {RelayEnv::port, "70000"}})
                                           << QString(RelayEnv::port);
        QTest::newRow("address not an address") << env({{RelayEnv::clientId, "a"},
                                                        {RelayEnv::clientSecret, "top-secret"},
                                                        {RelayEnv::listenAddress, "relay.example"}})
                                                << QString(RelayEnv::listenAddress);
        QTest::newRow("github url without host") << env({{RelayEnv::clientId, "a"},
                                                         {RelayEnv::clientSecret, "top-secret"},
                                                         {RelayEnv::gitHubUrl, "github.com"}})
                                                 << QString(RelayEnv::gitHubUrl);
        QTest::newRow("scheme with a colon") << env({{RelayEnv::clientId, "a"},
                                                     {RelayEnv::clientSecret, "top-secret"},
                                                     {RelayEnv::appScheme, "keelmark:"}})
                                             << QString(RelayEnv::appScheme);
        QTest::newRow("timeout zero") << env({{RelayEnv::clientId, "a"},
                                              {RelayEnv::clientSecret, "top-secret"},
                                              {RelayEnv::upstreamTimeoutMs, "0"}})
                                      << QString(RelayEnv::upstreamTimeoutMs);
        // "EMPTY" is replaced by a real empty file in the test function.
        QTest::newRow("secret file empty")
            << env({{RelayEnv::clientId, "a"}, {RelayEnv::clientSecretFile, "EMPTY"}})
            << QString(RelayEnv::clientSecretFile);
    }

    void refusesToStart() {
        QFETCH(QProcessEnvironment, environment);
        QFETCH(QString, named);
        QTemporaryDir dir;
        if (environment.value(RelayEnv::clientSecretFile) == QLatin1String("EMPTY")) {
            QFile empty(dir.filePath("empty"));
            QVERIFY(empty.open(QIODevice::WriteOnly));
            environment.insert(RelayEnv::clientSecretFile, empty.fileName());
        }
        QString error;
        QVERIFY(!relayConfigFromEnvironment(environment, &error));
        QVERIFY2(error.contains(named), qPrintable(error));
        // The message names the variable but never repeats the secret.
        QVERIFY2(!error.contains(QLatin1String("top-secret")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestRelayConfig)
#include "TestRelayConfig.moc"
