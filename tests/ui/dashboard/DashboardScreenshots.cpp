// Renders every dashboard page in a protected and in a drifted state and
// saves them as PNG files, so anyone can look at what a person sees without
// a desktop. Used by scripts/screenshots-dashboard.sh.
//
//   keelmark-dashboard-screenshots OUTPUT_DIR

#include "AppState.h"
#include "AuditPageView.h"
#include "MainWindowView.h"
#include "PersistenceService.h"
#include "Style.h"
#include "UiContext.h"

#include <QApplication>
#include <QDir>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

QString fileStem(SidebarItem item) {
    return title(item).toLower();
}

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
        {"carol", MachineRole::cto, {}, {}, false, {}},
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
        ok &= save(&window, QDir(dir).filePath(fileStem(item) + "-" + suffix + ".png"));
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
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

    // The dashboard never has audit events yet; this shows how rows would look.
    AuditPageView audit(
        context, {{QDateTime::currentDateTime().addSecs(-3600), "check", "Health check passed"},
                  {QDateTime::currentDateTime(), "drift",
                   "Branch protection on main was removed outside KeelMark"}});
    audit.resize(800 - 190, 600);
    audit.show();
    QApplication::processEvents();
    ok &= save(&audit, QDir(out).filePath("audit-with-events.png"));
    return ok ? 0 : 1;
}
