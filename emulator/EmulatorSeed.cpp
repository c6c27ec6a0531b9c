// Seeding from JSON, for the standalone binary and for tests that prefer a
// declarative setup. The format is described in README.md next to this file.
#include "GitHubEmulator.h"

#include "EmulatorBackend.h"

#include <QJsonArray>

namespace {

bool fail(QString *error, const QString &message) {
    if (error)
        *error = message;
    return false;
}

} // namespace

bool GitHubEmulator::loadSeed(const QJsonObject &seed, QString *error) {
    if (seed.contains("oauthApp")) {
        const QJsonObject a = seed.value("oauthApp").toObject();
        OAuthApp app;
        app.clientId = a.value("clientId").toString(app.clientId);
        app.clientSecret = a.value("clientSecret").toString(app.clientSecret);
        app.name = a.value("name").toString(app.name);
        for (const auto &u : a.value("callbackUrls").toArray())
            app.callbackUrls << u.toString();
        app.githubApp = a.value("githubApp").toBool(true);
        app.expiringTokens = a.value("expiringTokens").toBool(true);
        app.accessTokenLifetime = a.value("accessTokenLifetime").toInt(app.accessTokenLifetime);
        app.refreshTokenLifetime = a.value("refreshTokenLifetime").toInt(app.refreshTokenLifetime);
        setOAuthApp(app);
    }
    for (const auto &v : seed.value("users").toArray()) {
        const QJsonObject u = v.toObject();
        const QString login = u.value("login").toString();
        if (login.isEmpty())
            return fail(error, QStringLiteral("a user has no login"));
        addUser(login, u.value("name").toString());
        for (const auto &t : u.value("tokens").toArray()) {
            const QJsonObject to = t.toObject();
            TokenOptions options;
            options.fixedToken = to.value("token").toString();
            options.appUserToken = to.value("appUserToken").toBool(true);
            options.expiresIn = to.value("expiresIn").toInt(0);
            if (options.fixedToken.isEmpty())
                return fail(error, QStringLiteral("a token of %1 has no text").arg(login));
            issueToken(login, options);
        }
    }
    for (const auto &v : seed.value("orgs").toArray()) {
        const QJsonObject o = v.toObject();
        const QString login = o.value("login").toString();
        if (login.isEmpty())
            return fail(error, QStringLiteral("an organisation has no login"));
        OrgOptions options;
        options.refusesPrivateProtection = o.value("refusesPrivateProtection").toBool(false);
        // A seed that lists its installations names every one of them.
        options.appInstalled = o.value("appInstalled").toBool(!seed.contains("installations"));
        options.defaultRepositoryPermission =
            o.value("defaultRepositoryPermission").toString(options.defaultRepositoryPermission);
        addOrg(login, options);
        const QJsonObject members = o.value("members").toObject();
        for (auto it = members.begin(); it != members.end(); ++it) {
            const QString role = it.value().toString();
            if (role != QLatin1String("admin") && role != QLatin1String("member"))
                return fail(error, QStringLiteral("member %1 of %2 has role '%3' (admin or member)")
                                       .arg(it.key(), login, role));
            setMembership(login, it.key(), role);
        }
        for (const auto &rv : o.value("repos").toArray()) {
            const QJsonObject r = rv.toObject();
            const QString name = r.value("name").toString();
            RepoOptions ro;
            ro.isPrivate = r.value("private").toBool(true);
            ro.autoInit = r.value("autoInit").toBool(true);
            ro.description = r.value("description").toString();
            if (name.isEmpty() || !createRepoDirect(login, name, ro))
                return fail(
                    error,
                    QStringLiteral("repository '%1' of %2 cannot be created").arg(name, login));
            const QJsonObject files = r.value("files").toObject();
            for (auto it = files.begin(); it != files.end(); ++it)
                writeFileDirect(login, name, it.key(), it.value().toString().toUtf8(),
                                QStringLiteral("Add %1").arg(it.key()));
            const QJsonObject collaborators = r.value("collaborators").toObject();
            for (auto it = collaborators.begin(); it != collaborators.end(); ++it)
                addCollaborator(login, name, it.key(), it.value().toString());
            if (r.value("protection").isObject())
                setProtection(login, name, r.value("protection").toObject());
            for (const auto &release : r.value("releases").toArray()) {
                const QJsonObject rel = release.toObject();
                const QString tag = rel.value("tag").toString();
                if (tag.isEmpty())
                    return fail(error,
                                QStringLiteral("a release of %1/%2 has no tag").arg(login, name));
                ReleaseOptions options;
                options.name = rel.value("name").toString(tag);
                options.body = rel.value("body").toString();
                options.draft = rel.value("draft").toBool(false);
                options.prerelease = rel.value("prerelease").toBool(false);
                addRelease(login, name, tag, options);
            }
        }
        for (const auto &tv : o.value("teams").toArray()) {
            const QJsonObject team = tv.toObject();
            QStringList teamMembers;
            for (const auto &m : team.value("members").toArray())
                teamMembers << m.toString();
            const QJsonObject grants = team.value("repos").toObject();
            for (auto it = grants.begin(); it != grants.end(); ++it) {
                static const QStringList roles{"admin", "maintain", "write", "triage", "read"};
                if (!roles.contains(it.value().toString()))
                    return fail(error, QStringLiteral("team %1 of %2 grants role '%3'")
                                           .arg(team.value("name").toString(), login,
                                                it.value().toString()));
                if (!repoExists(login, it.key()))
                    return fail(error, QStringLiteral("team %1 of %2 names no repository '%3'")
                                           .arg(team.value("name").toString(), login, it.key()));
                addTeamGrant(login, team.value("name").toString(), teamMembers, it.key(),
                             it.value().toString());
            }
        }
    }
    for (const auto &v : seed.value("installations").toArray()) {
        const QJsonValue account = v.toObject().value("account");
        const QString login = account.toString();
        if (account.isNull()) {
            const QString viewer = v.toObject().value("visibleTo").toString();
            if (viewer.isEmpty())
                return fail(error, QStringLiteral("an installation without account has no "
                                                  "visibleTo"));
            addAccountlessInstallation(viewer);
        } else if (ghemu::EmuOrg *o = m_backend->org(login)) {
            o->options.appInstalled = true;
        } else if (userId(login)) {
            installOnUser(login);
        } else {
            return fail(error, QStringLiteral("installation on unknown account '%1'").arg(login));
        }
    }
    if (seed.contains("autoApprove"))
        setAutoApprove(seed.value("autoApprove").toBool());
    if (seed.contains("authorizingUser"))
        setAuthorizingUser(seed.value("authorizingUser").toString());
    return true;
}
