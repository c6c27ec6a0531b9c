// Leaves this (private) session as a machine that finished setup: the state
// file in the user's application directory and the access token in the
// credential store, written through the application's own code so that the
// benchmark's start-up is a real set-up start-up. Run it under
// scripts/with-test-session.sh, never in a real session.
//
//   keelmark-bench-prepare USER ORG_ID ORG REPO TOKEN
//
// Before that, the emulator's seed gets the files the setup would have
// committed, so that the start-up's first check finds the repository
// governed rather than measuring an alert:
//
//   keelmark-bench-prepare seed IN.json OUT.json USER ORG REPO
#include "AppState.h"
#include "GovernanceFiles.h"
#include "KeychainService.h"
#include "PersistenceService.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// IN with REPO of ORG holding the composed governance files of USER.
int writeSeed(const QString &in, const QString &out, const QString &user, const QString &org,
              const QString &repo) {
    QFile input(in);
    if (!input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "keelmark-bench-prepare: cannot read %s\n", qPrintable(in));
        return 1;
    }
    QJsonObject seed = QJsonDocument::fromJson(input.readAll()).object();
    QJsonArray orgs = seed.value("orgs").toArray();
    bool found = false;
    for (qsizetype i = 0; i < orgs.size(); ++i) {
        QJsonObject orgObject = orgs.at(i).toObject();
        if (orgObject.value("login").toString() != org)
            continue;
        QJsonArray repos = orgObject.value("repos").toArray();
        for (qsizetype j = 0; j < repos.size(); ++j) {
            QJsonObject repoObject = repos.at(j).toObject();
            if (repoObject.value("name").toString() != repo)
                continue;
            QJsonObject files;
            for (const FileEntry &file : GovernanceFiles::compose(user, org))
                files.insert(file.path, file.content);
            repoObject.insert("files", files);
            repos[j] = repoObject;
            found = true;
        }
        orgObject.insert("repos", repos);
        orgs[i] = orgObject;
    }
    seed.insert("orgs", orgs);
    QFile output(out);
    if (!found || !output.open(QIODevice::WriteOnly) ||
        output.write(QJsonDocument(seed).toJson()) < 0) {
        std::fprintf(stderr, "keelmark-bench-prepare: no %s/%s in the seed, or cannot write %s\n",
                     qPrintable(org), qPrintable(repo), qPrintable(out));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 7 && args.at(1) == QLatin1String("seed"))
        return writeSeed(args.at(2), args.at(3), args.at(4), args.at(5), args.at(6));
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: keelmark-bench-prepare USER ORG_ID ORG REPO TOKEN\n");
        return 2;
    }
    {
        AppState state(&PersistenceService::shared());
        state.setGitHubUsername(args.at(1));
        state.setGitHubConnected(true);
        state.setSetupRole(SetupRole::forMyself);
        state.setSelectedOrg(GitHubOrg{args.at(2).toLongLong(), args.at(3), true});
        state.setRepoName(args.at(4));
        state.setSetupComplete(true);
    }
    const bool stored = QCoro::waitFor(
        KeychainService::save(QString::fromLatin1(KeychainService::accessTokenKey), args.at(5)));
    if (!stored) {
        std::fprintf(stderr, "keelmark-bench-prepare: the credential store refused the token\n");
        return 1;
    }
    std::printf("state in %s\n", qPrintable(PersistenceService::shared().directory()));
    return 0;
}
