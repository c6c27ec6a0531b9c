// Renders every dashboard page in a protected and in a drifted state and
// saves them as PNG files, so anyone can look at what a person sees without
// a desktop. Used by scripts/screenshots-dashboard.sh.
//
//   keelmark-dashboard-screenshots OUTPUT_DIR

#include "AppState.h"
#include "MainWindowView.h"
#include "PersistenceService.h"
#include "Style.h"
#include "UiContext.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

void protectedState(AppState &state) {
    state.setIsSetupMode(false);
    state.setGitHubUsername("alice");
    state.setSelectedOrg(GitHubOrg{7, "acme", true});
    state.setRepoName("ops");
    state.setRepoCreated(true);
    state.setCodeownersValid(true);
    state.setBranchProtectionEnabled(true);
    state.setTeamMembers({
        {"alice", MachineRole::ceo, {}, {}, true, QString("alice-mbp")},
        {"bob", MachineRole::staff, {}, {}, false, QString("bob-studio")},
        {"dave", MachineRole::freelancer, {}, {}, false, {}},
    });
    state.setLastHeartbeat(QDateTime::currentDateTime());
    state.setMachineStatus(MachineStatusState::protected_);
}

// Protection and the ownership file gone, the collaborator listing failed,
// and the machine handed over in setup mode.
void driftedState(AppState &state) {
    state.setIsSetupMode(true);
    state.setCodeownersValid(false);
    state.setBranchProtectionEnabled(false);
    state.setTeamMembers({});
    state.setLastHeartbeat(QDateTime::currentDateTime());
    state.setMachineStatus(MachineStatusState::setupMode);
}

bool save(QWidget *widget, const QString &path) {
    const bool ok = widget->grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << Qt::endl;
    return ok;
}

bool shootAll(MainWindowView &window, const QString &dir, const QString &suffix) {
    bool ok = true;
    for (SidebarItem item : allSidebarItems()) {
        window.setSelectedItem(item);
        QApplication::processEvents();
        ok &= save(&window, QDir(dir).filePath(title(item).toLower() + "-" + suffix + ".png"));
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QString out = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (out.isEmpty() || !QDir().mkpath(out)) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR (a folder it can create)\n", argv[0]);
        return 2;
    }
    Style::initialize();

    QTemporaryDir stateDir;
    PersistenceService persistence(stateDir.path());
    AppState state(&persistence);
    const UiContext context{&state, nullptr, nullptr};

    MainWindowView window(context);
    window.resize(800, 600);
    window.show();

    bool ok = true;
    protectedState(state);
    ok &= shootAll(window, out, "protected");
    driftedState(state);
    ok &= shootAll(window, out, "drifted");
    return ok ? 0 : 1;
}
