// Leaves this (private) session as a machine that finished setup: the state
// file in the user's application directory and the access token in the
// credential store, written through the application's own code so that the
// benchmark's start-up is a real set-up start-up. Run it under
// scripts/with-test-session.sh, never in a real session.
//
//   keelmark-bench-prepare USER ORG_ID ORG REPO TOKEN
#include "AppState.h"
#include "KeychainService.h"
#include "PersistenceService.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
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
